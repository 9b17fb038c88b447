// The real plindo-serve process, asked through the program's own command
// functions, for what the program's own tests against it do not reach:
// registration rules, history ranges and dividends, period records, the
// trade NAV around holidays and refusals; and what members keep there:
// bookkeeping upload and download, plans, cancellation, favourite folders,
// stored passwords, sessions, hostile bodies and the service's start.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>

#include "MarketSimulator.h"
#include "PlindoServer.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/Cipher.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/DataService.h"
#include "net/Encoding.h"
#include "net/HttpTransport.h"
#include "support/Files.h"
#include "support/ServeFixture.h"

namespace vextal {
namespace {

int D(int y, int m, int d) { return DayNumber(OleDate::FromParts(y, m, d)); }
OleDate T(int y, int m, int d, int h = 0, int mi = 0) { return OleDate::FromParts(y, m, d, h, mi, 0); }
double Num(const std::string& s) { return NumberOr(s, 0); }


// Seed 7 with 400 funds, evening of Wednesday 2024-10-09 (after the
// National Day week): that day's NAVs are out.
const OleDate kNow = T(2024, 10, 9, 21, 0);

// One account as the program uploads it: the account row (8 fields), its
// holdings (14 fields a row) and trades (15 fields a row).
std::string Account(int id, const std::string& name, int firstTrade, int trades, const std::string& remark = "定投")
{
    std::string text = StrFormat("_A_%d|10001|", id) + name + "|0|0.000000|0.000000|1|2024-01-02 00:00:00_A_";
    text += StrFormat("_F_%d|000001|0|1000.000000|1000.000000|1.000000|0|0.000000|0.000000||2024-03-01 00:00:00|0.000000|0|0_F_", id);
    text += "_T_";
    for (int i = 0; i < trades; ++i) {
        if (i) text += "|";
        text += StrFormat("%d|%d|000001|1000.000000|952.380000|1.500000|1|2024-03-01 10:00:00|2024-03-01 00:00:00|1|0|1.050000|",
                          firstTrade + i, id) + remark + "||1.050000";
    }
    return text + "_T_";
}

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
    // A session under a login id the test chose.
    static CommandContext As(const std::string& loginId)
    {
        CommandContext c = Anonymous();
        c.loginId = loginId;
        return c;
    }
    static std::string Post(const std::string& body, const std::string& path = "SendCommand")
    {
        std::string answer;
        HttpRequest(s_service->Base() + "plindo/client/ClientService.asmx/" + path, "POST", answer, body, "", 10);
        return answer;
    }
    static std::string FundCode(size_t i)
    {
        CommandReply list = SendFundList(Login());
        return list.fields.at(11 * i);
    }

