#pragma once
// The latest value of a fund with its period changes and return statistics.
#include "market/FundValue.h"

namespace vextal {

struct CNewFundValue : CFundValue {
    float WeekVarPercent = 0;
    float MonthVarPercent = 0;
    float OneMonthVar = 0;  // same figure as MonthIncome
    float TwoMonthVar = 0;  // same figure as TwoMonthIncome
    float ThreeMonthVar = 0;  // same figure as ThreeMonthIncome
    // Return statistics (percent), as the service computes them.
    float WeekIncome = 0;
    float MonthIncome = 0;
    float TwoMonthIncome = 0;
    float ThreeMonthIncome = 0;
    float SixMonthIncome = 0;
    float OneYearIncome = 0;
    float ThisYearIncome = 0;
    float YearAvgIncome = 0;
    float TotalIncome = 0;
    int IncomeSum22 = 0;
    int IncomeSum44 = 0;
};

}  // namespace vextal
