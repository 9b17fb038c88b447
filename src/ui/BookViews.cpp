#include "ui/BookViews.h"

#include <QHeaderView>
#include <QMenu>
#include <QPointer>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

#include "app/MarketData.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "book/BookServiceClient.h"
#include "common/Clock.h"
#include "common/Format.h"

namespace vextal {

CAccountManager& BookContext::Accounts() const { return doc.Accounts(); }

QString BookContext::FundName(const std::string& fundId) const
{
    if (const CFundInfo* info = market.Catalogue().FindFund(fundId)) return QString::fromStdString(info->FundName);
    if (auto it = doc.FundKeys().find(fundId); it != doc.FundKeys().end()) return QString::fromStdString(it->second);
    return QString::fromStdString(fundId);
}

bool BookContext::ShowThousand() const { return doc.Settings().showThousand != 0; }
bool BookContext::FundZeroHide() const { return doc.Settings().fundZeroHide != 0; }
int BookContext::ListItemSize() const { return doc.Settings().listItemSize; }

QString BookNumber(double value, bool thousands, const char* format)
{
    std::string text = FormatNumber(format, value);
    return QString::fromStdString(thousands ? GroupThousands(std::move(text)) : text);
}

namespace {

QString Percent(double v) { return QString::fromStdString(FormatNumber("%0.2f", v)) + "%"; }
QString Date(const OleDate& d) { return d.dt == 0 ? QString() : QString::fromStdString(d.Format(1)); }

ListCell MoneyCell(double v, bool thousands) { return {BookNumber(v, thousands), v}; }
ListCell PercentCell(double v) { return {Percent(v), v}; }

void AddSumRows(std::vector<IncomeRow>& rows)
{
    const int n = static_cast<int>(rows.size());
    IncomeRow totals = TotalsRow(rows);
    IncomeRow average = AverageRow(totals, n);
    totals.Name = "合计";
    average.Name = "平均";
    rows.push_back(totals);
    rows.push_back(average);
}

// The income columns both lists share, by their meaning.
enum class Figure { NewIncome, NewRate, TotalIncome, TotalRate, Today, TodayRate, Market, Redeem, NewPrincipal,
                    TotalPrincipal, Cash, Bonus, Count, FundCount };

ListCell FigureCell(const IncomeRow& r, Figure f, bool thousands)
{
    switch (f) {
    case Figure::NewIncome: return MoneyCell(r.NewIncome, thousands);
    case Figure::NewRate: return PercentCell(r.NewIncomeRate);
    case Figure::TotalIncome: return MoneyCell(r.TotalIncome, thousands);
    case Figure::TotalRate: return PercentCell(r.TotalIncomeRate);
    case Figure::Today: return MoneyCell(r.TodayIncome, thousands);
    case Figure::TodayRate: return PercentCell(r.TodayIncomeRate);
    case Figure::Market: return MoneyCell(r.MarketValue, thousands);
    case Figure::Redeem: return MoneyCell(r.RedeemMoney, thousands);
    case Figure::NewPrincipal: return MoneyCell(r.NewPrincipal, thousands);
    case Figure::TotalPrincipal: return MoneyCell(r.TotalPrincipal, thousands);
    case Figure::Cash: return MoneyCell(r.CashBonus, thousands);
    case Figure::Bonus: return MoneyCell(r.TotalBonus, thousands);
    case Figure::Count: return MoneyCell(r.TotalCount, thousands);
    case Figure::FundCount: return {QString::number(r.FundCount), r.FundCount};
    }
    return {};
}

ListCell AnnualCell(const std::optional<double>& rate)
{
    if (!rate) return {QString(), -1e300};
    return PercentCell(*rate);
}

bool AnnualColumnShown(const CListView* list, int columnId)
{
    for (const ColumnSpec& c : list->Model()->Columns())
        if (c.id == columnId) return true;
    return false;
}

}  // namespace

// ---- titled list ----------------------------------------------------------------

CBookListPage::CBookListPage(QWidget* parent) : QWidget(parent), m_title(new QLabel(this)), m_list(new CListView(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    QFont f = m_title->font();
    f.setBold(true);
    m_title->setFont(f);
    m_title->setContentsMargins(6, 4, 6, 2);
    layout->addWidget(m_title);
    layout->addWidget(m_list, 1);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
}

int CBookListPage::CurrentRow() const
{
    QModelIndex index = m_list->currentIndex();
    if (!index.isValid()) return -1;
    return m_list->Proxy()->mapToSource(index).row();
}

// ---- accounts -------------------------------------------------------------------

CAccountListView::CAccountListView(const BookContext& context, QWidget* parent) : CBookListPage(parent), m_ctx(context)
{
    SetTitle(QStringLiteral("基金帐户明细"));
    m_list->BuildColumns(AccountListConfig(), true, m_ctx.ListItemSize(), m_ctx.iniPath);
    connect(m_list, &QAbstractItemView::activated, this, [this] {
        if (int id = CurrentAccountID()) emit accountActivated(id);
    });
}

void CAccountListView::Rebuild()
{
    CAccountManager& manager = m_ctx.Accounts();
    if (AnnualColumnShown(m_list, kAccountAnnualRateColumn)) manager.RefreshAnnualRates(0);
    m_accounts.clear();
    m_rows.clear();
    for (const auto& [id, account] : manager.Accounts()) {
        m_accounts.push_back({account->AccountID, account->CreateDate, account->AnnualRate});
        m_rows.push_back(IncomeRowOf(*account));
    }
    AddSumRows(m_rows);
    m_list->Model()->SetSource(static_cast<int>(m_rows.size()), [this](int row, int id) { return Cell(row, id); }, 2);
}

void CAccountListView::RebuildColumns()
{
    m_list->BuildColumns(AccountListConfig(), true, m_ctx.ListItemSize(), m_ctx.iniPath);
    Rebuild();
}

int CAccountListView::CurrentAccountID() const
{
    int row = CurrentRow();
    if (row < 0 || row >= static_cast<int>(m_accounts.size())) return 0;
    return m_accounts[static_cast<size_t>(row)].AccountID;
}

ListCell CAccountListView::Cell(int row, int columnId) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return {};
    const IncomeRow& r = m_rows[static_cast<size_t>(row)];
    const AccountRow* a = row < static_cast<int>(m_accounts.size()) ? &m_accounts[static_cast<size_t>(row)] : nullptr;
    const bool k = m_ctx.ShowThousand();
    switch (columnId) {
    case 10: return {QString::fromStdString(r.Name), {}};
    case 11: return FigureCell(r, Figure::NewIncome, k);
    case 12: return FigureCell(r, Figure::NewRate, k);
    case 13: return FigureCell(r, Figure::TotalIncome, k);
    case 14: return FigureCell(r, Figure::TotalRate, k);
    case 15: return FigureCell(r, Figure::Today, k);
    case 16: return FigureCell(r, Figure::TodayRate, k);
    case 17: return FigureCell(r, Figure::Market, k);
    case 18: return FigureCell(r, Figure::Redeem, k);
    case 19: return FigureCell(r, Figure::NewPrincipal, k);
    case 20: return FigureCell(r, Figure::TotalPrincipal, k);
    case 21: return FigureCell(r, Figure::Cash, k);
    case 22: return FigureCell(r, Figure::Bonus, k);
    case 23: return FigureCell(r, Figure::FundCount, k);
    case 24: return a ? ListCell{Date(a->CreateDate), a->CreateDate.dt} : ListCell{};
    case kAccountAnnualRateColumn: return a ? AnnualCell(a->AnnualRate) : ListCell{};
    default: return {};
    }
}

void CAccountListView::SaveColumnWidths() const { m_list->SaveColumnWidths(AccountListConfig().listName, m_ctx.iniPath); }

// ---- trade lists ----------------------------------------------------------------

const std::vector<ColumnSpec>& TradeListColumns()
{
    static const std::vector<ColumnSpec> cols = {
        {"序号", 40, 1},     {"基金帐户", 80, 2}, {"基金名称", 120, 3}, {"基金代码", 60, 4},
        {"交易类型", 65, 5}, {"交易金额", 80, 6}, {"交易份数", 80, 7},  {"交易价", 60, 8},
        {"费率", 45, 9},     {"手续费", 60, 10},  {"交易时间", 110, 11}, {"备注", 120, 12}};
    return cols;
}

const std::vector<ColumnSpec>& TradeInfoListColumns()
{
    static const std::vector<ColumnSpec> cols = {{"序号", 40, 1},     {"基金代码", 60, 4}, {"基金名称", 120, 3},
                                                 {"交易类型", 65, 5}, {"交易金额", 80, 6}, {"交易份数", 80, 7},
                                                 {"手续费", 60, 10},  {"交易日期", 80, 13}};
    return cols;
}

void CTradeListModelSource::Load(int accountId, const std::string& fundId, int buyType)
{
    m_trades.clear();
    for (const auto& [id, account] : m_ctx.Accounts().Accounts()) {
        if (accountId != 0 && id != accountId) continue;
        for (const auto& [tradeId, t] : account->trades) {
            if (!fundId.empty() && (t.FundID != fundId || (buyType >= 0 && t.BuyType != buyType))) continue;
            m_trades.push_back(t);
        }
    }
    std::stable_sort(m_trades.begin(), m_trades.end(), [](const TradeInfo& a, const TradeInfo& b) {
        return a.TradeTime.dt != b.TradeTime.dt ? a.TradeTime.dt < b.TradeTime.dt : a.TradeID < b.TradeID;
    });
}

ListCell CTradeListModelSource::Cell(int row, int columnId) const
{
    if (row < 0 || row >= static_cast<int>(m_trades.size())) return {};
    TradeInfo t = m_trades[static_cast<size_t>(row)];
    const bool k = m_ctx.ShowThousand();
    switch (columnId) {
    case 1: return {QString::number(row + 1), row + 1};
    case 2: {
        const AccountInfo* a = m_ctx.Accounts().FindAccount(t.AccountID);
        return {a ? QString::fromStdString(a->AccountName) : QString(), {}};
    }
    case 3: return {QString::fromStdString(HoldingDisplayName(m_ctx.FundName(t.FundID).toStdString(), t.BuyType)), {}};
    case 4: return {QString::fromStdString(t.FundID), {}};
    case 5: return {QString::fromUtf8(TradeTypeName(t.TradeType)), t.TradeType};
    case 6: return MoneyCell(t.TradeMoney, k);
    case 7: return MoneyCell(t.TradeCount, k);
    case 8: return {BookNumber(t.TradeValue, false, "%0.4f"), t.TradeValue};
    case 9: return t.TradeFee < 0 ? ListCell{QString(), -1.0} : ListCell{BookNumber(t.TradeFee, false), t.TradeFee};
    case 10: {
        double fee = CAccountManager::GetTradeFee(t);
        return MoneyCell(fee, k);
    }
    case 11: return {QString::fromStdString(t.TradeTime.FormatWith("%Y-%m-%d %H:%M")), t.TradeTime.dt};
    case 12: return {QString::fromStdString(t.MarkInfo), {}};
    case 13: return {Date(t.TradeTime), t.TradeTime.dt};
    default: return {};
    }
}

CFundTradeListView::CFundTradeListView(const BookContext& context, QWidget* parent) : CListView(parent), m_source(context)
{
    BuildFixedColumns(TradeListColumns(), context.ListItemSize());
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void CFundTradeListView::Show(int accountId, const std::string& fundId, int buyType)
{
    m_accountId = accountId;
    m_fundId = fundId;
    m_buyType = buyType;
    Rebuild();
}

void CFundTradeListView::Rebuild()
{
    if (m_fundId.empty()) m_source.Load(-1);  // nothing chosen: an empty list
    else m_source.Load(m_accountId, m_fundId, m_buyType);
    Model()->SetSource(static_cast<int>(m_source.Trades().size()), [this](int row, int id) { return m_source.Cell(row, id); });
}

const TradeInfo* CFundTradeListView::CurrentTrade() const
{
    QModelIndex index = currentIndex();
    if (!index.isValid()) return nullptr;
    int row = Proxy()->mapToSource(index).row();
    return row < static_cast<int>(m_source.Trades().size()) ? &m_source.Trades()[static_cast<size_t>(row)] : nullptr;
}

// ---- holdings -------------------------------------------------------------------

CFundTradeView::CFundTradeView(const BookContext& context, QWidget* parent)
    : CBookListPage(parent), m_ctx(context), m_trades(new CFundTradeListView(context, this))
{
    // The holdings above, the chosen holding's trades below.
    auto* box = static_cast<QVBoxLayout*>(layout());
    box->removeWidget(m_list);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_list);
    split->addWidget(m_trades);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    box->addWidget(split, 1);
    m_list->BuildColumns(HoldingListConfig(), true, m_ctx.ListItemSize(), m_ctx.iniPath);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { ShowTradesOfCurrent(); });
}

