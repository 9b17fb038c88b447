#include "curve/AccountIncomeHistory.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "common/Format.h"

namespace vextal {

namespace {

long long Day(const OleDate& d) { return static_cast<long long>(std::floor(d.dt)); }

struct Holding {
    double Count = 0;
    double LastPrice = 0;
};

}  // namespace

AccountTradeMoney ApplyAccountTrade(const TradeInfo& t, double& shares)
{
    AccountTradeMoney money;
    switch (t.TradeType) {
    case kTradeBuy:
    case kTradePlanBuy:
    case kTradeSubscribe:
    case kTradeQuick:
        if (t.TradeCount > 0) money.PaidIn = t.TradeMoney;
        shares += t.TradeCount;
        break;
    case kTradeConvertIn:
    case kTradeBonusReinvest: shares += t.TradeCount; break;
    case kTradeRedeem:
        if (t.TradeCount >= 0) money.Redeemed = t.TradeMoney;
        shares -= t.TradeCount;
        break;
    case kTradeConvertOut: shares -= t.TradeCount; break;
    case kTradeSplit: shares = t.TradeCount; break;
    case kTradeCashBonus: money.CashBonus = t.TradeMoney; break;
    default: break;
    }
    return money;
}

std::vector<CurveIncomePoint> AccountIncomeHistory(const std::map<int, TradeInfo>& trades,
                                                   const std::map<std::string, IncomeHistoryFund>& funds,
                                                   const OleDate& today)
{
    std::vector<const TradeInfo*> done;
    for (const auto& [id, t] : trades)
        if (t.TradeState == kStateConfirmed && t.DealTime.dt != 0) done.push_back(&t);
    std::stable_sort(done.begin(), done.end(),
                     [](const TradeInfo* a, const TradeInfo* b) { return a->DealTime < b->DealTime; });
    std::vector<CurveIncomePoint> points;
    if (done.empty()) return points;

    const long long first = Day(done.front()->DealTime), last = Day(today);
    std::set<long long> days{first};
    for (const auto& [fund, f] : funds)
        for (const CFundValue& r : f.Records)
            if (Day(r.ValueDate) > first && Day(r.ValueDate) <= last) days.insert(Day(r.ValueDate));

    std::map<std::pair<std::string, int>, Holding> holdings;
    std::map<std::string, size_t> navAt;  // next record to look at, by fund
    double principal = 0, redeemed = 0, cash = 0;
    size_t next = 0;
    for (long long day : days) {
        for (; next < done.size() && Day(done[next]->DealTime) <= day; ++next) {
            const TradeInfo& t = *done[next];
            Holding& h = holdings[{t.FundID, t.BuyType}];
            if (t.TradeValue > 0 && t.TradeType != kTradeSplit) h.LastPrice = t.TradeValue;
            const AccountTradeMoney money = ApplyAccountTrade(t, h.Count);
            principal += money.PaidIn;
            redeemed += money.Redeemed;
            cash += money.CashBonus;
        }
        double market = 0;
        for (const auto& [key, h] : holdings) {
            if (h.Count == 0) continue;
            double nav = h.LastPrice;
            auto f = funds.find(key.first);
            if (f != funds.end() && f->second.MoneyMarket) {
                nav = 1.0;
            } else if (f != funds.end()) {
                const auto& records = f->second.Records;
                size_t& i = navAt[key.first];
                while (i < records.size() && Day(records[i].ValueDate) <= day) ++i;
                if (i > 0) nav = records[i - 1].TodayValue;
            }
            market += Round2(h.Count) * nav;
        }
        points.push_back({OleDate(static_cast<double>(day)), Round2(cash + redeemed + market - principal)});
    }
    return points;
}

}  // namespace vextal
