#pragma once
// The records of fund market data shared by the history store, the latest
// values and the curves, and the plain helpers that read them off the wire.
#include <functional>
#include <string>
#include <vector>

#include "common/OleDate.h"

namespace vextal {

// One NAV record. Money-market funds: TodayValue is the income per 10,000
// units and VarPercent the 7-day annualised yield.
struct CFundValue {
    std::string FundID;
    OleDate ValueDate;
    double TodayValue = 0;
    double VarPercent = 0;
    double VarValue = 0;
    double TotalValue = 0;
    double TotalValue1 = 0;
};

// One index record; TradeMoney may be missing (0).
struct CIndexValue {
    std::string IndexID;
    OleDate ValueDate;
    double IndexValue = 0;
    double VarValue = 0;
    double VarPercent = 0;
    double TradeMoney = 0;
};

// One dividend record; SubtractDate may be missing (invalid date).
struct CFundBonus {
    OleDate RecordDate;
    OleDate SubtractDate;
    OleDate BonusDate;
    double BonusValue = 0;
};

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

// A wire number ("%f"-like text); false when the field is not a number.
bool ReadWireFloat(const std::string& field, double& value);
// A wire date ("YYYY-MM-DD" with or without time); false when unreadable.
bool ReadWireDate(const std::string& field, OleDate& value);

}  // namespace vextal
