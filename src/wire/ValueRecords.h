#pragma once
// The NAV records that cross between plindo-serve and the program, each
// written and read by one pair of functions here: the service writes them,
// the program reads them, and neither has a copy of its own.
//
// Figures go out with fixed decimals and come back through the one
// locale-free number reader; a field that is not a number, a date that does
// not read or a code that does not decipher makes the whole answer a format
// error (the caller names its operation).
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

// The latest value of a fund with its period changes and return statistics.
struct CNewFundValue : CFundValue {
    double WeekVarPercent = 0;
    double MonthVarPercent = 0;
    double OneMonthVar = 0;    // same figure as MonthIncome
    double TwoMonthVar = 0;    // same figure as TwoMonthIncome
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

// A wire number: the whole field, locale-free; an empty field is a figure
// the service does not have (0). False for anything else.
bool ReadWireFloat(const std::string& field, double& value);
// A wire date ("YYYY-MM-DD" with or without time); false when unreadable.
bool ReadWireDate(const std::string& field, OleDate& value);
// A fund code as records carry it: 1 to 6 letters or digits.
bool IsFundCode(const std::string& id);

// The four figures of every NAV record, in this order: TodayValue ("%0.4f"),
// TotalValue ("%0.4f"), VarPercent ("%0.2f", a money-market fund's 7-day
// yield "%0.3f"), VarValue ("%0.4f").
void WriteNavFigures(std::vector<std::string>& out, const CFundValue& v, bool moneyMarket);
bool ReadNavFigures(const std::vector<std::string>& f, size_t at, CFundValue& v);

// 2/11 NAV history: date, the four figures.
void WriteHistoryRecord(std::vector<std::string>& out, const CFundValue& v, bool moneyMarket);
// All records of the answer (a multiple of 5 fields), FundID set to `fundId`.
bool ReadHistoryRecords(const std::vector<std::string>& f, const std::string& fundId, std::vector<CFundValue>& out);

// 2/22 latest NAV, 2/24 real-time value: the four figures, then the date
// (an estimate's with its time: `withTime`).
void WriteLatestNav(std::vector<std::string>& out, const CFundValue& v, bool moneyMarket, bool withTime = false);
bool ReadLatestNav(const std::vector<std::string>& f, size_t at, CFundValue& v);
// 2/25 value cache: the 2/22 record followed by the fund code.
void WriteCachedValue(std::vector<std::string>& out, const CFundValue& v, bool moneyMarket);
bool ReadCachedValues(const std::vector<std::string>& f, std::vector<CFundValue>& out);

// The latest-value record of the class lists and selected funds (2/1 to
// 2/5), 20 fields: ValueDate; FundID enciphered on its own; the four
// figures; WeekVarPercent, MonthVarPercent; the return statistics WeekIncome
// to TotalIncome (nine, "%0.2f"); IncomeSum22, IncomeSum44 (integers);
// TotalValue1 ("%0.4f"). `cipheredCode` is EncipherFundCode(v.FundID),
// which a service answering whole classes keeps rather than makes anew.
void WriteLatestValueRecord(std::vector<std::string>& out, const CNewFundValue& v, const std::string& cipheredCode,
                            bool moneyMarket);
std::string EncipherFundCode(const std::string& fundId);
// One record at field `at`; the month figures are also the period changes
// (OneMonthVar = MonthIncome and so on).
bool ReadLatestValueRecord(const std::vector<std::string>& f, size_t at, CNewFundValue& v);
inline constexpr size_t kLatestValueFields = 20;

// 2/21 NAV that confirms a trade: NAV ("%0.4f"), its date.
void WriteTradeNav(std::vector<std::string>& out, double nav, const OleDate& navDate);
bool ReadTradeNav(const std::vector<std::string>& f, double& nav, OleDate& navDate);

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

// 2/23 interval figures: the fund's NAV growth in percent over the interval
// and the CSI 300's ("%0.2f" each), exactly these two fields.
void WriteIntervalFigures(std::vector<std::string>& out, double fundGrowth, double indexGrowth);
bool ReadIntervalFigures(const std::vector<std::string>& f, double& fundGrowth, double& indexGrowth);

// 2/13 dividends: groups of the dividend per unit ("%0.4f"), record date,
// payment date (BonusDate), ex-dividend date (SubtractDate).
void WriteDividendRecord(std::vector<std::string>& out, const CFundBonus& d);
bool ReadDividendRecords(const std::vector<std::string>& f, std::vector<CFundBonus>& out);
// 2/13 with mode 1 for a money-market fund: the income ("%0.2f") and the day
// it runs to; the last pair of the answer counts.
void WriteMoneyIncome(std::vector<std::string>& out, double amount, const OleDate& upTo);
bool ReadMoneyIncome(const std::vector<std::string>& f, double& amount, OleDate& upTo);

// 1/21 index history: index code, date, turnover (TradeMoney), index value,
// change (VarValue), each figure "%0.2f".
void WriteIndexRecord(std::vector<std::string>& out, const CIndexValue& r);
bool ReadIndexRecords(const std::vector<std::string>& f, std::vector<CIndexValue>& out);

}  // namespace vextal
