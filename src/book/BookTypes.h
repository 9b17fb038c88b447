#pragma once
// Records of the bookkeeping: accounts, holdings, trades, mixed dividend
// ranges, and the codes they carry.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/OleDate.h"
#include "db/AdoDatabase.h"

namespace vextal {

// Trade types (TradeType).
enum TradeTypeCode {
    kTradeBuy = 0,
    kTradeRedeem = 1,
    kTradeCancelled = 2,
    kTradeConvert = 3,
    kTradeConvertOut = 4,
    kTradeConvertIn = 5,
    kTradeBonusReinvest = 6,
    kTradeCashBonus = 7,
    kTradePlan = 8,
    kTradePlanBuy = 9,
    kTradeSubscribe = 10,
    kTradeSubscribeInterest = 11,
    kTradeQuick = 12,
    kTradeFundBonus = 13,
    kTradeSplit = 14,
};

// Trade states (TradeState).
enum TradeStateCode { kStateWritten = 0, kStateConfirmed = 1, kStateExcluded = 2 };

// Charging type (BuyType) and dividend mode (BonusType).
enum { kFrontEnd = 0, kBackEnd = 1 };
enum { kBonusCash = 0, kBonusReinvest = 1, kBonusMixed = -1 };

const char* TradeTypeName(int tradeType);  // "未知" for unknown codes
const char* BonusTypeName(int bonusType);
// The fund name as lists show it: a back-end holding is followed by "后端".
std::string HoldingDisplayName(const std::string& fundName, int buyType);

struct TradeInfo {
    int TradeID = 0;
    int AccountID = 0;
    int UserID = 0;
    int TradeState = 0;
    std::string FundID;
    std::string TargetFundID;
    double TradeCount = 0;
    double TargetCount = 0;
    double TradeMoney = 0;
    double TradeFee = 0;    // >= 0 a rate in percent; < 0 minus an amount in yuan
    double SecondRate = 0;  // conversion: incoming fee; subscription: interbank rate (<= 0: minus the interest)
    int InnerDeduction = 0;
    double TradeValue = 0;
    double CostValue = 0;
    int TradeType = 0;
    int BonusType = 0;
    int TargetBonusType = 0;
    int BuyType = 0;
    int TargetBuyType = 0;
    std::string MarkInfo;
    OleDate TradeTime;
    OleDate DealTime;
    int NoAutoBonus = 0;
};

// The income figures of a holding, filled by the income computation.
struct HoldingFigures {
    double LatestValue = 0;
    double VarPercent = 0;
    double VarValue = 0;
    double TotalIncome = 0;
    double TotalIncomeRate = 0;
    double NewIncome = 0;
    double NewIncomeRate = 0;
    double TodayIncome = 0;
    double MarketValue = 0;
    double RedeemMoney = 0;
    double TotalPrincipal = 0;
    double NewPrincipal = 0;
    double SaleFeeEstimate = 0;
    OleDate ValueDate;
    OleDate CurrentValueDate;  // the date the latest values are expected for
    // Annualised money-weighted return in percent; empty where the flows
    // have none (RefreshAnnualRates fills it).
    std::optional<double> AnnualRate;
};

struct FundTradeInfo {
    int AccountID = 0;
    std::string FundID;
    int BuyType = 0;
    double TotalCount = 0;
    double FreeCount = 0;
    double TradeValue = 0;  // average cost per share
    int BonusType = 0;
    double CashBonus = 0;
    double TotalBonus = 0;
    double CashBonusNew = 0;
    OleDate LastBonus;
    OleDate LastTrade;
    double SaleFee = 0;
    double SaleFeeMoney = 0;
    HoldingFigures figures;
};

struct AccountInfo {
    int AccountID = 0;
    std::string AccountName;
    double TotalIncome = 0;
    double TotalIncomeRate = 0;
    double NewIncome = 0;
    double NewIncomeRate = 0;
    double TodayIncome = 0;
    double TodayIncomeRate = 0;
    double MarketValue = 0;
    double TotalPrincipal = 0;
    double NewPrincipal = 0;
    double RedeemMoney = 0;
    double CashBonus = 0;
    double CashBonusNew = 0;
    double TotalBonus = 0;
    double SaleFeeEstimate = 0;
    std::optional<double> AnnualRate;  // percent, as the holdings' AnnualRate
    int FundCount = 0;
    OleDate CreateDate;
    std::vector<FundTradeInfo> holdings;
    std::map<int, TradeInfo> trades;  // confirmed trades by TradeID
};

struct UserBonusInfo {
    int BonusID = 0;
    int UserID = 0;
    int AccountID = 0;
    std::string FundID;
    int BuyType = 0;
    OleDate StartDate;
    OleDate EndDate;
    int DateState = 0;  // 0 both bounds, 1 no start, 2 no end, 3 neither
    int BonusType = 0;
};

// One dividend reported by the service: amount per share and three dates;
// the third is the date it is booked at.
struct DividendItem {
    double PerShare = 0;
    OleDate Date1;
    OleDate Date2;
    OleDate BookDate;
};

// A fixed-investment plan: a trade record of type 8 (FundID, AccountID,
// BuyType, BonusType, TradeMoney the amount, TradeFee the rate in percent,
// TradeCount the day of the month, TradeTime the start date, DealTime the
// last day processed) and its period counts.
struct PlanInfo {
    int PlanID = 0;  // the service's number; 0 until the list is read again
    TradeInfo trade;
    int PeriodsDone = 0;
    int PlannedPeriods = 0;  // 0: unlimited; carried, not enforced
};

// (AccountID, FundID, BuyType): identifies a holding.
struct HoldingKey {
    int AccountID = 0;
    std::string FundID;
    int BuyType = 0;

    // " AccountID=%d AND FundID='%s' AND BuyType=%d " (blanks at both ends).
    std::string Where() const;
    // The same with "?" markers, and the values that go with them.
    static constexpr const char* kWhereBound = " AccountID=? AND FundID=? AND BuyType=? ";
    FieldValueList Bound() const;
    static HoldingKey Of(const TradeInfo& t) { return {t.AccountID, t.FundID, t.BuyType}; }
    static HoldingKey Of(const FundTradeInfo& h) { return {h.AccountID, h.FundID, h.BuyType}; }
};

}  // namespace vextal
