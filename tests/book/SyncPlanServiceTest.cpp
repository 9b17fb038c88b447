// Bookkeeping kept at the real plindo-serve: upload from one program home,
// download into another; fixed-investment plans booking themselves.
#include <gtest/gtest.h>

#include <tuple>

#include "book/BookServiceClient.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "support/BookHome.h"
#include "support/ServeFixture.h"

namespace vextal {
namespace {

OleDate At(int y, int m, int d, int h = 0, int mi = 0) { return OleDate::FromParts(y, m, d, h, mi, 0); }

const OleDate kNow = At(2007, 3, 5, 21, 0);
const MarketOptions kMarket{23, 200};

// One program home: its own database and engine.
struct Home : test::BookHome {
    using BookHome::BookHome;
    void Book(int account, const std::string& fund, int type, double money, double count, const OleDate& when,
              int inner = 0)
    {
        TradeInfo t = test::MakeTrade(account, fund, type, money, count, when);
        t.TradeFee = type == kTradeRedeem ? 0.5 : 1.5;
        t.InnerDeduction = inner;
        t.BonusType = kBonusReinvest;
        ASSERT_GE(manager.BookTrade(t), 0) << manager.GetLastErrorText();
    }
};

class BookSuite : public test::ServiceSuite {
protected:
    static void SetUpTestSuite()
    {
        s_market = &test::SimulatedMarket(kMarket.seed, kMarket.fundCount);
        StartSuite({kMarket.seed, kMarket.fundCount, kNow.Format(0)});
    }
    void SetUp() override
    {
        ServiceSuite::SetUp();
        Clock::Fix(kNow);
        ctx_ = Login("demo", "demo123", &user_);
        ASSERT_FALSE(ctx_.loginId.empty());
    }
    void TearDown() override { Clock::Release(); }

    // Equity funds listed well before 2006 and never withdrawn.
    static std::vector<std::string> OldFunds(size_t n)
    {
        std::vector<std::string> out;
        for (const SimFund& f : s_market->Funds())
            if (f.HoldsStocks() && !f.withdrawDay && f.createDay < DayNumber(At(2005, 6, 1)) && out.size() < n)
                out.push_back(f.code);
        return out;
    }

