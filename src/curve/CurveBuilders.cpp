#include "curve/CurveBuilders.h"

#include "common/Format.h"

namespace vextal {

namespace {

const char* ValueFormatOf(int valueType) { return valueType == 0 ? "%0.4f" : "%0.2f"; }

// A new series named `name` with the value format of its value type; -1
// when the chart is full (its points are then dropped by the chart).
int NewSeries(CCurveChartModel& chart, const std::string& name, int valueType, const std::string& infoFormat = "")
{
    int s = chart.AddSeries();
    chart.SetSeriesName(s, name);
    chart.SetSeriesFormats(s, ValueFormatOf(valueType), infoFormat);
    return s;
}

CurvePoint Point(const OleDate& date, double value, double info1 = 0, double info2 = 0)
{
    CurvePoint p;
    p.Date = date;
    p.Value = value;
    p.Info1 = info1;
    p.Info2 = info2;
    return p;
}

double Pick(const CFundValue& r, int statistic)
{
    switch (statistic) {
    case 1: return r.TotalValue;
    case 2: return r.VarValue;
    case 3: return r.VarPercent;
    default: return r.TodayValue;
    }
}

// Growth in percent of `value` against `base`; 0 instead of a division by 0.
double Growth(double value, double start, double base) { return base == 0 ? 0 : (value - start) * 100 / base; }

}  // namespace

void SetCurveValueType(CCurveChartModel& chart, int valueType)
{
    if (valueType == 1) {
        chart.SetUnit("%");
        chart.SetValueFormat("%0.2f");
        chart.SetDecimals(2);
    } else if (valueType == 2) {
        chart.SetUnit("元");
        chart.SetValueFormat("%0.2f");
    } else {
        chart.SetUnit("元");
        chart.SetValueFormat("%0.4f");
    }
}

std::string CurveIndexName(int indexNumber)
{
    switch (indexNumber) {
    case 1: return "上证指数";
    case 2: return "深证成指";
    case 3: return "沪深300";
    default: return std::string();
    }
}

void BuildNavChart(CCurveChartModel& chart, const std::string& fundName, bool moneyMarket,
                   const std::vector<CFundValue>& records, const std::vector<CFundBonus>& bonus,
                   const std::vector<CurveSplit>& splits)
{
    (void)fundName;
    if (moneyMarket) {
        chart.SetChartMode(0);
        int s = chart.AddSeries();
        chart.SetSeriesName(s, "日收益");
        chart.SetSeriesFormats(s, "日收益(元/万份):%0.4f", "7天年收益率:%0.3f");
        chart.SetInfoFormat("日收益(元/万份):%0.4f");
        for (const CFundValue& r : records) chart.AddPoint(s, Point(r.ValueDate, r.TodayValue, r.VarPercent));
    } else {
        chart.SetChartMode(1);
        int unit = chart.AddSeries();
        chart.SetSeriesName(unit, "单位净值");
        chart.SetSeriesFormats(unit, "单位净值:%0.4f", "日增长率:%0.2f");
        for (const CFundValue& r : records)
            chart.AddPoint(unit, Point(r.ValueDate, r.TodayValue, r.VarPercent, r.VarValue));
        int total = chart.AddSeries();
        chart.SetSeriesName(total, "累计净值");
        chart.SetSeriesFormats(total, "累计净值:%0.4f", "日增长率:%0.2f");
        for (const CFundValue& r : records)
            chart.AddPoint(total, Point(r.ValueDate, r.TotalValue, r.VarPercent, r.VarValue));
        for (const CFundBonus& b : bonus) chart.AddMarker(unit, Point(b.RecordDate, b.BonusValue), kMarkDividend);
        for (const CurveSplit& sp : splits) chart.AddMarker(unit, Point(sp.RecordDate, 0), kMarkSplit);
    }
    SetCurveValueType(chart, 0);
}

void BuildDailyChangeChart(CCurveChartModel& chart, const std::string& fundName,
                           const std::vector<CFundValue>& records, int indexNumber,
                           const std::vector<CIndexValue>& indexRecords)
{
    (void)fundName;
    int s = NewSeries(chart, "日涨跌幅", 1);
    for (const CFundValue& r : records) chart.AddPoint(s, Point(r.ValueDate, r.VarPercent));
    SetCurveValueType(chart, 1);
    chart.SetChartMode(21);
    BuildIndexDailyChange(chart, indexNumber, indexRecords);
}

void BuildDailyOverlay(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                       int statistic)
{
    const int type = statistic == 3 ? 1 : 0;
    int s = NewSeries(chart, fundName, type);
    for (const CFundValue& r : records) chart.AddPoint(s, Point(r.ValueDate, Pick(r, statistic), r.VarPercent));
    SetCurveValueType(chart, type);
}

void BuildPeriodOverlay(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                        int statistic)
{
    // The percentage statistics: the period's change, its largest, smallest
    // and average day change.
    const int type = statistic == 0 || statistic == 6 || statistic == 7 || statistic == 12 ? 1 : 0;
    int s = NewSeries(chart, fundName, type);
    for (const CFundValue& r : records) chart.AddPoint(s, Point(r.ValueDate, r.TodayValue, r.VarPercent));
    SetCurveValueType(chart, type);
}

void BuildGrowthOverlay(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                        int statistic)
{
    int s = NewSeries(chart, fundName, 1);
    if (!records.empty()) {
        const double t0 = records[0].TotalValue, u0 = records[0].TodayValue;
        chart.AddPoint(s, Point(records[0].ValueDate, 0));
        for (size_t i = 1; i < records.size(); ++i) {
            double g = Growth(records[i].TotalValue, t0, statistic == 1 ? t0 : u0);
            chart.AddPoint(s, Point(records[i].ValueDate, g, g));
        }
    }
    SetCurveValueType(chart, 1);
}

void BuildIndexGrowth(CCurveChartModel& chart, int indexNumber, const std::vector<CIndexValue>& records)
{
    int s = NewSeries(chart, CurveIndexName(indexNumber), 1);
    chart.SetChartMode(21);
    if (!records.empty()) {
        const double i0 = records[0].IndexValue;
        chart.AddPoint(s, Point(records[0].ValueDate, 0));
        for (size_t i = 1; i < records.size(); ++i) {
            double g = Growth(records[i].IndexValue, i0, i0);
            chart.AddPoint(s, Point(records[i].ValueDate, g, g));
        }
    }
    SetCurveValueType(chart, 1);
}

void BuildIndexDailyChange(CCurveChartModel& chart, int indexNumber, const std::vector<CIndexValue>& records)
{
    int s = NewSeries(chart, CurveIndexName(indexNumber), 1);
    chart.SetChartMode(21);
    for (const CIndexValue& r : records) {
        // The index history download stores no percentage (0): it follows
        // from the day's change and the close before it.
        double pct = r.VarPercent;
        const double previous = r.IndexValue - r.VarValue;
        if (pct == 0 && r.VarValue != 0) pct = Growth(r.IndexValue, previous, previous);
        chart.AddPoint(s, Point(r.ValueDate, pct, r.IndexValue));
    }
    SetCurveValueType(chart, 1);
}

void BuildTurningOverlay(CCurveChartModel& chart, int kind, const std::string& fundName,
                         const std::vector<CFundValue>& records, int statistic)
{
    const int type = statistic == 3 ? 1 : 0;
    int s = chart.AddSeries();
    chart.SetSeriesName(s, fundName);
    chart.SetSeriesFormats(s, "", kind == kCurveRangeOverlay ? "区间增长率:%0.2f" : "波段增长率:%0.2f");
    bool first = true;
    double p = 0;
    for (const CFundValue& r : records) {
        double x = Pick(r, statistic);
        if (first) p = x;
        first = false;
        chart.AddPoint(s, Point(r.ValueDate, x, Growth(x, p, p)));
        p = x;
    }
    SetCurveValueType(chart, type);
}

void BuildMovingAverage(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                        int statistic, int n)
{
    int s = NewSeries(chart, fundName, 0);
    if (n > 0 && records.size() >= static_cast<size_t>(n)) {
        const size_t w = static_cast<size_t>(n);
        double sum = 0;
        auto x = [&](size_t i) { return statistic == 1 ? records[i].TotalValue : records[i].TodayValue; };
        for (size_t i = 0; i < w; ++i) sum += x(i);
        for (size_t i = 0; i + w <= records.size(); ++i) {
            if (i > 0) sum += x(i + w - 1) - x(i - 1);
            chart.AddPoint(s, Point(records[i].ValueDate, sum / n));
        }
    }
    SetCurveValueType(chart, 0);
}

void BuildNDayReturn(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                     int n)
{
    if (n <= 0 || records.size() < static_cast<size_t>(n)) return;
    int s = NewSeries(chart, fundName, 1);
    size_t b = 0;
    chart.AddPoint(s, Point(records[b].ValueDate, 0, records[b].VarPercent, records[b].VarValue));
    // The first step ends n - 1 records on; each later one n records after
    // the previous end.
    for (size_t e = static_cast<size_t>(n) - 1; e < records.size(); e += static_cast<size_t>(n)) {
        if (e == b) continue;  // n = 1: the first step would end on its own base
        const CFundValue& base = records[b];
        const CFundValue& end = records[e];
        double g = Growth(end.TotalValue, base.TotalValue, base.TodayValue);
        chart.AddPoint(s, Point(end.ValueDate, g, end.VarPercent, end.VarValue));
        b = e;
    }
    SetCurveValueType(chart, 1);
}

void BuildEstimate(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                   double baseNav)
{
    chart.SetEstimateBase(true, baseNav);
    int s = NewSeries(chart, fundName, 0, "%0.2f");
    for (const CFundValue& r : records) chart.AddPoint(s, Point(r.ValueDate, r.TodayValue, r.VarPercent));
    SetCurveValueType(chart, 0);
}

void BuildAccountIncome(CCurveChartModel& chart, const std::string& accountName,
                        const std::vector<CurveIncomePoint>& points)
{
    int s = NewSeries(chart, accountName, 2);
    for (const CurveIncomePoint& p : points) chart.AddPoint(s, Point(p.Date, p.Income));
    SetCurveValueType(chart, 2);
}

void SetCurveTitle(CCurveChartModel& chart, int kind, const std::string& fundName, const std::string& statisticText,
                   int n, bool indexCompare)
{
    switch (kind) {
    case kCurveNav:
        chart.SetTitle(fundName + (indexCompare ? "涨跌幅曲线图" : "净值走势图"), "");
        break;
    case kCurveDailyOverlay: chart.SetTitle("基金日走势叠加", statisticText); break;
    case kCurveWeeklyOverlay: chart.SetTitle("基金周走势叠加", statisticText); break;
    case kCurveMonthlyOverlay: chart.SetTitle("基金月走势叠加", statisticText); break;
    case kCurveGrowthOverlay: chart.SetTitle("累计增长率走势叠加", statisticText); break;
    case kCurveRangeOverlay: chart.SetTitle("基金日涨跌区间叠加", statisticText); break;
    case kCurveBandOverlay: chart.SetTitle("基金日涨跌波段叠加", statisticText); break;
    case kCurveMovingAverage: chart.SetTitle(StrFormat("%d天移动平均线叠加", n), statisticText); break;
    case kCurveAccountIncome: chart.SetTitle("基金帐户历史收益走势", ""); break;
    case kCurveNDayReturn: chart.SetTitle("n个交易日回报走势叠加", StrFormat("%d个交易日回报率", n)); break;
    case kCurveEstimate: chart.SetTitle("实时净值估算走势", ""); break;
    default: break;
    }
}

}  // namespace vextal
