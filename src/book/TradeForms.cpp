#include "book/TradeForms.h"

#include "book/AccountManager.h"
#include "common/Clock.h"
#include "common/Format.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace vextal {

namespace {

// Written as "not above" so that a number the field could not read (NaN)
// is refused like a negative one instead of reaching the books.
bool BelowZero(double v) { return !(v >= 0); }
bool NotAboveZero(double v) { return !(v > 0); }

const char* const kFutureTime = "交易时间不能大于当前时间";
const char* const kNegativeFee = "手续费不能小于0";
const char* const kMixedWithoutRange = "选择混合分红方式，请先设置混合分红方式";

struct Check {
    bool fails;
    const char* text;
    FormField field;
};

bool IsMixedWithoutRange(const HoldingKey& key, int bonusIndex, const OleDate& date, const BonusTypeLookup& lookup)
{
    if (bonusIndex != kBonusIndexMixed) return false;
    int bonusType = 0;
    return !lookup || !lookup(key, date, bonusType);
}

int TradeTypeOf(FormKind kind)
{
    switch (kind) {
    case FormKind::Purchase: return kTradeBuy;
    case FormKind::Subscription: return kTradeSubscribe;
    case FormKind::Redemption: return kTradeRedeem;
    case FormKind::Conversion: return kTradeConvert;
    case FormKind::Quick: return kTradeQuick;
    case FormKind::Split: return kTradeSplit;
    case FormKind::Edit: break;
    }
    return kTradeBuy;
}

// A fee field's value as TradeInfo keeps it: a rate, or minus an amount.
double StoredFee(double value, bool isAmount) { return isAmount ? -value : value; }

// Net amount that buys shares, as the booking computes it.
double NetPurchase(double money, double fee, int buyType, int inner)
{
    if (fee < 0) return money + fee;
    if (buyType == kBackEnd) return money;
    if (inner == 0) return money * 100 / (fee + 100);
    return (100 - fee) * money * 0.01;
}

double RedemptionMoney(double count, double nav, double fee)
{
    const double gross = count * nav;
    return Round2(fee < 0 ? gross + fee : (100 - fee) * gross * 0.01);
}

// Interest of the subscription period, as the booking computes it.
double SubscriptionInterest(const TradeInfo& t, const OleDate& established)
{
    if (t.SecondRate <= 0) return Round2(-t.SecondRate);
    if (!established.IsValid() || established.dt == 0) return 0;
    int days = WholeDaysBetween(t.TradeTime, established) - 1;
    const DateParts p = t.TradeTime.Parts();
    if (p.hour > 15 || (p.hour == 15 && (p.minute > 0 || p.second > 0))) --days;
    if (days < 0) days = 0;
    return Round2(t.TradeMoney * t.SecondRate * 2.739726e-05 * static_cast<double>(days));
}

}  // namespace

TradeForm DefaultTradeForm(FormKind kind)
{
    TradeForm f;
    f.kind = kind;
    // The picker shows minutes; a time with seconds could lie after "now".
    const DateParts p = Clock::Now().Parts();
    f.TradeTime = OleDate::FromParts(p.year, p.month, p.day, p.hour, p.minute);
    switch (kind) {
    case FormKind::Purchase:
    case FormKind::Conversion: f.Fee = 1.5; break;
    case FormKind::Subscription:
        f.Fee = 1.0;
        f.Amount = 1000;
        f.Interest = 1.87;
        break;
    default: break;
    }
    return f;
}

bool SubscriptionDateAllowed(const OleDate& tradeTime, const OleDate& establishDate)
{
    if (!establishDate.IsValid() || establishDate.dt == 0) return true;  // not known yet: nothing to compare
    const DateParts p = tradeTime.Parts();
    const bool byDay = p.hour < 15 || (p.hour == 15 && p.minute == 0 && p.second == 0);
    const OleDate counted = byDay ? tradeTime.DateOnly() : tradeTime;
    return counted < establishDate.DateOnly();
}

