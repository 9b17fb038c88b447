#pragma once
// What the bookkeeping dialogs share: the engine and the program around it,
// a plain row model for their lists, and the account and holding choosers.
// The dialogs only collect fields, call the engine and show its texts.
#include <QAbstractTableModel>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "book/BookTypes.h"
#include "common/UserPrompt.h"
#include "ui/FundPicker.h"

class QComboBox;
class QLineEdit;

namespace vextal {

class CAccountManager;
class CAdoDatabase;
class CTaskRunner;
class IFundDirectory;

struct BookDialogContext {
    CAccountManager* accounts = nullptr;
    CAdoDatabase* db = nullptr;
    IUserPrompt* prompt = nullptr;
    const IFundDirectory* funds = nullptr;
    // The fund's name from the catalogue; empty when the catalogue does not know it.
    std::function<std::string(const std::string& fundId)> fundName;
    std::function<bool()> isVip;
    // What the fund pickers of the dialogs offer (any fund, not only those held).
    std::vector<FundChoice> fundChoices;
    CTaskRunner* runner = nullptr;
    int currentAccount = 0;  // the account panel's choice, 0: none
    std::string currentFund;
    int currentBuyType = -1;  // -1: the holding's own

    void Say(const std::string& text, PromptIcon icon = PromptIcon::Information) const
    {
        if (prompt) prompt->ShowMessage(text, icon);
    }
    bool Ask(const std::string& text) const { return prompt && prompt->AskYesNo(text); }
    // "名称(代码)", or the code alone when the catalogue does not know it.
    QString FundLabel(const std::string& fundId, int buyType = kFrontEnd) const;
};

// A list's rows as texts (DisplayRole) with the header's captions.
class CRowsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit CRowsModel(QStringList headers, QObject* parent = nullptr)
        : QAbstractTableModel(parent), m_headers(std::move(headers))
    {
    }
    void SetRows(std::vector<QStringList> rows);
    const std::vector<QStringList>& Rows() const { return m_rows; }
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList m_headers;
    std::vector<QStringList> m_rows;
};

// The user's accounts (item data: AccountID), the current one chosen.
void FillAccounts(QComboBox* box, const BookDialogContext& ctx, int current);
// The holdings of an account (item data: code, BuyType in UserRole + 1).
void FillHoldings(QComboBox* box, const BookDialogContext& ctx, int accountId, const std::string& current);
int ChosenAccount(const QComboBox* box);
// The chosen holding's key; FundID empty when there is none.
HoldingKey ChosenHolding(const QComboBox* box, int accountId);

}  // namespace vextal