    static inline const CMarketSimulator* s_market = nullptr;
    CommandContext ctx_;
    int user_ = 0;
    std::unique_ptr<test::SimDirectory> directory_ = std::make_unique<test::SimDirectory>(*s_market);
    std::unique_ptr<test::FlakyPrices> services_ = std::make_unique<test::FlakyPrices>([this] { return ctx_; });
};

// Separate suites, separate service processes: plans stored by one must not
// be processed into the homes of the other at their first load.
class Synchronisation : public BookSuite {};
class Plans : public BookSuite {};

// What two homes must agree on, as text: the account's figures, each
// holding's count, cost and income, and each trade (of that account).
std::string Figures(const AccountInfo& a)
{
    std::string text = StrFormat("%d %s", a.FundCount, a.AnnualRate ? StrFormat("%.9f", *a.AnnualRate).c_str() : "-");
    for (double v : {a.MarketValue, a.TotalIncome, a.TotalIncomeRate, a.NewIncome, a.TotalPrincipal, a.NewPrincipal,
                     a.RedeemMoney, a.CashBonus, a.TotalBonus, a.SaleFeeEstimate})
        text += StrFormat(" %.6f", v);
    for (const FundTradeInfo& h : a.holdings)
        text += StrFormat("\n%s %.9f %.9f %.6f", h.FundID.c_str(), h.TotalCount, h.TradeValue, h.figures.TotalIncome);
    for (const auto& [id, t] : a.trades)
        text += StrFormat("\n%s %d %s %.6f %.6f %d %d", t.FundID.c_str(), t.TradeType, t.TradeTime.Format(0).c_str(),
                          t.TradeMoney, t.TradeCount, t.InnerDeduction, t.AccountID == a.AccountID);
    return text;
}

TEST_F(Synchronisation, UploadedBookkeepingComesBackInAnotherHome)
{
    const std::vector<std::string> funds = OldFunds(2);
    ASSERT_EQ(funds.size(), 2u);
    Home a(user_, services_.get(), directory_.get());
    const int main = a.NewAccount("主帐户", At(2006, 1, 10, 9, 30));
    const int spare = a.NewAccount("备用", At(2006, 2, 1));
    a.Book(main, funds[0], kTradeBuy, 10000, 0, At(2006, 3, 1, 10));
    a.Book(main, funds[0], kTradeBuy, 5000, 0, At(2006, 6, 1, 10), 1);
    a.Book(main, funds[1], kTradeBuy, 8000, 0, At(2006, 7, 3, 10));
    a.Book(main, funds[0], kTradeRedeem, 0, 1000, At(2006, 12, 1, 10));
    a.Book(spare, funds[1], kTradeBuy, 3000, 0, At(2006, 8, 1, 10));
    ASSERT_TRUE(a.manager.LoadAccounts(user_));
    ASSERT_TRUE(a.manager.LoadHoldings(0));
    a.manager.RefreshAnnualRates(0);
    ASSERT_TRUE(a.Named("主帐户")->AnnualRate.has_value());
    ASSERT_GT(a.Named("主帐户")->MarketValue, 0);
    ASSERT_EQ(a.Count("SELECT * FROM T_Trade_Info WHERE Remark='1'"), 1);
    ASSERT_TRUE(a.manager.UploadBookkeeping(false)) << a.manager.GetLastErrorText();

    // Create-new: the local account of the same name stays as it was.
    {
        Home b(user_, services_.get(), directory_.get());
        const int own = b.NewAccount("主帐户", At(2005, 1, 1));
        b.Book(own, funds[1], kTradeBuy, 2000, 0, At(2006, 5, 8, 10));
        const int ownTrades = b.Count(StrFormat("SELECT * FROM T_Trade_Info WHERE AccountID=%d", own));
        ASSERT_TRUE(b.manager.DownloadBookkeeping(true)) << b.manager.GetLastErrorText();
        ASSERT_TRUE(b.manager.LoadHoldings(0));
        b.manager.RefreshAnnualRates(0);
        EXPECT_EQ(b.Count(StrFormat("SELECT * FROM T_Trade_Info WHERE AccountID=%d", own)), ownTrades);
        EXPECT_EQ(b.Named("主帐户")->CreateDate, At(2005, 1, 1));
        const AccountInfo* copy = b.Named("主帐户1");
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(copy->CreateDate, At(2006, 1, 10, 9, 30));
        EXPECT_NE(copy->AccountID, own);
        EXPECT_EQ(Figures(*a.Named("主帐户")), Figures(*copy));
        ASSERT_NE(b.Named("备用"), nullptr);
        EXPECT_EQ(Figures(*a.Named("备用")), Figures(*b.Named("备用")));
        // Once more: "主帐户1" is taken too.
        ASSERT_TRUE(b.manager.DownloadBookkeeping(true)) << b.manager.GetLastErrorText();
        ASSERT_TRUE(b.manager.LoadHoldings(0));
        b.manager.RefreshAnnualRates(0);
        ASSERT_NE(b.Named("主帐户2"), nullptr);
        ASSERT_NE(b.Named("备用1"), nullptr);
        EXPECT_EQ(Figures(*a.Named("主帐户")), Figures(*b.Named("主帐户2")));
        EXPECT_EQ(b.manager.Accounts().size(), 5u);
    }
    // Replace: same AccountID and creation date, holdings and trades replaced.
    {
        Home b(user_, services_.get(), directory_.get());
        b.NewAccount("占位", At(2005, 1, 1));
        const int own = b.NewAccount("主帐户", At(2005, 3, 3));
        b.Book(own, funds[1], kTradeBuy, 2000, 0, At(2006, 5, 8, 10));
        ASSERT_TRUE(b.manager.DownloadBookkeeping(false)) << b.manager.GetLastErrorText();
        ASSERT_TRUE(b.manager.LoadHoldings(0));
        b.manager.RefreshAnnualRates(0);
        const AccountInfo* replaced = b.Named("主帐户");
        ASSERT_NE(replaced, nullptr);
        EXPECT_EQ(replaced->AccountID, own);
        EXPECT_EQ(replaced->CreateDate, At(2005, 3, 3));
        EXPECT_EQ(b.manager.Accounts().size(), 3u);
        EXPECT_EQ(Figures(*a.Named("主帐户")), Figures(*replaced));
        EXPECT_EQ(b.Count("SELECT * FROM T_Trade_Info WHERE TradeMoney=2000"), 0);

        // A text cut short changes nothing, not even its complete first account.
        std::string text, error;
        ASSERT_TRUE(b.manager.FetchBookkeeping(text, error)) << error;
        const int trades = b.Count("SELECT * FROM T_Trade_Info"), holdings = b.Count("SELECT * FROM T_Fund_Trade");
        EXPECT_FALSE(b.manager.MergeBookkeeping(text.substr(0, text.size() - 5), false));
        EXPECT_EQ(b.manager.GetLastErrorText(), "DownloadBookkeeping():数据格式错误");
        EXPECT_FALSE(b.manager.MergeBookkeeping(text.substr(0, text.size() - 5), true));
        EXPECT_EQ(b.Count("SELECT * FROM T_Trade_Info"), trades);
        EXPECT_EQ(b.Count("SELECT * FROM T_Fund_Trade"), holdings);
        EXPECT_EQ(b.manager.Accounts().size(), 3u);

        // A home without accounts uploads the empty text.
        Home empty(user_, services_.get(), directory_.get());
        std::string none = "x";
        EXPECT_TRUE(empty.manager.ExportBookkeeping(none));
        EXPECT_EQ(none, "");
        EXPECT_TRUE(empty.manager.UploadBookkeeping(true)) << empty.manager.GetLastErrorText();

        b.manager.SetVip(false);
        EXPECT_FALSE(b.manager.DownloadBookkeeping(false));
        EXPECT_EQ(b.manager.GetLastErrorText(),
                  "此功能只对VIP会员开放，如有需要请到网站中会员中心升级为VIP会员。");
    }
}

PlanInfo DayPlan(int account, const std::string& fund, int day, const OleDate& start)
{
    PlanInfo p;
    p.trade.AccountID = account;
    p.trade.FundID = fund;
    p.trade.TradeMoney = 500;
    p.trade.TradeFee = 1.5;
    p.trade.TradeCount = day;
    p.trade.BonusType = kBonusCash;
    p.trade.TradeTime = start;
    return p;
}

TEST_F(Plans, DueDaysAreBookedAtTheFirstLoadAndAFailureIsRetried)
{
    const std::vector<std::string> funds = OldFunds(2);
    ASSERT_EQ(funds.size(), 2u);
    Clock::Fix(At(2007, 1, 20, 12));
    Home h(user_, services_.get(), directory_.get());
    const int account = h.NewAccount("定投帐户", At(2006, 1, 1));
    // Nothing is due yet, and still the plan is kept at the service.
    PlanInfo p = DayPlan(account, funds[0], 31, At(2007, 1, 15));
    ASSERT_EQ(h.manager.SavePlan(p), 0) << h.manager.GetLastErrorText();
    EXPECT_TRUE(test::PlanPurchaseDays(h.db).empty());

    // The next run, on 2007-03-05: January's 31st and February's last day.
    Clock::Fix(kNow);
    CAccountManager next;
    next.Init(h.db, user_, false, services_.get(), directory_.get());
    ASSERT_TRUE(next.LoadAccounts(user_));
    EXPECT_EQ(test::PlanPurchaseDays(h.db), (std::vector<std::string>{"2007-01-31", "2007-02-28"}));
    ASSERT_EQ(next.Plans().size(), 1u);
    EXPECT_EQ(next.Plans().begin()->second.PeriodsDone, 2);
    EXPECT_EQ(next.Plans().begin()->second.trade.DealTime.Format(1), "2007-02-28");
    // 500 yuan at 1.5 % on top, at that day's NAV.
    double shares = 0, nav = 0;
    h.db.QueryDouble("SELECT TradeCount FROM T_Trade_Info WHERE TradeType=9 ORDER BY TradeTime", shares);
    h.db.QueryDouble("SELECT TradeValue FROM T_Trade_Info WHERE TradeType=9 ORDER BY TradeTime", nav);
    EXPECT_NEAR(shares, Round2(500 * 100 / 101.5 / nav), 0.011);

    // A failed purchase stops the walk; the next run, reading the plan back
    // from the service, resumes at the failed period.
    const std::string second = "SELECT * FROM T_Trade_Info WHERE TradeType=9 AND FundID='" + funds[1] + "'";
    services_->failDay = At(2007, 2, 28);
    PlanInfo q = DayPlan(account, funds[1], 31, At(2007, 1, 1));
    EXPECT_EQ(next.SavePlan(q), 1);
    EXPECT_EQ(h.Count(second), 1);
    services_->failDay = OleDate();
    ASSERT_TRUE(next.LoadPlans()) << next.GetLastErrorText();
    EXPECT_EQ(next.Plans().at({account, funds[1]}).trade.DealTime.Format(1), "2007-01-31");
    ASSERT_TRUE(next.ProcessPlans()) << next.GetLastErrorText();
    EXPECT_EQ(h.Count(second), 2);
    EXPECT_EQ(next.Plans().at({account, funds[1]}).PeriodsDone, 2);

    ASSERT_TRUE(next.LoadPlans()) << next.GetLastErrorText();
    ASSERT_EQ(next.Plans().size(), 2u);
    const PlanInfo& stored = next.Plans().at({account, funds[0]});
    EXPECT_EQ(std::tie(stored.PeriodsDone, stored.trade.TradeCount, stored.trade.TradeMoney), std::tuple(2, 31.0, 500.0));
    EXPECT_EQ(stored.trade.TradeTime.Format(1), "2007-01-15");

    // Deleting plans keeps their purchases.
    for (const PlanInfo& each : {p, q}) ASSERT_TRUE(next.DeletePlan(each)) << next.GetLastErrorText();
    EXPECT_TRUE(next.Plans().empty());
    ASSERT_TRUE(next.LoadPlans()) << next.GetLastErrorText();
    EXPECT_TRUE(next.Plans().empty());
    EXPECT_EQ(h.Count("SELECT * FROM T_Trade_Info WHERE TradeType=9"), 4);
}

// A plan edited after some purchases, whose next run books one period and
// fails at the following: the service keeps the due day of the purchase
// actually booked, so the run after that books the failed period.
TEST_F(Plans, AFailedPeriodAfterAnEditIsRetried)
{
    const std::vector<std::string> funds = OldFunds(2);
    ASSERT_EQ(funds.size(), 2u);
    struct Case {
        const char* edit;
        int day;
        OleDate start;
        OleDate run, failing;
        const char* booked;  // the one purchase the failing run books
    } cases[] = {
        {"day 5 -> 20", 20, At(2006, 9, 1), At(2006, 12, 21, 12), At(2006, 12, 20), "2006-11-20"},
        {"start moved to 11-20", 5, At(2006, 11, 20), At(2007, 1, 6, 12), At(2007, 1, 5), "2006-12-05"},
    };
    Home h(user_, services_.get(), directory_.get());
    const int account = h.NewAccount("定投帐户", At(2006, 1, 1));
    for (size_t i = 0; i < 2; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.edit);
        Clock::Fix(At(2006, 11, 10, 12));
        PlanInfo p = DayPlan(account, funds[i], 5, At(2006, 9, 1));
        ASSERT_EQ(h.manager.SavePlan(p), 0) << h.manager.GetLastErrorText();
        ASSERT_EQ(h.manager.Plans().at({account, funds[i]}).PeriodsDone, 3);
        PlanInfo edited = DayPlan(account, funds[i], c.day, c.start);
        ASSERT_EQ(h.manager.SavePlan(edited), 0) << h.manager.GetLastErrorText();

        Clock::Fix(c.run);
        services_->failDay = c.failing;
        EXPECT_FALSE(h.manager.ProcessPlans());
        services_->failDay = OleDate();
        ASSERT_TRUE(h.manager.LoadPlans()) << h.manager.GetLastErrorText();
        const PlanInfo& stored = h.manager.Plans().at({account, funds[i]});
        EXPECT_EQ(stored.PeriodsDone, 4);
        EXPECT_EQ(stored.trade.DealTime.Format(1), c.booked);
        ASSERT_TRUE(h.manager.ProcessPlans()) << h.manager.GetLastErrorText();
        const std::string days = StrFormat(
            "SELECT * FROM T_Trade_Info WHERE TradeType=9 AND FundID='%s' AND TradeTime>=#%s# AND TradeTime<#%s#",
            funds[i].c_str(), c.failing.Format(0).c_str(), c.failing.AddDays(1).Format(0).c_str());
        EXPECT_EQ(h.Count(days), 1);
        EXPECT_EQ(h.manager.Plans().at({account, funds[i]}).PeriodsDone, 5);
    }
}

}  // namespace
}  // namespace vextal