TradeInfo TradeFromForm(const TradeForm& f)
{
    TradeInfo t;
    t.AccountID = f.AccountID;
    t.FundID = f.FundID;
    t.TradeType = TradeTypeOf(f.kind);
    t.BuyType = f.BuyType;
    t.BonusType = f.BonusIndex - 1;
    t.TradeMoney = f.Amount;
    t.TradeCount = f.Count;
    t.TradeFee = StoredFee(f.Fee, f.FeeIsAmount);
    t.InnerDeduction = f.InnerDeduction ? 1 : 0;
    t.NoAutoBonus = f.NoAutoBonus ? 1 : 0;
    t.TradeTime = f.TradeTime;
    t.MarkInfo = f.MarkInfo;
    switch (f.kind) {
    case FormKind::Subscription: t.SecondRate = StoredFee(f.Interest, f.InterestIsAmount); break;
    case FormKind::Conversion:
        t.TargetFundID = f.TargetFundID;
        t.TargetBuyType = f.TargetBuyType;
        t.TargetBonusType = f.TargetBonusIndex - 1;
        t.TargetCount = f.TargetCount;
        t.SecondRate = StoredFee(f.TargetFee, f.TargetFeeIsAmount);
        break;
    case FormKind::Split:
        t.TradeValue = f.Ratio;
        t.TradeFee = 0;
        t.TradeMoney = 0;
        break;
    case FormKind::Quick: t.TradeFee = 0; break;  // the quick form has no fee field
    default: break;
    }
    return t;
}

namespace {

bool IsNumberField(FormField field)
{
    switch (field) {
    case FormField::Fee:
    case FormField::TargetFee:
    case FormField::Interest:
    case FormField::Amount:
    case FormField::Count:
    case FormField::TargetCount:
    case FormField::Ratio: return true;
    default: return false;
    }
}

double* NumberSlot(TradeForm& f, FormField field)
{
    switch (field) {
    case FormField::Fee: return &f.Fee;
    case FormField::TargetFee: return &f.TargetFee;
    case FormField::Interest: return &f.Interest;
    case FormField::Amount: return &f.Amount;
    case FormField::Count: return &f.Count;
    case FormField::TargetCount: return &f.TargetCount;
    case FormField::Ratio: return &f.Ratio;
    default: return nullptr;
    }
}

double NumberOf(const TradeForm& f, FormField field)
{
    return *NumberSlot(const_cast<TradeForm&>(f), field);
}

// The caption of a fee field without its colon: "购买费率", "认购期利息".
std::string FeeName(FormKind kind, FeeInput input, bool isAmount)
{
    std::string caption = FeeCaption(kind, input, isAmount).caption;
    if (!caption.empty() && caption.back() == ':') caption.pop_back();
    return caption;
}

}  // namespace

NumberRule FormNumberRule(const TradeForm& f, FormField field)
{
    NumberRule r;
    // An empty field is 0, as the dialogs have always read it: 0 shares is
    // "work it out", and an amount of 0 meets the dialog's own check.
    r.blankIsZero = true;
    const FormKind k = f.kind;
    switch (field) {
    case FormField::Amount:
        r.name = k == FormKind::Subscription ? "认购金额"
                 : k == FormKind::Redemption ? "赎回金额"
                 : k == FormKind::Quick      ? "投入本金"
                                             : "购买金额";
        break;
    case FormField::Count:
        r.name = k == FormKind::Subscription ? "认购份额"
                 : k == FormKind::Redemption ? "赎回份数"
                 : k == FormKind::Conversion ? "转换份数"
                 : k == FormKind::Quick      ? "份数"
                 : k == FormKind::Split      ? "拆分后份额"
                                             : "购买份额";
        // Statements give shares to more places than the books keep: 100.004
        // of 100 shares held is all of them.
        r.decimals = 4;
        break;
    case FormField::TargetCount:
        r.name = "转入份额";
        r.decimals = 4;
        break;
    case FormField::Fee:
    case FormField::TargetFee:
    case FormField::Interest: {
        const FeeInput input = field == FormField::Fee         ? FeeInput::Fee
                               : field == FormField::TargetFee ? FeeInput::TargetFee
                                                               : FeeInput::Interest;
        const bool isAmount = field == FormField::Fee         ? f.FeeIsAmount
                              : field == FormField::TargetFee ? f.TargetFeeIsAmount
                                                              : f.InterestIsAmount;
        r.name = FeeName(k, input, isAmount);
        if (!isAmount) r.max = 100;  // percent
        break;
    }
    case FormField::Ratio:
        r.name = "拆分比例";
        r.max = 1000;
        r.decimals = 4;
        break;
    default: break;
    }
    return r;
}

