#include "BookFixture.h"

using namespace vextal;
using vextal::test::BookTest;

namespace {
DividendItem Dividend(double perShare, const OleDate& date) { return {perShare, date, date, date}; }
}  // namespace

TEST_F(BookTest, MixedModeRangesDecideEachDividend)
{
    Clock::Fix(OleDate::FromParts(2007, 6, 1, 20, 0));
    int acc = NewAccount("A");
    services.nav["000001"] = 1.0;
    TradeInfo buy = Purchase(acc, "000001", 1000, 0, OleDate::FromParts(2006, 1, 5, 10));
    buy.BonusType = kBonusMixed;
    ASSERT_EQ(manager.BookTrade(buy), 0);

    UserBonusInfo cash;
    cash.AccountID = acc;
    cash.FundID = "000001";
    cash.DateState = 1;  // no start
    cash.EndDate = OleDate::FromParts(2006, 12, 31);
    cash.BonusType = kBonusCash;
    UserBonusInfo reinvest = cash;
    reinvest.DateState = 2;  // no end
    reinvest.StartDate = OleDate::FromParts(2007, 1, 1);
    reinvest.BonusType = kBonusReinvest;
    ASSERT_TRUE(manager.LoadUserBonus());
    ASSERT_TRUE(manager.SaveUserBonus(cash));
    EXPECT_FALSE(manager.IsRangeOverlapping(reinvest));
    ASSERT_TRUE(manager.SaveUserBonus(reinvest));
    UserBonusInfo touching = reinvest;
    touching.BonusID = 0;
    touching.DateState = 0;
    touching.StartDate = OleDate::FromParts(2006, 6, 1);
    touching.EndDate = OleDate::FromParts(2007, 1, 1);  // shares 2007-01-01 with the second range
    EXPECT_TRUE(manager.IsRangeOverlapping(touching));

    int mode = 99;
    EXPECT_TRUE(manager.GetBonusTypeForDate({acc, "000001", 0}, OleDate::FromParts(2006, 6, 30, 14), mode));
    EXPECT_EQ(mode, kBonusCash);

    services.dividends["000001"] = {Dividend(0.1, OleDate::FromParts(2006, 6, 30)),
                                    Dividend(0.1, OleDate::FromParts(2007, 3, 1))};
    TradeInfo h = Trade(acc, "000001", kTradeBuy, 0, 0, {});
    h.BonusType = kBonusMixed;
    ASSERT_TRUE(manager.ApplyDividends(h, false, false));
    EXPECT_EQ(Count("SELECT * FROM T_Trade_Info WHERE TradeType=7 AND TradeTime=#2006-06-30#"), 1);
    EXPECT_EQ(Count("SELECT * FROM T_Trade_Info WHERE TradeType=6 AND TradeTime=#2007-03-01#"), 1);
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 1100.0);  // 100 cash, then 0.1 x 1000 reinvested at 1.0
}
