// Series of the curve kinds and the chart layout, from hand-made records:
// no service, no window. Text extents come from a fixed-width measure.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "curve/AccountIncomeHistory.h"
#include "curve/CurveBuilders.h"
#include "curve/CurveChartModel.h"
#include "curve/CurveData.h"
#include "curve/RangeStatistics.h"
#include "common/Format.h"
#include "support/BookHome.h"

using namespace vextal;

namespace {

OleDate At(int y, int m, int d, int h = 0, int mi = 0) { return OleDate::FromParts(y, m, d, h, mi); }

// 7 pixels a byte, 12 high.
struct FixedMeasure : ICurveMeasure {
    int TextWidth(const std::string& t) const override { return 7 * static_cast<int>(t.size()); }
    int TextHeight(const std::string&) const override { return 12; }
};

// `count` records on consecutive weekdays from Monday 2024-01-01.
std::vector<CFundValue> Records(size_t count)
{
    std::vector<CFundValue> out;
    OleDate d = At(2024, 1, 1);
    for (size_t i = 0; i < count; ++i) {
        CFundValue v;
        v.ValueDate = d;
        v.TodayValue = 1.0 + 0.1 * static_cast<double>(i);
        v.TotalValue = 1.5 + 0.1 * static_cast<double>(i);
        v.VarPercent = static_cast<double>(i);
        out.push_back(v);
        d = d.AddDays(d.DayOfWeek() == 5 ? 3 : 1);
    }
    return out;
}

std::vector<CurvePoint> PointsOf(const CCurveChartModel& chart, int series)
{
    const CurveSeries* s = chart.FindSeries(series);
    return s ? s->Points : std::vector<CurvePoint>{};
}

CurvePoint Pt(const OleDate& d, double v)
{
    CurvePoint p;
    p.Date = d;
    p.Value = v;
    return p;
}

// Adds one series of `points` and lays the chart out, 400 x 300.
int AddAndLayOut(CCurveChartModel& chart, const std::vector<CurvePoint>& points, const OleDate& now = At(2024, 1, 10))
{
    const int s = chart.AddSeries();
    for (const CurvePoint& p : points) chart.AddPoint(s, p);
    chart.RecalculateLayout(FixedMeasure(), 400, 300, now);
    return s;
}

}  // namespace

TEST(CurveSeries, GrowthStartsAtZeroAndZeroBasesGiveZero)
{
    auto recs = Records(3);  // T: 1.5, 1.6, 1.7; U0 = 1.0
    CCurveChartModel chart;
    BuildGrowthOverlay(chart, "A", recs, 0);
    BuildGrowthOverlay(chart, "B", recs, 1);
    auto a = PointsOf(chart, 0), b = PointsOf(chart, 1);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].Date, recs[0].ValueDate);
    EXPECT_EQ(a[0].Value, 0);
    EXPECT_NEAR(a[2].Value, 20.0, 1e-9);  // (1.7 - 1.5) * 100 / 1.0
    EXPECT_NEAR(a[2].Info1, 20.0, 1e-9);
    EXPECT_NEAR(b[2].Value, 0.2 * 100 / 1.5, 1e-9);
    EXPECT_EQ(chart.Unit(), "%");

    // A zero first NAV gives growth 0, not a division.
    recs[0].TodayValue = 0;
    recs[0].TotalValue = 0;
    CCurveChartModel zero;
    BuildGrowthOverlay(zero, "A", recs, 0);
    BuildGrowthOverlay(zero, "B", recs, 1);
    EXPECT_EQ(PointsOf(zero, 0)[2].Value, 0);
    EXPECT_EQ(PointsOf(zero, 1)[2].Value, 0);
}

