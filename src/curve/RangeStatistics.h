#pragma once
// Risk figures of the range a single-fund NAV chart shows: the largest fall
// from a peak and the annualised volatility of the daily returns.
#include <string>
#include <vector>

#include "market/FundValue.h"

namespace vextal {

// Trading days a year, for annualising daily figures.
inline constexpr double kTradingDaysPerYear = 250.0;

// The largest fall from a running peak, in percent of that peak; 0 when the
// series never falls (or has fewer than two values).
double MaxDrawdown(const std::vector<double>& values);
// Sample standard deviation of daily returns (in percent) times the square
// root of the trading days a year; 0 with fewer than two returns.
double AnnualisedVolatility(const std::vector<double>& dailyReturns);

struct NavRangeFigures {
    bool Valid = false;
    double MaxDrawdown = 0;  // percent
    double Volatility = 0;   // percent a year
};

// From the records of a range in date order. The daily growth rates carry
// dividends, so a payout is no fall; the first record's rate lies before
// the range and is left out. Not for money-market funds, whose rate is a
// yield.
NavRangeFigures NavRangeStatistics(const std::vector<CFundValue>& records);
// The two extra lines of the statistic box.
std::vector<std::string> NavRangeLines(const NavRangeFigures& figures);

}  // namespace vextal
