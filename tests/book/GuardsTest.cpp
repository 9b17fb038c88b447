// The engine guards its own door: whatever a caller checked, an impossible
// figure is refused with a text and nothing is written; a holding always
// equals what its trades give.
#include <cmath>
#include <functional>
#include <limits>

#include "BookFixture.h"

using namespace vextal;
using vextal::test::BookTest;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
OleDate Day(int m, int d, int h = 10) { return OleDate::FromParts(2024, m, d, h); }

}  // namespace

TEST_F(BookTest, ImpossibleFiguresAreRefusedAndNothingIsWritten)
{
    const int acc = NewAccount("A");
    TradeInfo buy = Purchase(acc, "000001", 1200, 0, Day(6, 3));
    ASSERT_EQ(manager.BookTrade(buy), 0);  // 1000 shares at 1.2
    auto stored = [&] {
        RecordsetPtr t = db.OpenRecordsetEx("SELECT * FROM T_Trade_Info ORDER BY TradeID");
        RecordsetPtr h = db.OpenRecordsetEx("SELECT * FROM T_Fund_Trade");
        return db.RecordsetToText(true, t) + "/" + db.RecordsetToText(true, h);
    };
    const std::string before = stored();
    auto redeem = [&](double count, double fee) {
        TradeInfo t = Trade(acc, "000001", kTradeRedeem, 0, count, Day(6, 4));
        t.TradeFee = fee;
        return t;
    };
    auto convert = [&](std::function<void(TradeInfo&)> f) {
        TradeInfo t = Trade(acc, "000001", kTradeConvert, 0, 100, Day(6, 4));
        t.TargetFundID = "000002";
        f(t);
        return t;
    };
    auto dividend = [&](double money) { return Trade(acc, "000001", kTradeCashBonus, money, 0, Day(6, 5)); };
    auto split = [&](double ratio) {
        TradeInfo t = Trade(acc, "000001", kTradeSplit, 0, 2000, Day(6, 6));
        t.TradeValue = ratio;
        return t;
    };
    const struct {
        const char* what;
        TradeInfo trade;
        const char* refusal;
    } cases[] = {
        {"inf amount", Purchase(acc, "000001", kInf, 1.5, Day(6, 4)), "非法的交易金额"},
        {"negative shares", [&] { TradeInfo t = Purchase(acc, "000001", 100, 0, Day(6, 4)); t.TradeCount = -50; return t; }(),
         "非法的交易份数"},
        {"nan fee", Purchase(acc, "000001", 100, kNaN, Day(6, 4)), "非法的手续费"},
        {"fee above the amount", Purchase(acc, "000001", 100, -200, Day(6, 4)), "手续费不能大于或者等于交易金额"},
        {"150 % redemption fee", redeem(100, 150), "非法的手续费"},
        {"1,000,000 yuan redemption fee", redeem(100, -1e6), "手续费不能大于交易金额"},
        {"inf incoming fee", convert([](TradeInfo& t) { t.SecondRate = kInf; }), "非法的手续费"},
        {"inf incoming shares", convert([](TradeInfo& t) { t.TargetCount = kInf; }), "非法的交易份数"},
        {"huge quick booking", Trade(acc, "000001", kTradeQuick, 0, 1e300, Day(6, 4)), "非法的交易份数"},
        {"inf split ratio", split(kInf), "非法的交易价"},
        {"negative split ratio", split(-2), "非法的交易价"},
    };
    for (const auto& c : cases) {
        TradeInfo t = c.trade;
        EXPECT_EQ(manager.BookTrade(t), -1) << c.what;
        EXPECT_EQ(manager.GetLastErrorText(), c.refusal) << c.what;
        EXPECT_EQ(stored(), before) << c.what;
    }
    for (auto [money, refusal] : {std::pair{kInf, "非法的交易金额"}, {-5.0, "非法的交易金额"}, {0.0, "分红金额不能小于或者等于0"}}) {
        TradeInfo t = dividend(money);
        EXPECT_EQ(manager.ManualDividend(t), -1) << money;
        EXPECT_EQ(manager.GetLastErrorText(), refusal) << money;
    }
    TradeInfo edited = manager.FindAccount(acc)->trades.begin()->second;
    edited.TradeCount = kNaN;
    EXPECT_FALSE(manager.EditTrade(edited));
    EXPECT_EQ(manager.GetLastErrorText(), "非法的交易份数");
    FundTradeInfo fee = *manager.FindHolding({acc, "000001", kFrontEnd});
    fee.SaleFee = -50;
    EXPECT_FALSE(manager.SetSaleFee(fee));
    EXPECT_EQ(manager.GetLastErrorText(), "非法的赎回费率");
    EXPECT_FALSE(manager.MoveHolding(acc + 1, acc, "000001", kFrontEnd));
    EXPECT_EQ(manager.GetLastErrorText(), "非法的基金帐户");
    PlanInfo plan;
    plan.trade.AccountID = acc;
    plan.trade.FundID = "000001";
    plan.trade.TradeMoney = kInf;
    plan.trade.TradeCount = 5;
    EXPECT_EQ(manager.SavePlan(plan), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "定投金额不能小于0");
    EXPECT_EQ(stored(), before);
}

