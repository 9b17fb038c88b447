#pragma once
// Writes a market as a market folder (MarketFolder.h reads it back): what it
// has published by the end of day `to`, so that serving the folder answers
// as the market itself does at any clock up to then.
//   - companies, every fund (those founded after `to` in subscription),
//     each fund's NAVs from its first one (the figures since a fund's launch
//     need them all), its dividends and splits, the three indices' closes,
//     and the closed weekdays of the calendar;
//   - the holdings in force and the stock quotes (every row) of the trading
//     days from `from` to `to`, and for the 25 trading days before `from`
//     the holdings and the closes, which the calibration of an estimate
//     reads.
#include <string>

#include "Market.h"

namespace vextal {

// Trading days before `from` whose closes and holdings are written too.
inline constexpr int kExportCloseDays = 25;

// `folder` must be missing or empty. False with the reason.
bool ExportMarket(const CMarket& market, const std::string& folder, int from, int to, std::string& error,
                  int threads = 2);

}  // namespace vextal
