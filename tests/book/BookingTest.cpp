#include <sqlite3.h>

#include <map>

#include "common/Format.h"
#include "BookFixture.h"

using namespace vextal;
using vextal::test::BookTest;

TEST_F(BookTest, PurchaseSharesAndFeesFollowTheDeductionRules)
{
    int acc = NewAccount("A");
    OleDate when = OleDate::FromParts(2024, 6, 3, 10);
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
    // (A fee in yuan is booked through the form: FormsHandTheEngineWhatItBooks.)

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
    EXPECT_EQ(manager.FindAccount(acc)->FundCount, 4);
    EXPECT_EQ(HoldingDisplayName("华夏成长", kBackEnd), "华夏成长后端");
}

TEST_F(BookTest, ChecksRefuseInOrderAndLeaveNothingBehind)
{
    int acc = NewAccount("A");
    const TradeInfo t = Purchase(acc, "000001", 1000, 1.5, OleDate::FromParts(2024, 6, 3, 10));
    const struct {
        void (*spoil)(TradeInfo&);
        const char* refusal;
    } cases[] = {{[](TradeInfo& x) { x.AccountID = 99; }, "非法的基金帐户"},
                 {[](TradeInfo& x) { x.TradeTime = Clock::Now().AddDays(1); }, "交易时间不能大于当前时间"},
                 {[](TradeInfo& x) { x.TradeMoney = 0; }, "非法的交易金额"},
                 {[](TradeInfo& x) { x.TradeType = 42; }, "非法的交易类型"}};
    for (const auto& c : cases) {
        TradeInfo bad = t;
        c.spoil(bad);
        EXPECT_EQ(manager.BookTrade(bad), -1) << c.refusal;
        EXPECT_EQ(manager.GetLastErrorText(), c.refusal);
    }

    // A conversion whose incoming leg fails books neither leg (a failed
    // purchase leaving nothing runs against the real service).
    TradeInfo buy = t;
    ASSERT_EQ(manager.BookTrade(buy), 0);
    services.failingFunds.insert("000002");
    TradeInfo conv = Trade(acc, "000001", kTradeConvert, 0, 100, OleDate::FromParts(2024, 6, 10, 10));
    conv.TargetFundID = "000002";
    EXPECT_EQ(manager.BookTrade(conv), -1);
    EXPECT_EQ(Count("SELECT * FROM T_Trade_Info"), 1);
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 821.02);

    // A negative share count is refused before any statement runs, for a
    // redemption, a conversion and the share update itself.
    services.failingFunds.clear();
    const int changes = sqlite3_total_changes(db.Handle());
    TradeInfo negative = conv;
    negative.TradeCount = -5;
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
    // 10 days before the establishment, before and after the afternoon's close.
    for (auto [hour, minute, interest] : {std::tuple{10, 0, "4.93"}, std::tuple{15, 0, "4.93"}, std::tuple{15, 1, "4.38"},
                                          std::tuple{16, 0, "4.38"}, std::tuple{16, 30, "4.38"}}) {
        TradeInfo t = Trade(acc, "000001", kTradeSubscribe, 10000, 0, OleDate::FromParts(2024, 6, 3, hour, minute));
        t.TradeFee = 1.0;
        t.SecondRate = 2.0;
        t.NoAutoBonus = 1;
        ASSERT_EQ(manager.BookTrade(t), 0) << manager.GetLastErrorText();
        const double booked =
            Number(StrFormat("SELECT TradeMoney FROM T_Trade_Info WHERE TradeType=11 AND TradeID=%d", t.TradeID - 1));
        EXPECT_EQ(StrFormat("%0.2f", booked), interest) << hour << ":" << minute;
        // Shares are the interest plus the net amount, all at 1.0.
        EXPECT_EQ(StrFormat("%0.2f", t.TradeCount), StrFormat("%0.2f", NumberOr(interest, 0) + 10000 * 100 / 101.0));
        EXPECT_DOUBLE_EQ(t.TradeValue, 1.0);
    }
}

