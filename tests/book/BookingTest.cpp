#include "BookFixture.h"

using namespace vextal;
using vextal::test::BookTest;

TEST_F(BookTest, PurchaseSharesAndFeesFollowTheDeductionRules)
{
    int acc = NewAccount("A");
    OleDate when = OleDate::FromParts(2024, 6, 3, 10, 0);
    TradeInfo outer = Purchase(acc, "000001", 1000, 1.5f, when);
    ASSERT_EQ(manager.BookTrade(outer), 0) << manager.GetLastErrorText();
    EXPECT_FLOAT_EQ(outer.TradeCount, 821.02f);
    EXPECT_EQ(StrFormat("%0.2f", CAccountManager::GetTradeFee(outer)), "14.78");

    TradeInfo inner = Purchase(acc, "000002", 1000, 1.5f, when);
    inner.InnerDeduction = 1;
    ASSERT_EQ(manager.BookTrade(inner), 0);
    EXPECT_FLOAT_EQ(inner.TradeCount, 820.83f);
    EXPECT_EQ(StrFormat("%0.2f", CAccountManager::GetTradeFee(inner)), "15.00");
    std::string remark;
    db.OpenRecordset(StrFormat("SELECT Remark FROM T_Trade_Info WHERE TradeID=%d", inner.TradeID));
    db.GetFieldValue("Remark", remark);
    EXPECT_EQ(remark, "1");

    // A fee amount of 10 yuan is kept negated and shown as 10.00.
    TradeInfo amount = Purchase(acc, "000003", 1000, -10, when);
    ASSERT_EQ(manager.BookTrade(amount), 0);
    EXPECT_FLOAT_EQ(amount.TradeCount, 825.0f);  // (1000 - 10) / 1.2
    float storedFee = 0;
    db.QueryFloat(StrFormat("SELECT TradeFee FROM T_Trade_Info WHERE TradeID=%d", amount.TradeID), storedFee);
    EXPECT_FLOAT_EQ(storedFee, -10.0f);
    EXPECT_EQ(StrFormat("%0.2f", CAccountManager::GetTradeFee(amount)), "10.00");

    // Back-end ignores the rate; money-market funds have no fee and a price of 1.
    TradeInfo back = Purchase(acc, "000001", 1000, 1.5f, when);
    back.BuyType = kBackEnd;
    ASSERT_EQ(manager.BookTrade(back), 0);
    EXPECT_FLOAT_EQ(back.TradeCount, 833.33f);
    services.nav["000009"] = 1.0f;
    TradeInfo mm = Purchase(acc, "000009", 1000, 1.5f, when);
    ASSERT_EQ(manager.BookTrade(mm), 0);
    EXPECT_FLOAT_EQ(mm.TradeCount, 1000.0f);
    EXPECT_FLOAT_EQ(mm.TradeFee, 0.0f);

    // Front-end and back-end of one fund are two holdings; the account counts them.
    EXPECT_FLOAT_EQ(Held(acc, "000001", 0), 821.02f);
    EXPECT_FLOAT_EQ(Held(acc, "000001", 1), 833.33f);
    EXPECT_EQ(manager.FindAccount(acc)->FundCount, 5);
    EXPECT_EQ(HoldingDisplayName("华夏成长", kBackEnd), "华夏成长后端");
}

