// Rules of a holding's life: emptied and bought again, money-market income
// and value, dividends booked by hand.
#include "BookFixture.h"

using namespace vextal;
using vextal::test::BookTest;

namespace {
DividendItem Dividend(double perShare, const OleDate& date) { return {perShare, date, date, date}; }

class HoldingRules : public BookTest {
protected:
    std::string CashBonus() { return StrFormat("%0.2f", Number("SELECT CashBonus FROM T_Fund_Trade")); }
    // A later run's first load, which applies the dividends still due.
    void LoadAgain()
    {
        CAccountManager next;
        next.Init(db, kUser, false, &services, &funds);
        ASSERT_TRUE(next.LoadAccounts(kUser));
    }
};
}  // namespace

TEST_F(HoldingRules, AnEmptiedHoldingBoughtAgainEarnsDividendsFromThatPurchase)
{
    int acc = NewAccount("A");
    services.nav["000001"] = 1.0;
    TradeInfo buy = Purchase(acc, "000001", 1000, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0);
    TradeInfo out = Trade(acc, "000001", kTradeRedeem, 0, 1000, OleDate::FromParts(2024, 6, 4, 10));
    ASSERT_EQ(manager.BookTrade(out), 0);
    // A dividend while nothing was held, then the fund is bought again.
    services.dividends["000001"] = {Dividend(0.2, OleDate::FromParts(2024, 6, 6))};
    TradeInfo again = Purchase(acc, "000001", 1000, 0, OleDate::FromParts(2024, 6, 10, 10));
    ASSERT_EQ(manager.BookTrade(again), 0);

    LoadAgain();
    EXPECT_EQ(Count("SELECT * FROM T_Trade_Info WHERE TradeType=7"), 0);
}

TEST_F(HoldingRules, MoneyMarketIncomeOnlyGrowsAndAUnitIsWorthOne)
{
    int acc = NewAccount("A");
    services.nav["000009"] = 1.0;
    services.incomePer10kPerDay = 1.0;
    funds.SetLatest("000009", 0.6);  // income per 10,000 units, not a price
    TradeInfo buy = Purchase(acc, "000009", 10000, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0);
    EXPECT_EQ(CashBonus(), "11.00");  // 11 days on 10,000 units
    EXPECT_EQ(StrFormat("%0.2f", manager.FindAccount(acc)->MarketValue), "10000.00");

    // A top-up six days later adds the income since. An edit or a deletion
    // rebuilds the counts from the trades, and a full redemption: each keeps
    // the income the service reported.
    Clock::Fix(OleDate::FromParts(2024, 6, 20, 20, 0));
    TradeInfo more = Purchase(acc, "000009", 100, 0, OleDate::FromParts(2024, 6, 20, 10));
    ASSERT_EQ(manager.BookTrade(more), 0);
    EXPECT_EQ(CashBonus(), "17.06");
    TradeInfo edited = manager.FindAccount(acc)->trades.at(buy.TradeID);
    edited.TradeMoney = 10001;
    ASSERT_TRUE(manager.EditTrade(edited));
    EXPECT_EQ(CashBonus(), "17.06");
    ASSERT_TRUE(manager.DeleteTrade(manager.FindAccount(acc)->trades.at(more.TradeID)));
    EXPECT_EQ(CashBonus(), "17.06");
    Clock::Fix(OleDate::FromParts(2024, 6, 21, 20, 0));
    TradeInfo out = Trade(acc, "000009", kTradeRedeem, 0, 10001, OleDate::FromParts(2024, 6, 21, 10));
    ASSERT_EQ(manager.BookTrade(out), 0);
    EXPECT_EQ(CashBonus(), "17.06");
}

TEST_F(HoldingRules, ADividendBookedByHandCountsAsApplied)
{
    int acc = NewAccount("A");
    services.nav["000001"] = 1.0;
    TradeInfo buy = Purchase(acc, "000001", 1000, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(buy), 0);  // no automatic dividends for this booking
    services.dividends["000001"] = {Dividend(0.1, OleDate::FromParts(2024, 6, 5))};
    TradeInfo hand = Trade(acc, "000001", kTradeCashBonus, 100, 0, OleDate::FromParts(2024, 6, 5, 9));
    ASSERT_EQ(manager.ManualDividend(hand), 0) << manager.GetLastErrorText();

    LoadAgain();
    EXPECT_EQ(CashBonus(), "100.00");
}
