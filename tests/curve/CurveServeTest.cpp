// Curves against the real plindo-serve: overlays from downloaded histories
// and index series, the weekly statistics the service computes, the NAV
// charts by fund type and the one-minute cache of the real-time estimate.
// The expected figures come from the service's simulator with the same seed.
#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>

#include "MarketSimulator.h"
#include "common/Clock.h"
#include "curve/CurveData.h"
#include "db/DbTestUtil.h"
#include "market/FundCatalogue.h"
#include "market/LatestValueCache.h"
#include "market/NavHistory.h"
#include "net/HttpTransport.h"
#include "support/ServeFixture.h"

using namespace vextal;

namespace {

constexpr uint64_t kSeed = 7;
constexpr int kFunds = 200;

OleDate At(int y, int m, int d, int h = 0, int mi = 0) { return OleDate::FromParts(y, m, d, h, mi); }

class CurveServeTest : public test::TempDirTest {
protected:
    static void SetUpTestSuite() { s_market = &test::SimulatedMarket(kSeed, kFunds); }

    void SetUp() override
    {
        TempDirTest::SetUp();
        test::UseDirectHttp();
        MakeDatabase(db);
    }
    void TearDown() override
    {
        curves.reset();
        service.reset();
        Clock::Release();
        SetHttpConfig({});
        TempDirTest::TearDown();
    }

    // The service and the program's market objects at `now`, logged in.
    void Serve(const OleDate& now)
    {
        service = std::make_unique<test::RealService>(test::ServeOptions{kSeed, kFunds, now.Format(0)});
        VEXTAL_ASSERT_STARTED(service);
        Clock::Fix(now);
        CommandContext ctx = service->Anonymous();
        CommandReply login = service->LoginReply();
        ASSERT_TRUE(login.ok()) << login.error;
        ctx.loginId = login.serverId;
        catalogue.SetSession(ctx, false);
        latest.SetSession(ctx, false);
        history.SetSession(ctx, false);
        latest.SetNewestNavDate(login.fields[7]);
        ASSERT_TRUE(catalogue.SyncFundCatalogue(login.fields[5], login.fields[6]));
        CurveSources sources;
        sources.History = &history;
        sources.Catalogue = &catalogue;
        sources.Latest = &latest;
        sources.DataServiceUrl = service->Base();
        curves = std::make_unique<CCurveData>(sources);
        curves->SetSession(ctx);
    }

    static const SimFund& Pick(bool moneyMarket)
    {
        return test::EstablishedFund(
            *s_market, [&](const SimFund& f) { return f.fundType == 1 && f.IsMoneyMarket() == moneyMarket; });
    }

    static inline const CMarketSimulator* s_market = nullptr;
    CAdoDatabase db;
    CFundCatalogue catalogue{db};
    CLatestValueCache latest{db, catalogue};
    CNavHistory history{db, &latest};
    std::unique_ptr<test::RealService> service;
    std::unique_ptr<CCurveData> curves;
};

}  // namespace

