#pragma once
// The income figures of holdings and accounts, the totals and average rows
// of their lists, and the rows of the trade income list. Plain functions
// over the records; CAccountManager runs them at every account refresh.
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "book/BookServices.h"
#include "book/BookTypes.h"

namespace vextal {

// The real-time estimate of a fund's value during the trading day; the
// estimation subsystem provides it.
class IRealtimeEstimates {
public:
    virtual ~IRealtimeEstimates() = default;
    // NAV, growth in percent, change per share and the estimate's date.
    virtual bool GetRealtimeEstimate(const std::string& fundId, LatestNav& nav) const = 0;
};

// Catalogue ids and title of the optional annualised-return columns.
inline constexpr int kAccountAnnualRateColumn = 25;
inline constexpr int kHoldingAnnualRateColumn = 30;
inline constexpr const char* kAnnualRateTitle = "年化收益率";

// True when a holding takes the real-time estimate: the setting is on, it
// is Monday to Friday and the hour (Beijing time) is 16 or less.
bool UsesRealtimeValue(bool showRealtime, const OleDate& now);

// The money sums of one holding's trades.
struct HoldingSums {
    double Principal = 0;         // purchases, conversions in, subscriptions, quick bookings
    double AccountPrincipal = 0;  // the same without conversions in
    double Redeemed = 0;          // redemptions and conversions out
};
using HoldingSumsMap = std::map<std::pair<std::string, int>, HoldingSums>;  // by (FundID, BuyType)
// Over an account's confirmed trades.
HoldingSumsMap SumHoldingTrades(const std::map<int, TradeInfo>& trades);

struct IncomeSettings {
    bool offline = false;
    bool fundZeroHide = false;
    OleDate currentValueDate;  // dt 0: not known, today's income is never reset
};

// Fills h.figures from the holding's latest value and trade sums.
void ComputeHoldingFigures(FundTradeInfo& h, const LatestNav& nav, bool moneyMarket, const HoldingSums& sums,
                           const IncomeSettings& settings);
// The account's income figures from its holdings' figures; RedeemMoney and
// the dividend sums are the account refresh's.
void ComputeAccountFigures(AccountInfo& a, const HoldingSumsMap& sums);

// One row of the account list or of a holdings list, and the two rows
// under them.
struct IncomeRow {
    std::string Name;
    double TotalIncome = 0;
    double TotalIncomeRate = 0;
    double NewIncome = 0;
    double NewIncomeRate = 0;
    double TodayIncome = 0;
    double TodayIncomeRate = 0;
    double MarketValue = 0;
    double RedeemMoney = 0;
    double NewPrincipal = 0;
    double TotalPrincipal = 0;
    double CashBonus = 0;
    double TotalBonus = 0;
    double TotalCount = 0;  // holdings only
    int FundCount = 0;      // accounts only
};
IncomeRow IncomeRowOf(const AccountInfo& a);
IncomeRow IncomeRowOf(const FundTradeInfo& h, const std::string& name);
// "合计": amounts summed, rates recomputed from the sums.
IncomeRow TotalsRow(const std::vector<IncomeRow>& rows);
// "平均": every figure of the totals divided by the row count (the fund
// count by integer division); all 0 without rows.
IncomeRow AverageRow(const IncomeRow& totals, int rowCount);

// One row of the trade income list.
struct TradeIncomeRow {
    TradeInfo Trade;
    std::string AccountName;
    double TradeValue = 0;         // 交易净值
    double LatestValue = 0;        // 最新净值
    double DividendsPerShare = 0;  // 累计分红
    double IntervalGrowth = 0;     // 区间增长
    double IntervalReturn = 0;     // 区间回报, percent
    int HoldingDays = 0;           // 持有天数
    std::optional<double> AverageReturn;  // 平均回报; empty on the trade's own day
    // The service's interval figures: fund growth and CSI 300 growth, percent.
    std::optional<double> FundGrowth;
    std::optional<double> IndexGrowth;
};
TradeIncomeRow ComputeTradeIncome(const TradeInfo& trade, double latestValue, double dividendsPerShare,
                                  const OleDate& today);

}  // namespace vextal
