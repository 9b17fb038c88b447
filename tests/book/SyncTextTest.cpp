// Merging a bookkeeping text into the local database, without the service.
#include <stdexcept>

#include "BookFixture.h"

using namespace vextal;
using vextal::test::BookTest;

namespace {

const TradeInfo* OnlyTrade(const AccountInfo* a)
{
    return a && a->trades.size() == 1 ? &a->trades.begin()->second : nullptr;
}

const AccountInfo* Named(CAccountManager& m, const std::string& name)
{
    for (const auto& [id, a] : m.Accounts())
        if (a->AccountName == name) return a.get();
    return nullptr;
}

}  // namespace

TEST_F(BookTest, MergedTextKeepsBookingOptionsAndFailsPerAccount)
{
    const int acc = NewAccount("A");
    // A subscription with an interbank rate and inner deduction: its Remark
    // "0.50|1" travels as "0.50;1".
    ASSERT_TRUE(db.InsertRecord("T_Trade_Info", {{"TradeID", 1}, {"AccountID", acc}, {"FundID", "000001"},
                                                 {"TradeMoney", 1000.0}, {"TradeCount", 800.0}, {"TradeFee", 1.0},
                                                 {"TradeType", kTradeSubscribe},
                                                 {"TradeTime", OleDate::FromParts(2024, 5, 6, 10)},
                                                 {"DealTime", OleDate::FromParts(2024, 5, 6)}, {"TradeState", 1},
                                                 {"Remark", "0.50|1"}}));
    std::string text;
    ASSERT_TRUE(manager.ExportBookkeeping(text)) << manager.GetLastErrorText();
    ASSERT_NE(text.find("|0.50;1|"), std::string::npos) << text;

    ASSERT_TRUE(manager.MergeBookkeeping(text, true)) << manager.GetLastErrorText();
    const TradeInfo* copy = OnlyTrade(Named(manager, "A1"));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->InnerDeduction, 1);
    EXPECT_DOUBLE_EQ(copy->SecondRate, 0.5);
    EXPECT_NE(copy->TradeID, 1);

    // A failure before an account's merge is committed leaves that account
    // as it was, even in replace mode.
    ASSERT_TRUE(db.Execute("DELETE FROM T_Trade_Info WHERE TradeID=1"));
    ASSERT_TRUE(manager.LoadAccounts(kUser));
    manager.SetPausePoint([](const char* label) {
        if (std::string(label) == "merged") throw std::runtime_error("stopped");
    });
    EXPECT_THROW(manager.MergeBookkeeping(text, false), std::runtime_error);
    manager.SetPausePoint(nullptr);
    EXPECT_EQ(Count(StrFormat("SELECT * FROM T_Trade_Info WHERE AccountID=%d", acc)), 0);
    ASSERT_TRUE(manager.MergeBookkeeping(text, false));
    EXPECT_EQ(Count(StrFormat("SELECT * FROM T_Trade_Info WHERE AccountID=%d", acc)), 1);
}

// An account name or a trade note may hold the section markers themselves;
// the backup must still come back whole.
TEST_F(BookTest, MarkersInsideNamesAndNotesDoNotCutTheText)
{
    const int acc = NewAccount("A_A_B");
    ASSERT_TRUE(db.InsertRecord("T_Trade_Info", {{"TradeID", 1}, {"AccountID", acc}, {"FundID", "000001"},
                                                 {"TradeMoney", 1000.0}, {"TradeCount", 1000.0}, {"TradeFee", 0.0},
                                                 {"TradeType", kTradeBuy},
                                                 {"TradeTime", OleDate::FromParts(2024, 5, 6, 10)},
                                                 {"DealTime", OleDate::FromParts(2024, 5, 6)}, {"TradeState", 1},
                                                 {"MarkInfo", "见_T_表|_F_"}}));
    NewAccount("B");
    std::string text;
    ASSERT_TRUE(manager.ExportBookkeeping(text)) << manager.GetLastErrorText();
    ASSERT_TRUE(manager.MergeBookkeeping(text, true)) << manager.GetLastErrorText() << "\n" << text;
    const TradeInfo* copy = OnlyTrade(Named(manager, "A_A_B1"));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->MarkInfo, "见_T_表;_F_");
    EXPECT_NE(Named(manager, "B1"), nullptr);
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
