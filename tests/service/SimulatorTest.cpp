// The market simulator in-process: calendar, determinism, the trade NAV
// cut-off, dividends in the accumulated NAV, holdings and money markets.
#include <gtest/gtest.h>

#include <cmath>

#include "MarketSimulator.h"
#include "support/ServeFixture.h"

namespace vextal {
namespace {

int D(int y, int m, int d) { return DayNumber(OleDate::FromParts(y, m, d)); }
OleDate T(int y, int m, int d, int h, int mi) { return OleDate::FromParts(y, m, d, h, mi, 0); }

const CMarketSimulator& Market() { return test::SimulatedMarket(7, 400); }
const SimFund* Pick(const std::function<bool(const SimFund&)>& pred) { return &test::EstablishedFund(Market(), pred); }

TEST(TradingCalendar, WeekendsAndHolidays)
{
    CTradingCalendar cal;
    EXPECT_TRUE(cal.IsTradingDay(D(2024, 9, 30)));   // Monday
    EXPECT_FALSE(cal.IsTradingDay(D(2024, 9, 28)));  // Saturday
    for (int d = 1; d <= 7; ++d) EXPECT_FALSE(cal.IsTradingDay(D(2024, 10, d))) << d;  // National Day week
    EXPECT_EQ(cal.NextTradingDay(D(2024, 9, 30)), D(2024, 10, 8));
    EXPECT_EQ(cal.PrevTradingDay(D(2024, 10, 8)), D(2024, 9, 30));
    EXPECT_FALSE(cal.IsTradingDay(D(2024, 1, 1)));
    EXPECT_FALSE(cal.IsTradingDay(D(2024, 2, 12)));  // Spring Festival week (from 2024-02-09)
    EXPECT_TRUE(cal.IsTradingDay(D(2024, 2, 19)));
    EXPECT_FALSE(cal.IsTradingDay(D(2024, 5, 2)));  // Labour Day
    EXPECT_EQ(cal.DayAt(cal.IndexOnOrBefore(D(2024, 10, 6))), D(2024, 9, 30));
    EXPECT_EQ(cal.DayAt(cal.IndexOnOrAfter(D(2024, 10, 6))), D(2024, 10, 8));
    // About 242 trading days a year before 2024; from 2024 the exchanges' own calendar.
    int n = cal.IndexOnOrBefore(D(2023, 12, 31)) - cal.IndexOnOrBefore(D(2022, 12, 31));
    EXPECT_GT(n, 235);
    EXPECT_LT(n, 250);
    const int counts[][2] = {{2024, 242}, {2025, 243}, {2026, 242}};
    for (const auto& [year, count] : counts)
        EXPECT_EQ(cal.IndexOnOrBefore(D(year, 12, 31)) - cal.IndexOnOrBefore(D(year - 1, 12, 31)), count) << year;
    for (int closed : {D(2024, 2, 16), D(2025, 10, 8), D(2026, 2, 23)}) EXPECT_FALSE(cal.IsTradingDay(closed));
    for (int open : {D(2024, 6, 11), D(2024, 9, 19), D(2025, 9, 8)}) EXPECT_TRUE(cal.IsTradingDay(open));
}

// Same seed, same market: every test that compares plindo-serve with its
// own simulator of the seed checks it. Here another seed, and the clock.
TEST(MarketSimulator, OtherSeedOtherMarketAndThePastFixed)
{
    const CMarketSimulator& a = Market();
    CMarketSimulator other(MarketOptions{8, 400});
    ASSERT_EQ(a.Funds().size(), 400u);
    int differentNames = 0;
    for (size_t i = 0; i < a.Funds().size(); i += 37) differentNames += a.Funds()[i].name != other.Funds()[i].name;
    EXPECT_GT(differentNames, 3);
    // A series computed to a later day starts with the shorter one.
    const SimFund& f = a.Funds()[1];
    auto early = CMarketSimulator(MarketOptions{7, 400}).Published(f, T(2020, 6, 1, 21, 0), 0, D(2020, 6, 1));
    auto late = a.Published(f, T(2024, 10, 9, 21, 0), 0, D(2020, 6, 1));
    ASSERT_EQ(early.size(), late.size());
    for (size_t k = 0; k < early.size(); ++k) EXPECT_EQ(early[k].nav, late[k].nav);
}

TEST(MarketSimulator, CatalogueCoversTheClassTable)
{
    CMarketSimulator big(MarketOptions{3, 2000});
    int byClass[6] = {};
    std::set<std::string> codes;
    for (const SimFund& f : big.Funds()) {
        ++byClass[CMarketSimulator::FundClass(f)];
        EXPECT_EQ(f.code.size(), 6u);
        EXPECT_TRUE(codes.insert(f.code).second) << f.code;
        EXPECT_TRUE(big.Calendar().IsTradingDay(f.createDay));
    }
    for (int c = 1; c <= 5; ++c) EXPECT_GT(byClass[c], 40) << c;
    EXPECT_EQ(big.Companies().size(), 60u);
    // Versions move with the catalogue.
    EXPECT_LT(big.FundListVersion(T(2010, 1, 1, 12, 0)), big.FundListVersion(T(2024, 1, 1, 12, 0)));
}

// The cut-off days themselves are checked through the service (ServiceTest).
TEST(MarketSimulator, TodaysTradeNavOnlyFromEightInTheEvening)
{
    const SimFund* f = Pick([](const SimFund& x) { return x.investType == 1 && x.fundType == 1; });
    ASSERT_NE(f, nullptr);
    double nav = 0;
    int day = 0;
    std::string refusal;
    EXPECT_FALSE(Market().TradeNav(*f, T(2024, 10, 9, 10, 0), T(2024, 10, 9, 19, 59), nav, day, refusal));
    EXPECT_NE(refusal.find("尚未公布"), std::string::npos);
    EXPECT_TRUE(Market().TradeNav(*f, T(2024, 10, 9, 10, 0), T(2024, 10, 9, 20, 0), nav, day, refusal));
    EXPECT_FALSE(Market().TradeNav(*f, T(2024, 10, 9, 15, 0), T(2024, 10, 9, 23, 0), nav, day, refusal));
}

TEST(MarketSimulator, MoneyMarketIncomeAndYield)
{
    const SimFund* f = Pick([](const SimFund& x) { return x.IsMoneyMarket(); });
    ASSERT_NE(f, nullptr);
    const OleDate now = T(2024, 10, 9, 21, 0);
    auto recs = Market().Published(*f, now, D(2024, 1, 1), D(2024, 10, 9));
    ASSERT_GT(recs.size(), 150u);
    double sum = 0;
    for (size_t k = 1; k < recs.size(); ++k) {
        const NavRecord& r = recs[k];
        int days = r.day - recs[k - 1].day;
        // Income per 10,000 units of the days since the last NAV at 0.4-5 % a year.
        EXPECT_GT(r.nav, days * 10000 * 0.004 / 365 - 1e-9);
        EXPECT_LT(r.nav, days * 10000 * 0.05 / 365);
        EXPECT_GT(r.pct, 0.3);
        EXPECT_LT(r.pct, 5.0);
        EXPECT_EQ(r.acc, 1.0);
        sum += r.nav;
    }
    // From 2024 the 7-day yields stay in a band around 2 %.
    for (const SimFund& m : Market().Funds()) {
        if (!m.IsMoneyMarket()) continue;
        for (const NavRecord& r : Market().Published(m, T(2026, 12, 31, 21, 0), D(2024, 1, 1), D(2026, 12, 31)))
            ASSERT_TRUE(r.pct >= 1.5 && r.pct <= 2.5) << m.code << " " << DateOfDay(r.day).Format(1) << " " << r.pct;
    }
    int last = 0;
    double income = Market().MoneyIncome(*f, now, recs[0].day, D(2024, 10, 9), 20000, last);
    EXPECT_NEAR(income, sum * 2, 1e-3);
    EXPECT_EQ(last, recs.back().day);
}

TEST(MarketSimulator, ClosedEndFundsPublishOnFridaysAndLatestStatistics)
{
    const SimFund* closed = Pick([](const SimFund& x) { return x.fundType == 2; });
    ASSERT_NE(closed, nullptr);
    const OleDate now = T(2024, 10, 9, 21, 0);
    auto recs = Market().Published(*closed, now, D(2024, 1, 1), D(2024, 10, 9));
    ASSERT_GT(recs.size(), 30u);
    for (size_t k = 0; k < recs.size(); ++k) {
        EXPECT_EQ(DateOfDay(recs[k].day).DayOfWeek(), 5);
        if (k) {
            EXPECT_EQ(recs[k].day - recs[k - 1].day, 7);
        }
    }
    EXPECT_EQ(recs.back().day, D(2024, 10, 4));  // a Friday inside the holiday still publishes
    // No intraday estimate either: it would start from an unpublished daily NAV.
    double nav = 0, pct = 0;
    EXPECT_FALSE(Market().EstimateAt(*closed, T(2024, 10, 9, 10, 30), nav, pct));
    LatestValue friday;
    ASSERT_TRUE(Market().Latest(*closed, T(2024, 10, 4, 19, 0), friday));
    EXPECT_EQ(friday.rec.day, D(2024, 9, 27));
    ASSERT_TRUE(Market().Latest(*closed, T(2024, 10, 5, 10, 0), friday));
    EXPECT_EQ(friday.rec.day, D(2024, 10, 4));

    const SimFund* f = Pick([](const SimFund& x) { return x.investType == 2 && x.fundType == 1; });
    ASSERT_NE(f, nullptr);
    LatestValue v;
    ASSERT_TRUE(Market().Latest(*f, now, v));
    EXPECT_EQ(v.rec.day, D(2024, 10, 9));
    auto all = Market().Published(*f, now, 0, D(2024, 10, 9));
    auto growthOn = [&](int day) {
        double g = 1;
        for (const NavRecord& r : all)
            if (r.day <= day) g = r.growth;
        return g;
    };
    EXPECT_NEAR(v.week, (v.rec.growth / growthOn(D(2024, 10, 2)) - 1) * 100, 1e-9);
    EXPECT_NEAR(v.oneYear, (v.rec.growth / growthOn(D(2023, 10, 9)) - 1) * 100, 1e-9);
    EXPECT_NEAR(v.thisYear, (v.rec.growth / growthOn(D(2023, 12, 31)) - 1) * 100, 1e-9);
    EXPECT_LE(v.sum22, 22);
    EXPECT_LE(v.sum22, v.sum44);
}

TEST(MarketSimulator, IntradayPathEndsAtTheClose)
{
    const int day = D(2024, 10, 9), next = D(2024, 10, 10);
    for (int s : {0, 700, 1499}) {
        const auto q = Market().Quotes(s, day);
        ASSERT_TRUE(q);
        ASSERT_EQ(q->rows.size(), 240u);
        EXPECT_EQ(q->rows.front().second, (9 * 60 + 31) * 60);
        EXPECT_EQ(q->rows[119].second, (11 * 60 + 30) * 60);
        EXPECT_EQ(q->rows[120].second, (13 * 60 + 1) * 60);
        EXPECT_EQ(q->rows.back().second, 15 * 3600);
        double close = 0, prevClose = 0;
        ASSERT_TRUE(Market().DayClose(s, day, close, prevClose));
        EXPECT_EQ(prevClose, q->prevClose);
        EXPECT_EQ(q->PriceAt(9 * 3600), prevClose);
        EXPECT_EQ(q->PriceAt(15 * 3600), close);
        EXPECT_EQ(q->Close(), close);
        EXPECT_EQ(Market().Quotes(s, next)->prevClose, q->Close());  // one close, two days
        const double noon = q->PriceAt(11 * 3600 + 30 * 60);
        EXPECT_EQ(q->PriceAt(12 * 3600 + 40 * 60), noon);  // lunch break
        EXPECT_GT(noon, prevClose * 0.85);
        EXPECT_LT(noon, prevClose * 1.15);
        for (const QuoteRow& r : q->rows) ASSERT_EQ(static_cast<float>(std::round(r.price * 100.0) / 100.0), r.price);  // cents
    }
    EXPECT_FALSE(Market().Quotes(0, D(2024, 10, 5)));  // holiday
    const SimFund* f = Pick([](const SimFund& x) { return x.investType == 1; });
    double nav = 0, pct = 0;
    ASSERT_TRUE(Market().EstimateAt(*f, T(2024, 10, 9, 15, 0), nav, pct));
    auto rec = Market().Published(*f, T(2024, 10, 9, 21, 0), D(2024, 10, 9), D(2024, 10, 9));
    ASSERT_EQ(rec.size(), 1u);
    EXPECT_NEAR(pct, rec[0].pct, 0.4);  // the close estimate misses only the tracking error
    EXPECT_FALSE(Market().EstimateAt(*f, T(2024, 10, 5, 10, 0), nav, pct));  // holiday
}

}  // namespace
}  // namespace vextal
