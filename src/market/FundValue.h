#pragma once
// The records of fund market data shared by the history store, the latest
// values and the curves (defined with their wire records), and the results
// of the downloads.
#include <functional>
#include <string>
#include <vector>

#include "common/OleDate.h"
#include "wire/ValueRecords.h"

namespace vextal {

// Progress of a long operation: done of total steps. Returning false asks
// the operation to stop; it then leaves the database as it was.
using ProgressFn = std::function<bool(size_t done, size_t total)>;

// Result codes of the downloads.
enum MarketResult {
    kMarketOk = 0,
    kMarketBadFormat = -1,   // answer of the wrong shape; nothing stored
    kMarketNotSent = -2,     // transport failure
    kMarketRefused = -3,     // the service answered with an error
    kMarketCancelled = -4,   // stopped through the progress callback
    kMarketMissing = -5,     // the fund has no history even after loading
    kMarketStoreFailed = -6, // the database refused a write; nothing stored
};

}  // namespace vextal
