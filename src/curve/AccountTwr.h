#pragma once
// The time-weighted return of an account beside an index. The account's
// value is taken at the close of every day that has a NAV of one of its
// funds or a trade; the period is cut at every deposit and withdrawal, each
// piece's return is its closing value (before that day's money moves)
// against the value at the close before, and the pieces are chained. So the
// return does not depend on when and how much money came and went, only on
// how the funds held did: a deposit just before a fall does not make it
// worse, as it does for the money-weighted return (XIRR) beside it.
//
// What counts as money moving in or out (confirmed trades at their deal
// date, valued at that day's NAV):
//   - in: purchases, fixed-investment purchases, subscriptions, quick bookings (their money, fee included);
//   - out: redemptions (the money received, after the fee), cash dividends,
//     and a money-market fund's daily income (shares times the income per
//     10,000 units of each published day), both paid out to the investor
//     and so part of the day's return;
//   - inside the account, no money moving: conversions (their fees lower the
//     value), reinvested dividends and splits (shares only).
// Fees are losses of the day they are paid; a money-market fund is worth
// 1 yuan a share; a fund with no NAV yet is valued at its last trade's price.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "book/BookTypes.h"
#include "curve/AccountIncomeHistory.h"
#include "curve/CurveChartModel.h"
#include "market/FundValue.h"

namespace vextal {

struct TwrPoint {
    OleDate Date;
    double Growth = 0;  // percent since the period's start
    double Value = 0;   // the account's value at the close, yuan
};

struct AccountTwr {
    // The first point is the start: the close before the period when the
    // account held something then (growth 0), otherwise the day of its
    // first deposit in the period (growth: that day's return, the fee).
    std::vector<TwrPoint> Points;
    double Twr = 0;  // percent over the whole period
    // The money-weighted return of the same period, annualised, in percent:
    // the start value (or the first deposit) paid in, the flows above, the
    // end value received. Empty when the flows have no rate.
    std::optional<double> Xirr;
    double StartValue = 0, EndValue = 0;
};

// Money-market funds need their records (TodayValue = income per 10,000
// units); `from` and `to` bound the period (calendar dates).
AccountTwr ComputeAccountTwr(const std::map<int, TradeInfo>& trades,
                             const std::map<std::string, IncomeHistoryFund>& funds, const OleDate& from,
                             const OleDate& to);

// The index against the account's period: its growth in percent at every
// record from the account's first point to its last, starting at 0 on the
// record on or before the first point.
struct IndexTwr {
    std::vector<TwrPoint> Points;
    double Return = 0;  // percent over the period
    bool Known = false;  // records cover the start
};
IndexTwr ComputeIndexReturn(const std::vector<CIndexValue>& records, const AccountTwr& account);

// The chart: the account's series, then the index's, in percent, with the
// growth chart's point information.
void BuildTwrChart(CCurveChartModel& chart, const std::string& accountName, const AccountTwr& account,
                   int indexNumber, const IndexTwr& index);

// A return annualised over the days of the period (percent in, percent
// out); empty for a period shorter than one day.
std::optional<double> AnnualisedPercent(double percent, const OleDate& from, const OleDate& to);

}  // namespace vextal