TEST(CurveSeries, NDayReturnStepsAndMovingAverageWindows)
{
    auto recs = Records(12);
    CCurveChartModel chart;
    BuildNDayReturn(chart, "F", recs, 5);
    auto p = PointsOf(chart, 0);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].Date, recs[0].ValueDate);
    EXPECT_EQ(p[1].Date, recs[4].ValueDate);
    EXPECT_EQ(p[2].Date, recs[9].ValueDate);
    EXPECT_NEAR(p[1].Value, (recs[4].TotalValue - recs[0].TotalValue) * 100 / recs[0].TodayValue, 1e-9);
    EXPECT_NEAR(p[2].Value, (recs[9].TotalValue - recs[4].TotalValue) * 100 / recs[4].TodayValue, 1e-9);
    EXPECT_EQ(p[2].Info1, recs[9].VarPercent);

    // Moving average of 3: dated at each window's first record.
    BuildMovingAverage(chart, "M", Records(5), 0, 3);
    auto ma = PointsOf(chart, 1);
    ASSERT_EQ(ma.size(), 3u);
    EXPECT_NEAR(ma[0].Value, 1.1, 1e-9);
    EXPECT_NEAR(ma[2].Value, 1.3, 1e-9);
    EXPECT_EQ(ma[2].Date, recs[2].ValueDate);

    // N beyond the record count: no average points and no return series.
    CCurveChartModel none;
    BuildMovingAverage(none, "M", recs, 1, 13);
    BuildNDayReturn(none, "F", recs, 13);
    ASSERT_EQ(none.Series().size(), 1u);
    EXPECT_TRUE(PointsOf(none, 0).empty());
}

TEST(CurveSeries, MarksAndTheSeriesLimit)
{
    // Marks go on the unit NAV series; the label loses trailing zeros.
    CCurveChartModel nav;
    CFundBonus bonus;
    bonus.RecordDate = At(2024, 1, 3);
    bonus.BonusValue = 0.05;
    BuildNavChart(nav, "股票", false, Records(5), {bonus}, {CurveSplit{At(2024, 1, 4)}});
    ASSERT_EQ(nav.Series().size(), 2u);
    EXPECT_EQ(nav.FindSeries(0)->Name, "单位净值");
    EXPECT_EQ(nav.FindSeries(1)->Name, "累计净值");
    ASSERT_EQ(nav.FindSeries(0)->Markers.size(), 2u);
    nav.RecalculateLayout(FixedMeasure(), 400, 300, At(2024, 1, 10));
    const CurveMarker& m = nav.FindSeries(0)->Markers[0];
    EXPECT_EQ(m.Label, "0.05");
    EXPECT_EQ(m.Point.X, nav.FindSeries(0)->Points[2].X);
    EXPECT_EQ(m.Point.Y, nav.FindSeries(0)->Points[2].Y);
    EXPECT_EQ(nav.FindSeries(0)->Markers[1].Label, "拆分");
    EXPECT_TRUE(nav.HasDividendMarks());
    // Its tip: both NAVs of the day whichever curve was pointed at.
    std::vector<std::string> tip = {"日期:2024-01-03", "单位净值:1.2000元", "累计净值:1.7000元", "日增长率:2.00%"};
    EXPECT_EQ(nav.PointInfoLines(1, 2), tip);
    tip.push_back("日增长值:0.0000");
    EXPECT_EQ(nav.PointInfoLines(0, 2, true), tip);

    // The chart holds 16 series; points for -1 are dropped.
    CCurveChartModel full;
    for (int i = 0; i < 16; ++i) EXPECT_EQ(full.AddSeries(), i);
    EXPECT_EQ(full.AddSeries(), -1);
    full.AddPoint(-1, Pt(At(2024, 1, 1), 1));
    EXPECT_FALSE(full.SetSeriesName(-1, "x"));
}

TEST(CurveSeries, AccountIncomeClearsTheChartAndCurrentPointFollowsTheFirstSeries)
{
    CurveSources sources;
    sources.AccountIncome = [](std::string& name, std::vector<CurveIncomePoint>& points) {
        name = "我的帐户";
        points = {{At(2024, 1, 2), 10.5}, {At(2024, 1, 3), -3.25}};
        return true;
    };
    CCurveData curves(sources);
    CCurveChartModel chart;
    BuildDailyOverlay(chart, "F", Records(4), 0);
    curves.ShowCurve(chart, kCurveAccountIncome);
    ASSERT_EQ(chart.Series().size(), 1u);
    EXPECT_EQ(PointsOf(chart, 0)[1].Value, -3.25);
    EXPECT_EQ(chart.Unit(), "元");
    EXPECT_EQ(chart.Title(), "基金帐户历史收益走势");

    // The current point is the first series' last; the keys stop at the ends.
    ASSERT_TRUE(chart.HasCurrentPoint());
    EXPECT_EQ(chart.CurrentPoint(), 1u);
    EXPECT_FALSE(chart.MoveCurrentPoint(1));
    EXPECT_TRUE(chart.MoveCurrentPoint(-1));
    EXPECT_FALSE(chart.MoveCurrentPoint(-1));
    EXPECT_EQ(chart.CurrentPoint(), 0u);
    chart.RemoveAllSeries();
    EXPECT_FALSE(chart.HasCurrentPoint());
}

