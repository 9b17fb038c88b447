#pragma once
// The rules of the booking forms, without any window: each form's defaults,
// its checks in order with the text to show and the field to focus, the fee
// caption and unit, the fee preview of the button "计算", and the TradeInfo
// that goes to BookTrade. A dialog only collects a TradeForm and shows what
// these functions return.
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "book/BookTypes.h"
#include "common/NumberInput.h"
#include "common/OleDate.h"

namespace vextal {

enum class FormKind { Purchase, Subscription, Redemption, Conversion, Quick, Split, Edit };

// The field a refused form focuses.
enum class FormField {
    None, Account, Fund, TargetFund, Fee, TargetFee, Interest, Amount, Count, TargetCount, Ratio, Time, BonusMode,
    TargetBonusMode
};

// Index in the dividend mode list "混合分红", "现金红利", "红利转投"; BonusType = index - 1.
enum { kBonusIndexMixed = 0, kBonusIndexCash = 1, kBonusIndexReinvest = 2 };

// What one dialog collects. Numbers are as entered: fees in percent unless
// the matching "输入金额" box is set, then in yuan (stored negated).
struct TradeForm {
    FormKind kind = FormKind::Purchase;
    int AccountID = 0;
    std::string FundID;        // empty: no fund chosen (conversion: the source)
    std::string TargetFundID;  // conversion
    int BuyType = kFrontEnd;
    int TargetBuyType = kFrontEnd;  // "转入方式"
    int BonusIndex = kBonusIndexCash;
    int TargetBonusIndex = kBonusIndexCash;
    double Amount = 0;  // TradeMoney; quick booking: the principal (0 = count x NAV)
    double Count = 0;   // TradeCount, 0 = computed; split: the shares after the split
    double TargetCount = 0;  // "转入份额", 0 = computed
    double Fee = 0;
    bool FeeIsAmount = false;
    double TargetFee = 0;  // conversion: the incoming fee
    bool TargetFeeIsAmount = false;
    double Interest = 0;  // subscription: interbank rate in percent, or the interest in yuan
    bool InterestIsAmount = false;
    double Ratio = 0;  // split
    bool InnerDeduction = false;
    bool NoAutoBonus = false;
    OleDate TradeTime;
    std::string MarkInfo;
    // Known from the books when the dialog opens.
    double HeldCount = 0;   // redemption, conversion: the source holding's shares
    OleDate EstablishDate;  // the fund's establishment date (invalid or 0: unknown)
    // Typed fields that hold no number (SetFormNumber), with their refusal;
    // the checks show it in their order.
    std::map<FormField, std::string> Unreadable;
};

// The name, range and decimals of a number field of the form's dialog.
NumberRule FormNumberRule(const TradeForm& form, FormField field);
// A typed field into the form: its number, or its refusal kept for the
// checks (the number is then NaN). Set the "输入金额" boxes first: they
// decide whether a fee field is a rate or an amount.
void SetFormNumber(TradeForm& form, FormField field, std::string_view text);

// Answers whether a mixed-dividend range of the holding covers the date
// (CAccountManager::GetBonusTypeForDate after LoadUserBonus).
using BonusTypeLookup = std::function<bool(const HoldingKey&, const OleDate&, int&)>;
class CAccountManager;
// The manager's ranges as loaded (LoadUserBonus); the manager must outlive the lookup.
BonusTypeLookup UserBonusLookup(const CAccountManager& manager);

struct FormResult {
    bool ok = false;
    std::string message;  // the refusal text; empty when ok
    FormField focus = FormField::None;
    TradeInfo trade;  // filled when ok
};

// The form as the dialog opens it, dated now (to the minute).
TradeForm DefaultTradeForm(FormKind kind);
// The fee list of every fee field, in percent.
inline constexpr const char* kFeeChoices[] = {"0.5", "1", "1.5"};

// Runs the checks of the form's dialog in order; the first failure gives its
// text and field. A number field is first read (SetFormNumber), then held to
// the dialog's own check, then to its rule (FormNumberRule). A mixed dividend
// mode without a range covering the trade date is refused; without a lookup
// no range is known. A trade dated before the fund's establishment has no
// NAV to be priced at (a subscription is made before it, at 1.0).
FormResult CheckTradeForm(const TradeForm& form, const BonusTypeLookup& bonusTypeForDate);
// "修改记帐信息": the chosen trade with its four typed fields (交易金额,
// 交易份数, 费率 as stored: a rate, or minus an amount in yuan, and 交易价);
// the trade to save, or the first field's refusal.
FormResult CheckEditForm(const TradeInfo& chosen, std::string_view money, std::string_view count, std::string_view fee,
                         std::string_view price);
// "基金分红记帐": the dividend per 10 shares and the amount as typed, the
// holding chosen (FundID empty: none) and the time, checked in the dialog's
// order; the trade carries the key, money and time (the caller sets the mode).
FormResult CheckDividendForm(const HoldingKey& holding, std::string_view perTen, std::string_view amount,
                             const OleDate& when);
// "基金赎回参考费率设置": 赎回费率 in percent and 固定费用 in yuan into the
// holding; the refusal, or empty when both were read.
std::string ReadSaleFees(std::string_view rate, std::string_view fixed, FundTradeInfo& holding);

// The TradeInfo of a form, without checks.
TradeInfo TradeFromForm(const TradeForm& form);

// Subscription date: up to 15:00 the trade counts as its calendar day, later
// with its time of day; it must come before the establishment date.
bool SubscriptionDateAllowed(const OleDate& tradeTime, const OleDate& establishDate);

enum class FeeInput { Fee, TargetFee, Interest };
struct FeeLabel {
    std::string caption;
    std::string unit;  // "%" or "元"
};
// Caption and unit of a fee field as "输入金额" is set or not.
FeeLabel FeeCaption(FormKind kind, FeeInput input, bool isAmount);

// The button "计算": the share count or amount BookTrade would compute, from
// the NAV of the source fund (and of the target for a conversion). A count
// or amount the user entered is kept.
struct FeePreview {
    double TradeCount = 0;
    double TradeMoney = 0;
    double Fee = 0;  // yuan
    double Interest = 0;  // subscription: the interest of the subscription period
    double TargetCount = 0;  // conversion: the incoming shares
    double TargetFee = 0;    // conversion: the incoming leg's fee in yuan
};
FeePreview PreviewFee(const TradeForm& form, double nav, double targetNav = 0);

// The conversion's label of the source holding's shares: "可用份数:%0.2f".
std::string AvailableSharesText(double heldCount);
// The shares of a holding in the account's list, 0 when it has none.
double HeldShares(const AccountInfo& account, const std::string& fundId, int buyType);

// What the dialog shows after BookTrade: `close` on success.
struct BookingOutcome {
    bool close = false;
    std::string text;
};
BookingOutcome BookingOutcomeText(int bookResult, bool quickBooking, const std::string& lastError);

inline constexpr const char* kQuickHint1 = "以指定日期基金净值为交易价格进行记帐，快速建立基金历史交易记录。";
inline constexpr const char* kQuickHint2 = "投入本金为0则帐户会自动增加对应记帐金额。";

}  // namespace vextal
