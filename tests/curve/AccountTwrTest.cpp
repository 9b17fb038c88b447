// The account's time-weighted return against its XIRR and an index, worked
// by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "curve/AccountTwr.h"
#include "support/BookHome.h"

namespace vextal {
namespace {

OleDate D(int y, int m, int d) { return OleDate::FromParts(y, m, d); }

struct Books {
    std::map<int, TradeInfo> trades;
    std::map<std::string, IncomeHistoryFund> funds;

    void Trade(int type, const std::string& fund, const OleDate& day, double count, double money, double price)
    {
        TradeInfo t = test::MakeTrade(0, fund, type, money, count, day.AddDays(10.0 / 24));
        t.TradeID = static_cast<int>(trades.size()) + 1;
        t.TradeState = kStateConfirmed;
        t.TradeValue = price;
        t.DealTime = t.TradeTime;
        trades[t.TradeID] = t;
    }
    void Nav(const std::string& fund, const OleDate& day, double nav)
    {
        CFundValue v;
        v.FundID = fund;
        v.ValueDate = day;
        v.TodayValue = nav;
        funds[fund].Records.push_back(v);
    }
};

// A deposit in the middle of a falling market. The fund's own course alone
// makes the time-weighted return; the money-weighted return follows the
// money: a second 10,000 at the bottom, followed by the recovery, earns more
// than the fund did (XIRR above TWR); the same deposit followed by a further
// fall loses more than the fund did (XIRR below TWR).
TEST(AccountTwr, DepositInAFallingMarketSeparatesTwrFromXirr)
{
    struct Case {
        double middle, end;  // NAV at the deposit (2023-07-03) and a year after the start
        double twr, xirr;    // percent; XIRR solved by hand for 181 and 365 days
    };
    const Case cases[] = {
        {0.80, 1.00, 0.0, 16.8388},     // 10000 (1+r) + 10000 (1+r)^(184/365) = 22500
        {0.90, 0.80, -20.0, -20.3018},  // ... = 21111.11 x 0.8
    };
    for (const Case& c : cases) {
        Books b;
        b.Nav("000001", D(2023, 1, 3), 1.00);
        b.Nav("000001", D(2023, 4, 3), (1.00 + c.middle) / 2);
        b.Nav("000001", D(2023, 7, 3), c.middle);
        b.Nav("000001", D(2023, 10, 9), (c.middle + c.end) / 2);
        b.Nav("000001", D(2024, 1, 3), c.end);
        b.Trade(kTradeBuy, "000001", D(2023, 1, 3), 10000, 10000, 1.00);
        const double second = std::round(10000 / c.middle * 100) / 100;
        b.Trade(kTradeBuy, "000001", D(2023, 7, 3), second, 10000, c.middle);

        const AccountTwr twr = ComputeAccountTwr(b.trades, b.funds, D(2022, 1, 1), D(2024, 1, 3));
        ASSERT_EQ(twr.Points.size(), 5u);
        EXPECT_EQ(twr.Points.front().Date, D(2023, 1, 3));
        EXPECT_NEAR(twr.Points.front().Growth, 0, 1e-9);
        // The fall to the deposit, whatever came in: -20 % or -10 %.
        EXPECT_NEAR(twr.Points[2].Growth, (c.middle - 1) * 100, 1e-4);
        EXPECT_NEAR(twr.Twr, c.twr, 1e-4);
        ASSERT_TRUE(twr.Xirr.has_value());
        EXPECT_NEAR(*twr.Xirr, c.xirr, 1e-3);
        EXPECT_EQ(*twr.Xirr > twr.Twr, c.end > c.middle);
        EXPECT_NEAR(twr.EndValue, (10000 + second) * c.end, 1e-6);
    }
}

// A purchase fee, a cash dividend, a redemption with its fee, a start in the
// middle of the books, and a money-market fund's daily income.
TEST(AccountTwr, FeesDividendsRedemptionsAndMoneyMarketIncome)
{
    Books b;
    const double navs[] = {1.00, 1.10, 1.00, 1.05};
    for (int i = 0; i < 4; ++i) b.Nav("000001", D(2024, 1, 2 + i), navs[i]);
    b.Trade(kTradeBuy, "000001", D(2024, 1, 2), 10000, 10100, 1.00);          // 100 yuan fee
    b.Trade(kTradeCashBonus, "000001", D(2024, 1, 4), 0, 1000, 0);            // 0.10 a share, NAV 1.10 -> 1.00
    b.Trade(kTradeRedeem, "000001", D(2024, 1, 5), 5000, 5223.75, 1.05);      // 5250 less 0.5 %

    // Whole books: 10000/10100, x 1.1, x (10000 + 1000) / 11000, x (5250 + 5223.75) / 10000.
    AccountTwr all = ComputeAccountTwr(b.trades, b.funds, D(2024, 1, 1), D(2024, 1, 31));
    ASSERT_EQ(all.Points.size(), 4u);
    EXPECT_NEAR(all.Points[0].Growth, (10000.0 / 10100 - 1) * 100, 1e-9);
    EXPECT_NEAR(all.Points[2].Growth, all.Points[1].Growth, 1e-9);  // the dividend is no loss
    EXPECT_NEAR(all.Twr, (10000.0 / 10100 * 1.1 * 1.047375 - 1) * 100, 1e-9);
    EXPECT_DOUBLE_EQ(all.StartValue, 10100);
    EXPECT_DOUBLE_EQ(all.EndValue, 5250);

    // From 2024-01-03: the close of 01-02 is the start, the fee is before it.
    AccountTwr part = ComputeAccountTwr(b.trades, b.funds, D(2024, 1, 3), D(2024, 1, 5));
    ASSERT_EQ(part.Points.size(), 4u);
    EXPECT_EQ(part.Points[0].Date, D(2024, 1, 2));
    EXPECT_DOUBLE_EQ(part.StartValue, 10000);
    EXPECT_NEAR(part.Twr, (1.1 * 1.047375 - 1) * 100, 1e-9);
    // The index over the same days, from the close of 01-02.
    std::vector<CIndexValue> index;
    const double levels[] = {1000, 1010, 990, 1020};
    for (int i = 0; i < 4; ++i) index.push_back({"399300", D(2024, 1, 2 + i), levels[i], 0, 0, 0});
    const IndexTwr csi = ComputeIndexReturn(index, part);
    ASSERT_TRUE(csi.Known);
    ASSERT_EQ(csi.Points.size(), 4u);
    EXPECT_NEAR(csi.Return, 2.0, 1e-9);
    EXPECT_FALSE(ComputeIndexReturn({index.begin() + 1, index.end()}, part).Known);  // no close before the start

    // 20,000 shares of a money-market fund earning 1 and then 2 yuan per
    // 10,000 units a day (the purchase day's income is not yet theirs).
    Books m;
    m.funds["000009"].MoneyMarket = true;
    const double income[] = {1.0, 1.0, 2.0};
    for (int i = 0; i < 3; ++i) m.Nav("000009", D(2024, 1, 2 + i), income[i]);
    m.Trade(kTradeBuy, "000009", D(2024, 1, 2), 20000, 20000, 1.0);
    AccountTwr money = ComputeAccountTwr(m.trades, m.funds, D(2024, 1, 1), D(2024, 1, 4));
    EXPECT_NEAR(money.Twr, (1.0001 * 1.0002 - 1) * 100, 1e-9);
    EXPECT_DOUBLE_EQ(money.EndValue, 20000);

    EXPECT_NEAR(*AnnualisedPercent(21, D(2023, 1, 1), D(2025, 1, 1)), 10.0, 0.02);  // 1.21 over 731 days
    EXPECT_FALSE(AnnualisedPercent(5, D(2024, 1, 1), D(2024, 1, 1)).has_value());
}

}  // namespace
}  // namespace vextal
