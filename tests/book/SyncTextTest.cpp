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
    const std::string text = manager.ExportBookkeeping();
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
    const std::string text = manager.ExportBookkeeping();
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
    const std::string text = manager.ExportBookkeeping();
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
