#pragma once
// The records of 2/12, the curves the service computes (weekly and monthly
// statistics, range and band turning points, today's estimates): five fields
// a record, the date (with its time for the estimates), the statistic, 0,
// its companion percentage, 0.
#include <string>
#include <vector>

#include "wire/ValueRecords.h"

namespace vextal {

// Data kinds the service computes.
enum PeriodKind { kPeriodWeek = 3, kPeriodMonth = 4, kPeriodRange = 10, kPeriodBand = 11, kPeriodEstimate = 31 };

struct PeriodRecord {
    OleDate Date;
    double Value = 0;      // the statistic ("%0.4f")
    double Companion = 0;  // its companion percentage ("%0.2f")
};

void WritePeriodRecord(std::vector<std::string>& out, int kind, const PeriodRecord& r);

// The records as the curves read NAV records: TodayValue holds the statistic
// and VarPercent its companion. The range and band overlays read the figure
// of their statistic where a NAV record keeps it (单位净值 TodayValue,
// 累计净值 TotalValue, 涨跌值 VarValue, 涨跌幅 VarPercent): there the
// statistic is put in that place too, so each statistic shows its own value
// rather than a zero or the companion. False when the fields are not records.
bool ReadPeriodRecords(const std::vector<std::string>& f, int kind, int statistic, const std::string& fundId,
                       std::vector<CFundValue>& out);

}  // namespace vextal
