#include "BookFixture.h"
#include "book/BookSql.h"

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
    TradeInfo buy = Purchase(a, "000001", 1000, 1.5, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0) << manager.GetLastErrorText();
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
    EXPECT_NEAR(Number(StrFormat("SELECT TradeValue FROM T_Fund_Trade WHERE AccountID=%d", b)), 2000.0 / 1500.0, 1e-8);
    EXPECT_NEAR(manager.FindHolding({b, "000001", 0})->TradeValue, 2000.0 / 1500.0, 1e-8);
}

TEST_F(BookTest, AccountSumsFromOneReadOfEveryAccountsTrades)
{
    const int a = NewAccount("工行"), b = NewAccount("招行");
    auto holding = [&](int account, const char* fund, double count, double total, double cash, double cashNew) {
        ASSERT_TRUE(db.ExecuteBound("INSERT INTO T_Fund_Trade(AccountID,FundID,BuyType,TotalCount,FreeCount,TotalBonus,"
                                    "CashBonus,CashBonusNew,LastBonus,LastTrade) VALUES(?,?,0,?,?,?,?,?,?,?)",
                                    {{"AccountID", account}, {"FundID", fund}, {"TotalCount", count},
                                     {"FreeCount", count}, {"TotalBonus", total}, {"CashBonus", cash},
                                     {"CashBonusNew", cashNew}, {"LastBonus", Clock::Now()}, {"LastTrade", Clock::Now()}}))
            << db.GetLastError();
    };
    int id = 0;
    auto trade = [&](int account, const char* fund, int type, double money, int state) {
        ASSERT_TRUE(db.ExecuteBound("INSERT INTO T_Trade_Info(TradeID,AccountID,FundID,TradeMoney,TradeCount,TradeType,"
                                    "TradeTime,TradeState,BuyType) VALUES(?,?,?,?,10,?,?,?,0)",
                                    {{"TradeID", ++id}, {"AccountID", account}, {"FundID", fund}, {"TradeMoney", money},
                                     {"TradeType", type}, {"TradeTime", Clock::Now()}, {"TradeState", state}}))
            << db.GetLastError();
    };
    holding(a, "000001", 100, 5, 3, 2);
    holding(a, "000002", 0, 7, 4, 1);  // emptied
    holding(b, "000003", 10, 11, 0, 0);
    trade(a, "000001", kTradeBuy, 500, kStateConfirmed);
    trade(b, "000003", kTradeRedeem, 9, kStateConfirmed);
    trade(a, "000001", kTradeRedeem, 50, kStateConfirmed);
    trade(a, "000001", kTradeRedeem, 20, kStateWritten);     // counts before its confirmation
    trade(a, "000001", kTradeRedeem, 1000, kStateExcluded);  // never
    trade(a, "000002", kTradeRedeem, 30, kStateConfirmed);

    struct Row {
        bool hide;
        double redeemA, bonusA, cashA, cashNewA;
    };
    for (const Row& r : {Row{false, 100, 12, 7, 3}, Row{true, 70, 5, 3, 2}}) {
        SCOPED_TRACE(r.hide);
        manager.SetFundZeroHide(r.hide);
        for (bool alone : {false, true}) {
            ASSERT_TRUE(alone ? manager.RefreshAccount(a) : manager.LoadAccounts(kUser)) << manager.GetLastErrorText();
            const AccountInfo& x = *manager.FindAccount(a);
            EXPECT_DOUBLE_EQ(x.RedeemMoney, r.redeemA);
            EXPECT_DOUBLE_EQ(x.TotalBonus, r.bonusA);
            EXPECT_DOUBLE_EQ(x.CashBonus, r.cashA);
            EXPECT_DOUBLE_EQ(x.CashBonusNew, r.cashNewA);
            EXPECT_EQ(x.FundCount, 2);
            EXPECT_EQ(x.trades.size(), 3u);  // the confirmed ones
            const AccountInfo& y = *manager.FindAccount(b);
            EXPECT_DOUBLE_EQ(y.RedeemMoney, 9);
            EXPECT_DOUBLE_EQ(y.TotalBonus, 11);
            EXPECT_EQ(y.trades.size(), 1u);
        }
    }
    int stored = 0;
    ASSERT_TRUE(db.QueryInt(StrFormat("SELECT FundCount FROM T_Account_Info WHERE AccountID=%d", a), stored));
    EXPECT_EQ(stored, 2);
}

TEST(CostText, ComparingCostsAgreesWithTheirText)
{
    // Near and across the eighth place's rounding boundaries, signs and sizes.
    std::vector<double> values = {0.0, -0.0, 1e-10, -1e-10, 5e-9, -5e-9, 1.0, 1.000000005, 1.0000000049999,
                                  1.00000001, 0.12345678, 0.123456785, 9999.99999999, 12345.678901234, 1e300};
    for (int i = 0; i < 2000; ++i) values.push_back(1.5 + i * 3.3e-9);
    for (double x : values)
        for (double d : {0.0, 1e-12, 2e-9, 4.9e-9, 5e-9, 1e-8, 9e-7, 2e-6})
            for (double y : {x + d, x - d}) {
                ASSERT_EQ(booksql::SameCost(x, y), booksql::Cost(x) == booksql::Cost(y)) << StrFormat("%.17g %.17g", x, y);
            }
}
