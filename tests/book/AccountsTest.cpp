#include "BookFixture.h"

using namespace vextal;
using vextal::test::BookTest;

TEST_F(BookTest, AccountIdsNamesAndDeleteCascade)
{
    int a = NewAccount("工行");
    int b = NewAccount("招行 'VIP'");  // a quote in the name
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    AccountInfo dup;
    dup.AccountName = "工行";
    EXPECT_FALSE(manager.CreateAccount(dup));
    EXPECT_EQ(manager.GetLastErrorText(), "已经存在相同名称的帐户");

    // Rename to its own name works; to another account's name does not.
    AccountInfo r = *manager.FindAccount(b);
    EXPECT_TRUE(manager.RenameAccount(r));
    r.AccountName = "工行";
    EXPECT_FALSE(manager.RenameAccount(r));
    r.AccountName = "O'Neil's";
    ASSERT_TRUE(manager.RenameAccount(r));
    std::string name;
    ASSERT_TRUE(db.OpenRecordset(StrFormat("SELECT AccountName FROM T_Account_Info WHERE AccountID=%d", b)));
    db.GetFieldValue("AccountName", name);
    EXPECT_EQ(name, "O'Neil's");

    // Another user may use the same name; ids count over all users.
    CAccountManager other;
    other.Init(db, 8, false, &services, &funds);
    ASSERT_TRUE(other.LoadAccounts(8));
    AccountInfo same;
    same.AccountName = "工行";
    ASSERT_TRUE(other.CreateAccount(same));
    EXPECT_EQ(same.AccountID, 3);

    // Deleting the largest id frees it; deleting a smaller one does not.
    ASSERT_TRUE(manager.BookTrade(*std::make_unique<TradeInfo>(Purchase(a, "000001", 1000, 1.5, OleDate::FromParts(2024, 6, 3, 10)))) == 0)
        << manager.GetLastErrorText();
    UserBonusInfo range;
    range.AccountID = a;
    range.FundID = "000001";
    range.DateState = 3;
    ASSERT_TRUE(manager.SaveUserBonus(range));
    ASSERT_TRUE(manager.DeleteAccount(*manager.FindAccount(a)));
    for (const char* t : {"T_User_Bonus", "T_Trade_Info", "T_Fund_Trade"})
        EXPECT_EQ(Count(StrFormat("SELECT * FROM %s WHERE AccountID=%d", t, a)), 0) << t;
    EXPECT_EQ(NewAccount("新帐户"), 4);
    ASSERT_TRUE(manager.DeleteAccount(*manager.FindAccount(4)));
    EXPECT_EQ(NewAccount("再建"), 4);
}

TEST_F(BookTest, MovingAHoldingMergesSumsAndKeepsFundCount)
{
    int a = NewAccount("A"), b = NewAccount("B");
    services.nav["000001"] = 1.0;
    TradeInfo t1 = Purchase(a, "000001", 1000, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(t1), 0);
    services.nav["000001"] = 2.0;
    TradeInfo t2 = Purchase(b, "000001", 1000, 0, OleDate::FromParts(2024, 6, 4, 10));
    ASSERT_EQ(manager.BookTrade(t2), 0);
    EXPECT_FALSE(manager.MoveHolding(a, a, "000001", 0));
    EXPECT_EQ(manager.GetLastErrorText(), "移出帐户和移入帐户相同");
    // The source's FundCount is already 0 in the table: it must not go negative.
    ASSERT_TRUE(db.Execute(StrFormat("UPDATE T_Account_Info SET FundCount=0 WHERE AccountID=%d", a)));
    ASSERT_TRUE(manager.MoveHolding(b, a, "000001", 0)) << manager.GetLastErrorText();
    EXPECT_DOUBLE_EQ(Held(b, "000001"), 1500.0);
    EXPECT_EQ(Count(StrFormat("SELECT * FROM T_Fund_Trade WHERE AccountID=%d", a)), 0);
    EXPECT_EQ(Count(StrFormat("SELECT * FROM T_Trade_Info WHERE AccountID=%d", b)), 2);
    int fc = -1;
    db.QueryInt(StrFormat("SELECT FundCount FROM T_Account_Info WHERE AccountID=%d", a), fc);
    EXPECT_EQ(fc, 0);
    EXPECT_EQ(manager.FindAccount(b)->FundCount, 1);
    // 1500 shares for 2000 yuan, at once.
    double avg = 0;
    db.QueryDouble(StrFormat("SELECT TradeValue FROM T_Fund_Trade WHERE AccountID=%d", b), avg);
    EXPECT_NEAR(avg, 2000.0 / 1500.0, 1e-8);
    EXPECT_NEAR(manager.FindHolding({b, "000001", 0})->TradeValue, 2000.0 / 1500.0, 1e-8);
}