void SetFormNumber(TradeForm& f, FormField field, std::string_view text)
{
    double* slot = NumberSlot(f, field);
    if (!slot) return;
    f.Unreadable.erase(field);
    // A number outside the rule is kept as typed: the dialog's own check
    // (its text) comes before the rule's, in CheckTradeForm.
    const NumberReading r = ReadNumberInput(text, FormNumberRule(f, field));
    const std::optional<double> typed = ParseNumber(text);
    if (r.ok() || typed) {
        *slot = r.ok() ? r.value : *typed;
        return;
    }
    *slot = std::numeric_limits<double>::quiet_NaN();
    f.Unreadable[field] = r.refusal;
}

FormResult CheckTradeForm(const TradeForm& f, const BonusTypeLookup& lookup)
{
    const OleDate now = Clock::Now();
    const bool future = f.TradeTime > now;
    const HoldingKey own{f.AccountID, f.FundID, f.BuyType};
    const bool mixed = IsMixedWithoutRange(own, f.BonusIndex, f.TradeTime, lookup);
    // Held minus requested to the cent: 100.004 of 100 shares is all of them.
    const bool overHeld = Round2(f.HeldCount - f.Count) < 0;
    // Before its first NAV a fund has no price: a trade then would be booked
    // at an invented 1.0. Subscriptions come before it by their nature.
    const bool known = f.EstablishDate.IsValid() && f.EstablishDate.dt != 0;
    const bool beforeNav = known && f.kind != FormKind::Subscription && !f.FundID.empty() &&
                           f.TradeTime.DateOnly() < f.EstablishDate.DateOnly();
    // A fee in yuan that eats the whole amount buys nothing.
    const bool feeEatsAmount = f.FeeIsAmount && f.BuyType == kFrontEnd && f.Fee >= f.Amount && f.Fee > 0;
    std::string countedText;  // the one text built from the form (held count, establishment date)
    const std::string noNav =
        known ? StrFormat("基金%s在%s之前没有净值", f.FundID.c_str(), f.EstablishDate.Format(1).c_str()) : "";
    std::vector<Check> checks;
    switch (f.kind) {
    case FormKind::Purchase:
        checks = {{f.FundID.empty(), "请先选择要购买的基金", FormField::Fund},
                  {BelowZero(f.Fee), kNegativeFee, FormField::Fee},
                  {NotAboveZero(f.Amount), "购买金额不能小于0", FormField::Amount},
                  {feeEatsAmount, "购买费用必须小于购买金额", FormField::Fee},
                  {BelowZero(f.Count), "购买份额不能小于0", FormField::Count},
                  {future, kFutureTime, FormField::Time},
                  {beforeNav, noNav.c_str(), FormField::Time},
                  {mixed, kMixedWithoutRange, FormField::BonusMode}};
        break;
    case FormKind::Subscription:
        checks = {{f.FundID.empty(), "请先选择要购买的基金", FormField::Fund},
                  {BelowZero(f.Fee), kNegativeFee, FormField::Fee},
                  {NotAboveZero(f.Amount), "认购金额不能小于0", FormField::Amount},
                  {feeEatsAmount, "认购费用必须小于认购金额", FormField::Fee},
                  {BelowZero(f.Count), "认购份额不能小于0", FormField::Count},
                  // A negative rate would be read as an interest amount by the booking.
                  {BelowZero(f.Interest), f.InterestIsAmount ? "认购期利息不能小于0" : "同业利率不能小于0",
                   FormField::Interest},
                  {future, kFutureTime, FormField::Time}};
        if (!SubscriptionDateAllowed(f.TradeTime, f.EstablishDate)) {
            countedText = "基金成立日期为：" + f.EstablishDate.Format(1) + "，认购日期不能大于基金成立日期。";
            checks.push_back({true, nullptr, FormField::Time});
        }
        checks.push_back({mixed, kMixedWithoutRange, FormField::BonusMode});
        break;
    case FormKind::Redemption:
        countedText = StrFormat("最大可以赎回的份数为%0.2f份", f.HeldCount);
        checks = {{f.FundID.empty(), "请先选择要赎回的基金", FormField::Fund},
                  {BelowZero(f.Fee), kNegativeFee, FormField::Fee},
                  {NotAboveZero(f.Count), "赎回份数必需大于0", FormField::Count},
                  {BelowZero(f.Amount), "赎回金额不能小于0", FormField::Amount},
                  {overHeld, nullptr, FormField::Count},
                  {beforeNav, noNav.c_str(), FormField::Time}};
        break;
    case FormKind::Conversion: {
        countedText = StrFormat("最大可以转换的份数为%0.2f份", f.HeldCount);
        const HoldingKey target{f.AccountID, f.TargetFundID, f.TargetBuyType};
        checks = {{f.FundID.empty(), "请先选择转换原基金", FormField::Fund},
                  {f.TargetFundID.empty(), "请先选择转换目标基金", FormField::TargetFund},
                  {f.FundID == f.TargetFundID, "原基金和目标基金不能相同", FormField::TargetFund},
                  {BelowZero(f.Fee), "转出费率不能小于0", FormField::Fee},
                  {BelowZero(f.TargetFee), "转入费率不能小于0", FormField::TargetFee},
                  {NotAboveZero(f.Count), "转换份数必需大于0", FormField::Count},
                  {overHeld, nullptr, FormField::Count},
                  {BelowZero(f.TargetCount), "转入份额不能小于0", FormField::TargetCount},
                  {beforeNav, noNav.c_str(), FormField::Time},
                  // The dividend mode chosen here is the target holding's.
                  {IsMixedWithoutRange(target, f.TargetBonusIndex, f.TradeTime, lookup), kMixedWithoutRange,
                   FormField::TargetBonusMode}};
        break;
    }
    case FormKind::Quick:
        checks = {{f.FundID.empty(), "请先选择要记帐的基金", FormField::Fund},
                  {BelowZero(f.Count), "份数不能小于0", FormField::Count},
                  {BelowZero(f.Amount), "投入本金不能小于0", FormField::Amount},
                  {future, kFutureTime, FormField::Time},
                  {beforeNav, noNav.c_str(), FormField::Time},
                  {mixed, kMixedWithoutRange, FormField::BonusMode}};
        break;
    case FormKind::Split:
        checks = {{f.AccountID <= 0, "请先选择基金帐户", FormField::Account},
                  {f.FundID.empty(), "请先选择要拆分的基金", FormField::Fund},
                  {NotAboveZero(f.Ratio), "拆分比例不能小于0", FormField::Ratio},
                  {NotAboveZero(f.Count), "拆分份额不能小于0", FormField::Count},
                  {f.TradeTime.DateOnly() > now.DateOnly(), "拆分日期不能大于当前日期", FormField::Time},
                  {beforeNav, noNav.c_str(), FormField::Time}};
        break;
    case FormKind::Edit: break;
    }
    FormResult r;
    auto refuse = [&r](const std::string& text, FormField field) {
        r.message = text;
        r.focus = field;
        return r;
    };
    std::vector<FormField> read;  // number fields met so far
    for (const Check& c : checks) {
        const bool first = IsNumberField(c.field) && std::find(read.begin(), read.end(), c.field) == read.end();
        if (first) {
            read.push_back(c.field);
            if (auto u = f.Unreadable.find(c.field); u != f.Unreadable.end()) return refuse(u->second, c.field);
        }
        if (c.fails) return refuse(c.text ? c.text : countedText, c.field);
        if (first) {
            const std::string rule = NumberRefusal(NumberOf(f, c.field), FormNumberRule(f, c.field));
            if (!rule.empty()) return refuse(rule, c.field);
        }
    }
    r.ok = true;
    r.trade = TradeFromForm(f);
    return r;
}

