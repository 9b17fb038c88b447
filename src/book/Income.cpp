#include "book/Income.h"

#include <cmath>

#include "common/Format.h"

namespace vextal {

namespace {

double Rate(double part, double whole) { return whole != 0 ? part * 100 / whole : 0; }

bool IsPrincipalType(int type)
{
    return type == kTradeBuy || type == kTradePlanBuy || type == kTradeSubscribe || type == kTradeQuick;
}

}  // namespace

bool UsesRealtimeValue(bool showRealtime, const OleDate& now)
{
    return showRealtime && !now.IsWeekend() && now.Hour() <= 16;
}

HoldingSumsMap SumHoldingTrades(const std::map<int, TradeInfo>& trades)
{
    HoldingSumsMap sums;
    // A holding's trades mostly follow one another: the last one's sums are
    // tried before the map.
    const TradeInfo* last = nullptr;
    HoldingSums* lastSums = nullptr;
    for (const auto& [id, t] : trades) {
        if (t.TradeState == kStateExcluded) continue;
        if (!last || last->BuyType != t.BuyType || last->FundID != t.FundID) lastSums = &sums[{t.FundID, t.BuyType}];
        last = &t;
        HoldingSums& s = *lastSums;
        if ((IsPrincipalType(t.TradeType) || t.TradeType == kTradeConvertIn) && t.TradeCount > 0) {
            s.Principal += t.TradeMoney;
            if (t.TradeType != kTradeConvertIn) s.AccountPrincipal += t.TradeMoney;
        } else if ((t.TradeType == kTradeRedeem || t.TradeType == kTradeConvertOut) && t.TradeCount >= 0) {
            s.Redeemed += t.TradeMoney;
        }
    }
    return sums;
}

void ComputeHoldingFigures(FundTradeInfo& h, const LatestNav& nav, bool moneyMarket, const HoldingSums& sums,
                           const IncomeSettings& settings)
{
    HoldingFigures& f = h.figures;
    const std::optional<double> annualRate = f.AnnualRate;  // kept until the rates are asked again
    f = HoldingFigures();
    f.AnnualRate = annualRate;
    f.LatestValue = nav.TodayValue;
    f.VarPercent = nav.VarPercent;
    f.VarValue = moneyMarket ? nav.TodayValue : nav.VarValue;
    f.ValueDate = nav.ValueDate;
    f.CurrentValueDate = settings.currentValueDate;

    // A money-market unit is worth 1.0; its "NAV" is the income per 10,000 units.
    const double count = h.TotalCount;
    f.MarketValue = moneyMarket ? count : nav.TodayValue * count;
    f.NewPrincipal = count * h.TradeValue;
    f.TotalPrincipal = sums.Principal;
    // With hidden emptied holdings, their redemptions are not counted either.
    f.RedeemMoney = settings.fundZeroHide && !(count > 0) ? 0 : sums.Redeemed;
    const double m = f.MarketValue;
    f.SaleFeeEstimate = m * h.SaleFee * 0.01 + (m != 0 ? h.SaleFeeMoney : 0);

    f.TotalIncome = Round2(f.RedeemMoney + h.CashBonus + m - f.TotalPrincipal) - f.SaleFeeEstimate;
    f.TotalIncomeRate = Rate(f.TotalIncome, f.TotalPrincipal);
    f.NewIncome = Round2(h.CashBonusNew + m - f.NewPrincipal) - f.SaleFeeEstimate;
    f.NewIncomeRate = Rate(f.NewIncome, f.NewPrincipal);

    if (moneyMarket) {
        f.TodayIncome = nav.TodayValue * count * 0.0001;
    } else {
        const double g = nav.VarPercent;
        const double d = g + 100 != 0 ? m * g / (g + 100) : 0;
        f.TodayIncome = d - std::fabs(std::trunc(d)) * h.SaleFee * 0.01;
    }
    // A value of an earlier day earned nothing today. The real-time estimate
    // is today's by its nature (during the trading day the expected NAV is
    // still yesterday's): showing today's estimated income is what it is for.
    if (!settings.offline && !nav.Estimate && settings.currentValueDate.dt != 0 &&
        nav.ValueDate.DateOnly() != settings.currentValueDate.DateOnly())
        f.TodayIncome = 0;
}

void ComputeAccountFigures(AccountInfo& a, const HoldingSumsMap& sums)
{
    a.MarketValue = 0;
    a.TotalPrincipal = 0;
    a.NewPrincipal = 0;
    a.SaleFeeEstimate = 0;
    a.TodayIncome = 0;
    for (const FundTradeInfo& h : a.holdings) {
        if (h.TotalCount == 0) continue;
        a.MarketValue += h.figures.MarketValue;
        auto s = sums.find({h.FundID, h.BuyType});
        if (s != sums.end()) a.TotalPrincipal += s->second.AccountPrincipal;
        a.NewPrincipal += h.figures.NewPrincipal;
        a.SaleFeeEstimate += h.figures.SaleFeeEstimate;
        a.TodayIncome += h.figures.TodayIncome;
    }
    a.TotalIncome = Round2(a.CashBonus + a.RedeemMoney + a.MarketValue - a.TotalPrincipal - a.SaleFeeEstimate);
    a.TotalIncomeRate = Rate(a.TotalIncome, a.TotalPrincipal);
    a.NewIncome = Round2(a.CashBonusNew + a.MarketValue - a.NewPrincipal - a.SaleFeeEstimate);
    a.NewIncomeRate = Rate(a.NewIncome, a.NewPrincipal);
    a.TodayIncomeRate = Rate(a.TodayIncome, a.NewPrincipal);
}

IncomeRow IncomeRowOf(const AccountInfo& a)
{
    IncomeRow r;
    r.Name = a.AccountName;
    r.TotalIncome = a.TotalIncome;
    r.TotalIncomeRate = a.TotalIncomeRate;
    r.NewIncome = a.NewIncome;
    r.NewIncomeRate = a.NewIncomeRate;
    r.TodayIncome = a.TodayIncome;
    r.TodayIncomeRate = a.TodayIncomeRate;
    r.MarketValue = a.MarketValue;
    r.RedeemMoney = a.RedeemMoney;
    r.NewPrincipal = a.NewPrincipal;
    r.TotalPrincipal = a.TotalPrincipal;
    r.CashBonus = a.CashBonus;
    r.TotalBonus = a.TotalBonus;
    r.FundCount = a.FundCount;
    return r;
}

IncomeRow IncomeRowOf(const FundTradeInfo& h, const std::string& name)
{
    const HoldingFigures& f = h.figures;
    IncomeRow r;
    r.Name = name;
    r.TotalIncome = f.TotalIncome;
    r.TotalIncomeRate = f.TotalIncomeRate;
    r.NewIncome = f.NewIncome;
    r.NewIncomeRate = f.NewIncomeRate;
    r.TodayIncome = f.TodayIncome;
    r.TodayIncomeRate = Rate(f.TodayIncome, f.NewPrincipal);
    r.MarketValue = f.MarketValue;
    r.RedeemMoney = f.RedeemMoney;
    r.NewPrincipal = f.NewPrincipal;
    r.TotalPrincipal = f.TotalPrincipal;
    r.CashBonus = h.CashBonus;
    r.TotalBonus = h.TotalBonus;
    r.TotalCount = h.TotalCount;
    return r;
}

IncomeRow TotalsRow(const std::vector<IncomeRow>& rows)
{
    IncomeRow t;
    t.Name = "合计";
    for (const IncomeRow& r : rows) {
        t.TotalIncome += r.TotalIncome;
        t.NewIncome += r.NewIncome;
        t.TodayIncome += r.TodayIncome;
        t.MarketValue += r.MarketValue;
        t.RedeemMoney += r.RedeemMoney;
        t.NewPrincipal += r.NewPrincipal;
        t.TotalPrincipal += r.TotalPrincipal;
        t.CashBonus += r.CashBonus;
        t.TotalBonus += r.TotalBonus;
        t.TotalCount += r.TotalCount;
        t.FundCount += r.FundCount;
    }
    t.NewIncomeRate = Rate(t.NewIncome, t.NewPrincipal);
    t.TodayIncomeRate = Rate(t.TodayIncome, t.NewPrincipal);
    t.TotalIncomeRate = Rate(t.TotalIncome, t.TotalPrincipal);
    return t;
}

IncomeRow AverageRow(const IncomeRow& totals, int rowCount)
{
    IncomeRow a;
    a.Name = "平均";
    if (rowCount <= 0) return a;
    const double n = rowCount;
    a.TotalIncome = totals.TotalIncome / n;
    a.TotalIncomeRate = totals.TotalIncomeRate / n;
    a.NewIncome = totals.NewIncome / n;
    a.NewIncomeRate = totals.NewIncomeRate / n;
    a.TodayIncome = totals.TodayIncome / n;
    a.TodayIncomeRate = totals.TodayIncomeRate / n;
    a.MarketValue = totals.MarketValue / n;
    a.RedeemMoney = totals.RedeemMoney / n;
    a.NewPrincipal = totals.NewPrincipal / n;
    a.TotalPrincipal = totals.TotalPrincipal / n;
    a.CashBonus = totals.CashBonus / n;
    a.TotalBonus = totals.TotalBonus / n;
    a.TotalCount = totals.TotalCount / n;
    a.FundCount = totals.FundCount / rowCount;
    return a;
}

TradeIncomeRow ComputeTradeIncome(const TradeInfo& trade, double latestValue, double dividendsPerShare,
                                  const OleDate& today)
{
    TradeIncomeRow r;
    r.Trade = trade;
    r.TradeValue = trade.TradeValue;
    r.LatestValue = latestValue;
    r.DividendsPerShare = dividendsPerShare;
    r.IntervalGrowth = latestValue - trade.TradeValue + dividendsPerShare;
    r.IntervalReturn = trade.TradeValue != 0 ? r.IntervalGrowth * 100 / trade.TradeValue : 0;
    r.HoldingDays = WholeDaysBetween(trade.DealTime, today);
    if (r.HoldingDays > 0) r.AverageReturn = r.IntervalReturn / r.HoldingDays;
    return r;
}

}  // namespace vextal