TEST_F(BookTest, ChecksRefuseInOrderAndLeaveNothingBehind)
{
    int acc = NewAccount("A");
    TradeInfo t = Purchase(acc, "000001", 1000, 1.5f, OleDate::FromParts(2024, 6, 3, 10));
    manager.SetOffline(true);
    EXPECT_EQ(manager.BookTrade(t), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "此功能在脱机模式下不可用");
    manager.SetOffline(false);

    TradeInfo foreign = t;
    foreign.AccountID = 99;
    EXPECT_EQ(manager.BookTrade(foreign), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "非法的基金帐户");
    TradeInfo future = t;
    future.TradeTime = Clock::Now().AddDays(1);
    EXPECT_EQ(manager.BookTrade(future), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "交易时间不能大于当前时间");
    TradeInfo zero = t;
    zero.TradeMoney = 0;
    EXPECT_EQ(manager.BookTrade(zero), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "非法的交易金额");
    TradeInfo odd = t;
    odd.TradeType = 42;
    EXPECT_EQ(manager.BookTrade(odd), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "非法的交易类型");

    // A failed price lookup leaves no trade and no holding (no state-0 rows).
    services.failingFunds.insert("000001");
    EXPECT_EQ(manager.BookTrade(t), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "GetFundTradeValueFormServer():数据格式错误");
    EXPECT_EQ(Count("SELECT * FROM T_Trade_Info"), 0);
    EXPECT_EQ(Count("SELECT * FROM T_Fund_Trade"), 0);

    // A conversion whose incoming leg fails books neither leg.
    services.failingFunds.clear();
    ASSERT_EQ(manager.BookTrade(t), 0);
    services.failingFunds.insert("000002");
    TradeInfo conv;
    conv.AccountID = acc;
    conv.FundID = "000001";
    conv.TargetFundID = "000002";
    conv.TradeType = kTradeConvert;
    conv.TradeCount = 100;
    conv.TradeTime = OleDate::FromParts(2024, 6, 10, 10);
    EXPECT_EQ(manager.BookTrade(conv), -1);
    EXPECT_EQ(Count("SELECT * FROM T_Trade_Info"), 1);
    EXPECT_FLOAT_EQ(Held(acc, "000001"), 821.02f);
}

TEST_F(BookTest, SubscriptionInterestCountsDaysToEstablishment)
{
    int acc = NewAccount("A");
    funds.established["000001"] = OleDate::FromParts(2024, 6, 13);
    struct Case {
        int hour, minute;
        const char* interest;
    } cases[] = {{10, 0, "4.93"}, {15, 0, "4.93"}, {16, 0, "4.93"}, {15, 1, "4.38"}, {16, 30, "4.38"}};
    for (const Case& c : cases) {
        TradeInfo t;
        t.AccountID = acc;
        t.FundID = "000001";
        t.TradeType = kTradeSubscribe;
        t.TradeMoney = 10000;
        t.TradeFee = 1.0f;
        t.SecondRate = 2.0f;
        t.NoAutoBonus = 1;
        t.TradeTime = OleDate::FromParts(2024, 6, 3, c.hour, c.minute);  // 10 days before
        ASSERT_EQ(manager.BookTrade(t), 0) << manager.GetLastErrorText();
        float interest = 0;
        db.QueryFloat(StrFormat("SELECT TradeMoney FROM T_Trade_Info WHERE TradeType=11 AND TradeID=%d", t.TradeID - 1),
                      interest);
        EXPECT_EQ(StrFormat("%0.2f", interest), c.interest) << c.hour << ":" << c.minute;
        // Shares are the interest plus the net amount, all at 1.0.
        EXPECT_EQ(StrFormat("%0.2f", t.TradeCount), StrFormat("%0.2f", std::atof(c.interest) + 10000 * 100 / 101.0f));
        EXPECT_FLOAT_EQ(t.TradeValue, 1.0f);
    }
}

