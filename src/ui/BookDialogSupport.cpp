#include "ui/BookDialogSupport.h"

#include <QComboBox>
#include <QLineEdit>

#include "book/AccountManager.h"

namespace vextal {

QString BookDialogContext::FundLabel(const std::string& fundId, int buyType) const
{
    const std::string name = fundName ? fundName(fundId) : std::string();
    QString label = name.empty() ? QString::fromStdString(fundId)
                                 : QStringLiteral("%1(%2)").arg(QString::fromStdString(name), QString::fromStdString(fundId));
    if (buyType == kBackEnd) label += QStringLiteral("后端");
    return label;
}

void CRowsModel::SetRows(std::vector<QStringList> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int CRowsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CRowsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_headers.size(); }

QVariant CRowsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const QStringList& row = m_rows[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole) return index.column() < row.size() ? row[index.column()] : QString();
    return {};
}

QVariant CRowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return section < m_headers.size() ? m_headers[section] : QVariant();
    return section + 1;
}

void FillAccounts(QComboBox* box, const BookDialogContext& ctx, int current)
{
    box->clear();
    if (!ctx.accounts) return;
    for (const auto& [id, account] : ctx.accounts->Accounts()) {
        box->addItem(QString::fromStdString(account->AccountName), id);
        if (id == current) box->setCurrentIndex(box->count() - 1);
    }
}

void FillHoldings(QComboBox* box, const BookDialogContext& ctx, int accountId, const std::string& current)
{
    box->clear();
    AccountInfo* account = ctx.accounts ? ctx.accounts->FindAccount(accountId) : nullptr;
    if (!account) return;
    for (const FundTradeInfo& h : account->holdings) {
        box->addItem(ctx.FundLabel(h.FundID, h.BuyType), QString::fromStdString(h.FundID));
        box->setItemData(box->count() - 1, h.BuyType, Qt::UserRole + 1);
        if (h.FundID == current) box->setCurrentIndex(box->count() - 1);
    }
}

int ChosenAccount(const QComboBox* box) { return box->currentIndex() < 0 ? 0 : box->currentData().toInt(); }

HoldingKey ChosenHolding(const QComboBox* box, int accountId)
{
    HoldingKey key;
    key.AccountID = accountId;
    if (box->currentIndex() < 0) return key;
    key.FundID = box->currentData().toString().toStdString();
    key.BuyType = box->currentData(Qt::UserRole + 1).toInt();
    return key;
}

}  // namespace vextal
