#include "curve/RangeStatistics.h"

#include <algorithm>
#include <cmath>

#include "common/Format.h"

namespace vextal {

double MaxDrawdown(const std::vector<double>& values)
{
    double peak = 0, worst = 0;
    bool first = true;
    for (double v : values) {
        if (first || v > peak) peak = v;
        first = false;
        if (peak > 0) worst = std::max(worst, (peak - v) * 100 / peak);
    }
    return worst;
}

double AnnualisedVolatility(const std::vector<double>& dailyReturns)
{
    const size_t n = dailyReturns.size();
    if (n < 2) return 0;
    double mean = 0;
    for (double r : dailyReturns) mean += r;
    mean /= static_cast<double>(n);
    double ss = 0;
    for (double r : dailyReturns) ss += (r - mean) * (r - mean);
    return std::sqrt(ss / static_cast<double>(n - 1)) * std::sqrt(kTradingDaysPerYear);
}

NavRangeFigures NavRangeStatistics(const std::vector<CFundValue>& records)
{
    NavRangeFigures f;
    if (records.size() < 2) return f;
    std::vector<double> growth{1.0}, returns;
    for (size_t i = 1; i < records.size(); ++i) {
        returns.push_back(records[i].VarPercent);
        growth.push_back(growth.back() * (1 + records[i].VarPercent / 100));
    }
    f.Valid = true;
    f.MaxDrawdown = MaxDrawdown(growth);
    f.Volatility = AnnualisedVolatility(returns);
    return f;
}

std::vector<std::string> NavRangeLines(const NavRangeFigures& figures)
{
    if (!figures.Valid) return {};
    return {StrFormat("最大回撤:%0.2f%%", figures.MaxDrawdown), StrFormat("年化波动率:%0.2f%%", figures.Volatility)};
}

}  // namespace vextal
