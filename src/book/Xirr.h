#pragma once
// The annualised money-weighted return (XIRR) of dated cash flows: the rate r
// at which the flows, each discounted by (1 + r)^(days / 365) from the first
// flow's day, sum to zero.
#include <optional>
#include <vector>

#include "common/OleDate.h"

namespace vextal {

// One cash flow from the investor's side: money paid in is negative, money
// received (redemptions, cash dividends, today's market value) positive.
struct CashFlow {
    OleDate Date;
    double Amount = 0;
};

// The rate as a fraction (0.1 = 10 % a year). Empty when the flows have no
// such rate: no sign change, all on one day, or no root in the range solved
// (-99.99 % to about 2,200,000 % a year). With several roots, the one nearest
// to 0 % is taken.
std::optional<double> Xirr(std::vector<CashFlow> flows);

}  // namespace vextal
