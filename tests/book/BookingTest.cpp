#include <sqlite3.h>

#include <map>

#include "BookFixture.h"

using namespace vextal;
using vextal::test::BookTest;

TEST_F(BookTest, PurchaseSharesAndFeesFollowTheDeductionRules)
{
    int acc = NewAccount("A");
    OleDate when = OleDate::FromParts(2024, 6, 3, 10, 0);
    TradeInfo outer = Purchase(acc, "000001", 1000, 1.5, when);
    ASSERT_EQ(manager.BookTrade(outer), 0) << manager.GetLastErrorText();
    EXPECT_DOUBLE_EQ(outer.TradeCount, 821.02);
    EXPECT_EQ(StrFormat("%0.2f", CAccountManager::GetTradeFee(outer)), "14.78");

    TradeInfo inner = Purchase(acc, "000002", 1000, 1.5, when);
    inner.InnerDeduction = 1;
    ASSERT_EQ(manager.BookTrade(inner), 0);
    EXPECT_DOUBLE_EQ(inner.TradeCount, 820.83);
    EXPECT_EQ(StrFormat("%0.2f", CAccountManager::GetTradeFee(inner)), "15.00");
    std::string remark;
    db.OpenRecordset(StrFormat("SELECT Remark FROM T_Trade_Info WHERE TradeID=%d", inner.TradeID));
    db.GetFieldValue("Remark", remark);
    EXPECT_EQ(remark, "1");

    // A fee amount of 10 yuan is kept negated and shown as 10.00.
    TradeInfo amount = Purchase(acc, "000003", 1000, -10, when);
    ASSERT_EQ(manager.BookTrade(amount), 0);
    EXPECT_DOUBLE_EQ(amount.TradeCount, 825.0);  // (1000 - 10) / 1.2
    double storedFee = 0;
    db.QueryDouble(StrFormat("SELECT TradeFee FROM T_Trade_Info WHERE TradeID=%d", amount.TradeID), storedFee);
    EXPECT_DOUBLE_EQ(storedFee, -10.0);
    EXPECT_EQ(StrFormat("%0.2f", CAccountManager::GetTradeFee(amount)), "10.00");

    // Back-end ignores the rate; money-market funds have no fee and a price of 1.
    TradeInfo back = Purchase(acc, "000001", 1000, 1.5, when);
    back.BuyType = kBackEnd;
    ASSERT_EQ(manager.BookTrade(back), 0);
    EXPECT_DOUBLE_EQ(back.TradeCount, 833.33);
    services.nav["000009"] = 1.0;
    TradeInfo mm = Purchase(acc, "000009", 1000, 1.5, when);
    ASSERT_EQ(manager.BookTrade(mm), 0);
    EXPECT_DOUBLE_EQ(mm.TradeCount, 1000.0);
    EXPECT_DOUBLE_EQ(mm.TradeFee, 0.0);

    // Front-end and back-end of one fund are two holdings; the account counts them.
    EXPECT_DOUBLE_EQ(Held(acc, "000001", 0), 821.02);
    EXPECT_DOUBLE_EQ(Held(acc, "000001", 1), 833.33);
    EXPECT_EQ(manager.FindAccount(acc)->FundCount, 5);
    EXPECT_EQ(HoldingDisplayName("华夏成长", kBackEnd), "华夏成长后端");
}

TEST_F(BookTest, ChecksRefuseInOrderAndLeaveNothingBehind)
{
    int acc = NewAccount("A");
    TradeInfo t = Purchase(acc, "000001", 1000, 1.5, OleDate::FromParts(2024, 6, 3, 10));
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

    // A conversion whose incoming leg fails books neither leg (a failed
    // purchase leaving nothing runs against the real service).
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
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 821.02);

    // A negative share count is refused before any statement runs, for a
    // redemption, a conversion and the share update itself.
    services.failingFunds.clear();
    const int changes = sqlite3_total_changes(db.Handle());
    TradeInfo negative;
    negative.AccountID = acc;
    negative.FundID = "000001";
    negative.TargetFundID = "000002";
    negative.TradeCount = -5;
    negative.TradeTime = OleDate::FromParts(2024, 6, 10, 10);
    for (int type : {kTradeRedeem, kTradeConvert}) {
        negative.TradeType = type;
        EXPECT_EQ(manager.BookTrade(negative), -1) << type;
        EXPECT_EQ(manager.GetLastErrorText(), "非法的交易份数") << type;
    }
    negative.TradeType = kTradeRedeem;
    EXPECT_FALSE(manager.RemoveShares(negative, false));
    EXPECT_EQ(sqlite3_total_changes(db.Handle()), changes);
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 821.02);
}

