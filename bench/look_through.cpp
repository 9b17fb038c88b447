// What the investor owns through his funds, at a size beyond any private
// account: the look-through exposure and the overlap of 200 held funds over
// 2,000 distinct stocks (each fund 10 stocks of its own and 10 of the 100
// most held, so that many pairs share stocks), against a plain summation of
// the same rows by stock in the same run; and the time-weighted return of an
// account with 20,000 trades over ten years of 20 funds' daily NAVs, against
// the account income curve (one valuation a day, no chaining) over the same
// books.
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "BenchUtil.h"
#include "book/LookThrough.h"
#include "common/Format.h"
#include "curve/AccountTwr.h"

using namespace vextal;

namespace {

std::vector<LookThroughFund> Funds()
{
    std::vector<LookThroughFund> funds;
    unsigned seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int i = 0; i < 200; ++i) {
        LookThroughFund f;
        f.FundID = StrFormat("%06d", 100000 + i);
        f.FundClass = 1 + i % 4;
        f.MarketValue = 1000.0 + (next() % 100000);
        for (int k = 0; k < 10; ++k) {
            const int own = i * 10 + k;
            f.Stocks.push_back({StrFormat("%06d", 600000 + own), StrFormat("股票%d", own), StrFormat("行业%d", own % 28), 1.0 + next() % 400 / 100.0});
            const int popular = static_cast<int>(std::sqrt(static_cast<double>(next() % 10000)));  // skewed to the first
            f.Stocks.push_back({StrFormat("%06d", 600000 + popular), StrFormat("股票%d", popular), StrFormat("行业%d", popular % 28), 1.0 + next() % 700 / 100.0});
        }
        funds.push_back(std::move(f));
    }
    return funds;
}

struct Books {
    std::map<int, TradeInfo> trades;
    std::map<std::string, IncomeHistoryFund> funds;
};

Books TenYears()
{
    Books b;
    std::vector<OleDate> days;
    for (OleDate d = OleDate::FromParts(2015, 1, 5); days.size() < 2430; d = d.AddDays(1))
        if (!d.IsWeekend()) days.push_back(d);
    unsigned seed = 777;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int f = 0; f < 20; ++f) {
        IncomeHistoryFund& h = b.funds[StrFormat("%06d", 1 + f)];
        h.MoneyMarket = f == 19;
        double nav = 1.0;
        for (const OleDate& d : days) {
            nav *= 1.0 + (static_cast<double>(next() % 2001) - 1000.0) / 60000.0;
            CFundValue v;
            v.ValueDate = d;
            v.TodayValue = h.MoneyMarket ? 0.6 : nav;
            v.TotalValue = v.TodayValue;
            h.Records.push_back(v);
        }
    }
    std::vector<double> shares(20, 0.0);
    for (int i = 0; i < 20000; ++i) {
        TradeInfo t;
        t.TradeID = i + 1;
        t.TradeState = kStateConfirmed;
        const int f = static_cast<int>(next() % 20);
        t.FundID = StrFormat("%06d", 1 + f);
        const size_t day = static_cast<size_t>(i) * days.size() / 20000;
        const double nav = b.funds[t.FundID].Records[day].TodayValue;
        t.TradeValue = f == 19 ? 1.0 : nav;
        const unsigned kind = next() % 10;
        if (kind < 6 || shares[static_cast<size_t>(f)] < 100) {
            t.TradeType = kTradeBuy;
            t.TradeMoney = 1000 + next() % 5000;
            t.TradeCount = Round2(t.TradeMoney / 1.015 / t.TradeValue);
            shares[static_cast<size_t>(f)] += t.TradeCount;
        } else if (kind < 9) {
            t.TradeType = kTradeRedeem;
            t.TradeCount = Round2(shares[static_cast<size_t>(f)] * 0.3);
            t.TradeMoney = Round2(t.TradeCount * t.TradeValue * 0.995);
            shares[static_cast<size_t>(f)] -= t.TradeCount;
        } else {
            t.TradeType = kTradeCashBonus;
            t.TradeMoney = Round2(shares[static_cast<size_t>(f)] * 0.01);
        }
        t.TradeTime = t.DealTime = days[day].AddDays(0.4);
        b.trades[t.TradeID] = t;
    }
    return b;
}

}  // namespace

int main()
{
    const std::vector<LookThroughFund> funds = Funds();
    size_t checksum = 0;
    const double lookMs = bench::BestMs(10, [&](int) {
        const LookThroughResult r = ComputeLookThrough(funds);
        const std::vector<FundOverlap> o = ComputeOverlaps(funds);
        checksum += r.Stocks.size() + o.size() + (o.front().Percent > 0);
    });
    // The same rows summed by stock and nothing else.
    const double plainMs = bench::BestMs(10, [&](int) {
        std::unordered_map<std::string, double> sums;
        for (const LookThroughFund& f : funds)
            for (const LookThroughStock& s : f.Stocks) sums[s.StockID] += f.MarketValue * s.Percent / 100.0;
        checksum += sums.size();
    });
    bench::ReportTarget("look_through_exposure_overlap_200x2000", lookMs, "ms", 50);
    // The pairs and their common stocks are most of it: about a hundred plain passes.
    bench::Report("look_through_vs_plain_sum_200x2000", lookMs, "ms", plainMs, 150);

    const Books b = TenYears();
    const OleDate from = OleDate::FromParts(2014, 1, 1), to = OleDate::FromParts(2025, 1, 1);
    const double twrMs = bench::BestMs(5, [&](int) { checksum += ComputeAccountTwr(b.trades, b.funds, from, to).Points.size(); });
    const double incomeMs = bench::BestMs(5, [&](int) { checksum += AccountIncomeHistory(b.trades, b.funds, to).size(); });
    bench::ReportTarget("account_twr_20000_trades_10_years", twrMs, "ms", 200);
    bench::Report("account_twr_vs_income_curve_20000_trades", twrMs, "ms", incomeMs, 2);
    if (checksum == 0) std::fprintf(stderr, "look_through: nothing computed\n");
    return 0;
}