TEST(CurveLayout, DateRangeValueRangeAndPixels)
{
    // Saturday and Sunday only: Monday to Friday, one trading day.
    CCurveChartModel weekend;
    AddAndLayOut(weekend, {Pt(At(2024, 1, 6), 1), Pt(At(2024, 1, 7), 2)});
    EXPECT_EQ(weekend.StartDate(), At(2024, 1, 8));
    EXPECT_EQ(weekend.EndDate(), At(2024, 1, 5));
    EXPECT_EQ(weekend.TradingDays(), 1);

    // Empty: the default range, the last 30 days, no date labels.
    CCurveChartModel empty;
    empty.RecalculateLayout(FixedMeasure(), 400, 300, At(2024, 1, 31));
    EXPECT_EQ(empty.MinValue(), 0);
    EXPECT_EQ(empty.MaxValue(), 1.1);
    EXPECT_EQ(empty.StartDate(), At(2024, 1, 1));
    EXPECT_TRUE(empty.DateLabels().empty());

    // One point: symmetric around 0, or around the base NAV in real time.
    CCurveChartModel one;
    AddAndLayOut(one, {Pt(At(2024, 1, 2), 5)});
    EXPECT_EQ(one.MinValue(), -5);
    EXPECT_EQ(one.MaxValue(), 5);
    one.SetEstimateBase(true, 1.2);
    one.RemoveAllSeries();
    AddAndLayOut(one, {Pt(At(2024, 1, 2, 10), 1.2)});
    EXPECT_NEAR(one.MinValue(), 1.188, 1e-12);
    EXPECT_NEAR(one.MaxValue(), 1.212, 1e-12);

    // Values 3000 to 4000: the axis still starts at 100.
    CCurveChartModel high;
    AddAndLayOut(high, {Pt(At(2024, 1, 2), 3000), Pt(At(2024, 1, 3), 4000)});
    EXPECT_EQ(high.MinValue(), 100);
    EXPECT_EQ(high.GridUnit(), 250);  // 1000 halved until 3900 holds 8

    // Hand-computed: range 0..8 (unit 1), labels "0.0000"/"8.0000" 42 wide:
    // left margin 47, bottom 17; plot (49,22)-(313,281); Mon..Fri 4 days.
    CCurveChartModel px;
    const int s = AddAndLayOut(px, {Pt(At(2024, 1, 1), 0), Pt(At(2024, 1, 3), 3), Pt(At(2024, 1, 5), 8)});
    EXPECT_EQ(px.GridUnit(), 1);
    EXPECT_EQ(px.LeftMargin(), 47);
    EXPECT_EQ(px.BottomMargin(), 17);
    const CurveRect& r = px.PlotRect();
    EXPECT_EQ(std::tie(r.left, r.top, r.right, r.bottom), std::make_tuple(49, 22, 313, 281));
    auto p = PointsOf(px, s);
    const int xy[3][2] = {{49, 281}, {181, 184}, {313, 22}};
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(std::tie(p[i].X, p[i].Y), std::make_tuple(xy[i][0], xy[i][1])) << i;
    EXPECT_EQ(px.ValueLabels().size(), 9u);
    EXPECT_EQ(px.HeaderText(), "日期区间:2024/01/01 - 2024/01/05");
}

