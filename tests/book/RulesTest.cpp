// Rules of the plans and forms that the larger scenarios do not reach.
#include "BookFixture.h"
#include "support/BookHome.h"

namespace vextal::test {
namespace {

struct PlanKeepingServices : FakeServices {
    bool down = false;
    bool SavePlan(int, const PlanInfo&, int, std::string& error) override
    {
        if (down) error = "发送请求错误，请检查网络是否可用";
        return !down;
    }
};

OleDate Ymd(int y, int m, int d, int h = 0) { return OleDate::FromParts(y, m, d, h); }

// The start date is the first day a purchase may fall due, also when a
// saved plan's start is moved later.
TEST_F(BookTest, PlanStartsAtItsStartDateAndBooksNoDayTwice)
{
    PlanKeepingServices planServices;
    planServices.nav = services.nav;
    manager.Init(db, kUser, false, &planServices, &funds);
    ASSERT_TRUE(manager.LoadAccounts(kUser));
    Clock::Fix(Ymd(2024, 1, 20, 12));
    const int account = NewAccount("定投");
    PlanInfo plan;
    plan.trade.AccountID = account;
    plan.trade.FundID = "000001";
    plan.trade.TradeMoney = 500;
    plan.trade.TradeCount = 31;
    plan.trade.TradeTime = Ymd(2024, 1, 15);
    ASSERT_EQ(manager.SavePlan(plan), 0) << manager.GetLastErrorText();
    plan.trade.TradeTime = Ymd(2024, 3, 1);
    ASSERT_EQ(manager.SavePlan(plan), 0) << manager.GetLastErrorText();

    Clock::Fix(Ymd(2024, 4, 5, 12));
    PlanInfo stored = manager.Plans().at({account, "000001"});
    ASSERT_TRUE(manager.ProcessPlan(stored)) << manager.GetLastErrorText();
    EXPECT_EQ(PlanPurchaseDays(db), (std::vector<std::string>{"2024-03-31"}));
    EXPECT_EQ(stored.PeriodsDone, 1);

    // Purchases booked while the service could not hear of them are not
    // booked again when the plan comes back with its old progress.
    Clock::Fix(Ymd(2024, 5, 5, 12));
    const PlanInfo before = stored;
    planServices.down = true;
    EXPECT_FALSE(manager.ProcessPlan(stored));
    planServices.down = false;
    PlanInfo again = before;
    ASSERT_TRUE(manager.ProcessPlan(again)) << manager.GetLastErrorText();
    EXPECT_EQ(PlanPurchaseDays(db), (std::vector<std::string>{"2024-03-31", "2024-04-30"}));
    EXPECT_EQ(again.PeriodsDone, 2);
    EXPECT_EQ(again.trade.DealTime.Format(1), "2024-04-30");
}

}  // namespace
}  // namespace vextal::test