TEST_F(BookTest, RedemptionsSplitsAndReplay)
{
    int acc = NewAccount("A");
    services.nav["000001"] = 1.0f;
    TradeInfo buy = Purchase(acc, "000001", 100, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0);
    TradeInfo split;
    split.AccountID = acc;
    split.FundID = "000001";
    split.TradeType = kTradeSplit;
    split.TradeValue = 2.0f;  // ratio
    split.TradeCount = 200;
    split.TradeTime = OleDate::FromParts(2024, 6, 4, 10);
    ASSERT_EQ(manager.BookTrade(split), 0) << manager.GetLastErrorText();
    float ratio = 0;
    db.QueryFloat(StrFormat("SELECT TradeValue FROM T_Trade_Info WHERE TradeID=%d", split.TradeID), ratio);
    EXPECT_FLOAT_EQ(ratio, 2.0f);
    TradeInfo buy2 = Purchase(acc, "000001", 50, 0, OleDate::FromParts(2024, 6, 5, 10));
    ASSERT_EQ(manager.BookTrade(buy2), 0);
    EXPECT_FLOAT_EQ(Held(acc, "000001"), 250.0f);
    TradeInfo redeem;
    redeem.AccountID = acc;
    redeem.FundID = "000001";
    redeem.TradeType = kTradeRedeem;
    redeem.TradeCount = 30;
    redeem.TradeFee = 0.5f;
    redeem.TradeTime = OleDate::FromParts(2024, 6, 6, 10);
    ASSERT_EQ(manager.BookTrade(redeem), 0);
    EXPECT_FLOAT_EQ(Held(acc, "000001"), 220.0f);
    EXPECT_FLOAT_EQ(redeem.TradeMoney, 29.85f);  // 30 x 1.0 less 0.5 %

    // Rebuilding the holding from its trades gives the same count.
    ASSERT_TRUE(db.Execute("UPDATE T_Fund_Trade SET TotalCount=0,FreeCount=0"));
    ASSERT_TRUE(manager.RecomputeHolding(buy, false));
    EXPECT_FLOAT_EQ(Held(acc, "000001"), 220.0f);

    // Redeeming more than held empties the holding exactly.
    TradeInfo all = redeem;
    all.TradeCount = 1e6f;
    all.TradeMoney = 0;
    all.TradeTime = OleDate::FromParts(2024, 6, 7, 10);
    ASSERT_EQ(manager.BookTrade(all), 0);
    EXPECT_FLOAT_EQ(all.TradeCount, 220.0f);
    EXPECT_FLOAT_EQ(Held(acc, "000001"), 0.0f);
    // Nothing left to redeem now.
    all.TradeTime = OleDate::FromParts(2024, 6, 10, 10);
    EXPECT_EQ(manager.BookTrade(all), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "非法的交易份数");
}

TEST_F(BookTest, AverageCostAndDeleteOrEditRebuildTheHolding)
{
    int acc = NewAccount("A");
    services.nav["000001"] = 1.0f;
    TradeInfo buy = Purchase(acc, "000001", 1000, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0);
    TradeInfo bonus;
    bonus.AccountID = acc;
    bonus.FundID = "000001";
    bonus.TradeType = kTradeBonusReinvest;
    bonus.TradeMoney = 100;
    bonus.TradeTime = OleDate::FromParts(2024, 6, 5, 10);
    ASSERT_EQ(manager.ManualDividend(bonus), 0) << manager.GetLastErrorText();
    EXPECT_FLOAT_EQ(Held(acc, "000001"), 1100.0f);
    double avg = 0;
    ASSERT_TRUE(db.OpenRecordset("SELECT TradeValue FROM T_Fund_Trade"));
    db.GetFieldValue("TradeValue", avg);
    EXPECT_NEAR(avg, 1000.0 / 1100.0, 1e-8);
    float totalBonus = 0;
    db.QueryFloat("SELECT TotalBonus FROM T_Fund_Trade", totalBonus);
    EXPECT_FLOAT_EQ(totalBonus, 100.0f);

    // Editing the purchase and deleting the dividend rebuild counts and sums.
    TradeInfo edited = buy;
    edited.TradeCount = 900;
    ASSERT_TRUE(manager.EditTrade(edited));
    EXPECT_FLOAT_EQ(Held(acc, "000001"), 1000.0f);
    ASSERT_TRUE(manager.DeleteTrade(bonus));
    EXPECT_FLOAT_EQ(Held(acc, "000001"), 900.0f);
    db.QueryFloat("SELECT TotalBonus FROM T_Fund_Trade", totalBonus);
    EXPECT_FLOAT_EQ(totalBonus, 0.0f);
}