TEST_F(CurveServeTest, OverlaysAndNavChartsFromTheService)
{
    const OleDate now = At(2024, 10, 9, 21);
    Serve(now);
    const SimFund& fund = Pick(false);
    const SimFund& money = Pick(true);
    const OleDate from = At(2024, 9, 1), to = At(2024, 9, 30);
    std::vector<NavRecord> sept = s_market->Published(fund, now, DayNumber(from), DayNumber(to));
    ASSERT_GT(sept.size(), 10u);

    // Daily overlay with the Shanghai box: the index comes first.
    CCurveChartModel chart;
    curves->Params().SelectedFunds = {fund.code};
    CurveBarValues bar;
    bar.StartDate = from;
    bar.EndDate = to;
    bar.Shanghai = true;
    bar.DayText = "abc";
    bar.Statistics = {"单位净值", "累计净值", "涨跌值", "涨跌幅"};
    curves->ApplyCurveBar(chart, bar, kCurveDailyOverlay);
    EXPECT_EQ(curves->Params().N, 10);
    ASSERT_EQ(chart.Series().size(), 2u) << curves->LastError() << " / " << chart.FindSeries(0)->Name;
    EXPECT_EQ(chart.FindSeries(0)->Name, "上证指数");
    // Its daily change in percent, though the index download stores none.
    std::vector<IndexRecord> shanghai = s_market->IndexHistory(0, now, DayNumber(from), DayNumber(to));
    const auto& index = chart.FindSeries(0)->Points;
    ASSERT_EQ(index.size(), shanghai.size());
    ASSERT_FALSE(index.empty());
    EXPECT_NEAR(index.back().Value, shanghai.back().pct, 0.01);
    EXPECT_NE(index.back().Value, 0);
    const CurveSeries& daily = *chart.FindSeries(1);
    EXPECT_EQ(daily.Name, fund.name);
    ASSERT_EQ(daily.Points.size(), sept.size());
    for (size_t i = 0; i < sept.size(); ++i) {
        EXPECT_EQ(DayNumber(daily.Points[i].Date), sept[i].day);
        EXPECT_NEAR(daily.Points[i].Value, sept[i].nav, 6e-5);
    }
    EXPECT_EQ(chart.Title(), "基金日走势叠加");
    EXPECT_EQ(chart.Subtitle(), "单位净值");

    // Weekly statistic 6 (the week's largest day change) is a percentage:
    // one point a week at its last NAV day.
    bar.Shanghai = false;
    bar.StatisticIndex = 6;
    bar.Statistics.assign(18, "");
    bar.Statistics[6] = "周最大涨跌幅";
    curves->ApplyCurveBar(chart, bar, kCurveWeeklyOverlay);
    EXPECT_EQ(chart.Decimals(), 2);
    ASSERT_EQ(chart.Series().size(), 1u);
    const auto& weeks = chart.FindSeries(0)->Points;
    std::vector<std::pair<int, double>> expected;  // last day and largest change of each week
    for (const NavRecord& r : sept) {
        int monday = r.day - (OleDate(r.day).DayOfWeek() + 6) % 7;
        if (expected.empty() || monday > expected.back().first - (OleDate(expected.back().first).DayOfWeek() + 6) % 7)
            expected.push_back({r.day, r.pct});
        else
            expected.back() = {r.day, std::max(expected.back().second, r.pct)};
    }
    ASSERT_EQ(weeks.size(), expected.size());
    for (size_t i = 0; i < weeks.size(); ++i) {
        EXPECT_EQ(DayNumber(weeks[i].Date), expected[i].first);
        EXPECT_NEAR(weeks[i].Value, expected[i].second, 6e-5);
    }
    bar.StatisticIndex = 2;
    curves->ApplyCurveBar(chart, bar, kCurveWeeklyOverlay);
    EXPECT_EQ(chart.Decimals(), 4);

    // A fund the service does not know is skipped; the others are drawn.
    curves->Params().SelectedFunds = {"999999", fund.code};
    bar.StatisticIndex = 0;
    curves->ApplyCurveBar(chart, bar, kCurveGrowthOverlay);
    ASSERT_EQ(chart.Series().size(), 1u);
    EXPECT_EQ(chart.FindSeries(0)->Points.front().Value, 0);

    // NAV charts: a money-market fund has the one series "日收益".
    curves->Params().Loaded = false;
    curves->Params().CurrentFund = money.code;
    curves->ShowCurve(chart, kCurveNav);
    ASSERT_EQ(chart.Series().size(), 1u);
    EXPECT_EQ(chart.FindSeries(0)->Name, "日收益");
    curves->Params().Loaded = false;
    curves->Params().CurrentFund = fund.code;
    curves->ShowCurve(chart, kCurveNav);
    ASSERT_EQ(chart.Series().size(), 2u);
    EXPECT_EQ(chart.FindSeries(1)->Name, "累计净值");
    EXPECT_NEAR(chart.FindSeries(1)->Points.back().Value, sept.back().acc, 6e-5);
    EXPECT_EQ(chart.Title(), fund.name + "净值走势图");
    ASSERT_EQ(chart.RangeLines().size(), 2u);
    EXPECT_EQ(chart.RangeLines()[0].rfind("最大回撤:", 0), 0u);

    // The loaded flag still set: the weekly overlay asks for its own records
    // rather than drawing the daily ones.
    curves->Params().Statistic = 6;
    curves->ShowCurve(chart, kCurveWeeklyOverlay);
    EXPECT_EQ(chart.FindSeries(2)->Points.size(), expected.size());
}

