// Rules of the plans and forms that the larger scenarios do not reach.
#include "BookFixture.h"

namespace vextal::test {
namespace {

struct PlanKeepingServices : FakeServices {
    bool SavePlan(int, const PlanInfo&, int, std::string&) override { return true; }
};

OleDate Ymd(int y, int m, int d, int h = 0) { return OleDate::FromParts(y, m, d, h); }

// The start date is the first day a purchase may fall due, also when a
// saved plan's start is moved later.
TEST_F(BookTest, PlanBooksNothingBeforeItsStartDate)
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
    RecordsetPtr rs = db.OpenRecordsetEx("SELECT TradeTime FROM T_Trade_Info WHERE TradeType=9 ORDER BY TradeTime");
    ASSERT_TRUE(rs);
    std::vector<std::string> days;
    for (; !rs->IsEOF(); rs->MoveNext()) {
        OleDate d;
        db.GetFieldValue(rs, "TradeTime", d);
        days.push_back(d.Format(1));
    }
    EXPECT_EQ(days, (std::vector<std::string>{"2024-03-31"}));
    EXPECT_EQ(stored.PeriodsDone, 1);
}

}  // namespace
}  // namespace vextal::test
