// Merging a bookkeeping text into the local database, without the service.
#include <stdexcept>

#include "BookFixture.h"

using namespace vextal;
using vextal::test::BookTest;

// A failure before an account's merge is committed leaves that account as
// it was, even in replace mode.
TEST_F(BookTest, AMergeStoppedBeforeItsCommitLeavesTheAccount)
{
    const int acc = NewAccount("A");
    TradeInfo buy = Purchase(acc, "000001", 1000, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0);
    std::string text;
    ASSERT_TRUE(manager.ExportBookkeeping(text)) << manager.GetLastErrorText();
    ASSERT_TRUE(manager.DeleteTrade(manager.FindAccount(acc)->trades.at(buy.TradeID)));
    manager.SetPausePoint([](const char* label) {
        if (std::string(label) == "merged") throw std::runtime_error("stopped");
    });
    EXPECT_THROW(manager.MergeBookkeeping(text, false), std::runtime_error);
    manager.SetPausePoint(nullptr);
    EXPECT_EQ(Count(StrFormat("SELECT * FROM T_Trade_Info WHERE AccountID=%d", acc)), 0);
    ASSERT_TRUE(manager.MergeBookkeeping(text, false));
    EXPECT_EQ(Count(StrFormat("SELECT * FROM T_Trade_Info WHERE AccountID=%d", acc)), 1);
}

// A download stopped right after an account came in: that account's average
// costs are already its own, not the text's six places.
TEST_F(BookTest, ADownloadedAccountCommitsWithItsCosts)
{
    const int acc = NewAccount("A");
    TradeInfo buy = Purchase(acc, "000001", 1000, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0);  // 833.33 shares: 1.20000480 a share
    std::string text;
    ASSERT_TRUE(manager.ExportBookkeeping(text));
    ASSERT_NE(text.find("|1.200005|"), std::string::npos) << text;
    manager.SetPausePoint([](const char* label) {
        if (std::string(label) == "committed") throw std::runtime_error("stopped");
    });
    EXPECT_THROW(manager.MergeBookkeeping(text, true), std::runtime_error);
    manager.SetPausePoint(nullptr);
    for (const char* sql : {"SELECT CostValue FROM T_Trade_Info WHERE AccountID<>%d",
                            "SELECT TradeValue FROM T_Fund_Trade WHERE AccountID<>%d"}) {
        double cost = 0;
        ASSERT_TRUE(db.QueryDouble(StrFormat(sql, acc), cost)) << sql;
        EXPECT_EQ(StrFormat("%0.8f", cost), "1.20000480") << sql;
    }
}

// The engine tells its listener which accounts changed, once per operation,
// and nothing for what was rolled back.
TEST_F(BookTest, ChangesAreToldOncePerOperationAndNeverForARollback)
{
    std::vector<std::vector<int>> told;
    manager.SetChangeListener([&](const std::vector<int>& ids) { told.push_back(ids); });
    const int a = NewAccount("A"), b = NewAccount("B");
    EXPECT_EQ(told, (std::vector<std::vector<int>>{{a}, {b}}));

    told.clear();
    TradeInfo buy = Purchase(a, "000001", 1000, 1.5, OleDate::FromParts(2024, 5, 6, 10));
    ASSERT_GE(manager.BookTrade(buy), 0) << manager.GetLastErrorText();
    TradeInfo edited = buy;
    edited.TradeMoney = 2000;
    ASSERT_TRUE(manager.EditTrade(edited));
    ASSERT_TRUE(manager.MoveHolding(b, a, "000001", kFrontEnd));
    EXPECT_EQ(told, (std::vector<std::vector<int>>{{a}, {a}, {a, b}}));

    // Stopped inside its transaction: rolled back, nothing told.
    told.clear();
    manager.SetPausePoint([](const char* label) {
        if (std::string(label) == "inserted") throw std::runtime_error("stopped");
    });
    TradeInfo stopped = Purchase(a, "000002", 500, 1.5, OleDate::FromParts(2024, 5, 7, 10));
    EXPECT_THROW(manager.BookTrade(stopped), std::runtime_error);
    manager.SetPausePoint(nullptr);
    services.failingFunds.insert("000003");
    TradeInfo refused = Purchase(a, "000003", 500, 1.5, OleDate::FromParts(2024, 5, 7, 10));
    EXPECT_LT(manager.BookTrade(refused), 0);
    EXPECT_TRUE(told.empty());

    // A download: the accounts it committed, the second stopped before its commit.
    std::string text;
    ASSERT_TRUE(manager.ExportBookkeeping(text));
    int merges = 0;
    manager.SetPausePoint([&](const char* label) {
        if (std::string(label) == "merged" && ++merges == 2) throw std::runtime_error("stopped");
    });
    EXPECT_THROW(manager.MergeBookkeeping(text, true), std::runtime_error);
    manager.SetPausePoint(nullptr);
    ASSERT_EQ(told.size(), 1u);
    ASSERT_EQ(told[0].size(), 1u);
    EXPECT_EQ(Count(StrFormat("SELECT * FROM T_Account_Info WHERE AccountID=%d AND AccountName='A1'", told[0][0])), 1);
}
