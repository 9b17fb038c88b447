// The real plindo-serve process, asked through the program's own command
// functions, for what the program's own tests against it do not reach:
// registration rules, history ranges and dividends, period records, the
// trade NAV around holidays, and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

#include "MarketSimulator.h"
#include "PlindoServer.h"
#include "common/Format.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/HttpTransport.h"
#include "support/ServeFixture.h"

namespace vextal {
namespace {

int D(int y, int m, int d) { return DayNumber(OleDate::FromParts(y, m, d)); }
OleDate T(int y, int m, int d, int h = 0, int mi = 0) { return OleDate::FromParts(y, m, d, h, mi, 0); }
double Num(const std::string& s) { return std::atof(s.c_str()); }


// Seed 7 with 400 funds, evening of Wednesday 2024-10-09 (after the
// National Day week): that day's NAVs are out.
const OleDate kNow = T(2024, 10, 9, 21, 0);

class PlindoServe : public test::ServiceSuite {
protected:
    static void SetUpTestSuite()
    {
        StartSuite({7, 400, "2024-10-09 21:00:00"});
        s_market = &test::SimulatedMarket(7, 400);
    }
    static const SimFund& Pick(const std::function<bool(const SimFund&)>& pred)
    {
        return test::EstablishedFund(*s_market, pred);
    }
    static std::string Post(const std::string& body)
    {
        std::string answer;
        HttpRequest(s_service->CommandUrl(), "POST", answer, body, "");
        return answer;
    }