TEST_F(BookTest, SubscriptionInterestCountsDaysToEstablishment)
{
    int acc = NewAccount("A");
    funds.established["000001"] = OleDate::FromParts(2024, 6, 13);
    struct Case {
        int hour, minute;
        const char* interest;
    } cases[] = {{10, 0, "4.93"}, {15, 0, "4.93"}, {15, 1, "4.38"}, {16, 0, "4.38"}, {16, 30, "4.38"}};
    for (const Case& c : cases) {
        TradeInfo t;
        t.AccountID = acc;
        t.FundID = "000001";
        t.TradeType = kTradeSubscribe;
        t.TradeMoney = 10000;
        t.TradeFee = 1.0;
        t.SecondRate = 2.0;
        t.NoAutoBonus = 1;
        t.TradeTime = OleDate::FromParts(2024, 6, 3, c.hour, c.minute);  // 10 days before
        ASSERT_EQ(manager.BookTrade(t), 0) << manager.GetLastErrorText();
        double interest = 0;
        db.QueryDouble(StrFormat("SELECT TradeMoney FROM T_Trade_Info WHERE TradeType=11 AND TradeID=%d", t.TradeID - 1),
                      interest);
        EXPECT_EQ(StrFormat("%0.2f", interest), c.interest) << c.hour << ":" << c.minute;
        // Shares are the interest plus the net amount, all at 1.0.
        EXPECT_EQ(StrFormat("%0.2f", t.TradeCount), StrFormat("%0.2f", std::atof(c.interest) + 10000 * 100 / 101.0));
        EXPECT_DOUBLE_EQ(t.TradeValue, 1.0);
    }
}

TEST_F(BookTest, RedemptionsSplitsAndReplay)
{
    int acc = NewAccount("A");
    services.nav["000001"] = 1.0;
    TradeInfo buy = Purchase(acc, "000001", 100, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0);
    TradeInfo split;
    split.AccountID = acc;
    split.FundID = "000001";
    split.TradeType = kTradeSplit;
    split.TradeValue = 2.0;  // ratio
    split.TradeCount = 200;
    split.TradeTime = OleDate::FromParts(2024, 6, 4, 10);
    ASSERT_EQ(manager.BookTrade(split), 0) << manager.GetLastErrorText();
    double ratio = 0;
    db.QueryDouble(StrFormat("SELECT TradeValue FROM T_Trade_Info WHERE TradeID=%d", split.TradeID), ratio);
    EXPECT_DOUBLE_EQ(ratio, 2.0);
    TradeInfo buy2 = Purchase(acc, "000001", 50, 0, OleDate::FromParts(2024, 6, 5, 10));
    ASSERT_EQ(manager.BookTrade(buy2), 0);
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 250.0);
    TradeInfo redeem;
    redeem.AccountID = acc;
    redeem.FundID = "000001";
    redeem.TradeType = kTradeRedeem;
    redeem.TradeCount = 30;
    redeem.TradeFee = 0.5;
    redeem.TradeTime = OleDate::FromParts(2024, 6, 6, 10);
    ASSERT_EQ(manager.BookTrade(redeem), 0);
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 220.0);
    EXPECT_DOUBLE_EQ(redeem.TradeMoney, 29.85);  // 30 x 1.0 less 0.5 %

    // Rebuilding the holding from its trades gives the same count.
    ASSERT_TRUE(db.Execute("UPDATE T_Fund_Trade SET TotalCount=0,FreeCount=0"));
    ASSERT_TRUE(manager.RecomputeHolding(buy, false));
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 220.0);

    // Redeeming more than held empties the holding exactly.
    TradeInfo all = redeem;
    all.TradeCount = 1e6;
    all.TradeMoney = 0;
    all.TradeTime = OleDate::FromParts(2024, 6, 7, 10);
    ASSERT_EQ(manager.BookTrade(all), 0);
    EXPECT_DOUBLE_EQ(all.TradeCount, 220.0);
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 0.0);
    // Nothing left to redeem now.
    all.TradeTime = OleDate::FromParts(2024, 6, 10, 10);
    EXPECT_EQ(manager.BookTrade(all), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "非法的交易份数");
    // Nor to split, in this fund or in one never bought.
    for (const char* fund : {"000001", "000002"}) {
        TradeInfo none = split;
        none.FundID = fund;
        none.TradeValue = 2.0;
        none.TradeTime = OleDate::FromParts(2024, 6, 11, 10);
        EXPECT_EQ(manager.BookTrade(none), -1) << fund;
        EXPECT_EQ(manager.GetLastErrorText(), "非法的交易份数");
    }
    EXPECT_EQ(Count("SELECT * FROM T_Trade_Info WHERE TradeType=14"), 1);
}