TEST_F(BookTest, RedemptionsSplitsAndReplay)
{
    int acc = NewAccount("A");
    services.nav["000001"] = 1.0;
    TradeInfo buy = Purchase(acc, "000001", 100, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0);
    TradeInfo split = Trade(acc, "000001", kTradeSplit, 0, 200, OleDate::FromParts(2024, 6, 4, 10));
    split.TradeValue = 2.0;  // ratio
    ASSERT_EQ(manager.BookTrade(split), 0) << manager.GetLastErrorText();
    EXPECT_DOUBLE_EQ(Number(StrFormat("SELECT TradeValue FROM T_Trade_Info WHERE TradeID=%d", split.TradeID)), 2.0);
    TradeInfo buy2 = Purchase(acc, "000001", 50, 0, OleDate::FromParts(2024, 6, 5, 10));
    ASSERT_EQ(manager.BookTrade(buy2), 0);
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 250.0);
    TradeInfo redeem = Trade(acc, "000001", kTradeRedeem, 0, 30, OleDate::FromParts(2024, 6, 6, 10));
    redeem.TradeFee = 0.5;
    ASSERT_EQ(manager.BookTrade(redeem), 0);
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 220.0);
    EXPECT_DOUBLE_EQ(redeem.TradeMoney, 29.85);  // 30 x 1.0 less 0.5 %

    // Rebuilding the holding from its trades gives the same count.
    ASSERT_TRUE(db.Execute("UPDATE T_Fund_Trade SET TotalCount=0,FreeCount=0"));
    ASSERT_TRUE(manager.RecomputeHolding(buy, false));
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 220.0);

    // Redeeming more than held empties the holding exactly; then there is
    // nothing to redeem, nor to split, in this fund or in one never bought.
    TradeInfo all = Trade(acc, "000001", kTradeRedeem, 0, 1e6, OleDate::FromParts(2024, 6, 7, 10));
    ASSERT_EQ(manager.BookTrade(all), 0);
    EXPECT_DOUBLE_EQ(all.TradeCount, 220.0);
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 0.0);
    all.TradeTime = OleDate::FromParts(2024, 6, 10, 10);
    EXPECT_EQ(manager.BookTrade(all), -1);
    EXPECT_EQ(manager.GetLastErrorText(), "非法的交易份数");
    for (const char* fund : {"000001", "000002"}) {
        TradeInfo none = split;
        none.FundID = fund;
        none.TradeTime = OleDate::FromParts(2024, 6, 11, 10);
        EXPECT_EQ(manager.BookTrade(none), -1) << fund;
        EXPECT_EQ(manager.GetLastErrorText(), "非法的交易份数");
    }
    EXPECT_EQ(Count("SELECT * FROM T_Trade_Info WHERE TradeType=14"), 1);
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
    EXPECT_EQ(StrFormat("%0.2f", Number(StrFormat("SELECT TradeMoney FROM T_Trade_Info WHERE TradeID=%d", odd.TradeID))),
              "2345678.91");
    EXPECT_EQ(StrFormat("%0.2f", manager.FindAccount(acc)->trades.at(odd.TradeID).TradeMoney), "2345678.91");
}

// 18,000 trades over 200 funds: the account's market value and principal
// against a replay in integer cents and NAV units of 0.0001.
TEST_F(BookTest, AccountOfManyTradesAgreesWithAnExactReplay)
{
    int acc = NewAccount("A");
    std::map<std::string, long long> cents, principal, navUnits;
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
            funds.SetLatest(fund, static_cast<double>(navUnits[fund]) / 10000.0);
            ASSERT_TRUE(db.InsertRecord("T_Fund_Trade", {{"AccountID", acc}, {"FundID", fund}, {"BuyType", 0},
                                                         {"TotalCount", 0.0}, {"FreeCount", 0.0}}));
        }
        for (int i = 0; i < 18000; ++i) {
            std::string fund = StrFormat("%06d", 300000 + i % 200);
            const bool redeem = i >= 200 && next(4) == 0;
            long long count = redeem ? static_cast<long long>(next(static_cast<unsigned>(cents[fund] / 3 + 1)))
                                     : 1000000 + next(90000000);  // 10,000.00 .. 910,000.00 shares
            long long money = redeem ? count : count + next(100000);
            cents[fund] += redeem ? -count : count;
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
    for (const FundTradeInfo& h : manager.FindAccount(acc)->holdings)
        ASSERT_TRUE(manager.RecomputeHolding(Trade(acc, h.FundID, 0, 0, 0, {}), false)) << manager.GetLastErrorText();
    ASSERT_TRUE(manager.RefreshAccount(acc));

    long long value = 0, paid = 0;  // value in 0.000001 yuan
    auto yuan = [](long long c) { return StrFormat("%lld.%02lld", c / 100, c % 100); };
    for (auto& [fund, c] : cents) {
        value += c * navUnits[fund];
        paid += principal[fund];
        EXPECT_EQ(StrFormat("%0.2f", Held(acc, fund)), yuan(c)) << fund;
    }
    const AccountInfo& a = *manager.FindAccount(acc);
    EXPECT_EQ(StrFormat("%0.2f", a.MarketValue), yuan((value + 5000) / 10000));
    EXPECT_EQ(StrFormat("%0.2f", a.TotalPrincipal), yuan(paid));
}