void CFundTradeView::SetAccount(int accountId)
{
    m_accountId = accountId;
    Rebuild();
}

void CFundTradeView::Rebuild()
{
    HoldingKey current;
    const bool hadCurrent = CurrentHolding(current);
    CAccountManager& manager = m_ctx.Accounts();
    const AccountInfo* account = manager.FindAccount(m_accountId);
    if (account && AnnualColumnShown(m_list, kHoldingAnnualRateColumn)) manager.RefreshAnnualRates(m_accountId);
    m_holdings.clear();
    m_rows.clear();
    if (account) {
        for (const FundTradeInfo& h : account->holdings) {
            if (m_ctx.FundZeroHide() && h.TotalCount == 0) continue;
            m_holdings.push_back(h);
            m_rows.push_back(IncomeRowOf(h, HoldingDisplayName(m_ctx.FundName(h.FundID).toStdString(), h.BuyType)));
        }
        AddSumRows(m_rows);
    }
    SetTitle(account ? QStringLiteral("帐户 %1 持有基金明细").arg(QString::fromStdString(account->AccountName))
                     : QStringLiteral("持有基金明细"));
    m_list->Model()->SetSource(static_cast<int>(m_rows.size()), [this](int row, int id) { return Cell(row, id); },
                               account ? 2 : 0);
    if (hadCurrent && current.AccountID == m_accountId) SelectHolding(current.FundID, current.BuyType);
    else ShowTradesOfCurrent();
}