TEST_F(BookTest, AverageCostAndDeleteOrEditRebuildTheHolding)
{
    int acc = NewAccount("A");
    services.nav["000001"] = 1.0;
    TradeInfo buy = Purchase(acc, "000001", 1000, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0);
    TradeInfo bonus;
    bonus.AccountID = acc;
    bonus.FundID = "000001";
    bonus.TradeType = kTradeBonusReinvest;
    bonus.TradeMoney = 100;
    bonus.TradeTime = OleDate::FromParts(2024, 6, 5, 10);
    ASSERT_EQ(manager.ManualDividend(bonus), 0) << manager.GetLastErrorText();
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 1100.0);
    double avg = 0;
    ASSERT_TRUE(db.OpenRecordset("SELECT TradeValue FROM T_Fund_Trade"));
    db.GetFieldValue("TradeValue", avg);
    EXPECT_NEAR(avg, 1000.0 / 1100.0, 1e-8);
    double totalBonus = 0;
    db.QueryDouble("SELECT TotalBonus FROM T_Fund_Trade", totalBonus);
    EXPECT_DOUBLE_EQ(totalBonus, 100.0);

    // Editing the purchase and deleting the dividend rebuild counts and sums.
    TradeInfo edited = buy;
    edited.TradeCount = 900;
    ASSERT_TRUE(manager.EditTrade(edited));
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 1000.0);
    ASSERT_TRUE(manager.DeleteTrade(bonus));
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 900.0);
    db.QueryDouble("SELECT TotalBonus FROM T_Fund_Trade", totalBonus);
    EXPECT_DOUBLE_EQ(totalBonus, 0.0);
}

TEST_F(BookTest, LargeSumsKeepTheirCents)
{
    int acc = NewAccount("A");
    services.nav["000001"] = 1.0;
    TradeInfo big = Purchase(acc, "000001", 1000000, 1.5, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(big), 0) << manager.GetLastErrorText();
    EXPECT_EQ(StrFormat("%0.2f", big.TradeCount), "985221.67");  // 1,000,000 x 100 / 101.5
    EXPECT_EQ(StrFormat("%0.2f", CAccountManager::GetTradeFee(big)), "14778.33");
    EXPECT_EQ(StrFormat("%0.2f", Held(acc, "000001")), "985221.67");

    TradeInfo odd = Purchase(acc, "000002", 2345678.91, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(odd), 0) << manager.GetLastErrorText();
    double money = 0;
    db.QueryDouble(StrFormat("SELECT TradeMoney FROM T_Trade_Info WHERE TradeID=%d", odd.TradeID), money);
    EXPECT_EQ(StrFormat("%0.2f", money), "2345678.91");
    const TradeInfo& cached = manager.FindAccount(acc)->trades.at(odd.TradeID);
    EXPECT_EQ(StrFormat("%0.2f", cached.TradeMoney), "2345678.91");
}

// 18,000 trades over 200 funds: the account's market value and principal
// against a replay in integer cents and NAV units of 0.0001.
TEST_F(BookTest, AccountOfManyTradesAgreesWithAnExactReplay)
{
    int acc = NewAccount("A");
    std::map<std::string, long long> cents, principal;
    std::map<std::string, long long> navUnits;
    unsigned seed = 12345;
    auto next = [&seed](unsigned mod) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % mod;
    };
    {
        CAdoTransaction trans(db);
        for (int f = 0; f < 200; ++f) {
            std::string fund = StrFormat("%06d", 300000 + f);
            funds.known.insert(fund);
            navUnits[fund] = 5000 + next(30000);  // 0.5000 .. 3.4999
            funds.latest[fund] = static_cast<double>(navUnits[fund]) / 10000.0;
            ASSERT_TRUE(db.InsertRecord("T_Fund_Trade", {{"AccountID", acc}, {"FundID", fund}, {"BuyType", 0},
                                                         {"TotalCount", 0.0}, {"FreeCount", 0.0}}));
        }
        for (int i = 0; i < 18000; ++i) {
            std::string fund = StrFormat("%06d", 300000 + i % 200);
            const bool redeem = i >= 200 && next(4) == 0;
            long long count = redeem ? static_cast<long long>(next(static_cast<unsigned>(cents[fund] / 3 + 1)))
                                     : 1000000 + next(90000000);  // 10,000.00 .. 910,000.00 shares
            long long money = redeem ? count : count + next(100000);
            (redeem ? cents[fund] -= count : cents[fund] += count);
            if (!redeem) principal[fund] += money;
            ASSERT_TRUE(db.InsertRecord(
                "T_Trade_Info",
                {{"TradeID", i + 1}, {"AccountID", acc}, {"FundID", fund}, {"TradeType", redeem ? 1 : 0},
                 {"TradeCount", static_cast<double>(count) / 100}, {"TradeMoney", static_cast<double>(money) / 100},
                 {"TradeTime", OleDate::FromParts(2020, 1, 1).AddDays(i / 20)}, {"TradeState", 1}, {"BuyType", 0}}));
        }
        ASSERT_TRUE(trans.Commit());
    }
    ASSERT_TRUE(manager.LoadHoldings(acc));
    for (const FundTradeInfo& h : manager.FindAccount(acc)->holdings) {
        TradeInfo t;
        t.AccountID = acc;
        t.FundID = h.FundID;
        ASSERT_TRUE(manager.RecomputeHolding(t, false)) << manager.GetLastErrorText();
    }
    ASSERT_TRUE(manager.RefreshAccount(acc));

    long long value = 0, paid = 0;  // value in 0.000001 yuan
    for (auto& [fund, c] : cents) {
        value += c * navUnits[fund];
        paid += principal[fund];
        EXPECT_EQ(StrFormat("%0.2f", Held(acc, fund)), StrFormat("%lld.%02lld", c / 100, c % 100)) << fund;
    }
    const long long valueCents = (value + 5000) / 10000;
    const AccountInfo& a = *manager.FindAccount(acc);
    EXPECT_EQ(StrFormat("%0.2f", a.MarketValue), StrFormat("%lld.%02lld", valueCents / 100, valueCents % 100));
    EXPECT_EQ(StrFormat("%0.2f", a.TotalPrincipal), StrFormat("%lld.%02lld", paid / 100, paid % 100));
}

