#pragma once
// "最新净值排序": up to three keys for the latest-values list.
#include <QDialog>

#include "app/Settings.h"

class QComboBox;
class QRadioButton;

namespace vextal {

// The choices, index 0 to 11.
const std::vector<const char*>& SortChoices();
// The refusal for keys a, b, c (indexes), or nullptr when they are accepted.
const char* SortKeysRefusal(int a, int b, int c);

class CSortDialog : public QDialog {
    Q_OBJECT

public:
    CSortDialog(const std::string& iniPath, QWidget* parent = nullptr);
    CSortSettings Settings() const;
    void SetKeys(int a, int b, int c);

    void accept() override;
    // What the last refused OK showed.
    QString LastRefusal() const { return m_lastRefusal; }
    // Tests: refusals are recorded instead of shown in a message box.
    void SetQuiet(bool quiet) { m_quiet = quiet; }

private:
    std::string m_iniPath;
    QComboBox* m_keys[3];
    QRadioButton* m_down[3];
    QString m_lastRefusal;
    bool m_quiet = false;
};

}  // namespace vextal