// The average cost walks the trades once with the running average, whatever
// the stored cost values say, and a settled state writes nothing; edits and
// deletions rebuild counts, costs and sums.
TEST_F(BookTest, AverageCostsSettleInOnePass)
{
    int acc = NewAccount("A");
    auto book = [&](TradeInfo t, double nav) {
        services.nav["000001"] = nav;
        EXPECT_EQ(manager.BookTrade(t), 0) << manager.GetLastErrorText();
        return t;
    };
    auto day = [](int d) { return OleDate::FromParts(2024, 6, d, 10); };
    TradeInfo first = book(Purchase(acc, "000001", 1000, 0, day(3)), 1.0);  // 1000 shares, average 1
    book(Purchase(acc, "000001", 1200, 0, day(4)), 1.2);                    // 2000 shares for 2200: 1.1
    book(Trade(acc, "000001", kTradeRedeem, 0, 500, day(5)), 1.2);          // 1500 shares for 1650: 1.1
    book(Purchase(acc, "000001", 1000, 0, day(6)), 1.25);                   // 2300 shares for 2650
    book(Trade(acc, "000001", kTradeRedeem, 0, 300, day(7)), 1.25);         // 2000 shares, average unchanged
    auto column = [&](const char* name) { return Number(StrFormat("SELECT %s FROM T_Fund_Trade", name)); };
    EXPECT_NEAR(column("TradeValue"), 2650.0 / 2300.0, 1e-8);

    // From cost values all 0 (a download or import): one pass gives the final figures.
    ASSERT_TRUE(db.Execute("UPDATE T_Trade_Info SET CostValue=0"));
    ASSERT_TRUE(db.Execute("UPDATE T_Fund_Trade SET TradeValue=0"));
    ASSERT_TRUE(manager.RefreshAccount(acc));
    ASSERT_TRUE(manager.LoadHoldings(acc));
    ASSERT_TRUE(manager.RecomputeCostValues());
    EXPECT_NEAR(column("TradeValue"), 2650.0 / 2300.0, 1e-8);
    EXPECT_NEAR(Number("SELECT CostValue FROM T_Trade_Info WHERE TradeType=1 ORDER BY TradeID"), 1.1, 1e-8);
    ASSERT_TRUE(manager.RefreshAccount(acc));
    const int before = sqlite3_total_changes(db.Handle());
    ASSERT_TRUE(manager.RecomputeCostValues());
    EXPECT_EQ(sqlite3_total_changes(db.Handle()), before);

    // The first purchase edited to 1100 yuan: 1.1, then 2300/2000 = 1.15, the
    // redemption takes 575, and the last purchase gives 2725 / 2300.
    TradeInfo edited = first;
    edited.TradeMoney = 1100;
    ASSERT_TRUE(manager.EditTrade(edited)) << manager.GetLastErrorText();
    EXPECT_NEAR(column("TradeValue"), 2725.0 / 2300.0, 1e-8);

    // A reinvested dividend by hand: 100 shares at 1.0 and its bonus; its
    // deletion and the first purchase's count edited rebuild both.
    TradeInfo bonus = Trade(acc, "000001", kTradeBonusReinvest, 100, 0, day(8));
    services.nav["000001"] = 1.0;
    ASSERT_EQ(manager.ManualDividend(bonus), 0) << manager.GetLastErrorText();
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 2100.0);
    EXPECT_NEAR(column("TradeValue"), 2725.0 / 2300.0 * 2000 / 2100, 1e-8);  // the shares cost nothing
    EXPECT_DOUBLE_EQ(column("TotalBonus"), 100.0);
    edited.TradeCount = 900;
    ASSERT_TRUE(manager.EditTrade(edited));
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 2000.0);
    ASSERT_TRUE(manager.DeleteTrade(bonus));
    EXPECT_DOUBLE_EQ(Held(acc, "000001"), 1900.0);
    EXPECT_DOUBLE_EQ(column("TotalBonus"), 0.0);
}
