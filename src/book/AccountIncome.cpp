// CAccountManager: the income figures of the account refresh, the
// annualised returns and the trade income list.
#include <algorithm>
#include <cmath>

#include "book/AccountManager.h"
#include "book/Xirr.h"
#include "common/Clock.h"
#include "common/Format.h"

namespace vextal {

LatestNav CAccountManager::LatestValueOf(const std::string& fundId) const
{
    LatestNav nav;
    if (m_estimates && UsesRealtimeValue(m_showRealtime, Clock::Now()) &&
        m_estimates->GetRealtimeEstimate(fundId, nav)) {
        nav.Estimate = true;
        return nav;
    }
    nav = LatestNav();
    if (m_funds && !m_funds->GetLatestNav(fundId, nav)) nav = LatestNav();
    return nav;
}

void CAccountManager::ComputeIncome(AccountInfo& account)
{
    const HoldingSumsMap sums = SumHoldingTrades(account.trades);
    IncomeSettings settings;
    settings.offline = m_offline;
    settings.fundZeroHide = m_fundZeroHide;
    settings.currentValueDate = m_currentValueDate;
    // The expected day moves on at each publication: ask for it at every refresh.
    OleDate expected;
    if (m_funds && m_funds->GetCurrentValueDate(expected)) settings.currentValueDate = expected;
    static const HoldingSums none;
    // The newest trade of each holding, gathered once if a holding needs it.
    std::map<std::pair<std::string, int>, const TradeInfo*> newest;
    bool newestKnown = false;
    for (FundTradeInfo& h : account.holdings) {
        auto s = sums.find({h.FundID, h.BuyType});
        const bool moneyMarket = IsMoneyMarket(h.FundID);
        LatestNav nav = LatestValueOf(h.FundID);
        // No value of the fund held here yet (a new home before its first
        // download): the NAV of its newest trade, not 0, which would show
        // the whole holding as lost.
        if (nav.TodayValue <= 0 && !moneyMarket) {
            if (!newestKnown) {
                for (const auto& [id, t] : account.trades) {
                    if (!(t.TradeValue > 0)) continue;
                    const TradeInfo*& n = newest[{t.FundID, t.BuyType}];
                    if (!n || t.TradeTime >= n->TradeTime) n = &t;
                }
                newestKnown = true;
            }
            if (auto n = newest.find({h.FundID, h.BuyType}); n != newest.end()) {
                nav = LatestNav();
                nav.TodayValue = n->second->TradeValue;
                nav.ValueDate = n->second->TradeTime.DateOnly();
            }
        }
        ComputeHoldingFigures(h, nav, moneyMarket, s != sums.end() ? s->second : none, settings);
    }
    ComputeAccountFigures(account, sums);
}

namespace {

// The investor's side of a trade: paid in negative, received positive;
// 0 for trades that move no money across the holding's edge.
double FlowOf(const TradeInfo& t, bool accountLevel)
{
    switch (t.TradeType) {
    case kTradeBuy:
    case kTradePlanBuy:
    case kTradeSubscribe:
    case kTradeQuick: return -t.TradeMoney;
    case kTradeRedeem:
    case kTradeCashBonus: return t.TradeMoney;
    // A conversion moves money between two holdings of the account.
    case kTradeConvertIn: return accountLevel ? 0 : -t.TradeMoney;
    case kTradeConvertOut: return accountLevel ? 0 : t.TradeMoney;
    default: return 0;
    }
}

std::optional<double> Percent(const std::optional<double>& rate)
{
    if (!rate) return std::nullopt;
    return *rate * 100;
}

}  // namespace

void CAccountManager::RefreshAnnualRates(int accountId)
{
    const OleDate today = Clock::Now().DateOnly();
    for (auto& [id, account] : m_accounts) {
        if (accountId != 0 && id != accountId) continue;
        std::map<std::pair<std::string, int>, size_t> index;
        for (const FundTradeInfo& h : account->holdings) index.emplace(std::pair{h.FundID, h.BuyType}, index.size());
        std::vector<std::vector<CashFlow>> byHolding(index.size());
        std::vector<double> paidOut(index.size(), 0.0);  // cash dividends booked as trades
        std::vector<CashFlow> all;
        all.reserve(account->trades.size() + 1);
        for (const auto& [tradeId, t] : account->trades) {
            if (t.TradeState == kStateExcluded) continue;
            if (t.TradeType == kTradeCashBonus)
                if (auto i = index.find({t.FundID, t.BuyType}); i != index.end()) paidOut[i->second] += t.TradeMoney;
            const double f = FlowOf(t, false);
            if (f == 0) continue;
            if (auto i = index.find({t.FundID, t.BuyType}); i != index.end())
                byHolding[i->second].push_back({t.TradeTime, f});
            if (const double g = FlowOf(t, true)) all.push_back({t.TradeTime, g});
        }
        double finalValue = 0;
        for (FundTradeInfo& h : account->holdings) {
            const size_t i = index.at({h.FundID, h.BuyType});
            std::vector<CashFlow>& flows = byHolding[i];
            // A money-market fund's income accrues in its cash dividend sum,
            // not in trades: it counts as part of today's value, as in the
            // accumulated income (the dates of the accruals are not kept).
            const double income = IsMoneyMarket(h.FundID) ? std::max(0.0, h.CashBonus - paidOut[i]) : 0;
            const double value = (h.TotalCount != 0 ? h.figures.MarketValue : 0) + income;
            if (h.TotalCount != 0 || income != 0) {
                flows.push_back({today, value});
                finalValue += value;
            }
            h.figures.AnnualRate = Percent(Xirr(std::move(flows)));
        }
        all.push_back({today, finalValue});
        account->AnnualRate = Percent(Xirr(std::move(all)));
    }
}

bool CAccountManager::LoadTradeIncome(int accountId, const std::string& fundId, std::vector<TradeIncomeRow>& rows)
{
    rows.clear();
    std::string sql = "SELECT * FROM T_Trade_Info WHERE TradeState=1  AND (TradeType=0 OR TradeType=9 OR "
                      "TradeType=5 OR TradeType=6 OR TradeType=12 OR TradeType=10) AND AccountID";
    sql += accountId != 0 ? StrFormat("=%d", accountId)
                          : StrFormat(" IN(SELECT AccountID FROM T_Account_Info WHERE UserID=%d)", m_userId);
    if (!fundId.empty()) sql += " AND FundID='" + SqlEscape(fundId) + "'";
    sql += " ORDER BY DealTime";
    RecordsetPtr rs = m_db.OpenRecordsetEx(sql);
    if (!rs) return FailDb();
    const OleDate now = Clock::Now();
    for (; !rs->IsEOF(); rs->MoveNext()) {
        TradeInfo t;
        ReadTrade(rs, t);
        double latest = 0;
        if (const FundTradeInfo* h = FindHolding(HoldingKey::Of(t)))
            latest = h->figures.LatestValue;
        else
            latest = LatestValueOf(t.FundID).TodayValue;
        const double dividends = m_funds ? m_funds->GetDividendsPerShare(t.FundID, t.DealTime, now) : 0;
        TradeIncomeRow row = ComputeTradeIncome(t, latest, dividends, now);
        if (const AccountInfo* a = FindAccount(t.AccountID)) row.AccountName = a->AccountName;
        rows.push_back(std::move(row));
    }
    m_db.CloseRecordset();
    return true;
}

void CAccountManager::FetchIntervalFigures(std::vector<TradeIncomeRow>& rows) const
{
    if (!m_services || m_offline) return;
    const OleDate today = Clock::Now();
    for (TradeIncomeRow& r : rows) {
        double fund = 0, index = 0;
        std::string error;
        if (m_services->QueryIntervalFigures(r.Trade.FundID, r.Trade.DealTime, today, fund, index, error)) {
            r.FundGrowth = fund;
            r.IndexGrowth = index;
        }
    }
}

}  // namespace vextal