FormResult CheckEditForm(const TradeInfo& chosen, std::string_view money, std::string_view count, std::string_view fee,
                         std::string_view price)
{
    FormResult r;
    r.trade = chosen;
    const struct {
        std::string_view text;
        NumberRule rule;
        double* into;
        FormField field;
    } fields[] = {
        {money, {"交易金额", 0, kMaxFigure, 2}, &r.trade.TradeMoney, FormField::Amount},
        {count, {"交易份数", 0, kMaxFigure, 2}, &r.trade.TradeCount, FormField::Count},
        // A rate in percent, or minus a fee in yuan.
        {fee, {"费率", -kMaxFigure, 100, 2}, &r.trade.TradeFee, FormField::Fee},
        {price, {"交易价", 0, 10000, 4}, &r.trade.TradeValue, FormField::Ratio},
    };
    for (const auto& f : fields) {
        const NumberReading n = ReadNumberInput(f.text, f.rule);
        if (!n.ok()) {
            r.message = n.refusal;
            r.focus = f.field;
            return r;
        }
        *f.into = n.value;
    }
    r.ok = true;
    return r;
}

FormResult CheckDividendForm(const HoldingKey& holding, std::string_view perTen, std::string_view amount,
                             const OleDate& when)
{
    FormResult r;
    const NumberReading unit = ReadNumberInput(perTen, {"单位分红", -kMaxFigure, 10000, 4, true});
    const NumberReading money = ReadNumberInput(amount, {"分红金额", -kMaxFigure, kMaxFigure, 2, true});
    const Check checks[] = {
        {!unit.ok(), unit.refusal.c_str(), FormField::Ratio},
        {!(unit.value > 0), "分红不能小于或者等于0", FormField::Ratio},
        {!money.ok(), money.refusal.c_str(), FormField::Amount},
        {!(money.value > 0), "分红金额不能小于或者等于0", FormField::Amount},
        {holding.FundID.empty(), "请先选择要分红的基金", FormField::Fund},
        {when > Clock::Now(), kFutureTime, FormField::Time},
    };
    for (const Check& c : checks)
        if (c.fails) {
            r.message = c.text;
            r.focus = c.field;
            return r;
        }
    r.ok = true;
    r.trade.AccountID = holding.AccountID;
    r.trade.FundID = holding.FundID;
    r.trade.BuyType = holding.BuyType;
    r.trade.TradeMoney = money.value;
    r.trade.TradeTime = r.trade.DealTime = when;
    r.trade.TradeState = kStateConfirmed;
    return r;
}

