#pragma once
// The latest value of a fund with its period changes and return statistics.
#include "market/FundValue.h"

namespace vextal {

struct CNewFundValue : CFundValue {
    double WeekVarPercent = 0;
    double MonthVarPercent = 0;
    double OneMonthVar = 0;  // same figure as MonthIncome
    double TwoMonthVar = 0;  // same figure as TwoMonthIncome
    double ThreeMonthVar = 0;  // same figure as ThreeMonthIncome
    // Return statistics (percent), as the service computes them.
    double WeekIncome = 0;
    double MonthIncome = 0;
    double TwoMonthIncome = 0;
    double ThreeMonthIncome = 0;
    double SixMonthIncome = 0;
    double OneYearIncome = 0;
    double ThisYearIncome = 0;
    double YearAvgIncome = 0;
    double TotalIncome = 0;
    int IncomeSum22 = 0;
    int IncomeSum44 = 0;
};

}  // namespace vextal
