#pragma once
// The series of every curve kind, computed from loaded records and handed
// to the chart model. No loading and no painting here: each builder takes
// the records of one fund (or index) and adds its series.
#include <string>
#include <vector>

#include "curve/CurveChartModel.h"
#include "market/FundValue.h"

namespace vextal {

// Curve kinds (the number of ShowCurve).
enum CurveKind {
    kCurveNav = 1,
    kCurveDailyOverlay = 2,
    kCurveWeeklyOverlay = 3,
    kCurveMonthlyOverlay = 4,
    kCurveGrowthOverlay = 5,
    kCurveRangeOverlay = 10,
    kCurveBandOverlay = 11,
    kCurveShanghaiChange = 22,
    kCurveShenzhenChange = 23,
    kCurveShanghaiGrowth = 24,
    kCurveShenzhenGrowth = 25,
    kCurveCsi300Change = 26,
    kCurveCsi300Growth = 27,
    kCurveMovingAverage = 28,
    kCurveAccountIncome = 29,
    kCurveNDayReturn = 30,
    kCurveEstimate = 31,
};

// Value type 0: "元", "%0.4f"; 1: "%", "%0.2f", two decimals; 2: "元", "%0.2f".
void SetCurveValueType(CCurveChartModel& chart, int valueType);

// 1 "上证指数", 2 "深证成指", 3 "沪深300"; empty for any other number.
std::string CurveIndexName(int indexNumber);

// A split of the fund, dated on its record date.
struct CurveSplit {
    OleDate RecordDate;
};

// Kind 1 without index compare. `moneyMarket` also for a fund the catalogue
// does not know.
void BuildNavChart(CCurveChartModel& chart, const std::string& fundName, bool moneyMarket,
                   const std::vector<CFundValue>& records, const std::vector<CFundBonus>& bonus,
                   const std::vector<CurveSplit>& splits);
// Kind 1 with index compare: the fund's daily change, then the index's.
void BuildDailyChangeChart(CCurveChartModel& chart, const std::string& fundName,
                           const std::vector<CFundValue>& records, int indexNumber,
                           const std::vector<CIndexValue>& indexRecords);
// Kind 2; statistic 0 unit NAV, 1 accumulated NAV, 2 change, 3 change in percent.
void BuildDailyOverlay(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                       int statistic);
// Kinds 3 and 4: the service's statistic (TodayValue) and companion (VarPercent).
void BuildPeriodOverlay(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                        int statistic);
// Kind 5; statistic 0 against the first unit NAV, 1 against the first accumulated NAV.
void BuildGrowthOverlay(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                        int statistic);
// Kinds 24, 25, 27.
void BuildIndexGrowth(CCurveChartModel& chart, int indexNumber, const std::vector<CIndexValue>& records);
// Kinds 22, 23, 26 and the index part of the daily change chart.
void BuildIndexDailyChange(CCurveChartModel& chart, int indexNumber, const std::vector<CIndexValue>& records);
// Kinds 10 and 11: the service's turning points.
void BuildTurningOverlay(CCurveChartModel& chart, int kind, const std::string& fundName,
                         const std::vector<CFundValue>& records, int statistic);
// Kind 28: each point dated at the first record of its window of n.
void BuildMovingAverage(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                        int statistic, int n);
// Kind 30: returns over steps of n records; nothing with fewer than n records.
void BuildNDayReturn(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                     int n);
// Kind 31: today's estimates against the last published NAV.
void BuildEstimate(CCurveChartModel& chart, const std::string& fundName, const std::vector<CFundValue>& records,
                   double baseNav);

// Kind 29: the account's accumulated income by day, computed by the
// bookkeeping and handed over in date order.
struct CurveIncomePoint {
    OleDate Date;
    double Income = 0;
};
void BuildAccountIncome(CCurveChartModel& chart, const std::string& accountName,
                        const std::vector<CurveIncomePoint>& points);

// The title and subtitle of a kind, as the chart header shows them.
// `indexCompare`: kind 1 drawn as the daily change chart.
void SetCurveTitle(CCurveChartModel& chart, int kind, const std::string& fundName, const std::string& statisticText,
                   int n, bool indexCompare = false);

}  // namespace vextal
