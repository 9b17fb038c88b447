#pragma once
// The stock quote page of the quote site: one line of 39 comma-separated
// fields. plindo-serve writes it, the estimate reads it.
#include <array>
#include <string>

#include "common/OleDate.h"

namespace vextal {

struct StockQuote {
    std::string Name;
    double Open = 0, PrevClose = 0, Price = 0, High = 0, Low = 0;
    double ChangePercent = 0;
    double Volume = 0;  // shares
    double Turnover = 0;
    // Five levels each side of the order book: size (shares) and price.
    std::array<double, 5> BidSize{}, BidPrice{}, AskSize{}, AskPrice{};
    OleDate Session;  // the day the quote belongs to
    OleDate Time;     // the time of day of the quote
    double Change = 0;
    double Amplitude = 0;  // (high - low) / previous close, percent
    std::string Code;
};

inline constexpr size_t kQuoteFields = 39;

// Fields: 0 name, 1 open, 2 previous close, 3 price, 4 high, 5 low, 6 change
// in percent, 7 volume, 8 turnover, 9 to 28 the order book (bid size and
// price for five levels, then the asks), 29 the session day, 30 the time,
// 31 the change, 32 the amplitude, 33 the code, 34 to 38 "0". Prices and
// percents "%0.2f". The text is in the caller's code page (the site's: GBK).
std::string WriteQuotePage(const StockQuote& q);
// False for anything that is not a quote line of exactly 39 fields whose
// change in percent is a number. The session day is left invalid when its
// field does not read; the other figures read as 0 when they are not numbers.
bool ReadQuotePage(const std::string& page, StockQuote& q);

}  // namespace vextal