std::string ReadSaleFees(std::string_view rate, std::string_view fixed, FundTradeInfo& holding)
{
    const NumberReading r = ReadNumberInput(rate, {"赎回费率", 0, 100, 2, false});
    if (!r.ok()) return r.refusal;
    const NumberReading m = ReadNumberInput(fixed, {"固定费用", 0, kMaxFigure, 2, true});
    if (!m.ok()) return m.refusal;
    holding.SaleFee = r.value;
    holding.SaleFeeMoney = m.value;
    return std::string();
}

FeeLabel FeeCaption(FormKind kind, FeeInput input, bool isAmount)
{
    const char* unit = isAmount ? "元" : "%";
    if (input == FeeInput::Interest) return {isAmount ? "认购期利息:" : "同业利率:", unit};
    const char* stem = "交易";
    switch (kind) {
    case FormKind::Purchase: stem = "购买"; break;
    case FormKind::Subscription: stem = "认购"; break;
    case FormKind::Redemption: stem = "赎回"; break;
    case FormKind::Conversion: stem = input == FeeInput::TargetFee ? "转入" : "转出"; break;
    default: break;
    }
    return {std::string(stem) + (isAmount ? "费用:" : "费率:"), unit};
}

FeePreview PreviewFee(const TradeForm& f, double nav, double targetNav)
{
    FeePreview p;
    TradeInfo t = TradeFromForm(f);
    t.TradeValue = nav;
    if (f.kind == FormKind::Purchase || f.kind == FormKind::Subscription) {
        if (t.BuyType == kBackEnd) t.TradeFee = 0;
        const double net = NetPurchase(t.TradeMoney, t.TradeFee, t.BuyType, t.InnerDeduction);
        if (f.kind == FormKind::Subscription) {
            p.Interest = SubscriptionInterest(t, f.EstablishDate);
            t.TradeValue = 1.0;
            p.TradeCount = t.TradeCount > 0 ? t.TradeCount : Round2(p.Interest + net);
        } else {
            p.TradeCount = t.TradeCount > 0 ? t.TradeCount : (nav > 0 ? Round2(net / nav) : 0);
        }
        p.TradeMoney = t.TradeMoney;
        p.Fee = Round2(CAccountManager::GetTradeFee(t));
        return p;
    }
    if (f.kind == FormKind::Redemption || f.kind == FormKind::Conversion) {
        t.TradeType = kTradeRedeem;
        // Asking for at least all the shares held redeems exactly those.
        if (f.HeldCount > 0 && f.HeldCount <= t.TradeCount) t.TradeCount = f.HeldCount;
        if (f.kind == FormKind::Redemption && t.TradeMoney > 0) {
            p.TradeMoney = t.TradeMoney;
        } else {
            p.TradeMoney = RedemptionMoney(t.TradeCount, nav, t.TradeFee);
        }
        p.TradeCount = t.TradeCount;
        p.Fee = Round2(CAccountManager::GetTradeFee(t));
        if (f.kind == FormKind::Conversion) {
            TradeInfo in = t;
            in.TradeType = kTradeConvertIn;
            in.TradeMoney = p.TradeMoney;
            in.TradeFee = in.TargetBuyType == kBackEnd ? 0 : t.SecondRate;
            in.BuyType = t.TargetBuyType;
            in.TradeValue = targetNav;
            const double net = NetPurchase(in.TradeMoney, in.TradeFee, in.BuyType, in.InnerDeduction);
            p.TargetCount = t.TargetCount > 0 ? t.TargetCount : (targetNav > 0 ? Round2(net / targetNav) : 0);
            p.TargetFee = Round2(CAccountManager::GetTradeFee(in));
        }
        return p;
    }
    if (f.kind == FormKind::Quick) {
        p.TradeCount = t.TradeCount;
        p.TradeMoney = t.TradeMoney > 0 ? t.TradeMoney : Round2(nav * t.TradeCount);
    }
    return p;
}

BonusTypeLookup UserBonusLookup(const CAccountManager& manager)
{
    return [&manager](const HoldingKey& key, const OleDate& date, int& bonusType) {
        return manager.GetBonusTypeForDate(key, date, bonusType);
    };
}

std::string AvailableSharesText(double heldCount) { return StrFormat("可用份数:%0.2f", heldCount); }

double HeldShares(const AccountInfo& account, const std::string& fundId, int buyType)
{
    for (const FundTradeInfo& h : account.holdings)
        if (h.FundID == fundId && h.BuyType == buyType) return h.TotalCount;
    return 0;
}

BookingOutcome BookingOutcomeText(int bookResult, bool quick, const std::string& lastError)
{
    if (bookResult < 0)
        return {false, StrFormat(quick ? "记帐失败:%s" : "交易失败:%s", lastError.c_str())};
    return {true, quick ? "记帐成功，系统已经确认了您的记帐" : "交易成功，系统已经确认了您的交易"};
}

}  // namespace vextal
