#pragma once
// Choosing a fund: the keyboard fund picker (search as you type by code,
// name and the keyboard wizard list) and the selector every booking dialog
// carries: a company box, a fund box and the button "F" that opens the
// picker. Typing into the fund box opens the picker with what was typed.
//
//   CFundSelector* fund = new CFundSelector(this);
//   fund->SetChoices(FundChoicesOf(market.Catalogue(), doc.FundKeys()));
//   connect(fund, &CFundSelector::fundChanged, ...);
//   std::string code = fund->FundID();   // empty: no fund chosen
//
//   QString code = CFundPicker::Pick(choices, parent);  // empty: cancelled
#include <QDialog>
#include <QString>
#include <map>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace vextal {

class CFundCatalogue;

struct FundChoice {
    QString code;
    QString name;
    QString shortName;
    QString companyId;    // empty for funds known only from the wizard list
    QString companyName;
};

// The catalogue's funds in code order, then the wizard list's funds the
// catalogue does not know (fundkey.txt: code -> name).
std::vector<FundChoice> FundChoicesOf(const CFundCatalogue& catalogue,
                                      const std::map<std::string, std::string>& wizardList);

// Indexes of the choices that match what was typed: codes that begin with
// it first, then names and short names that contain it (case ignored); at
// most `limit`. Empty text matches every choice.
std::vector<int> MatchFundChoices(const std::vector<FundChoice>& choices, const QString& text, int limit = 300);

class CFundPicker : public QDialog {
    Q_OBJECT

public:
    CFundPicker(const std::vector<FundChoice>& choices, const QString& initialText, QWidget* parent = nullptr);
    // The chosen code, empty when cancelled.
    static QString Pick(const std::vector<FundChoice>& choices, QWidget* parent, const QString& initialText = {});

    QString SelectedCode() const;
    QLineEdit* SearchEdit() const { return m_search; }
    QListWidget* Results() const { return m_results; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Search(const QString& text);

    const std::vector<FundChoice>& m_choices;
    QLineEdit* m_search;
    QListWidget* m_results;
};

class CFundSelector : public QWidget {
    Q_OBJECT

public:
    explicit CFundSelector(QWidget* parent = nullptr);
    void SetChoices(std::vector<FundChoice> choices);
    const std::vector<FundChoice>& Choices() const { return m_choices; }
    // Empty when no fund is chosen.
    std::string FundID() const;
    // Selects the fund (and its company); an unknown code clears the choice.
    void SetFundID(const std::string& code);
    void OpenPicker(const QString& initialText = {});
    QComboBox* CompanyBox() const { return m_company; }
    QComboBox* FundBox() const { return m_fund; }
    QPushButton* PickerButton() const { return m_button; }

signals:
    void fundChanged(const QString& code);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillFunds(const QString& companyId);

    std::vector<FundChoice> m_choices;
    QComboBox* m_company;
    QComboBox* m_fund;
    QPushButton* m_button;
};

}  // namespace vextal