    static inline const CMarketSimulator* s_market = nullptr;
};

// What members keep at the service: a suite (and a service) of its own.
using Members = PlindoServe;

TEST_F(PlindoServe, LoginRegistrationAndUserUpdate)
{
    // The login answer's fields and refusal: ServiceStartTest, where the program reads them.

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
    CommandContext ctx = Login("张三", "p+w&d%20中");
    const int userId = static_cast<int>(IntegerOr(login.fields[0], -1));
    EXPECT_EQ(SendUserUpdate(ctx, userId + 1, "a@b.cn", "n", "p", "p").error, "不能修改其他用户的信息");
    ASSERT_TRUE(SendLogout(Anonymous(), userId, ctx.loginId).ok());
    EXPECT_EQ(SendCompanyList(ctx).error, "请先登录");
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
    // Every record against the simulator, and a repeated download: ServeTest.
    CommandReply h1 = SendFundHistory(ctx, chosen->code, from, to, 0);
    ASSERT_TRUE(h1.ok()) << h1.error;
    // With local data the answer is what lies outside the stored range.
    CommandReply outside = SendFundHistory(ctx, chosen->code, T(2024, 9, 2), T(2024, 9, 30), 1);
    ASSERT_TRUE(outside.ok()) << outside.error;
    ASSERT_GE(outside.fields.size(), 10u);
    EXPECT_EQ(outside.fields[0], from.Format(3));
    EXPECT_EQ(outside.fields[outside.fields.size() - 5], "2024-10-09");
    for (size_t i = 0; i < outside.fields.size(); i += 5)
        EXPECT_TRUE(outside.fields[i] < "2024-09-02" || outside.fields[i] > "2024-09-30") << outside.fields[i];
    ASSERT_EQ(h1.fields.size() % 5, 0u);

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
    // The weekly and monthly records of every statistic: WireRoundTripTest.
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

// Requests the program never sends well formed are answered, not fatal; an
// unknown index code falls back to its number; no file outside the served
// folders. (The lists of companies and funds, the index days and the files
// the program fetches are compared where the program stores them: ServeTest,
// ServiceStartTest.)
TEST_F(PlindoServe, OddRequestsAreAnsweredNotFatal)
{
    CommandContext ctx = Login();
    CommandReply sh = SendIndexHistory(ctx, T(2024, 10, 8), T(2024, 10, 9), 1, "XXXXXX");
    ASSERT_EQ(sh.fields.size(), 10u);
    EXPECT_EQ(sh.fields[0], "1A0001");
    std::string page;
    EXPECT_EQ(HttpGetBuffer(s_service->Base() + "Update/../plindo.db", page, "", ""), -1);
    int ret = 0;
    std::string msg;
    // (An unknown command: HardeningTest.)
    ParseCommandAnswer(Post(BuildCommand(2, 11, "000001|notadate|2024-01-01|0", ctx.loginId)), ret, msg);
    EXPECT_EQ(GbkToUtf8(msg), "数据格式错误");
    ParseCommandAnswer(Post("cmdtype=x&cmdid=1"), ret, msg);
    EXPECT_EQ(GbkToUtf8(msg), "数据格式错误");

    // Random and cut bodies of these commands: the command service's fuzz harness.
    EXPECT_TRUE(SendLatestValue(ctx, Pick([](const SimFund&) { return true; }).code).ok());
}

// A service told to hang or to be slow holds those answers back, answers
// the rest (the version by the lower-case path too), and still stops
// cleanly (no SIGKILL) with answers held.
TEST(PlindoServeProcess, HungAndSlowAnswersEndWithTheService)
{
    test::RealService hung({7, 50, "2024-10-09 10:32:00", {"--hang", "/htmdata/", "--hang", "2/1", "--client-version", "3.26"}});
    ASSERT_TRUE(hung.Started());
    const CommandContext ctx = hung.Login();
    std::string text;
    ASSERT_TRUE(HttpPostCommand(hung.Base() + "plindo/client/clientservice.asmx/GetClientVersion", text, "", ""));
    int ret = -1;
    std::string msg;
    ASSERT_TRUE(ParseCommandAnswer(text, ret, msg));
    EXPECT_EQ(msg, "3.26");
    for (int i = 0; i < 2; ++i) {
        CHttpCancelScope limit(nullptr, 300);
        if (i == 0) EXPECT_EQ(HttpGetText(hung.Base() + "htmdata/html/600000.htm", text, "", ""), -1);
        else EXPECT_FALSE(SendClassValues(ctx, 1, "").ok());
        EXPECT_NE(GetLastHttpError().find("no answer in time"), std::string::npos) << GetLastHttpError();
    }
    EXPECT_TRUE(SendLatestValue(ctx, "000001").ok());
    int status = hung.Process().Stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    test::RealService slow({7, 50, "2024-10-09 10:32:00", {"--latency-ms", "60000"}});
    ASSERT_TRUE(slow.Started());
    {
        CHttpCancelScope limit(nullptr, 300);
        EXPECT_EQ(HttpGetText(slow.Base() + "stylemain.css", text, "", ""), -1);
    }
    status = slow.Process().Stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(Members, BookkeepingUploadReplaceOrNewDownloadAndCancel)
{
    int demoId = 0;
    CommandContext demo = Login("demo", "demo123", &demoId);
    // 4/6: stored, and the same account name replaces.
    const std::string text = Account(1, "工商银行", 1, 3) + "|" + Account(2, "招商&银行 100%+", 4, 1);
    ASSERT_TRUE(SendBookUpload(demo, text, false).ok());
    CommandReply down = SendBookDownload(demo, demoId);
    ASSERT_TRUE(down.ok()) << down.error;
    EXPECT_EQ(down.msg, text);
    const std::string changed = Account(1, "工商银行", 10, 2, "改过");
    ASSERT_TRUE(SendBookUpload(demo, changed, false).ok());
    EXPECT_EQ(SendBookDownload(demo, demoId).msg, changed + "|" + Account(2, "招商&银行 100%+", 4, 1));

    // 4/7: the same name makes a second account; nothing is renamed at the service.
    ASSERT_TRUE(SendBookUpload(demo, changed, true).ok());
    EXPECT_EQ(SendBookDownload(demo, demoId).msg, changed + "|" + changed + "|" + Account(2, "招商&银行 100%+", 4, 1));

    // Garbage is refused and changes nothing.
    for (const std::string& bad : {std::string("hello"), Account(3, "甲", 20, 1) + "|", Account(3, "甲", 20, 1).substr(0, 40),
                                   std::string("_A_1|2|3_A__F__F__T__T_"), Account(3, "甲", 20, 1) + "|garbage"}) {
        CommandReply r = SendBookUpload(demo, bad, true);
        EXPECT_EQ(r.status, CommandStatus::Refused) << bad;
        EXPECT_EQ(r.error.rfind("记帐数据格式错误：", 0), 0u) << r.error;
    }
    std::string raw = "_A_1|2|\x81\x20|0|0|0|0|2024-01-01_A__F__F__T__T_";
    int ret = 0;
    std::string msg;
    ParseCommandAnswer(Post(BuildCommand(4, 6, raw, demo.loginId)), ret, msg);
    EXPECT_EQ(GbkToUtf8(msg), "记帐数据编码错误");
    EXPECT_EQ(SendBookDownload(demo, demoId).msg, changed + "|" + changed + "|" + Account(2, "招商&银行 100%+", 4, 1));
    EXPECT_EQ(SendBookDownload(demo, demoId + 1).status, CommandStatus::Refused);

    // A free member may upload but not download.
    int freeId = 0;
    CommandContext free = Login("free", "free123", &freeId);
    ASSERT_TRUE(SendBookUpload(free, Account(7, "免费", 100, 1), false).ok());
    CommandReply refused = SendBookDownload(free, freeId);
    EXPECT_EQ(refused.status, CommandStatus::Refused);
    EXPECT_EQ(refused.error, "此功能只对VIP会员开放，如有需要请到网站中会员中心升级为VIP会员。");

    // An uploaded trade id is cancelled once; other ids and other members' trades are refused.
    CommandReply cancel = SendTradeCancel(demo, 2);
    EXPECT_TRUE(cancel.ok()) << cancel.error;
    EXPECT_EQ(SendTradeCancel(demo, 2).error, "此交易已经取消");
    EXPECT_TRUE(SendTradeCancel(demo, 11).ok());
    EXPECT_EQ(SendTradeCancel(demo, 999).error, "没有找到此交易");
    EXPECT_EQ(SendTradeCancel(free, 4).error, "没有找到此交易");
    EXPECT_EQ(SendTradeCancel(As("0123-1"), 4).status, CommandStatus::Refused);
    ASSERT_TRUE(SendBookUpload(demo, Account(1, "工商银行", 1, 3), false).ok());
    EXPECT_EQ(SendTradeCancel(demo, 2).status, CommandStatus::Refused) << "a re-upload revives a cancelled trade";
}

TEST_F(Members, PlanSaveListEditDelete)
{
    int demoId = 0;
    CommandContext demo = Login("demo", "demo123", &demoId);
    const std::string fund = FundCode(3), other = FundCode(4);
    auto plan = [&](const std::string& code, double money, int day, int planned, int done) {
        return std::vector<std::string>{code, "1", "0", StrFormat("%0.2f", money), StrFormat("%0.2f", double(day)), "1.5",
                                        "8", "1", "2024-07-15 00:00:00", std::to_string(planned), std::to_string(done),
                                        std::to_string(demoId)};
    };
    CommandReply none = SendPlanList(demo, demoId);
    EXPECT_EQ(none.status, CommandStatus::Refused);
    EXPECT_EQ(none.error, "没有基金定投记录");

    ASSERT_TRUE(SendPlanSave(demo, plan(fund, 500, 15, 0, 0)).ok());
    ASSERT_TRUE(SendPlanSave(demo, plan(other, 300, 31, 0, 0)).ok());
    // The record's figures come back as saved: WireRoundTripTest.
    CommandReply list = SendPlanList(demo, demoId);
    ASSERT_TRUE(list.ok()) << list.error;
    ASSERT_EQ(list.fields.size(), 22u);

    // Edit: the same account and fund is the same plan; three periods done
    // from 07-15 on the 20th: processed up to the third due day, 09-20.
    ASSERT_TRUE(SendPlanSave(demo, plan(fund, 800, 20, 0, 3)).ok());
    list = SendPlanList(demo, demoId);
    ASSERT_EQ(list.fields.size(), 22u);
    EXPECT_EQ(std::vector<std::string>(list.fields.begin(), list.fields.begin() + 11),
              (std::vector<std::string>{"1", "1", "0", "1", "3", fund, "800.00", "1.50", "20", "2024-07-15", "2024-09-20"}));

    // Planned periods -1 deletes; a second delete finds nothing.
    ASSERT_TRUE(SendPlanSave(demo, plan(fund, 800, 20, -1, 3)).ok());
    EXPECT_EQ(SendPlanSave(demo, plan(fund, 800, 20, -1, 3)).error, "没有找到此基金的定投记录");
    list = SendPlanList(demo, demoId);
    ASSERT_EQ(list.fields.size(), 11u);
    EXPECT_EQ(list.fields[5], other);

    EXPECT_EQ(SendPlanSave(demo, plan(fund, 0, 15, 0, 0)).error, "定投金额不能小于0");
    EXPECT_EQ(SendPlanSave(demo, plan(fund, 100, 32, 0, 0)).error, "定投日期范围:1 ~ 31");
    EXPECT_EQ(SendPlanSave(demo, plan("999999", 100, 3, 0, 0)).status, CommandStatus::Refused);
    std::vector<std::string> wrongType = plan(fund, 100, 3, 0, 0);
    wrongType[6] = "1";
    EXPECT_EQ(SendPlanSave(demo, wrongType).error, "数据格式错误");
    // Plans are the member's own.
    CommandContext free = Login("free", "free123");
    EXPECT_EQ(SendPlanList(free, demoId).status, CommandStatus::Refused);
    EXPECT_EQ(SendPlanSave(free, plan(other, 300, 31, -1, 0)).status, CommandStatus::Refused);
    EXPECT_EQ(SendPlanList(demo, demoId).fields.size(), 11u);
}

TEST_F(Members, FavouriteFoldersPerMember)
{
    // Two folders; the first starts with five funds.
    CommandContext demo = Login();
    CommandReply groups = SendGroupList(demo);
    ASSERT_TRUE(groups.ok()) << groups.error;
    ASSERT_EQ(groups.fields.size(), 11u);
    EXPECT_EQ(std::vector<std::string>(groups.fields.begin(), groups.fields.begin() + 3),
              (std::vector<std::string>{"1", "我的收藏", "5"}));
    EXPECT_EQ(std::vector<std::string>(groups.fields.begin() + 8, groups.fields.end()),
              (std::vector<std::string>{"2", "关注基金", "0"}));
    EXPECT_EQ(SendGroupList(Anonymous()).status, CommandStatus::Refused);

    const std::string fund = groups.fields[3];
    // (The same fund twice in one folder: ExportOptionsTest.)
    EXPECT_EQ(AddFundToTopic(s_service->Base(), demo.loginId, 2, fund), "添加成功");
    EXPECT_EQ(AddFundToTopic(s_service->Base(), demo.loginId, 1, fund), "已收藏有此基金");
    EXPECT_EQ(Post("LoginID=" + demo.loginId + "&TopicID=2&FundID=" + fund + "&AddFlag=1", "DeleteFundFormTopic"), "-5");
    EXPECT_EQ(AddFundToTopic(s_service->Base(), demo.loginId, 7, fund), "添加失败");
    EXPECT_EQ(AddFundToTopic(s_service->Base(), demo.loginId, 1, "999999"), "添加失败");
    EXPECT_EQ(AddFundToTopic(s_service->Base(), "0123-1", 1, fund), "添加失败");
    CommandReply after = SendGroupList(Login());
    EXPECT_EQ(std::vector<std::string>(after.fields.begin() + 8, after.fields.end()),
              (std::vector<std::string>{"2", "关注基金", "1", fund}));
    // Another member's folders are untouched.
    CommandReply other = SendGroupList(Login("free", "free123"));
    EXPECT_EQ(std::vector<std::string>(other.fields.begin() + 8, other.fields.end()),
              (std::vector<std::string>{"2", "关注基金", "0"}));
}

TEST_F(Members, BodiesAtTheSizeCapAndWrongLoginsLeaveTheServiceAnswering)
{
    // Random and cut bodies of every command: the fuzz harness of the
    // command service and its saved inputs.
    CommandContext demo = Login();
    // A data field near the cap: read whole (the library alone stops form
    // bodies at 8 KB) and refused as bookkeeping for its content.
    const std::string head = "cmdtype=4&cmdid=6&loginid=" + demo.loginId + "&data=";
    for (const char* what : {"_A_", "x"}) {
        std::string body = head + std::string(what) + std::string(kMaxRequestBytes - head.size() - 3 - 30, 'x');
        int ret = 0;
        std::string msg;
        ASSERT_TRUE(ParseCommandAnswer(Post(body), ret, msg));
        EXPECT_EQ(GbkToUtf8(msg).rfind("记帐数据格式错误：第1个帐户", 0), 0u) << GbkToUtf8(msg);
    }
    // A valid upload just under the cap is stored.
    const size_t base = Account(1, "大", 100000, 1).size();
    const size_t row = Account(1, "大", 100000, 2).size() - base;
    const std::string big = Account(1, "大", 100000, static_cast<int>((kMaxRequestBytes - 400 - base) / row));
    ASSERT_GT(big.size(), kMaxRequestBytes - 800);
    EXPECT_TRUE(SendBookUpload(demo, big, false).ok());  // (one byte over the cap: HardeningTest)
    // A wrong login id sees nothing.
    // (The last hex digit changed: a fixed digit would be the real one in one run of sixteen.)
    CommandContext wrong = As(demo.loginId.substr(0, 31) + (demo.loginId[31] == '0' ? "1-1" : "0-1"));
    EXPECT_EQ(SendBookDownload(wrong, 10001).error, "请先登录");
    EXPECT_EQ(SendPlanList(wrong, 10001).error, "请先登录");
    EXPECT_EQ(SendGroupList(wrong).error, "请先登录");
    EXPECT_TRUE(s_service->Process().IsRunning());
    EXPECT_TRUE(SendGroupList(demo).ok());
}

TEST(MemberStore, PasswordsAreHashedAndPlainOnesConverted)
{
    char tmpl[] = "/tmp/member-store-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    // A data file of an older service, with a plain password.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir + "/plindo.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE T_Service_User(UserID int PRIMARY KEY, LoginName TEXT UNIQUE NOT NULL,"
                           " Email TEXT NOT NULL, NickName TEXT NOT NULL, UserPwd TEXT NOT NULL, UserLevel int NOT NULL,"
                           " RegDate DateTime NOT NULL, EndDate DateTime NOT NULL);"
                           "INSERT INTO T_Service_User VALUES(10001,'old','o@x.cn','旧','plainSecret77',1,"
                           "'2024-01-01 00:00:00','2099-01-01 00:00:00');"
                           // Registered before names were folded: both keep their logins.
                           "INSERT INTO T_Service_User VALUES(10002,'OLD','p@x.cn','旧','other1',1,"
                           "'2024-01-01 00:00:00','2099-01-01 00:00:00');"
                           // A hash of an older service: 2 iterations of PBKDF2 over \"kdfpass\", salt 0102.
                           "INSERT INTO T_Service_User VALUES(10003,'kdf','k@x.cn','旧','pbkdf2-sha256$2$0102$"
                           "0e920c8769d6da141af0c93b1de2b1ad5d73bb2473d74624bfd73fa4fc5d2b40',1,"
                           "'2024-01-01 00:00:00','2099-01-01 00:00:00')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    Clock::Fix(OleDate::FromParts(2024, 10, 9, 21, 0, 0));
    {
        CUserStore users;
        std::string error;
        ASSERT_TRUE(users.Open(dir + "/plindo.db", error)) << error;
        ServiceUser old, demo;
        ASSERT_TRUE(users.FindByName("old", old));
        EXPECT_TRUE(CUserStore::CheckPassword(old, "plainSecret77"));
        EXPECT_FALSE(CUserStore::CheckPassword(old, "plainSecret78"));
        ASSERT_TRUE(users.FindByName("demo", demo));
        EXPECT_TRUE(CUserStore::CheckPassword(demo, "demo123"));
        EXPECT_EQ(demo.password.rfind("$argon2id$", 0), 0u);
        ServiceUser upper, kdf;
        ASSERT_TRUE(users.FindByName("OLD", upper));
        EXPECT_TRUE(CUserStore::CheckPassword(upper, "other1"));
        // The older hash lets its member in once more and is replaced.
        long wait = 0;
        EXPECT_EQ(users.Authenticate("kdf", "kdfpass", "", kdf, wait), CUserStore::LoginResult::Ok);
        ASSERT_TRUE(users.FindByName("kdf", kdf));
        EXPECT_EQ(kdf.password.rfind("$argon2id$", 0), 0u);
        EXPECT_TRUE(CUserStore::CheckPassword(kdf, "kdfpass"));
        // Read while the service would still run: no copy of the plain text left in the file or its journal.
        std::string file = test::ReadWholeFile(dir + "/plindo.db") + test::ReadWholeFile(dir + "/plindo.db-wal");
        EXPECT_EQ(file.find("plainSecret77"), std::string::npos);
        EXPECT_EQ(file.find("demo123"), std::string::npos);
        EXPECT_EQ(file.find("free123"), std::string::npos);

        // Login ids: random, and gone after a day without use.
        std::string a = users.CreateSession(demo, Clock::Now()), b = users.CreateSession(demo, Clock::Now());
        EXPECT_NE(a, b);
        EXPECT_TRUE(std::regex_match(a, std::regex("[0-9a-f]{32}-1")));
        int user = 0;
        Clock::Fix(OleDate::FromParts(2024, 10, 10, 20, 0, 0));
        EXPECT_TRUE(users.FindSession(a, user));
        Clock::Fix(OleDate::FromParts(2024, 10, 11, 20, 30, 0));
        EXPECT_FALSE(users.FindSession(a, user));
        EXPECT_FALSE(users.FindSession(b, user));
        EXPECT_EQ(users.SessionCount(), 0u);
    }
    Clock::Release();
    std::filesystem::remove_all(dir);
}

TEST_F(Members, StartRefusals)
{
    std::string out;
    EXPECT_EQ(test::RunServe("--help", out), 0);
    EXPECT_NE(out.find("usage: plindo-serve"), std::string::npos);
    EXPECT_EQ(test::RunServe("--port 0 --data ''", out), 2);
    for (const char* hang : {"htmdata", "2/", "''", "a/b", "2/1/3"}) EXPECT_EQ(test::RunServe(std::string("--port 0 --data /tmp --hang ") + hang, out), 2) << hang;
    EXPECT_NE(out.find("--data"), std::string::npos);
    // A clock outside the simulated years is refused with the range.
    for (const char* now : {"'1997-12-31 12:00:00'", "'2036-01-01 12:00:00'"}) {
        // (the last option is never reached when the clock is refused, so no service starts)
        EXPECT_EQ(test::RunServe(std::string("--port 0 --data /tmp --now ") + now + " --no-such-option", out), 2) << now;
        EXPECT_NE(out.find("1998-01-01 to 2035-12-31"), std::string::npos) << out;
    }
    EXPECT_EQ(test::RunServe("--port 0 --data /proc/version/sub", out), 1);
    EXPECT_NE(out.find("/proc/version/sub"), std::string::npos) << out;
    // A second service on the port of the running one.
    EXPECT_EQ(test::RunServe("--quiet --data " + s_service->DataDir() + "/second --port " + std::to_string(s_service->Process().Port()), out), 1);
    EXPECT_NE(out.find("in use"), std::string::npos) << out;
    EXPECT_TRUE(SendGroupList(Login()).ok());

    // A relative data folder is the one below where the service was started;
    // a temporary file that a killed service left there goes.
    const std::string cwd = s_service->DataDir() + "/started-here";
    std::filesystem::create_directories(cwd + "/rel/Update");
    std::ofstream(cwd + "/rel/Update/Vextal.mdb.new4242") << "half a database";
    const std::string script = "cd '" + cwd + "' && { " + PLINDO_SERVE_PATH +
                               " --quiet --port 0 --funds 50 --data rel >/dev/null 2>&1 & pid=$!; "
                               "for i in $(seq 100); do [ -f rel/Update/Vextal.mdb ] && break; sleep 0.1; done; "
                               "kill $pid; wait $pid; }";
    FILE* p = popen(script.c_str(), "r");
    if (p) pclose(p);
    EXPECT_TRUE(std::filesystem::exists(cwd + "/rel/Update/Vextal.mdb"));
    EXPECT_FALSE(std::filesystem::exists(cwd + "/rel/Update/Vextal.mdb.new4242"));
}

}  // namespace
}  // namespace vextal
