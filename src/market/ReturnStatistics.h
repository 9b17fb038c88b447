#pragma once
// The period returns kept per fund in T_New_Income. The service computes
// them; the program stores, reloads and cleans them up.
#include <map>
#include <optional>
#include <string>

#include "db/AdoDatabase.h"
#include "market/NewFundValue.h"

namespace vextal {

// Inserts or replaces the fund's row (LastYearIncome 0, LastCalcDate the
// NAV date). `rowExists`, when known, saves the lookup.
bool SaveReturnStatistics(CAdoDatabase& db, const CNewFundValue& value, std::optional<bool> rowExists = {});
// Copies every stored row into the matching record of `values`; rows of
// funds without a record are skipped.
bool LoadReturnStatistics(CAdoDatabase& db, std::map<std::string, CNewFundValue>& values);
// Drops latest values and statistics of funds that left the catalogue.
bool CleanUpLatestValues(CAdoDatabase& db);

}  // namespace vextal