// A split replaces the shares held on its day: the redemptions before it
// are in that count, those after it come off it, and a dividend still due
// at the split is paid on the shares before it.
TEST_F(BookTest, HoldingsFollowTheirTradesAroundASplit)
{
    const int acc = NewAccount("A");
    services.nav["000001"] = 1.2;
    TradeInfo buy = Purchase(acc, "000001", 1000, 0, Day(6, 3));
    ASSERT_EQ(manager.BookTrade(buy), 0);  // 833.33
    TradeInfo out = Trade(acc, "000001", kTradeRedeem, 0, 333.33, Day(6, 4));
    ASSERT_EQ(manager.BookTrade(out), 0);
    services.dividends["000001"] = {{0.4, Day(6, 5, 0), Day(6, 5, 0), Day(6, 5, 0)}};
    TradeInfo split = Trade(acc, "000001", kTradeSplit, 0, 1000, Day(6, 6));
    split.TradeValue = 2;
    ASSERT_GE(manager.BookTrade(split), 0) << manager.GetLastErrorText();
    // Any recomputation after it: still the 1,000 shares of the split.
    TradeInfo edited = manager.FindAccount(acc)->trades.at(buy.TradeID);
    edited.TradeMoney = 1001;
    ASSERT_TRUE(manager.EditTrade(edited)) << manager.GetLastErrorText();
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 1000);
    TradeInfo later = Trade(acc, "000001", kTradeRedeem, 0, 100, Day(6, 7));
    ASSERT_EQ(manager.BookTrade(later), 0);
    ASSERT_TRUE(manager.EditTrade(manager.FindAccount(acc)->trades.at(later.TradeID)));
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 900);
    // No trade is slipped in before the split, and no split before trades booked.
    TradeInfo before = Purchase(acc, "000001", 100, 0, Day(6, 5));
    EXPECT_EQ(manager.BookTrade(before), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "基金000001在2024-06-06已经拆分，不能记入拆分之前的交易");
    TradeInfo early = Trade(acc, "000001", kTradeSplit, 0, 1800, Day(6, 6, 9));
    early.TradeValue = 2;
    EXPECT_EQ(manager.BookTrade(early), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "拆分日期之后已有该基金的交易记帐，拆分不能记在这些交易之前");
    const int other = NewAccount("B");
    TradeInfo there = Purchase(other, "000001", 120, 0, Day(6, 10));
    ASSERT_EQ(manager.BookTrade(there), 0);
    EXPECT_FALSE(manager.MoveHolding(other, acc, "000001", kFrontEnd));
    EXPECT_EQ(manager.GetLastErrorText(), "两个帐户都持有该基金且有拆分记帐，不能合并");
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 900);
    // The dividend of June 5 went to the 500 shares held then, once.
    ASSERT_TRUE(manager.ApplyDividendsAll(kUser));
    EXPECT_DOUBLE_EQ(Number("SELECT SUM(TradeMoney) FROM T_Trade_Info WHERE TradeType=7"), 200);  // 500 x 0.4
}

TEST_F(BookTest, ADeletionThatWouldLeaveAHoldingNegativeIsRefused)
{
    const int acc = NewAccount("A");
    TradeInfo first = Purchase(acc, "000001", 1000, 0, Day(6, 3));
    TradeInfo second = Purchase(acc, "000001", 1000, 0, Day(6, 4));
    ASSERT_EQ(manager.BookTrade(first), 0);
    ASSERT_EQ(manager.BookTrade(second), 0);
    TradeInfo out = Trade(acc, "000001", kTradeRedeem, 0, 1000, Day(6, 5));
    ASSERT_EQ(manager.BookTrade(out), 0);
    EXPECT_FALSE(manager.DeleteTrade(manager.FindAccount(acc)->trades.at(second.TradeID)));
    EXPECT_EQ(manager.GetLastErrorText(), "删除此记帐后持仓份额将小于0，请先删除其后的赎回记帐");
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 666.66);
    EXPECT_EQ(Count("SELECT * FROM T_Trade_Info"), 3);
    // An edit that takes more shares out than were bought, likewise.
    TradeInfo more = manager.FindAccount(acc)->trades.at(out.TradeID);
    more.TradeCount = 2000;
    EXPECT_FALSE(manager.EditTrade(more));
    EXPECT_EQ(manager.GetLastErrorText(), "修改后持仓份额将小于0");
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 666.66);
    // The redemption first, then the purchase: allowed.
    ASSERT_TRUE(manager.DeleteTrade(manager.FindAccount(acc)->trades.at(out.TradeID)));
    ASSERT_TRUE(manager.DeleteTrade(manager.FindAccount(acc)->trades.at(second.TradeID)));
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 833.33);
}