// The average cost walks the trades once with the running average, whatever
// the stored cost values say, and a settled state writes nothing.
TEST_F(BookTest, AverageCostsSettleInOnePass)
{
    int acc = NewAccount("A");
    auto buy = [&](double money, double nav, int day) {
        services.nav["000001"] = nav;
        TradeInfo t = Purchase(acc, "000001", money, 0, OleDate::FromParts(2024, 6, day, 10));
        EXPECT_EQ(manager.BookTrade(t), 0) << manager.GetLastErrorText();
        return t;
    };
    auto redeem = [&](double count, int day) {
        TradeInfo t;
        t.AccountID = acc;
        t.FundID = "000001";
        t.TradeType = kTradeRedeem;
        t.TradeCount = count;
        t.TradeTime = OleDate::FromParts(2024, 6, day, 10);
        EXPECT_EQ(manager.BookTrade(t), 0) << manager.GetLastErrorText();
    };
    TradeInfo first = buy(1000, 1.0, 3);  // 1000 shares, average 1
    buy(1200, 1.2, 4);                    // 2000 shares for 2200: 1.1
    redeem(500, 5);                       // 1500 shares for 1650: 1.1
    buy(1000, 1.25, 6);                   // 2300 shares for 2650
    redeem(300, 7);                       // 2000 shares, average unchanged
    auto average = [&] {
        double avg = 0;
        db.QueryDouble("SELECT TradeValue FROM T_Fund_Trade", avg);
        return avg;
    };
    EXPECT_NEAR(average(), 2650.0 / 2300.0, 1e-8);

    // From cost values all 0 (a download or import): one pass gives the final figures.
    ASSERT_TRUE(db.Execute("UPDATE T_Trade_Info SET CostValue=0"));
    ASSERT_TRUE(db.Execute("UPDATE T_Fund_Trade SET TradeValue=0"));
    ASSERT_TRUE(manager.RefreshAccount(acc));
    ASSERT_TRUE(manager.LoadHoldings(acc));
    ASSERT_TRUE(manager.RecomputeCostValues());
    EXPECT_NEAR(average(), 2650.0 / 2300.0, 1e-8);
    double redeemedAt = 0;
    db.QueryDouble("SELECT CostValue FROM T_Trade_Info WHERE TradeType=1 ORDER BY TradeID", redeemedAt);
    EXPECT_NEAR(redeemedAt, 1.1, 1e-8);
    ASSERT_TRUE(manager.RefreshAccount(acc));
    const int before = sqlite3_total_changes(db.Handle());
    ASSERT_TRUE(manager.RecomputeCostValues());
    EXPECT_EQ(sqlite3_total_changes(db.Handle()), before);

    // The first purchase edited to 1100 yuan: 1.1, then 2300/2000 = 1.15, the
    // redemption takes 575, and the last purchase gives 2725 / 2300.
    TradeInfo edited = first;
    edited.TradeMoney = 1100;
    ASSERT_TRUE(manager.EditTrade(edited)) << manager.GetLastErrorText();
    EXPECT_NEAR(average(), 2725.0 / 2300.0, 1e-8);
}