TEST(CurveLayout, ValueLabelsAndRealTimeAxis)
{
    // A label that prints as -0.00 is printed from 0, black.
    CCurveChartModel chart;
    chart.SetDecimals(2);
    AddAndLayOut(chart, {Pt(At(2024, 1, 2), -0.001), Pt(At(2024, 1, 3), 0.8)});
    int zeros = 0;
    for (const CurveValueLabel& l : chart.ValueLabels()) {
        EXPECT_NE(l.Text, "-0.00");
        if (l.Text == "0.00") {
            ++zeros;
            EXPECT_EQ(l.Sign, kLabelZero);
        }
    }
    EXPECT_EQ(zeros, 1);
    EXPECT_EQ(chart.ValueLabels().front().Value, -0.001);
    EXPECT_EQ(chart.ValueLabels().back().Sign, kLabelPositive);

    // Real time: 13:00 and a time inside the break sit at 11:30.
    EXPECT_EQ(TradingMinute(At(2024, 1, 2, 13, 0)), 120);
    EXPECT_EQ(TradingMinute(At(2024, 1, 2, 12, 0)), 120);
    EXPECT_EQ(TradingMinute(At(2024, 1, 2, 15, 0)), 240);
    CCurveChartModel rt;
    rt.SetEstimateBase(true, 1.0);
    rt.SetChartMode(kCurveEstimate);
    const int s = AddAndLayOut(rt, {Pt(At(2024, 1, 2, 11, 30), 1.01), Pt(At(2024, 1, 2, 13, 0), 0.99)}, At(2024, 1, 2));
    auto p = PointsOf(rt, s);
    EXPECT_EQ(p[0].X, p[1].X);
    const std::vector<std::string> hover = {"实时净值估算", "时间:13:00", "单位净值:0.9900", "估算增长:-1.00%"};
    EXPECT_EQ(rt.PointInfoLines(s, 1, true), hover);
    // Grid lines at half units around the base, percent on the right.
    bool base = false;
    for (const CurveValueLabel& l : rt.ValueLabels()) {
        double k = std::round((l.Value - 1.0) / (rt.GridUnit() / 2));
        if (k == 0) {
            base = true;
            EXPECT_EQ(l.RightText, "0.00%");
        } else if (k == 1) {
            EXPECT_EQ(l.RightText, StrFormat("%0.2f%%", rt.GridUnit() * 50));
            EXPECT_EQ(l.Sign, kLabelPositive);
        }
    }
    EXPECT_TRUE(base);
}

TEST(CurveLayout, DateLabelStepsAndForms)
{
    // The examples: 1, 3, 3, 12, 18 for 35, 36, 37, 215, 216 points.
    const std::pair<int, int> steps[] = {{35, 1}, {36, 3}, {37, 3}, {215, 12}, {216, 18}};
    for (auto [points, step] : steps) EXPECT_EQ(DateLabelStep(points), step) << points;

    // 37 weekdays from Monday 2024-11-25: labels every third point; the
    // reference series is the longer one.
    CCurveChartModel chart;
    int shortSeries = chart.AddSeries();
    chart.AddPoint(shortSeries, Pt(At(2024, 11, 25), 1));
    int s = chart.AddSeries();
    OleDate d = At(2024, 11, 25);
    for (int i = 0; i < 37; ++i) {
        chart.AddPoint(s, Pt(d, 1 + i * 0.01));
        d = d.AddDays(d.DayOfWeek() == 5 ? 3 : 1);
    }
    chart.RecalculateLayout(FixedMeasure(), 800, 300, At(2025, 2, 1));
    const auto& labels = chart.DateLabels();
    ASSERT_EQ(labels.size(), 13u);  // points 0, 3, ..., 36
    EXPECT_EQ(labels[0].Text, "24-11-25");
    EXPECT_EQ(labels[1].PointIndex, 3u);
    EXPECT_EQ(labels[1].Text, "28");
    EXPECT_EQ(labels[1].Form, kLabelDay);
    EXPECT_EQ(labels[2].Text, "12-03");  // a new month
    EXPECT_EQ(labels[2].Form, kLabelMonthDay);
    EXPECT_EQ(labels[8].Text, "27");
    EXPECT_EQ(labels[9].Text, "25-01-01");  // a new year
    EXPECT_EQ(labels[9].Form, kLabelYearMonthDay);
    EXPECT_EQ(labels[9].X, chart.FindSeries(s)->Points[27].X);
}

