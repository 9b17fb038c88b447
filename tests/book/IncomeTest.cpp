// Income figures of holdings and accounts (the worked examples), the list
// rows under them, and the annualised returns.
#include <cmath>

#include "BookFixture.h"
#include "book/Income.h"
#include "book/Xirr.h"

namespace vextal::test {
namespace {

OleDate Ymd(int y, int m, int d, int h = 0) { return OleDate::FromParts(y, m, d, h); }

LatestNav Value(double nav, double growthPercent, const OleDate& date)
{
    LatestNav v;
    v.TodayValue = nav;
    v.VarPercent = growthPercent;
    v.ValueDate = date;
    return v;
}

struct FixedEstimates : IRealtimeEstimates {
    LatestNav estimate;
    bool GetRealtimeEstimate(const std::string&, LatestNav& nav) const override
    {
        nav = estimate;
        return true;
    }
};

class Income : public BookTest {
protected:
    // 1000 yuan without fee at NAV 1.0: 1000 shares.
    int HoldThousandShares()
    {
        const int account = NewAccount("收益");
        services.nav["000001"] = 1.0;
        TradeInfo t = Purchase(account, "000001", 1000, 0, Ymd(2024, 6, 3, 10));
        EXPECT_EQ(manager.BookTrade(t), 0) << manager.GetLastErrorText();
        EXPECT_DOUBLE_EQ(t.TradeCount, 1000);
        return account;
    }
    const HoldingFigures& Figures(int account, const std::string& fund)
    {
        const FundTradeInfo* h = manager.FindHolding({account, fund, 0});
        EXPECT_NE(h, nullptr);
        static HoldingFigures none;
        return h ? h->figures : none;
    }
    const OleDate today = Ymd(2024, 6, 14);
};

TEST_F(Income, WorkedExamplesOfTheHoldingAndAccountFigures)
{
    // NAV 1.1 up 10 % today.
    funds.values["000001"] = Value(1.1, 10, today);
    manager.SetIncomeSettings(false, today);
    const int account = HoldThousandShares();
    const HoldingFigures* f = &Figures(account, "000001");
    EXPECT_NEAR(f->MarketValue, 1100, 1e-9);
    EXPECT_NEAR(f->NewPrincipal, 1000, 1e-9);
    EXPECT_NEAR(f->NewIncome, 100, 1e-9);
    EXPECT_NEAR(f->NewIncomeRate, 10, 1e-9);
    EXPECT_NEAR(f->TotalIncome, 100, 1e-9);
    // Today: 1100 x 10 / 110 = 100.
    EXPECT_NEAR(f->TodayIncome, 100, 1e-9);
    const AccountInfo* a = manager.FindAccount(account);
    EXPECT_NEAR(a->MarketValue, 1100, 1e-9);
    EXPECT_NEAR(a->NewIncome, 100, 1e-9);
    EXPECT_NEAR(a->TodayIncomeRate, 10, 1e-9);

    // A reference redemption fee of 0.5 %: 5.5 comes off the income, and
    // today's income loses 0.5 % of its whole yuan.
    FundTradeInfo fee = *manager.FindHolding({account, "000001", 0});
    fee.SaleFee = 0.5;
    ASSERT_TRUE(manager.SetSaleFee(fee));
    ASSERT_TRUE(manager.RefreshAccount(account));
    f = &Figures(account, "000001");
    EXPECT_NEAR(f->SaleFeeEstimate, 5.5, 1e-9);
    EXPECT_NEAR(f->NewIncome, 94.5, 1e-9);
    EXPECT_NEAR(f->TodayIncome, 99.5, 1e-9);
    EXPECT_NEAR(a->NewIncome, 94.5, 1e-9);
    EXPECT_NEAR(a->TotalIncome, 94.5, 1e-9);

    // Yesterday's value earned nothing today online; offline it still counts.
    funds.values["000001"].ValueDate = today.AddDays(-1);
    ASSERT_TRUE(manager.RefreshAccount(account));
    EXPECT_EQ(Figures(account, "000001").TodayIncome, 0);
    manager.SetOffline(true);
    ASSERT_TRUE(manager.RefreshAccount(account));
    EXPECT_NEAR(Figures(account, "000001").TodayIncome, 99.5, 1e-9);
    manager.SetOffline(false);

    // Money-market: 20,000 units earning 0.5 per 10,000 today.
    funds.values["000009"] = Value(0.5, 0, today);
    services.nav["000009"] = 1.0;
    TradeInfo mm = Purchase(account, "000009", 20000, 0, Ymd(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(mm), 0) << manager.GetLastErrorText();
    f = &Figures(account, "000009");
    EXPECT_EQ(StrFormat("%0.2f", f->TodayIncome), "1.00");

    // An account without holdings: every rate 0, not a division by zero.
    const AccountInfo* empty = manager.FindAccount(NewAccount("空"));
    ASSERT_TRUE(manager.RefreshAccount(empty->AccountID));
    for (double rate : {empty->TotalIncomeRate, empty->NewIncomeRate, empty->TodayIncomeRate})
        EXPECT_EQ(rate, 0);
}

// Cash dividends and redemptions count into the accumulated income; a
// conversion in is principal of its holding but not of the account.
TEST_F(Income, AccumulatedIncomeCountsRedemptionsAndDividends)
{
    AccountInfo a;
    FundTradeInfo h;
    h.FundID = "000001";
    h.TotalCount = 500, h.TradeValue = 1.0, h.CashBonus = 30, h.CashBonusNew = 10;
    a.holdings.push_back(h);
    a.CashBonus = 30, a.CashBonusNew = 10, a.RedeemMoney = 600;
    std::map<int, TradeInfo> trades;
    int id = 0;
    for (auto [type, money, count] : {std::tuple{kTradeBuy, 800.0, 800.0}, std::tuple{kTradeConvertIn, 200.0, 200.0},
                                      std::tuple{kTradeRedeem, 600.0, 500.0}, std::tuple{kTradeCashBonus, 30.0, 0.0}}) {
        TradeInfo& t = trades[++id];
        t.TradeID = id, t.FundID = "000001", t.TradeType = type, t.TradeMoney = money, t.TradeCount = count;
        t.TradeState = kStateConfirmed;
    }
    const HoldingSumsMap sums = SumHoldingTrades(trades);
    IncomeSettings settings;
    ComputeHoldingFigures(a.holdings[0], Value(1.2, 0, today), false, sums.at({"000001", 0}), settings);
    const HoldingFigures& f = a.holdings[0].figures;
    // 600 + 30 + 600 - 1000 = 230; latest: 10 + 600 - 500 = 110.
    EXPECT_NEAR(f.TotalPrincipal, 1000, 1e-9);
    EXPECT_NEAR(f.TotalIncome, 230, 1e-9);
    EXPECT_NEAR(f.TotalIncomeRate, 23, 1e-9);
    EXPECT_NEAR(f.NewIncome, 110, 1e-9);
    EXPECT_NEAR(f.NewIncomeRate, 22, 1e-9);
    ComputeAccountFigures(a, sums);
    // The account's principal leaves the conversion out: 30 + 600 + 600 - 800.
    EXPECT_NEAR(a.TotalPrincipal, 800, 1e-9);
    EXPECT_NEAR(a.TotalIncome, 430, 1e-9);
}

TEST_F(Income, TotalsRecomputeRatesAndAveragesDivideByRows)
{
    IncomeRow r1, r2;
    r1.NewIncome = 100, r1.NewPrincipal = 1000, r1.NewIncomeRate = 10, r1.FundCount = 1;
    r2.NewIncome = -50, r2.NewPrincipal = 500, r2.NewIncomeRate = -10, r2.FundCount = 2;
    const IncomeRow t = TotalsRow({r1, r2});
    EXPECT_NEAR(t.NewIncomeRate, 50 * 100.0 / 1500, 1e-9);  // from the sums, not 10 + -10
    const IncomeRow avg = AverageRow(t, 2);
    EXPECT_EQ(avg.Name, "平均");
    EXPECT_NEAR(avg.NewIncome, 25, 1e-9);
    EXPECT_EQ(avg.FundCount, 1);  // 3 / 2 by integer division
    EXPECT_EQ(AverageRow(TotalsRow({}), 0).NewIncomeRate, 0);
}

// The real-time estimate counts on weekdays up to 16:59 when the setting is on.
TEST_F(Income, RealtimeEstimateOnlyDuringTheTradingDay)
{
    FixedEstimates estimates;
    estimates.estimate = Value(1.2, 0, today);
    funds.values["000001"] = Value(1.1, 0, today.AddDays(-1));
    manager.SetRealtimeEstimates(&estimates);
    manager.SetIncomeSettings(true, today);
    const int account = HoldThousandShares();
    struct Case {
        OleDate now;
        bool flag;
        double value;
    };
    // 2024-06-14 is a Friday.
    for (const Case& c : {Case{Ymd(2024, 6, 14, 14), true, 1.2}, Case{OleDate::FromParts(2024, 6, 14, 16, 59), true, 1.2},
                          Case{Ymd(2024, 6, 14, 17), true, 1.1}, Case{Ymd(2024, 6, 15, 10), true, 1.1},
                          Case{Ymd(2024, 6, 14, 14), false, 1.1}}) {
        Clock::Fix(c.now);
        manager.SetIncomeSettings(c.flag, today);
        ASSERT_TRUE(manager.RefreshAccount(account));
        EXPECT_NEAR(Figures(account, "000001").MarketValue, 1000 * c.value, 1e-9) << c.now.Format(0);
    }
    // During the day the expected NAV is yesterday's; the estimate, up 2 %,
    // still shows today's income and rate instead of 0.
    estimates.estimate = Value(1.2, 2, today);
    Clock::Fix(Ymd(2024, 6, 14, 14));
    manager.SetIncomeSettings(true, today.AddDays(-1));
    ASSERT_TRUE(manager.RefreshAccount(account));
    EXPECT_NEAR(Figures(account, "000001").TodayIncome, 1200 * 2 / 102.0, 1e-9);
    EXPECT_NEAR(manager.FindAccount(account)->TodayIncomeRate, 1200 * 2 / 102.0 / 10, 1e-9);  // of 1000 principal
}

// Cash-flow series solved by hand, to 4 decimals of a percent; NAN: no rate.
TEST(Xirr, HandSolvedSeries)
{
    const OleDate y21 = Ymd(2021, 1, 1), y22 = Ymd(2022, 1, 1), y23 = Ymd(2023, 1, 1), y24 = Ymd(2024, 1, 1);
    // A loss: 1000 y^2 + 500 y = 1200 with y = 1 + r (below -12 %).
    const double loss = ((-500 + std::sqrt(500.0 * 500 + 4 * 1000 * 1200)) / 2000 - 1) * 100;
    const struct {
        std::vector<CashFlow> flows;
        double percent;
    } cases[] = {
        {{{y21, -1000}, {y22, 1100}}, 10},
        // Each redemption is 1.2^n times its share of the 1000.
        {{{y21, -1000}, {y22, 360}, {y23, 432}, {y24, 691.2}}, 20},
        {{{y21, -1000}, {y22, -500}, {y23, 1200}}, loss},
        {{{y21, -1000}, {y22, 1}}, -99.9},
        // Flows of one day are one flow: 1000 grown to 1210 in two years.
        {{{Ymd(2021, 1, 1, 10), -600}, {Ymd(2021, 1, 1, 15), -400}, {y23, 1210}}, 10},
        // No sign change, one day, nothing.
        {{{y21, -1000}, {y22, -100}}, NAN},
        {{{y21, 1000}, {y22, 100}}, NAN},
        {{{y21, -1000}, {y21, 1100}}, NAN},
        {{}, NAN},
    };
    EXPECT_LT(loss, -12);
    for (const auto& c : cases) {
        const std::optional<double> r = Xirr(c.flows);
        ASSERT_EQ(r.has_value(), !std::isnan(c.percent)) << c.percent;
        if (r) {
            EXPECT_NEAR(*r * 100, c.percent, 1e-4);
        }
    }
}

TEST_F(Income, AnnualRatesOfHoldingsAndAccounts)
{
    // Bought 366 days ago (over 29 February) for 1000, worth 1100 today.
    funds.values["000001"] = Value(1.1, 0, today);
    const int account = NewAccount("年化");
    services.nav["000001"] = 1.0;
    TradeInfo t = Purchase(account, "000001", 1000, 0, Ymd(2023, 6, 14, 10));
    ASSERT_EQ(manager.BookTrade(t), 0) << manager.GetLastErrorText();
    // A fund without a known value yet is priced at its trade NAV: rate 0.
    TradeInfo unknown = Purchase(account, "000002", 500, 0, Ymd(2024, 1, 2, 10));
    ASSERT_EQ(manager.BookTrade(unknown), 0) << manager.GetLastErrorText();
    manager.RefreshAnnualRates(0);
    const auto& rate = Figures(account, "000001").AnnualRate;
    ASSERT_TRUE(rate.has_value());
    EXPECT_NEAR(*rate, (std::pow(1.1, 365.0 / 366) - 1) * 100, 1e-4);
    ASSERT_TRUE(Figures(account, "000002").AnnualRate.has_value());
    EXPECT_NEAR(*Figures(account, "000002").AnnualRate, 0, 0.01);
    // The account: -1000, -500 half a year later, 1100 + 500 today.
    const AccountInfo* a = manager.FindAccount(account);
    ASSERT_TRUE(a->AnnualRate.has_value());
    EXPECT_GT(*a->AnnualRate, 0);
    const double r = *a->AnnualRate / 100;
    const double pv = -1000 - 500 * std::pow(1 + r, -(Ymd(2024, 1, 2).dt - Ymd(2023, 6, 14).dt) / 365) +
                      (1100 + Figures(account, "000002").MarketValue) *
                          std::pow(1 + r, -(today.dt - Ymd(2023, 6, 14).dt) / 365);
    EXPECT_NEAR(pv, 0, 1e-6);

    // A money-market fund's income counts: 10,000 a year ago with 200 of
    // income is 2 % a year, not 0.
    services.nav["000009"] = 1.0;
    TradeInfo money = Purchase(account, "000009", 10000, 0, Ymd(2023, 6, 14, 10));
    ASSERT_EQ(manager.BookTrade(money), 0) << manager.GetLastErrorText();
    ASSERT_TRUE(db.Execute("UPDATE T_Fund_Trade SET CashBonus=200,CashBonusNew=200 WHERE FundID='000009'"));
    ASSERT_TRUE(manager.ReadHoldings(account));
    manager.RefreshAnnualRates(account);
    EXPECT_DOUBLE_EQ(Figures(account, "000009").TotalIncome, 200);
    ASSERT_TRUE(Figures(account, "000009").AnnualRate.has_value());
    EXPECT_NEAR(*Figures(account, "000009").AnnualRate, (std::pow(1.02, 365.0 / 366) - 1) * 100, 1e-4);

    // The trade income list: a fund filter is a value, never part of the statement.
    std::vector<TradeIncomeRow> rows;
    ASSERT_TRUE(manager.LoadTradeIncome(0, "", rows));
    EXPECT_EQ(rows.size(), 3u);
    ASSERT_TRUE(manager.LoadTradeIncome(0, "0' OR '1'='1", rows)) << manager.GetLastErrorText();
    EXPECT_TRUE(rows.empty());
}

}  // namespace
}  // namespace vextal::test