void CFundTradeView::RebuildColumns()
{
    m_list->BuildColumns(HoldingListConfig(), true, m_ctx.ListItemSize(), m_ctx.iniPath);
    Rebuild();
}

bool CFundTradeView::CurrentHolding(HoldingKey& key) const
{
    int row = CurrentRow();
    if (row < 0 || row >= static_cast<int>(m_holdings.size())) return false;
    key = HoldingKey::Of(m_holdings[static_cast<size_t>(row)]);
    return true;
}

void CFundTradeView::SelectHolding(const std::string& fundId, int buyType)
{
    for (size_t i = 0; i < m_holdings.size(); ++i)
        if (m_holdings[i].FundID == fundId && m_holdings[i].BuyType == buyType) {
            QModelIndex index = m_list->Proxy()->mapFromSource(m_list->Model()->index(static_cast<int>(i), 0));
            m_list->setCurrentIndex(index);
            ShowTradesOfCurrent();
            return;
        }
    ShowTradesOfCurrent();
}

void CFundTradeView::ShowTradesOfCurrent()
{
    HoldingKey key;
    if (CurrentHolding(key)) m_trades->Show(key.AccountID, key.FundID, key.BuyType);
    else m_trades->Show(m_accountId, std::string(), -1);
}

ListCell CFundTradeView::Cell(int row, int columnId) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size())) return {};
    const IncomeRow& r = m_rows[static_cast<size_t>(row)];
    const FundTradeInfo* h = row < static_cast<int>(m_holdings.size()) ? &m_holdings[static_cast<size_t>(row)] : nullptr;
    const bool k = m_ctx.ShowThousand();
    switch (columnId) {
    case 10: return h ? ListCell{QString::number(row + 1), row + 1} : ListCell{};
    case 11: return {QString::fromStdString(r.Name), {}};
    case 12: return h ? ListCell{QString::fromStdString(h->FundID), {}} : ListCell{};
    case 13: return FigureCell(r, Figure::NewIncome, k);
    case 14: return FigureCell(r, Figure::NewRate, k);
    case 15: return FigureCell(r, Figure::TotalIncome, k);
    case 16: return FigureCell(r, Figure::TotalRate, k);
    case 17: return h ? ListCell{Date(h->figures.ValueDate), h->figures.ValueDate.dt} : ListCell{};
    case 18: return FigureCell(r, Figure::Today, k);
    case 19: return h ? ListCell{BookNumber(h->figures.LatestValue, false, "%0.4f"), h->figures.LatestValue} : ListCell{};
    case 20: return h ? PercentCell(h->figures.VarPercent) : ListCell{};
    case 21: return h ? ListCell{BookNumber(h->figures.VarValue, false, "%0.4f"), h->figures.VarValue} : ListCell{};
    case 22: return h ? ListCell{BookNumber(h->TradeValue, false, "%0.4f"), h->TradeValue} : ListCell{};
    case 23: return FigureCell(r, Figure::Market, k);
    case 24: return FigureCell(r, Figure::Redeem, k);
    case 25: return FigureCell(r, Figure::NewPrincipal, k);
    case 26: return FigureCell(r, Figure::TotalPrincipal, k);
    case 27: return FigureCell(r, Figure::Cash, k);
    case 28: return FigureCell(r, Figure::Bonus, k);
    case 29: return FigureCell(r, Figure::Count, k);
    case kHoldingAnnualRateColumn: return h ? AnnualCell(h->figures.AnnualRate) : ListCell{};
    default: return {};
    }
}

