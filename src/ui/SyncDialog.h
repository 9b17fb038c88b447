#pragma once
// "记帐数据上传/下载": the bookkeeping sent to or brought back from the
// service. The network half runs on the task runner; the window keeps
// painting and shows that it works.
#include <QDialog>

#include "ui/BookDialogSupport.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace vextal {

class CSyncDialog : public QDialog {
    Q_OBJECT

public:
    CSyncDialog(const BookDialogContext& ctx, QWidget* parent = nullptr);
    void OnUpload();
    void OnDownload();
    void SetCreateNew(bool createNew);
    bool IsBusy() const { return m_busy; }
    void reject() override;

signals:
    // An upload or download ended (its message shown).
    void workDone();

private:
    void SetBusy(bool busy, const QString& what = QString());
    BookDialogContext m_ctx;
    QRadioButton* m_createNew;
    QRadioButton* m_replace;
    QPushButton* m_upload;
    QPushButton* m_download;
    QPushButton* m_cancel;
    QProgressBar* m_progress;
    QLabel* m_status;
    bool m_busy = false;
};

}  // namespace vextal
