// Bookings against the real plindo-serve: the confirming NAV on both sides
// of 15:00, and the dividends that fell after a purchase, in cash and
// reinvested, with the LastBonus rule and a failed NAV question retried.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "MarketSimulator.h"
#include "book/AccountManager.h"
#include "book/BookServiceClient.h"
#include "book/Income.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/HttpTransport.h"
#include "support/BookHome.h"
#include "support/ServeFixture.h"

namespace vextal {
namespace {

int Day(int y, int m, int d) { return DayNumber(OleDate::FromParts(y, m, d)); }
OleDate At(int y, int m, int d, int h = 0, int mi = 0) { return OleDate::FromParts(y, m, d, h, mi, 0); }

// Wednesday evening after the National Day week: that day's NAVs are out.
const OleDate kNow = At(2024, 10, 9, 21, 0);

class ServiceBooking : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::UseDirectHttp();
        // Through a script that keeps the service's request log (one line
        // per request on stderr), so tests can count what the program asks.
        char tmpl[] = "/tmp/vextal-svclog-XXXXXX";
        const std::string dir = mkdtemp(tmpl);
        s_log = dir + "/requests.log";
        const std::string script = dir + "/serve.sh";
        std::ofstream(script) << "#!/bin/sh\nexec '" << PLINDO_SERVE_PATH << "' \"$@\" 2>>'" << s_log << "'\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        s_service = new test::RealService({11, 300, "2024-10-09 21:00:00", {}, false, script});
        s_market = &test::SimulatedMarket(11, 300);
    }
    static void TearDownTestSuite()
    {
        delete s_service;
        std::filesystem::remove_all(std::filesystem::path(s_log).parent_path());
    }

    void SetUp() override
    {
        VEXTAL_ASSERT_STARTED(s_service);
        Clock::Fix(kNow);
        ctx_ = s_service->Login();
        ASSERT_FALSE(ctx_.loginId.empty());
        home_ = std::make_unique<test::BookHome>(1, services_.get(), &directory_);
        account_ = home_->NewAccount("测试帐户", kNow);
    }
    void TearDown() override { Clock::Release(); }

    // A listed equity fund with at least two dividends between the two days and no split.
    static const SimFund& FundWithDividends(int from, int to)
    {
        return test::EstablishedFund(*s_market, [from, to](const SimFund& f) {
            return f.HoldsStocks() && s_market->Splits(f, kNow).empty() && s_market->Dividends(f, kNow, from, to).size() >= 2;
        });
    }
    // The NAV as the wire carries it (four decimals).
    static double NavOn(const SimFund& f, int day)
    {
        return NumberOr(StrFormat("%0.4f", s_market->Published(f, kNow, day, day).at(0).nav), 0);
    }

    TradeInfo Purchase(const std::string& fund, double money, const OleDate& when, int bonusType)
    {
        TradeInfo t = test::MakeTrade(account_, fund, kTradeBuy, money, 0, when);
        t.TradeFee = 1.5;
        t.BonusType = bonusType;
        return t;
    }

    // Request lines the service has logged so far.
    static std::vector<std::string> LoggedRequests()
    {
        std::vector<std::string> lines;
        std::ifstream in(s_log);
        for (std::string line; std::getline(in, line);)
            if (line.find(" /") != std::string::npos) lines.push_back(line);
        return lines;
    }

    static inline test::RealService* s_service = nullptr;
    static inline const CMarketSimulator* s_market = nullptr;
    static std::string s_log;
    CommandContext ctx_;
    test::SimDirectory directory_{*s_market};
    std::unique_ptr<test::FlakyPrices> services_ = std::make_unique<test::FlakyPrices>([this] { return ctx_; });
    std::unique_ptr<test::BookHome> home_;
    CAdoDatabase& db() { return home_->db; }
    CAccountManager& manager() { return home_->manager; }
    int account_ = 0;
};
std::string ServiceBooking::s_log;