void CFundTradeView::SaveColumnWidths() const { m_list->SaveColumnWidths(HoldingListConfig().listName, m_ctx.iniPath); }

// ---- trade history --------------------------------------------------------------

CFundTradeHistoryView::CFundTradeHistoryView(const BookContext& context, QWidget* parent)
    : CBookListPage(parent), m_ctx(context), m_source(context)
{
    m_list->BuildFixedColumns(TradeListColumns(), m_ctx.ListItemSize());
}

void CFundTradeHistoryView::SetAccount(int accountId)
{
    m_accountId = accountId;
    Rebuild();
}

void CFundTradeHistoryView::Rebuild()
{
    const AccountInfo* account = m_ctx.Accounts().FindAccount(m_accountId);
    SetTitle(account ? QStringLiteral("帐户 %1 交易明细").arg(QString::fromStdString(account->AccountName))
                     : QStringLiteral("全部帐户交易明细"));
    m_source.Load(account ? m_accountId : 0);
    m_list->Model()->SetSource(static_cast<int>(m_source.Trades().size()), [this](int row, int id) { return m_source.Cell(row, id); });
}

const TradeInfo* CFundTradeHistoryView::CurrentTrade() const
{
    int row = CurrentRow();
    return row >= 0 && row < static_cast<int>(m_source.Trades().size()) ? &m_source.Trades()[static_cast<size_t>(row)] : nullptr;
}