TEST_F(CurveServeTest, EstimateIsKeptForSixtySeconds)
{
    const OleDate now = At(2024, 10, 10, 10, 32);
    Serve(now);
    const SimFund& fund = Pick(false);
    ASSERT_TRUE(history.IncrementalDownloadFund(fund.code)) << history.GetLastError();
    curves->Params().CurrentFund = fund.code;
    curves->Params().StartDate = now.DateOnly();
    curves->Params().EndDate = now;

    CCurveChartModel chart;
    curves->ShowCurve(chart, kCurveEstimate);
    ASSERT_EQ(chart.Series().size(), 1u);
    const auto& pts = chart.FindSeries(0)->Points;
    ASSERT_EQ(pts.size(), 13u);  // every five minutes from 9:30 to 10:30
    double nav = 0, pct = 0;
    ASSERT_TRUE(s_market->EstimateAt(fund, At(2024, 10, 10, 10, 30), nav, pct));
    EXPECT_EQ(pts.back().Date.Format(6), "2024-10-10 10:30");
    EXPECT_NEAR(pts.back().Value, nav, 6e-5);
    EXPECT_TRUE(chart.RealTime());
    std::vector<NavRecord> last = s_market->Published(fund, now, DayNumber(At(2024, 10, 9)), DayNumber(now));
    ASSERT_FALSE(last.empty());
    EXPECT_NEAR(chart.BaseNav(), last.back().nav, 6e-5);

    // Without the service: the records of a minute ago still serve; a
    // second later they are too old.
    service.reset();
    Clock::Fix(now.AddSeconds(60));
    curves->Params().Loaded = false;
    EXPECT_TRUE(curves->LoadCurveData(kCurveEstimate, 0));
    EXPECT_EQ(curves->Records().size(), 13u);
    Clock::Fix(now.AddSeconds(61));
    curves->Params().Loaded = false;
    EXPECT_FALSE(curves->LoadCurveData(kCurveEstimate, 0));
}

// The range and band overlays plot, at each turning point, the figure of the
// chosen statistic on that day, and its change against the point before.
TEST_F(CurveServeTest, RangeAndBandOverlaysShowTheirStatistic)
{
    const OleDate now = At(2024, 10, 9, 21);
    Serve(now);
    const SimFund& fund = Pick(false);
    const OleDate from = At(2024, 3, 1), to = At(2024, 9, 30);
    std::map<int, NavRecord> days;
    for (const NavRecord& r : s_market->Published(fund, now, DayNumber(from), DayNumber(to))) days[r.day] = r;
    curves->Params().SelectedFunds = {fund.code};
    CurveBarValues bar;
    bar.StartDate = from;
    bar.EndDate = to;
    bar.Statistics = {"单位净值", "累计净值", "涨跌值", "涨跌幅"};
    for (int kind : {kCurveRangeOverlay, kCurveBandOverlay}) {
        for (int stat = 0; stat < 4; ++stat) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << ", statistic " << stat);
            bar.StatisticIndex = stat;
            CCurveChartModel chart;
            curves->ApplyCurveBar(chart, bar, kind);
            ASSERT_EQ(chart.Series().size(), 1u) << curves->LastError();
            const auto& points = chart.FindSeries(0)->Points;
            ASSERT_GE(points.size(), kind == kCurveRangeOverlay ? 3u : 2u);
            double previous = 0;
            for (size_t i = 0; i < points.size(); ++i) {
                const NavRecord& r = days.at(DayNumber(points[i].Date));
                const double x = stat == 0 ? r.nav : stat == 1 ? r.acc : stat == 2 ? r.var : r.pct;
                EXPECT_NEAR(points[i].Value, x, 6e-5) << points[i].Date.Format(1);
                const double p = i == 0 ? points[0].Value : previous;
                EXPECT_NEAR(points[i].Info1, p == 0 ? 0 : (points[i].Value - p) * 100 / p, 1e-9);
                previous = points[i].Value;
            }
            EXPECT_EQ(chart.Unit(), stat == 3 ? "%" : "元");
            EXPECT_EQ(chart.FindSeries(0)->InfoFormat,
                      kind == kCurveRangeOverlay ? "区间增长率:%0.2f" : "波段增长率:%0.2f");
        }
    }
}
