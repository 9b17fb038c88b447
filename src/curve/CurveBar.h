#pragma once
// What the curve bar shows for each overlay command: the statistic list,
// the proposed start date, which boxes are shown, and the enabling rule of
// the index boxes. The bar widget only applies these.
#include <string>
#include <vector>

namespace vextal {

struct CurveBarSpec {
    bool ShowBar = false;             // false: the NAV trend and the real-time estimate
    std::vector<std::string> Statistics;
    int StartDaysBack = 30;           // the end date is today
    bool IndexBoxesShown = false;
    bool DayBoxShown = false;
    bool StatisticEnabled = true;     // only the n-day return disables it
};

// By curve kind (the command's kind).
CurveBarSpec CurveBarFor(int kind);
// The index boxes are enabled for the cumulative growth overlay, and for
// the daily overlay while the statistic is "涨跌幅" (3); disabled boxes are
// also cleared.
bool CurveIndexBoxesEnabled(int kind, int statistic);

}  // namespace vextal