TEST_F(ServiceBooking, PurchaseTakesTheConfirmingNavAroundThreeOClock)
{
    const SimFund& f = FundWithDividends(Day(2023, 1, 1), Day(2024, 10, 9));
    for (auto [hour, minute, dealDay] : {std::tuple{14, 59, Day(2024, 9, 27)}, std::tuple{15, 0, Day(2024, 9, 30)}}) {
        TradeInfo t = Purchase(f.code, 1000, At(2024, 9, 27, hour, minute), kBonusCash);
        t.NoAutoBonus = 1;
        ASSERT_EQ(manager().BookTrade(t), 0) << manager().GetLastErrorText();
        EXPECT_EQ(t.DealTime.Format(1), DateOfDay(dealDay).Format(1));
        const double nav = NavOn(f, dealDay);
        EXPECT_EQ(StrFormat("%0.4f", t.TradeValue), StrFormat("%0.4f", nav));
        // 1000 yuan at 1.5 % outer deduction at that NAV.
        EXPECT_EQ(StrFormat("%0.2f", t.TradeCount),
                  StrFormat("%0.2f", Round2(1000 * 100 / 101.5 / nav)));
    }
    // A trade whose NAV is not published yet is refused with the service's text and leaves nothing.
    TradeInfo late = Purchase(f.code, 1000, At(2024, 10, 9, 15, 30), kBonusCash);
    EXPECT_EQ(manager().BookTrade(late), -1);
    EXPECT_NE(manager().GetLastErrorText().find("尚未公布"), std::string::npos) << manager().GetLastErrorText();
    EXPECT_EQ(db().GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeState=0"), 0);
    EXPECT_EQ(db().GetRecordCount("SELECT * FROM T_Trade_Info"), 2);

    manager().SetOffline(true);
    EXPECT_EQ(manager().BookTrade(late), -1);
    EXPECT_EQ(manager().GetLastErrorText(), "此功能在脱机模式下不可用");
}

// Bought after 15:00 on the day before an ex-day, the shares are confirmed
// at the ex-day's NAV, which no longer holds the dividend: none is booked.
TEST_F(ServiceBooking, APurchaseConfirmedOnTheExDayGetsNoDividendOfIt)
{
    const SimFund& f = FundWithDividends(Day(2023, 1, 1), Day(2024, 10, 9));
    const SimDividend last = s_market->Dividends(f, kNow, Day(2023, 1, 1), Day(2024, 10, 9)).back();
    const OleDate before = DateOfDay(s_market->Calendar().PrevTradingDay(last.exDay));
    TradeInfo t = Purchase(f.code, 10000, before.AddSeconds(15.5 * 3600), kBonusCash);
    ASSERT_EQ(manager().BookTrade(t), 0) << manager().GetLastErrorText();
    EXPECT_EQ(t.DealTime.Format(1), DateOfDay(last.exDay).Format(1));
    EXPECT_EQ(db().GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeType=7"), 0);
}

// Before its first NAV a fund has no price: the service answers 1.0 for
// any such day (subscriptions are made at par), which only a subscription may take.
TEST_F(ServiceBooking, NoTradeIsPricedBeforeTheFundsFirstNav)
{
    const SimFund* young = nullptr;
    for (const SimFund& f : s_market->Funds())
        if (!f.IsMoneyMarket() && !f.withdrawDay && f.createDay > Day(2016, 1, 1) && f.createDay < Day(2024, 1, 1)) {
            young = &f;
            break;
        }
    ASSERT_NE(young, nullptr);
    const OleDate before = DateOfDay(young->createDay).AddDays(-400).AddSeconds(10 * 3600);
    double nav = 0;
    OleDate deal;
    std::string error;
    ASSERT_TRUE(services_->GetFundTradeValue(young->code, before, nav, deal, error)) << error;
    EXPECT_EQ(nav, 1.0);  // what a booking must not take as the fund's price

    const std::string refusal =
        StrFormat("基金%s在%s之前没有净值", young->code.c_str(), DateOfDay(young->createDay).Format(1).c_str());
    TradeInfo quick = test::MakeTrade(account_, young->code, kTradeQuick, 0, 100, before);
    TradeInfo buy = Purchase(young->code, 1000, before, kBonusCash);
    for (TradeInfo* t : {&quick, &buy}) {
        EXPECT_EQ(manager().BookTrade(*t), -1);
        EXPECT_EQ(manager().GetLastErrorText(), refusal);
    }
    EXPECT_EQ(home_->Count("SELECT * FROM T_Trade_Info"), 0);
    TradeInfo sub = Purchase(young->code, 1000, before, kBonusCash);
    sub.TradeType = kTradeSubscribe;
    sub.NoAutoBonus = 1;
    ASSERT_EQ(manager().BookTrade(sub), 0) << manager().GetLastErrorText();
    EXPECT_EQ(sub.TradeValue, 1.0);
}

TEST_F(ServiceBooking, DividendsAfterAPurchaseAreBookedInCashOrShares)
{
    const int from = Day(2023, 1, 1), to = Day(2024, 10, 9);
    const SimFund& f = FundWithDividends(from, to);
    std::vector<SimDividend> due = s_market->Dividends(f, kNow, from, to);
    // Buy on a trading day just after `from`, in cash mode, letting the booking apply the dividends.
    TradeInfo cash = Purchase(f.code, 10000, DateOfDay(from).AddDays(5).AddSeconds(10 * 3600), kBonusCash);
    ASSERT_EQ(manager().BookTrade(cash), 0) << manager().GetLastErrorText();
    std::vector<SimDividend> after;
    for (const SimDividend& d : due)
        if (DateOfDay(d.exDay) > cash.TradeTime) after.push_back(d);
    ASSERT_GE(after.size(), 1u);
    ASSERT_EQ(db().GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeType=7"), static_cast<int>(after.size()));
    double expected = 0;
    for (const SimDividend& d : after) expected += Round2(cash.TradeCount * static_cast<double>(d.perUnit));
    double cashBonus = 0;
    db().QueryDouble("SELECT CashBonus FROM T_Fund_Trade WHERE BuyType=0", cashBonus);
    EXPECT_NEAR(cashBonus, expected, 0.011);
    // A new holding is covered up to its last dividend: LastBonus moves there.
    OleDate lastBonus;
    db().QueryDate("SELECT LastBonus FROM T_Fund_Trade WHERE BuyType=0", lastBonus);
    EXPECT_EQ(lastBonus.Format(1), DateOfDay(after.back().exDay).Format(1));

    // Back-end, reinvested, while the NAV of the first ex-day cannot be had:
    // the purchase is booked with the service's word, the series stops there.
    TradeInfo reinvest = Purchase(f.code, 10000, cash.TradeTime, kBonusReinvest);
    reinvest.BuyType = kBackEnd;
    services_->failDay = DateOfDay(after.front().exDay);
    ASSERT_EQ(manager().BookTrade(reinvest), CAccountManager::kBookedWithWarning) << manager().GetLastErrorText();
    EXPECT_NE(manager().GetLastWarningText().find("没有找到净值"), std::string::npos) << manager().GetLastWarningText();
    EXPECT_EQ(db().GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeType=6"), 0);
    services_->failDay = OleDate();

    // The first account load of a run applies what is still due from LastBonus
    // on: nothing is booked twice, and LastBonus moves to the last dividend.
    CAccountManager again;
    again.Init(db(), 1, false, services_.get(), &directory_);
    ASSERT_TRUE(again.LoadAccounts(1));
    EXPECT_EQ(db().GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeType=7"), static_cast<int>(after.size()));
    for (int buyType : {0, 1}) {
        db().QueryDate(StrFormat("SELECT LastBonus FROM T_Fund_Trade WHERE BuyType=%d", buyType), lastBonus);
        EXPECT_EQ(lastBonus.Format(1), DateOfDay(after.back().exDay).Format(1)) << buyType;
    }
    // Each reinvested dividend bought shares at the NAV of its ex-day.
    double shares = reinvest.TradeCount;
    RecordsetPtr rs = db().OpenRecordsetEx("SELECT * FROM T_Trade_Info WHERE TradeType=6 ORDER BY TradeTime");
    ASSERT_TRUE(rs);
    ASSERT_EQ(rs->RowCount(), after.size());
    for (const SimDividend& d : after) {
        double money = 0, count = 0;
        db().GetFieldValue(rs, "TradeMoney", money);
        db().GetFieldValue(rs, "TradeCount", count);
        EXPECT_EQ(StrFormat("%0.2f", money), StrFormat("%0.2f", Round2(shares * static_cast<double>(d.perUnit))));
        EXPECT_EQ(StrFormat("%0.2f", count), StrFormat("%0.2f", Round2(money / NavOn(f, d.exDay))));
        shares += count;
        rs->MoveNext();
    }
    double held = 0;
    db().QueryDouble("SELECT TotalCount FROM T_Fund_Trade WHERE BuyType=1", held);
    EXPECT_DOUBLE_EQ(held, shares);
}

// A mixed mode: cash up to a day between two dividends, reinvested from the
// next; each dividend is paid as its day's range says.
TEST_F(ServiceBooking, MixedModeRangesDecideEachDividend)
{
    const SimFund& f = FundWithDividends(Day(2023, 1, 1), Day(2024, 10, 9));
    TradeInfo buy = Purchase(f.code, 10000, At(2023, 1, 3, 10), kBonusMixed);
    buy.NoAutoBonus = 1;
    ASSERT_EQ(manager().BookTrade(buy), 0) << manager().GetLastErrorText();
    std::vector<SimDividend> after;
    for (const SimDividend& d : s_market->Dividends(f, kNow, Day(2023, 1, 1), Day(2024, 10, 9)))
        if (DateOfDay(d.exDay) > buy.DealTime) after.push_back(d);
    ASSERT_GE(after.size(), 2u);
    const int middle = (after[0].exDay + after[1].exDay) / 2;

    ASSERT_TRUE(manager().LoadUserBonus());
    UserBonusInfo cash;
    cash.AccountID = account_;
    cash.FundID = f.code;
    cash.DateState = 1;  // no start
    cash.EndDate = DateOfDay(middle);
    cash.BonusType = kBonusCash;
    UserBonusInfo reinvest = cash;
    reinvest.DateState = 2;  // no end
    reinvest.StartDate = DateOfDay(middle + 1);
    reinvest.BonusType = kBonusReinvest;
    ASSERT_TRUE(manager().SaveUserBonus(cash)) << manager().GetLastErrorText();
    EXPECT_FALSE(manager().IsRangeOverlapping(reinvest));
    ASSERT_TRUE(manager().SaveUserBonus(reinvest)) << manager().GetLastErrorText();
    UserBonusInfo touching = reinvest;  // shares the second range's first day
    touching.BonusID = 0;
    touching.DateState = 0;
    touching.StartDate = DateOfDay(after[0].exDay);
    touching.EndDate = reinvest.StartDate;
    EXPECT_TRUE(manager().IsRangeOverlapping(touching));
    int mode = 99;
    EXPECT_TRUE(manager().GetBonusTypeForDate(HoldingKey::Of(buy), DateOfDay(middle).AddSeconds(14 * 3600), mode));
    EXPECT_EQ(mode, kBonusCash);

    ASSERT_TRUE(manager().ApplyDividends(buy, false, false)) << manager().GetLastErrorText();
    EXPECT_EQ(db().GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeType=7"), 1);
    EXPECT_EQ(db().GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeType=6"), static_cast<int>(after.size()) - 1);
    double paid = 0;
    db().QueryDouble("SELECT CashBonus FROM T_Fund_Trade", paid);
    EXPECT_EQ(StrFormat("%0.2f", paid), StrFormat("%0.2f", Round2(buy.TradeCount * after[0].perUnit)));
}

// The first account load after login with 200 holdings, 10 of them
// money-market, as the document runs it (accounts with their dividends, then
// the holdings): one dividend query per other holding, one income query per
// money-market holding, the plan list, nothing else.
TEST_F(ServiceBooking, FirstAccountLoadAsksEachThingOnce)
{
    std::vector<std::string> money, others;
    for (const SimFund& f : s_market->Funds()) {
        if (f.withdrawDay || f.createDay > Day(2024, 9, 1)) continue;
        std::vector<std::string>& list = f.IsMoneyMarket() ? money : others;
        if (list.size() < (&list == &money ? 10u : 190u)) list.push_back(f.code);
    }
    ASSERT_EQ(money.size(), 10u);
    ASSERT_EQ(others.size(), 190u);
    {
        CAdoTransaction trans(db());
        for (const std::vector<std::string>* list : {&money, &others})
            for (const std::string& code : *list)
                ASSERT_TRUE(db().InsertRecord("T_Fund_Trade", {{"AccountID", account_}, {"FundID", code}, {"BuyType", 0},
                                                              {"TotalCount", 1000.0}, {"FreeCount", 1000.0},
                                                              {"BonusType", kBonusCash},
                                                              {"LastBonus", At(2024, 9, 2)}, {"LastTrade", At(2024, 9, 2)}}));
        ASSERT_TRUE(trans.Commit());
    }
    const size_t before = LoggedRequests().size();
    CAccountManager login;
    login.Init(db(), 1, false, services_.get(), &directory_);
    ASSERT_TRUE(login.LoadAccounts(1));
    ASSERT_TRUE(login.LoadHoldings(0));
    // The service logs a request after answering it: wait until the log is quiet.
    std::vector<std::string> sent = LoggedRequests();
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<std::string> now = LoggedRequests();
        if (now.size() == sent.size()) break;
        sent = std::move(now);
    }
    sent.erase(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(before));
    // One question per holding, and the fixed-investment plans once.
    EXPECT_EQ(sent.size(), 201u);
    // Dividends were booked, so the load did more than ask.
    EXPECT_GT(db().GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeType=7"), 0);
    for (const std::string& code : money) {
        const FundTradeInfo* h = login.FindHolding({account_, code, 0});
        ASSERT_NE(h, nullptr);
        EXPECT_GT(h->CashBonus, 0) << code;  // the income arrived
    }
}

// The trade income list of a purchase, with the service's interval figures
// (2/23): for a fund without dividends in between, the service's growth is
// the list's own interval return.
TEST_F(ServiceBooking, TradeIncomeListWithTheServiceIntervalFigures)
{
    const int buyDay = Day(2024, 9, 2), today = Day(2024, 10, 9);
    const SimFund* fund = &test::EstablishedFund(*s_market, [&](const SimFund& f) {
        return f.HoldsStocks() && s_market->Splits(f, kNow).empty() && s_market->Dividends(f, kNow, buyDay - 30, today).empty();
    });
    TradeInfo t = Purchase(fund->code, 10000, At(2024, 9, 2, 10), kBonusCash);
    ASSERT_EQ(manager().BookTrade(t), 0) << manager().GetLastErrorText();

    std::vector<TradeIncomeRow> rows;
    ASSERT_TRUE(manager().LoadTradeIncome(0, "", rows)) << manager().GetLastErrorText();
    ASSERT_EQ(rows.size(), 1u);
    const TradeIncomeRow& r = rows[0];
    EXPECT_EQ(r.AccountName, "测试帐户");
    EXPECT_EQ(StrFormat("%0.4f", r.TradeValue), StrFormat("%0.4f", NavOn(*fund, buyDay)));
    EXPECT_NEAR(r.LatestValue, NavOn(*fund, today), 6e-5);
    EXPECT_EQ(r.HoldingDays, WholeDaysBetween(t.DealTime, kNow));
    ASSERT_TRUE(r.AverageReturn.has_value());
    EXPECT_NEAR(*r.AverageReturn * r.HoldingDays, r.IntervalReturn, 1e-9);

    manager().SetOffline(true);
    manager().FetchIntervalFigures(rows);
    EXPECT_FALSE(rows[0].FundGrowth.has_value());  // offline: nothing asked
    manager().SetOffline(false);
    manager().FetchIntervalFigures(rows);
    ASSERT_TRUE(rows[0].FundGrowth.has_value());
    ASSERT_TRUE(rows[0].IndexGrowth.has_value());
    EXPECT_NEAR(*rows[0].FundGrowth, r.IntervalReturn, 0.02);

    ASSERT_TRUE(manager().LoadTradeIncome(account_, "000000", rows));
    EXPECT_TRUE(rows.empty());
}

}  // namespace
}  // namespace vextal
