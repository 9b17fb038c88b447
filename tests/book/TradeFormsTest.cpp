// The booking forms' rules without a window: checks in order, stored values,
// the subscription date rule and the fee preview.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <iterator>
#include <utility>
#include <vector>

#include "book/AccountManager.h"
#include "book/BookFixture.h"
#include "book/TradeForms.h"
#include "common/Clock.h"

namespace vextal {
namespace {

const OleDate kNow = OleDate::FromParts(2024, 6, 20, 20, 0);
const OleDate kPast = OleDate::FromParts(2024, 6, 19, 10, 0);

struct TradeFormsAtFixedTime : ::testing::Test {
    void SetUp() override { Clock::Fix(kNow); }
    void TearDown() override { Clock::Release(); }
};

// No holding has a mixed-dividend range.
bool NoRange(const HoldingKey&, const OleDate&, int&) { return false; }

struct Step {
    const char* text;
    FormField focus;
    std::function<void(TradeForm&)> mend;
};

// Starts from a form wrong in every checked way; each step expects the next
// refusal, then mends that field. The mended form must be accepted.
void RunSteps(TradeForm form, const std::vector<Step>& steps)
{
    for (const Step& s : steps) {
        FormResult r = CheckTradeForm(form, NoRange);
        ASSERT_FALSE(r.ok) << s.text;
        EXPECT_EQ(r.message, s.text);
        EXPECT_EQ(r.focus, s.focus) << s.text;
        s.mend(form);
    }
    FormResult r = CheckTradeForm(form, NoRange);
    EXPECT_TRUE(r.ok) << r.message;
}

TradeForm Broken(FormKind kind)
{
    TradeForm f;
    f.kind = kind;
    f.AccountID = 0;
    f.Fee = -1;
    f.TargetFee = -1;
    f.Interest = -1;
    f.Count = -1;
    f.Amount = -1;
    f.TradeTime = kNow.AddSeconds(60);
    f.BonusIndex = f.TargetBonusIndex = kBonusIndexMixed;
    return f;
}

TEST_F(TradeFormsAtFixedTime, EveryDialogRefusesInItsOrder)
{
    const OleDate future = kNow.AddSeconds(60);
    // The order shared by the dialogs, in full for the purchase.
    TradeForm buy = Broken(FormKind::Purchase);
    buy.Amount = 0;
    RunSteps(buy, {{"请先选择要购买的基金", FormField::Fund, [](TradeForm& f) { f.FundID = "000001"; }},
                   {"手续费不能小于0", FormField::Fee, [](TradeForm& f) { f.Fee = 1.5; }},
                   {"购买金额不能小于0", FormField::Amount, [](TradeForm& f) { f.Amount = 1000; }},
                   {"购买份额不能小于0", FormField::Count, [](TradeForm& f) { f.Count = 0; }},
                   {"交易时间不能大于当前时间", FormField::Time, [](TradeForm& f) { f.TradeTime = kPast; }},
                   {"选择混合分红方式，请先设置混合分红方式", FormField::BonusMode,
                    [](TradeForm& f) { f.BonusIndex = kBonusIndexCash; }}});

    // The other dialogs from a form that passes the shared checks: their
    // own rules, in their order.
    TradeForm sub = Broken(FormKind::Subscription);
    sub.FundID = "000001";
    sub.Fee = 1;
    sub.Amount = 1000;
    sub.TradeTime = kPast;
    sub.BonusIndex = kBonusIndexReinvest;
    sub.EstablishDate = OleDate::FromParts(2024, 6, 19);
    RunSteps(sub, {{"认购份额不能小于0", FormField::Count, [](TradeForm& f) { f.Count = 0; }},
                   {"同业利率不能小于0", FormField::Interest, [](TradeForm& f) { f.Interest = 1.87; }},
                   {"基金成立日期为：2024-06-19，认购日期不能大于基金成立日期。", FormField::Time,
                    [](TradeForm& f) { f.EstablishDate = OleDate::FromParts(2024, 7, 1); }}});

    TradeForm redeem = Broken(FormKind::Redemption);
    redeem.FundID = "000001";
    redeem.Fee = 0.5;
    redeem.Count = 0;
    redeem.HeldCount = 100;
    RunSteps(redeem, {{"赎回份数必需大于0", FormField::Count, [](TradeForm& f) { f.Count = 100.01; }},
                      {"赎回金额不能小于0", FormField::Amount, [](TradeForm& f) { f.Amount = 0; }},
                      // 100.004 of 100 rounds to nothing left over: accepted.
                      {"最大可以赎回的份数为100.00份", FormField::Count, [](TradeForm& f) { f.Count = 100.004; }}});

    TradeForm convert = Broken(FormKind::Conversion);
    convert.FundID = "000001";
    convert.Count = 60;
    convert.HeldCount = 50.5;
    RunSteps(convert,
             {{"请先选择转换目标基金", FormField::TargetFund, [](TradeForm& f) { f.TargetFundID = "000001"; }},
              {"原基金和目标基金不能相同", FormField::TargetFund, [](TradeForm& f) { f.TargetFundID = "000002"; }},
              {"转出费率不能小于0", FormField::Fee, [](TradeForm& f) { f.Fee = 1.5; }},
              {"转入费率不能小于0", FormField::TargetFee, [](TradeForm& f) { f.TargetFee = 0; }},
              {"最大可以转换的份数为50.50份", FormField::Count, [](TradeForm& f) { f.Count = 50.5; }},
              {"选择混合分红方式，请先设置混合分红方式", FormField::TargetBonusMode,
               [](TradeForm& f) { f.TargetBonusIndex = kBonusIndexCash; }}});

    // Only the split asks for the account first; later today is still today.
    TradeForm split = Broken(FormKind::Split);
    split.Count = 0;
    split.TradeTime = OleDate::FromParts(2024, 6, 21, 9, 0);
    RunSteps(split, {{"请先选择基金帐户", FormField::Account, [](TradeForm& f) { f.AccountID = 1; }},
                     {"请先选择要拆分的基金", FormField::Fund, [](TradeForm& f) { f.FundID = "000001"; }},
                     {"拆分比例不能小于0", FormField::Ratio, [](TradeForm& f) { f.Ratio = 1.2; }},
                     {"拆分份额不能小于0", FormField::Count, [](TradeForm& f) { f.Count = 120; }},
                     {"拆分日期不能大于当前日期", FormField::Time, [&](TradeForm& f) { f.TradeTime = future; }}});

}

// What a field holds, through the one reader: each wrong text is refused in
// the field's turn with a text naming it, never booked as 0 or inf (letters,
// inf and blanks typed into the purchase, edit and reference-fee dialogs are
// in the ui suite's TypedNumbersAreReadOnceAndRefusedByName).
TEST_F(TradeFormsAtFixedTime, TypedFieldsAreReadAndNamed)
{
    const struct {
        FormKind kind;
        FormField field;
        const char* text;
        const char* refusal;
    } cases[] = {
        {FormKind::Purchase, FormField::Amount, "-5", "购买金额不能小于0"},  // the dialog's own text
        {FormKind::Purchase, FormField::Amount, "1e11", "购买金额不能大于10000000000"},
        {FormKind::Purchase, FormField::Amount, "1000.555", "购买金额最多只能有2位小数"},
        {FormKind::Purchase, FormField::Fee, "150", "购买费率不能大于100"},
        {FormKind::Redemption, FormField::Count, "nan", "赎回份数必须是数字"},
        {FormKind::Redemption, FormField::Amount, "1,000", "赎回金额必须是数字"},
        {FormKind::Conversion, FormField::TargetCount, "-1", "转入份额不能小于0"},
        {FormKind::Conversion, FormField::TargetFee, "x", "转入费率必须是数字"},
        {FormKind::Subscription, FormField::Interest, "101", "同业利率不能大于100"},
        {FormKind::Quick, FormField::Count, "1e-5", "份数最多只能有4位小数"},
        {FormKind::Split, FormField::Ratio, "two", "拆分比例必须是数字"},
    };
    for (const auto& c : cases) {
        TradeForm f = DefaultTradeForm(c.kind);
        f.AccountID = 1;
        f.FundID = "000001";
        f.TargetFundID = "000002";
        f.TradeTime = kPast;
        f.Amount = 1000;
        f.Count = 10;
        f.HeldCount = 100;
        f.Ratio = 2;
        f.Interest = 1.87;
        SetFormNumber(f, c.field, c.text);
        const FormResult r = CheckTradeForm(f, NoRange);
        EXPECT_EQ(r.message, c.refusal) << c.text;
        EXPECT_EQ(r.focus, c.field) << c.text;
    }
    // A fee in yuan that takes the whole amount buys nothing.
    TradeForm buy = DefaultTradeForm(FormKind::Purchase);
    buy.FundID = "000001";
    buy.TradeTime = kPast;
    buy.Amount = 100;
    buy.FeeIsAmount = true;
    SetFormNumber(buy, FormField::Fee, "100");
    EXPECT_EQ(CheckTradeForm(buy, NoRange).message, "购买费用必须小于购买金额");
    // Before its first NAV a fund is not priced (a subscription is, at 1.0).
    buy.Fee = 1.5;
    buy.FeeIsAmount = false;
    buy.EstablishDate = OleDate::FromParts(2024, 6, 20);
    EXPECT_EQ(CheckTradeForm(buy, NoRange).message, "基金000001在2024-06-20之前没有净值");
    buy.kind = FormKind::Subscription;
    EXPECT_TRUE(CheckTradeForm(buy, NoRange).ok);

    // The edit dialog's fields.
    TradeInfo chosen;
    chosen.TradeType = kTradeBuy;
    EXPECT_EQ(CheckEditForm(chosen, "-1", "50", "1.5", "1.2").message, "交易金额不能小于0");
    FormResult edit = CheckEditForm(chosen, "100", "50", "-10", "1.2345");
    ASSERT_TRUE(edit.ok) << edit.message;
    EXPECT_EQ(edit.trade.TradeFee, -10);
    EXPECT_EQ(edit.trade.TradeValue, 1.2345);
    // The manual dividend: the Part's texts for 0 and below, the reader's for letters.
    const HoldingKey held{1, "000001", 0};
    EXPECT_EQ(CheckDividendForm(held, "abc", "10", kPast).message, "单位分红必须是数字");
    EXPECT_EQ(CheckDividendForm(held, "", "10", kPast).message, "分红不能小于或者等于0");
    EXPECT_EQ(CheckDividendForm(held, "0.5", "inf", kPast).message, "分红金额必须是数字");
    EXPECT_EQ(CheckDividendForm(held, "0.5", "-3", kPast).message, "分红金额不能小于或者等于0");
    EXPECT_TRUE(CheckDividendForm(held, "0.5", "3", kPast).ok);
    // The reference redemption fee, read.
    FundTradeInfo h;
    EXPECT_EQ(ReadSaleFees("0.5", "", h), "");
    EXPECT_EQ(h.SaleFee, 0.5);
}

}  // namespace

namespace test {
// What the forms accept, the engine books: a mixed mode needs the holding's
// range, a fee in yuan stays an amount, and 100.004 of 100 shares empties it.
TEST_F(BookTest, FormsHandTheEngineWhatItBooks)
{
    const int acc = NewAccount("A");
    ASSERT_TRUE(manager.LoadUserBonus());
    TradeForm buy = DefaultTradeForm(FormKind::Purchase);
    buy.AccountID = acc;
    buy.FundID = "000001";
    buy.Amount = 130;
    buy.Fee = 10;
    buy.FeeIsAmount = true;
    buy.NoAutoBonus = true;
    buy.TradeTime = OleDate::FromParts(2024, 6, 13, 10, 0);
    buy.BonusIndex = kBonusIndexMixed;
    FormResult r = CheckTradeForm(buy, UserBonusLookup(manager));
    EXPECT_EQ(r.message, "选择混合分红方式，请先设置混合分红方式");

    UserBonusInfo range;
    range.AccountID = acc;
    range.FundID = "000001";
    range.DateState = 3;  // no bounds
    range.BonusType = kBonusCash;
    ASSERT_TRUE(manager.SaveUserBonus(range)) << manager.GetLastErrorText();
    r = CheckTradeForm(buy, UserBonusLookup(manager));
    ASSERT_TRUE(r.ok) << r.message;
    ASSERT_EQ(manager.BookTrade(r.trade), 0) << manager.GetLastErrorText();
    EXPECT_EQ(Number("SELECT TradeFee FROM T_Trade_Info WHERE TradeType=0"), -10);
    EXPECT_EQ(CAccountManager::GetTradeFee(r.trade), 10);
    ASSERT_EQ(Held(acc, "000001"), 100);  // (130 - 10) / 1.2

    TradeForm redeem = DefaultTradeForm(FormKind::Redemption);
    redeem.AccountID = acc;
    redeem.FundID = "000001";
    redeem.HeldCount = HeldShares(*manager.FindAccount(acc), "000001", kFrontEnd);
    EXPECT_EQ(AvailableSharesText(redeem.HeldCount), "可用份数:100.00");
    redeem.Count = 100.004;
    r = CheckTradeForm(redeem, UserBonusLookup(manager));
    ASSERT_TRUE(r.ok) << r.message;
    ASSERT_EQ(manager.BookTrade(r.trade), 0) << manager.GetLastErrorText();
    EXPECT_EQ(Held(acc, "000001"), 0);
}
}  // namespace test

namespace {

TEST_F(TradeFormsAtFixedTime, InterestAndIncomingFeeInYuanAreStoredNegated)
{
    TradeForm sub = DefaultTradeForm(FormKind::Subscription);
    sub.Interest = 3;
    sub.InterestIsAmount = true;
    EXPECT_EQ(TradeFromForm(sub).SecondRate, -3);
    TradeForm convert = DefaultTradeForm(FormKind::Conversion);
    convert.TargetBonusIndex = kBonusIndexReinvest;
    convert.TargetFee = 5;
    convert.TargetFeeIsAmount = true;
    EXPECT_EQ(TradeFromForm(convert).SecondRate, -5);
    EXPECT_EQ(TradeFromForm(convert).TargetBonusType, kBonusReinvest);
}

TEST_F(TradeFormsAtFixedTime, SubscriptionCountsTheDayUntilThreeOClock)
{
    // The evening before the establishment day is allowed; that day itself is not.
    for (auto [day, hour, allowed] : {std::tuple{20, 14, false}, std::tuple{19, 16, true}, std::tuple{20, 0, false},
                                      std::tuple{21, 10, false}}) {
        TradeForm f = DefaultTradeForm(FormKind::Subscription);
        f.FundID = "000001";
        f.EstablishDate = OleDate::FromParts(2024, 6, 20);
        f.TradeTime = OleDate::FromParts(2024, 6, day, hour, 0);
        if (f.TradeTime > kNow) Clock::Fix(f.TradeTime.AddDays(1));
        FormResult r = CheckTradeForm(f, NoRange);
        EXPECT_EQ(r.ok, allowed) << day << " " << hour << " " << r.message;
        EXPECT_EQ(r.message, allowed ? "" : "基金成立日期为：2024-06-20，认购日期不能大于基金成立日期。");
    }
}

TEST(TradeForms, PreviewComputesWhatTheBookingWill)
{
    using P = FeePreview;
    using K = FormKind;
    const OleDate june10 = OleDate::FromParts(2024, 6, 10, 10, 0), june20 = OleDate::FromParts(2024, 6, 20);
    // Each form names what it sets; the rest keeps its default.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
    const struct {
        TradeForm form;
        double nav, targetNav;
        std::vector<std::pair<double P::*, double>> want;
    } cases[] = {
        {{.kind = K::Purchase, .Amount = 1000, .Fee = 1.5}, 1.2, 0, {{&P::TradeCount, 821.02}, {&P::Fee, 14.78}}},
        {{.kind = K::Purchase, .Amount = 1000, .Fee = 1.5, .InnerDeduction = true}, 1.2, 0,
         {{&P::TradeCount, 820.83}, {&P::Fee, 15.00}}},
        // Back-end: the rate does not apply.
        {{.kind = K::Purchase, .BuyType = kBackEnd, .Amount = 1000, .Fee = 1.5, .InnerDeduction = true}, 1.2, 0,
         {{&P::TradeCount, 833.33}, {&P::Fee, 0}}},
        {{.kind = K::Subscription, .Amount = 10000, .Interest = 2, .TradeTime = june10, .EstablishDate = june20}, 0, 0,
         {{&P::Interest, 4.93}, {&P::TradeCount, 10004.93}}},
        {{.kind = K::Redemption, .Count = 100, .Fee = 0.5}, 1.5, 0, {{&P::TradeMoney, 149.25}, {&P::Fee, 0.75}}},
        // 100.004 of 100 held empties the holding: the booking takes the 100.
        {{.kind = K::Redemption, .Count = 100.004, .HeldCount = 100}, 2.5, 0, {{&P::TradeCount, 100}, {&P::TradeMoney, 250}}},
        // 149.25 out; 149.25 * 100 / 101.5 / 1.25 in.
        {{.kind = K::Conversion, .Count = 100, .Fee = 0.5, .TargetFee = 1.5}, 1.5, 1.25,
         {{&P::TradeMoney, 149.25}, {&P::TargetCount, 117.64}, {&P::TargetFee, 2.21}}},
        {{.kind = K::Quick, .Count = 333}, 1.2345, 0, {{&P::TradeMoney, 411.09}}},
    };
#pragma GCC diagnostic pop
    for (size_t i = 0; i < std::size(cases); ++i) {
        const FeePreview p = PreviewFee(cases[i].form, cases[i].nav, cases[i].targetNav);
        for (auto [field, value] : cases[i].want) EXPECT_DOUBLE_EQ(p.*field, value) << "case " << i;
    }
}

}  // namespace
}  // namespace vextal