TEST(CurveRange, DrawdownAndVolatilityOfAHandComputedSeries)
{
    // Daily rates 10, -20, 25, -10 (the first record's rate lies before the
    // range): growth 1, 1.1, 0.88, 1.1, 0.99; worst fall 1.1 -> 0.88 = 20 %.
    std::vector<CFundValue> recs(5);
    const double rates[] = {3, 10, -20, 25, -10};
    for (size_t i = 0; i < 5; ++i) recs[i].VarPercent = rates[i];
    NavRangeFigures f = NavRangeStatistics(recs);
    ASSERT_TRUE(f.Valid);
    EXPECT_NEAR(f.MaxDrawdown, 20.0, 1e-9);
    // Mean 1.25; squared deviations sum to 1218.75; / 3 = 406.25 a day.
    EXPECT_NEAR(f.Volatility, std::sqrt(406.25 * 250), 1e-9);
    EXPECT_EQ(NavRangeLines(f)[0], "最大回撤:20.00%");
    EXPECT_EQ(NavRangeLines(f)[1], "年化波动率:318.69%");

    EXPECT_EQ(MaxDrawdown({1, 2, 3}), 0);
    EXPECT_NEAR(MaxDrawdown({2, 1, 3, 1.5, 2}), 50.0, 1e-12);
    EXPECT_EQ(AnnualisedVolatility({5}), 0);
    EXPECT_FALSE(NavRangeStatistics({CFundValue{}}).Valid);
}

// A small account: fund A bought on a Saturday before its first NAV, a cash
// dividend, half redeemed; a money-market fund B with reinvested income; a
// cancelled purchase that must not count. Income = cash dividends +
// redemptions + market value - principal, day by day.
TEST(CurveSeries, AccountIncomeHistoryOfAHandComputedAccount)
{
    auto trade = [](int id, const char* fund, int type, double count, double money, double price, OleDate when,
                    int state = kStateConfirmed) {
        TradeInfo t = test::MakeTrade(0, fund, type, money, count, OleDate());
        t.TradeID = id;
        t.TradeValue = price;
        t.DealTime = when;
        t.TradeState = state;
        return std::make_pair(id, t);
    };
    std::map<int, TradeInfo> trades = {
        trade(1, "A", kTradeBuy, 1000, 1000, 1.0, At(2024, 1, 6, 14)),
        trade(2, "B", kTradeBuy, 200, 200, 1.0, At(2024, 1, 9, 10)),
        trade(3, "A", kTradeBuy, 999, 999, 1.1, At(2024, 1, 9, 10), kStateExcluded),
        trade(4, "A", kTradeCashBonus, 0, 50, 0, At(2024, 1, 10)),
        trade(5, "B", kTradeBonusReinvest, 1, 1, 1.0, At(2024, 1, 10)),
        trade(6, "A", kTradeRedeem, 500, 525, 1.05, At(2024, 1, 11, 15)),
    };
    std::map<std::string, IncomeHistoryFund> funds;
    const double navs[] = {1.00, 1.10, 1.20, 1.05, 9.99};  // Monday 8th to Friday 12th
    for (int i = 0; i < 5; ++i) {
        CFundValue v;
        v.ValueDate = At(2024, 1, 8 + i);
        v.TodayValue = navs[i];
        funds["A"].Records.push_back(v);
    }
    funds["B"].MoneyMarket = true;

    auto points = AccountIncomeHistory(trades, funds, At(2024, 1, 11, 20));
    ASSERT_EQ(points.size(), 5u);  // Saturday, then Monday to Thursday (today)
    EXPECT_EQ(points[0].Date, At(2024, 1, 6));
    EXPECT_EQ(points[1].Date, At(2024, 1, 8));
    const double expected[] = {0, 0, 100, 251, 101};
    for (size_t i = 0; i < 5; ++i) EXPECT_NEAR(points[i].Income, expected[i], 1e-9) << i;

    EXPECT_TRUE(AccountIncomeHistory({}, funds, At(2024, 1, 11)).empty());
}

// An empty chart after a percentage curve keeps "%0.2f" as its value format
// while its labels print with four decimals: the left margin holds them.
TEST(CurveLayout, LeftMarginHoldsTheLabelsAsPrinted)
{
    CCurveChartModel chart;
    SetCurveValueType(chart, 1);
    chart.SetDecimals(4);
    FixedMeasure measure;
    chart.RecalculateLayout(measure, 800, 500, At(2024, 10, 9));
    ASSERT_FALSE(chart.ValueLabels().empty());
    for (const CurveValueLabel& l : chart.ValueLabels())
        EXPECT_LE(measure.TextWidth(l.Text) + 5, chart.LeftMargin()) << l.Text;
}