    static inline const CMarketSimulator* s_market = nullptr;
};

TEST_F(PlindoServe, LoginRegistrationAndUserUpdate)
{
    // The fields of the login answer: ServiceStartTest, where the program reads them.
    EXPECT_EQ(SendLogin(Anonymous(), "demo", "wrong", "3.25").error, "用户名或密码错误");

    // Registration: checks in order, then a refusal of the taken name.
    EXPECT_EQ(SendRegister(Anonymous(), "", "a@b.cn", "n", "p").error, "用户名不能为空");
    EXPECT_EQ(SendRegister(Anonymous(), "zhang", "", "n", "p").error, "Email不能为空");
    EXPECT_EQ(SendRegister(Anonymous(), "zhang", "a@b.cn", "", "p").error, "昵称不能为空");
    EXPECT_EQ(SendRegister(Anonymous(), "zhang", "a@b.cn", "n", "").error, "密码不能为空");
    EXPECT_EQ(SendRegister(Anonymous(), "zhang", "a@b.cn", "a<b>", "p").error, "Email和昵称不能包含< > & |字符");
    CommandReply reg = SendRegister(Anonymous(), "张三", "zhang@plindo.example", "小张&+%", "p+w&d%20");
    EXPECT_EQ(reg.error, "Email和昵称不能包含< > & |字符");
    reg = SendRegister(Anonymous(), "张三", "zhang@plindo.example", "小张+%", "p+w&d%20中");
    ASSERT_TRUE(reg.ok()) << reg.error;

    CommandReply login = SendLogin(Anonymous(), "张三", "p+w&d%20中", "3.25");
    ASSERT_TRUE(login.ok()) << login.error;
    EXPECT_EQ(login.fields[1], "小张+%");
    EXPECT_EQ(login.serverId.substr(33), "0");
    CommandContext ctx = Login("张三", "p+w&d%20中");
    const int userId = std::atoi(login.fields[0].c_str());
    EXPECT_EQ(SendUserUpdate(ctx, userId + 1, "a@b.cn", "n", "p").error, "不能修改其他用户的信息");
    ASSERT_TRUE(SendLogout(Anonymous(), userId, ctx.loginId).ok());
    EXPECT_EQ(SendCompanyList(ctx).error, "请先登录");
}

// The lists of companies and funds are checked field by field where the
// program stores them (ServeTest, ServiceStartTest).
// The index days against the simulator run through the program (ServeTest).
TEST_F(PlindoServe, UnknownIndexCodeFallsBackToTheNumber)
{
    CommandContext ctx = Login();
    CommandReply sh = SendIndexHistory(ctx, T(2024, 10, 8), T(2024, 10, 9), 1, "XXXXXX");
    ASSERT_EQ(sh.fields.size(), 10u);
    EXPECT_EQ(sh.fields[0], "1A0001");
}

// The open-end, money-market and ETF lists and the selected values are
// stored and compared with the simulator by the program (ServeTest).
TEST_F(PlindoServe, ClosedEndListAndUnknownFunds)
{
    CommandContext ctx = Login();
    CommandReply closed = SendClassValues(ctx, 3, "");
    ASSERT_TRUE(closed.ok()) << closed.error;
    ASSERT_GT(closed.fields.size(), 0u);
    for (size_t i = 0; i < closed.fields.size(); i += 20) EXPECT_EQ(closed.fields[i], "2024-10-04");
    // With a version only what changed since: closed-end funds last
    // published on Friday the 4th.
    EXPECT_EQ(SendClassValues(ctx, 3, "20241008").fields.size(), 0u);
    EXPECT_GT(SendClassValues(ctx, 3, "20240930").fields.size(), 0u);

    const SimFund& f = Pick([](const SimFund& x) { return x.investType == 2 && x.fundType == 1; });
    const SimFund& money = Pick([](const SimFund& x) { return x.IsMoneyMarket(); });
    CommandReply sel = SendSelectedValues(ctx, {f.code, "999999", money.code});
    ASSERT_TRUE(sel.ok()) << sel.error;
    ASSERT_EQ(sel.fields.size(), 40u);
    EXPECT_EQ(sel.fields[23], "1.0000");  // money market: accumulated NAV
    EXPECT_EQ(SendLatestValue(ctx, "999999").error, "没有找到基金999999");
}

TEST_F(PlindoServe, HistoryRepeatsAndAccumulatedNavGrowsByDividends)
{
    CommandContext ctx = Login();
    // A fund that paid dividends and never split.
    const SimFund* chosen = nullptr;
    for (const SimFund& f : s_market->Funds())
        if (!f.IsMoneyMarket() && f.fundType != 2 && !f.withdrawDay && s_market->Splits(f, kNow).empty() &&
            s_market->Dividends(f, kNow, 0, D(2024, 10, 9)).size() >= 2) {
            chosen = &f;
            break;
        }
    ASSERT_NE(chosen, nullptr);
    const OleDate from = DateOfDay(chosen->createDay), to = T(2024, 10, 9);
    CommandReply h1 = SendFundHistory(ctx, chosen->code, from, to, 0);
    CommandReply h2 = SendFundHistory(ctx, chosen->code, from, to, 0);
    ASSERT_TRUE(h1.ok()) << h1.error;
    EXPECT_EQ(h1.msg, h2.msg);
    // With local data the answer is what lies outside the stored range.
    CommandReply outside = SendFundHistory(ctx, chosen->code, T(2024, 9, 2), T(2024, 9, 30), 1);
    ASSERT_TRUE(outside.ok()) << outside.error;
    ASSERT_GE(outside.fields.size(), 10u);
    EXPECT_EQ(outside.fields[0], from.Format(3));
    EXPECT_EQ(outside.fields[outside.fields.size() - 5], "2024-10-09");
    for (size_t i = 0; i < outside.fields.size(); i += 5)
        EXPECT_TRUE(outside.fields[i] < "2024-09-02" || outside.fields[i] > "2024-09-30") << outside.fields[i];
    ASSERT_EQ(h1.fields.size() % 5, 0u);
    EXPECT_EQ(h1.fields[0], from.Format(3));
    EXPECT_EQ(h1.fields[1], "1.0000");

    CommandReply div = SendDividendQuery(ctx, chosen->code, from, to, 1000, 0);
    ASSERT_TRUE(div.ok()) << div.error;
    ASSERT_EQ(div.fields.size() % 4, 0u);
    std::map<std::string, double> perUnit;
    for (size_t i = 0; i < div.fields.size(); i += 4) {
        perUnit[div.fields[i + 3]] = Num(div.fields[i]);
        EXPECT_LE(div.fields[i + 1], div.fields[i + 3]);  // record day, pay day, ex-day
        EXPECT_LT(div.fields[i + 1], div.fields[i + 2]);
    }
    EXPECT_EQ(div.msg2.size(), perUnit.size() * 11 - 1);  // the ex-days
    double paid = 0, prevGap = 0;
    for (size_t i = 0; i < h1.fields.size(); i += 5) {
        double gap = Num(h1.fields[i + 2]) - Num(h1.fields[i + 1]);
        auto it = perUnit.find(h1.fields[i]);
        double jump = it == perUnit.end() ? 0 : it->second;
        paid += jump;
        EXPECT_NEAR(gap - prevGap, jump, 0.00021) << h1.fields[i];
        EXPECT_NEAR(gap, paid, 0.00021) << h1.fields[i];
        prevGap = gap;
    }
    EXPECT_GT(paid, 0.01);
    // Only dividends after the start date.
    auto divs = s_market->Dividends(*chosen, kNow, 0, D(2024, 10, 9));
    CommandReply later = SendDividendQuery(ctx, chosen->code, DateOfDay(divs[0].exDay), to, 10, 1);
    EXPECT_EQ(later.fields.size(), (divs.size() - 1) * 4);
}

TEST_F(PlindoServe, PeriodRecordsAndIntervals)
{
    CommandContext ctx = Login();
    const SimFund& f = Pick([](const SimFund& x) { return x.investType == 1 && x.fundType == 1; });
    auto daily = s_market->Published(f, kNow, D(2024, 9, 2), D(2024, 9, 30));
    // Weekly maximum NAV: one record per week, dated on the week's last NAV.
    CommandReply wk = SendPeriodRecords(ctx, f.code, T(2024, 9, 2), T(2024, 9, 30), 3, 2);
    ASSERT_TRUE(wk.ok()) << wk.error;
    ASSERT_EQ(wk.fields.size(), 5u * 5);  // weeks of 2, 9, 16 (Mid-Autumn holiday), 23 and 30 Sep
    EXPECT_EQ(wk.fields[0], "2024-09-06");
    double maxNav = 0;
    for (const NavRecord& r : daily)
        if (r.day <= D(2024, 9, 6)) maxNav = std::max(maxNav, r.nav);
    EXPECT_EQ(wk.fields[1], StrFormat("%0.4f", maxNav));
    EXPECT_EQ(wk.fields[2], "0");
    // Statistic 0 and the companion are the week's change.
    CommandReply chg = SendPeriodRecords(ctx, f.code, T(2024, 9, 2), T(2024, 9, 30), 3, 0);
    ASSERT_EQ(chg.fields.size(), 25u);
    EXPECT_NEAR(Num(chg.fields[1]), Num(chg.fields[3]), 0.006);
    CommandReply month = SendPeriodRecords(ctx, f.code, T(2024, 1, 1), T(2024, 9, 30), 4, 15);
    ASSERT_EQ(month.fields.size(), 5u * 9);
    EXPECT_EQ(month.fields[8 * 5], "2024-09-30");
    EXPECT_EQ(month.fields[8 * 5 + 1], StrFormat("%0.4f", daily.back().nav));

    // A money-market fund's month change is its income, its first month too.
    const SimFund& money = Pick([](const SimFund& x) { return x.IsMoneyMarket(); });
    CommandReply mm = SendPeriodRecords(ctx, money.code, T(2024, 6, 1), T(2024, 7, 31), 4, 0);
    ASSERT_EQ(mm.fields.size(), 10u) << mm.msg;
    auto growth = s_market->Published(money, kNow, D(2024, 5, 31), D(2024, 7, 31));
    ASSERT_EQ(growth.front().day, D(2024, 5, 31));
    EXPECT_EQ(mm.fields[3], StrFormat("%0.2f", (s_market->Published(money, kNow, D(2024, 6, 28), D(2024, 6, 28)).at(0).growth /
                                                growth.front().growth - 1) * 100));
    EXPECT_LT(Num(mm.fields[3]), 0.3);

    // Turning points: alternate in direction, each move at least the band.
    for (int kind : {10, 11}) {
        CommandReply zz = SendPeriodRecords(ctx, f.code, T(2020, 1, 1), T(2024, 10, 9), kind, 0);
        ASSERT_TRUE(zz.ok()) << zz.error;
        ASSERT_GE(zz.fields.size(), 15u);
        double band = kind == 10 ? 3.0 : 8.0;
        for (size_t i = 10; i + 5 < zz.fields.size(); i += 5) {
            double prevMove = Num(zz.fields[i - 5 + 3]), move = Num(zz.fields[i + 3]);
            EXPECT_GE(std::fabs(move), band - 0.01) << zz.fields[i];
            EXPECT_LT(prevMove * move, 0) << zz.fields[i];
        }
    }
    EXPECT_EQ(SendPeriodRecords(ctx, f.code, T(2024, 1, 1), T(2024, 9, 30), 3, 18).error, "数据格式错误");
    // In the evening: the whole day's estimates, 9:30-11:30 and 13:05-15:00.
    CommandReply day = SendPeriodRecords(ctx, f.code, T(2024, 10, 9), T(2024, 10, 9), 31, 0);
    ASSERT_EQ(day.fields.size(), 49u * 5);
    EXPECT_EQ(day.fields[24 * 5], "2024-10-09 11:30:00");
    EXPECT_EQ(day.fields[25 * 5], "2024-10-09 13:05:00");
    EXPECT_EQ(day.fields[48 * 5], "2024-10-09 15:00:00");
}

TEST_F(PlindoServe, TradeNavCutOffWeekendAndHoliday)
{
    CommandContext ctx = Login();
    const SimFund& f = Pick([](const SimFund& x) { return x.investType == 1 && x.fundType == 1; });
    auto navOn = [&](int day) { return StrFormat("%0.4f", s_market->Published(f, kNow, day, day).at(0).nav); };
    struct Case { OleDate trade; const char* date; int day; };
    const Case cases[] = {
        {T(2024, 9, 29, 9, 0), "2024-09-30", D(2024, 9, 30)},
        {T(2024, 9, 30, 15, 1), "2024-10-08", D(2024, 10, 8)},
        {T(2024, 10, 9, 14, 0), "2024-10-09", D(2024, 10, 9)},
    };
    for (const Case& c : cases) {
        CommandReply r = SendTradeValue(ctx, f.code, c.trade);
        ASSERT_TRUE(r.ok()) << c.trade.Format(0) << r.error;
        ASSERT_EQ(r.fields.size(), 2u);
        EXPECT_EQ(r.fields[1], c.date);
        EXPECT_EQ(r.fields[0], navOn(c.day));
    }
    // A closed-end fund confirms at the Friday NAV it publishes, never at a daily one.
    const SimFund& closed = Pick([](const SimFund& x) { return x.fundType == 2; });
    CommandReply c = SendTradeValue(ctx, closed.code, T(2024, 9, 24, 10, 0));
    ASSERT_TRUE(c.ok()) << c.error;
    EXPECT_EQ(c.msg, StrFormat("%0.4f|2024-09-27", s_market->Published(closed, kNow, D(2024, 9, 27), D(2024, 9, 27)).at(0).nav));
    // A subscription to a fund launched after the service clock waits for its first NAV.
    for (const SimFund& later : s_market->Funds()) {
        if (later.createDay <= D(2024, 10, 9)) continue;
        CommandReply r = SendTradeValue(ctx, later.code, T(2024, 9, 30, 10, 0));
        EXPECT_EQ(r.status, CommandStatus::Refused) << later.code << " " << r.msg;
        EXPECT_NE(r.error.find(DateOfDay(later.createDay).Format(1) + "的基金净值尚未公布"), std::string::npos) << r.error;
        break;
    }
    const SimFund& money = Pick([](const SimFund& x) { return x.IsMoneyMarket(); });
    CommandReply m = SendTradeValue(ctx, money.code, T(2024, 9, 30, 16, 0));
    ASSERT_TRUE(m.ok());
    EXPECT_EQ(m.msg, "1.0000|2024-10-08");
    // Money-market income: the holding's income and the day it runs to.
    CommandReply income = SendDividendQuery(ctx, money.code, T(2024, 9, 1), T(2024, 9, 30), 10000, 1);
    ASSERT_EQ(income.fields.size(), 2u) << income.msg;
    int last = 0;
    EXPECT_EQ(income.fields[0], StrFormat("%0.2f", s_market->MoneyIncome(money, kNow, D(2024, 9, 1), D(2024, 9, 30),
                                                                         10000, last)));
    EXPECT_EQ(income.fields[1], "2024-09-30");
}

// A holding dated on a day without trading is confirmed at the next trading
// day's NAV, which is already ex-dividend: that day's dividend is not its.
TEST_F(PlindoServe, DividendsBelongToSharesHeldBeforeTheExDay)
{
    CommandContext ctx = Login();
    const CTradingCalendar& cal = s_market->Calendar();
    for (const SimFund& f : s_market->Funds()) {
        if (f.IsMoneyMarket() || f.fundType == 2) continue;
        for (const SimDividend& d : s_market->Dividends(f, kNow, 0, D(2024, 10, 9))) {
            if (cal.IsTradingDay(d.exDay - 1) || d.exDay - 1 <= f.createDay) continue;
            const int held = cal.PrevTradingDay(d.exDay);
            auto exDays = [&](int from) {
                CommandReply r = SendDividendQuery(ctx, f.code, DateOfDay(from), T(2024, 10, 9), 100, 0);
                EXPECT_TRUE(r.ok()) << r.error;
                return r.msg2;
            };
            const std::string ex = DateOfDay(d.exDay).Format(3);
            EXPECT_EQ(exDays(d.exDay - 1).find(ex), std::string::npos) << f.code << " " << ex;
            EXPECT_EQ(exDays(d.exDay).find(ex), std::string::npos) << f.code << " " << ex;
            EXPECT_EQ(exDays(held).rfind(ex, 0), 0u) << f.code << " " << ex;
            return;
        }
    }
    FAIL() << "no dividend after a day without trading";
}

// The database, page files, fund keys and the version are fetched and
// compared by the program (ServiceStartTest); here a path outside them.
TEST_F(PlindoServe, NoFileOutsideTheServedFolders)
{
    std::string page;
    EXPECT_EQ(HttpGetBuffer(s_service->Base() + "Update/../plindo.db", page, "", ""), -1);
}

TEST_F(PlindoServe, BadRequestsAreAnsweredNotFatal)
{
    CommandContext ctx = Login();
    int ret = 0;
    std::string msg;
    ParseCommandAnswer(Post(BuildCommand(9, 9, "", ctx.loginId)), ret, msg);
    EXPECT_EQ(ret, -1);
    EXPECT_EQ(GbkToUtf8(msg), "不支持的命令");
    ParseCommandAnswer(Post(BuildCommand(2, 11, "000001|notadate|2024-01-01|0", ctx.loginId)), ret, msg);
    EXPECT_EQ(GbkToUtf8(msg), "数据格式错误");
    ParseCommandAnswer(Post("cmdtype=x&cmdid=1"), ret, msg);
    EXPECT_EQ(GbkToUtf8(msg), "数据格式错误");
    ParseCommandAnswer(Post(BuildCommand(2, 22, "000001", "")), ret, msg);
    EXPECT_EQ(GbkToUtf8(msg), "请先登录");

    // Random and cut bodies of these commands: MemberTest.
    EXPECT_TRUE(SendLatestValue(ctx, Pick([](const SimFund&) { return true; }).code).ok());
}

TEST(PlindoServeProcess, VersionByTheLowerCasePathAndCleanStop)
{
    test::RealService service({7, 400, "2024-10-09 10:32:00", {"--client-version", "3.26"}});
    ASSERT_TRUE(service.Started());
    std::string text;
    ASSERT_TRUE(HttpPostCommand(service.Base() + "plindo/client/clientservice.asmx/GetClientVersion", text, "", ""));
    int ret = -1;
    std::string msg;
    ASSERT_TRUE(ParseCommandAnswer(text, ret, msg));
    EXPECT_EQ(msg, "3.26");

    int status = service.Process().Stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vextal
