#pragma once
// The account income curve: the account's accumulated income on each
// trading day from its first trade to today, with the account-level rules
// of the income figures (dividends in cash + redemptions + market value -
// principal), applied to the trades up to that day and the NAVs of that day.
#include <map>
#include <string>
#include <vector>

#include "book/BookTypes.h"
#include "curve/CurveBuilders.h"

namespace vextal {

struct IncomeHistoryFund {
    bool MoneyMarket = false;        // valued at 1 yuan a share
    std::vector<CFundValue> Records;  // ascending dates
};

// What a confirmed trade does at account level: the shares of its holding
// (`shares` is changed) and the money it moves across the account's edge.
// Conversions move money inside the account and only change shares.
struct AccountTradeMoney {
    double PaidIn = 0;     // purchases, subscriptions, quick bookings
    double Redeemed = 0;   // redemptions, after their fee
    double CashBonus = 0;  // cash dividends
};
AccountTradeMoney ApplyAccountTrade(const TradeInfo& trade, double& shares);

// The days are the NAV dates of the account's funds from the first trade's
// day to `today` (the first trade's day always included). A fund without a
// NAV on or before a day is valued at the price of its last trade. The
// estimated redemption fees of the income figures are left out: they
// depend on today's fee settings, not on the day.
std::vector<CurveIncomePoint> AccountIncomeHistory(const std::map<int, TradeInfo>& trades,
                                                   const std::map<std::string, IncomeHistoryFund>& funds,
                                                   const OleDate& today);

}  // namespace vextal
