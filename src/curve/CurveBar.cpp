#include "curve/CurveBar.h"

#include "common/StringTable.h"
#include "curve/CurveBuilders.h"

namespace vextal {

namespace {

std::vector<std::string> Split(const std::string& text)
{
    std::vector<std::string> out;
    size_t from = 0;
    while (from <= text.size()) {
        size_t bar = text.find('|', from);
        if (bar == std::string::npos) bar = text.size();
        if (bar > from) out.push_back(text.substr(from, bar - from));
        from = bar + 1;
    }
    return out;
}

// The 18 statistics the service computes per week or month.
std::vector<std::string> PeriodStatistics(const char* period)
{
    static const char* const kNames[] = {"涨跌幅",     "涨跌值",     "最大单位净值", "最小单位净值", "最大累计净值",
                                         "最小累计净值", "最大涨跌幅",   "最小涨跌幅",   "最大涨跌值",   "最小涨跌值",
                                         "平均单位净值", "平均累计净值", "平均涨跌幅",   "平均涨跌值"};
    std::vector<std::string> out;
    for (const char* n : kNames) out.push_back(std::string(period) + n);
    for (const char* n : {"期初单位净值", "期末单位净值", "期初累计净值", "期末累计净值"}) out.push_back(n);
    return out;
}

}  // namespace

CurveBarSpec CurveBarFor(int kind)
{
    CurveBarSpec s;
    s.ShowBar = true;
    s.IndexBoxesShown = true;
    switch (kind) {
    case kCurveDailyOverlay: s.Statistics = Split(LoadResString(59144)); break;
    case kCurveWeeklyOverlay:
        s.Statistics = PeriodStatistics("周");
        s.StartDaysBack = 90;
        break;
    case kCurveMonthlyOverlay:
        s.Statistics = PeriodStatistics("月");
        s.StartDaysBack = 180;
        break;
    case kCurveRangeOverlay: s.Statistics = Split(LoadResString(59148)); break;
    case kCurveBandOverlay: s.Statistics = Split(LoadResString(59149)); break;
    case kCurveGrowthOverlay: s.Statistics = Split(LoadResString(59157)); break;
    case kCurveMovingAverage:
        s.Statistics = Split(LoadResString(59162));
        s.IndexBoxesShown = false;
        s.DayBoxShown = true;
        break;
    case kCurveNDayReturn:
        s.Statistics = Split(LoadResString(59165));
        s.IndexBoxesShown = false;
        s.DayBoxShown = true;
        s.StatisticEnabled = false;
        break;
    default: return CurveBarSpec();
    }
    return s;
}

bool CurveIndexBoxesEnabled(int kind, int statistic)
{
    return kind == kCurveGrowthOverlay || (kind == kCurveDailyOverlay && statistic == 3);
}

}  // namespace vextal