// ---- cancel dialog's list -------------------------------------------------------

CTradeInfoListView::CTradeInfoListView(const BookContext& context, QWidget* parent) : CListView(parent), m_source(context)
{
    BuildFixedColumns(TradeInfoListColumns(), context.ListItemSize());
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void CTradeInfoListView::Show(int accountId)
{
    m_accountId = accountId;
    m_source.Load(accountId);
    Model()->SetSource(static_cast<int>(m_source.Trades().size()), [this](int row, int id) { return m_source.Cell(row, id); });
}

const TradeInfo* CTradeInfoListView::CurrentTrade() const
{
    QModelIndex index = currentIndex();
    if (!index.isValid()) return nullptr;
    int row = Proxy()->mapToSource(index).row();
    return row < static_cast<int>(m_source.Trades().size()) ? &m_source.Trades()[static_cast<size_t>(row)] : nullptr;
}

// ---- trade income ---------------------------------------------------------------

namespace {

const std::vector<ColumnSpec>& IncomeColumns()
{
    static const std::vector<ColumnSpec> cols = {
        {"序号", 40, 1},     {"基金帐户", 100, 2}, {"基金名称", 150, 3}, {"交易日期", 65, 4},  {"区间回报", 60, 5},
        {"区间增长", 60, 6}, {"持有天数", 60, 7},  {"平均回报", 60, 8},  {"交易净值", 60, 9},  {"最新净值", 60, 10},
        {"累计分红", 60, 11}, {"交易类型", 60, 12}, {"交易金额", 80, 13}, {"交易份数", 80, 14}};
    return cols;
}

}  // namespace

CFundIncomeListView::CFundIncomeListView(const BookContext& context, QWidget* parent) : CBookListPage(parent), m_ctx(context)
{
    SetTitle(QStringLiteral("交易收益"));
    m_list->BuildFixedColumns(IncomeColumns(), m_ctx.ListItemSize());
}

void CFundIncomeListView::SetAccount(int accountId)
{
    m_accountId = accountId;
    Rebuild();
}

void CFundIncomeListView::Rebuild()
{
    const AccountInfo* account = m_ctx.Accounts().FindAccount(m_accountId);
    SetTitle(account ? QStringLiteral("帐户 %1 交易收益").arg(QString::fromStdString(account->AccountName))
                     : QStringLiteral("全部帐户交易收益"));
    if (!m_ctx.Accounts().LoadTradeIncome(account ? m_accountId : 0, std::string(), m_rows)) m_rows.clear();
    m_list->Model()->SetSource(RowCount(), [this](int row, int id) { return Cell(row, id); });
    FetchIntervals();
}

void CFundIncomeListView::FetchIntervals()
{
    CTaskRunner::Cancel(m_pending);
    if (m_rows.empty() || m_ctx.doc.User().OfflineFlag != 0) return;
    // The service's figures on the worker, through a client of its own with
    // a copy of the session; the rows take them when all are in.
    auto client = std::make_shared<CBookServiceClient>([ctx = m_ctx.doc.MakeCommandContext()] { return ctx; });
    std::vector<std::pair<std::string, OleDate>> asks;
    for (const TradeIncomeRow& r : m_rows) asks.emplace_back(r.Trade.FundID, r.Trade.DealTime);
    const int serial = ++m_serial;
    const OleDate today = Clock::Now();
    m_pending = m_ctx.runner.Run([this, self = QPointer<CFundIncomeListView>(this), client, asks, serial,
                                  today](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto answers = std::make_shared<std::vector<std::optional<std::pair<double, double>>>>();
        for (const auto& [fund, from] : asks) {
            if (cancelled) return nullptr;
            double fundGrowth = 0, indexGrowth = 0;
            std::string error;
            if (client->QueryIntervalFigures(fund, from, today, fundGrowth, indexGrowth, error))
                answers->emplace_back(std::pair{fundGrowth, indexGrowth});
            else
                answers->emplace_back(std::nullopt);
        }
        return [this, self, answers, serial] {
            if (!self || serial != m_serial || answers->size() != m_rows.size()) return;
            for (size_t i = 0; i < m_rows.size(); ++i)
                if ((*answers)[i]) {
                    m_rows[i].FundGrowth = (*answers)[i]->first;
                    m_rows[i].IndexGrowth = (*answers)[i]->second;
                }
            m_pending.reset();
        };
    });
}

ListCell CFundIncomeListView::Cell(int row, int columnId) const
{
    if (row < 0 || row >= RowCount()) return {};
    const TradeIncomeRow& r = m_rows[static_cast<size_t>(row)];
    const bool k = m_ctx.ShowThousand();
    switch (columnId) {
    case 1: return {QString::number(row + 1), row + 1};
    case 2: return {QString::fromStdString(r.AccountName), {}};
    case 3: return {QString::fromStdString(HoldingDisplayName(m_ctx.FundName(r.Trade.FundID).toStdString(), r.Trade.BuyType)), {}};
    case 4: return {Date(r.Trade.DealTime), r.Trade.DealTime.dt};
    case 5: return PercentCell(r.IntervalReturn);
    case 6: return {BookNumber(r.IntervalGrowth, false, "%0.4f"), r.IntervalGrowth};
    case 7: return {QString::number(r.HoldingDays), r.HoldingDays};
    case 8: return r.AverageReturn ? ListCell{BookNumber(*r.AverageReturn, false, "%0.4f") + "%", *r.AverageReturn} : ListCell{QString(), -1e300};
    case 9: return {BookNumber(r.TradeValue, false, "%0.4f"), r.TradeValue};
    case 10: return {BookNumber(r.LatestValue, false, "%0.4f"), r.LatestValue};
    case 11: return {BookNumber(r.DividendsPerShare, false, "%0.4f"), r.DividendsPerShare};
    case 12: return {QString::fromUtf8(TradeTypeName(r.Trade.TradeType)), r.Trade.TradeType};
    case 13: return MoneyCell(r.Trade.TradeMoney, k);
    case 14: return MoneyCell(r.Trade.TradeCount, k);
    default: return {};
    }
}

}  // namespace vextal
