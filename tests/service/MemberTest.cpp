// What members keep at the real plindo-serve, asked through the program's own
// command functions: bookkeeping upload and download, plans, cancellation,
// favourite folders, stored passwords, sessions, and hostile bodies.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <random>
#include <regex>

#include "PlindoServer.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/Cipher.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/DataService.h"
#include "net/Encoding.h"
#include "net/HttpTransport.h"
#include "support/ServeFixture.h"

namespace vextal {
namespace {

CommandContext Ctx(const std::string& url, const std::string& loginId)
{
    CommandContext c;
    c.commandUrl = url;
    c.loginId = loginId;
    return c;
}

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

class Members : public test::ServiceSuite {
protected:
    static void SetUpTestSuite() { StartSuite({7, 200, "2024-10-09 21:00:00"}); }

    static std::string Url() { return s_service->CommandUrl(); }
    static CommandReply LoginReply(const std::string& name, const std::string& password)
    {
        return s_service->LoginReply(name, password);
    }
    static int UserId(const std::string& name, const std::string& password)
    {
        return std::atoi(LoginReply(name, password).fields.at(0).c_str());
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
};

TEST_F(Members, BookkeepingUploadReplaceOrNewDownloadAndCancel)
{
    CommandContext demo = Login();
    const int demoId = UserId("demo", "demo123");
    const std::string first = Account(1, "工商银行", 1, 3) + "|" + Account(2, "招商<银行", 4, 1);
    EXPECT_EQ(SendBookUpload(demo, first, false).error, "记帐数据不能包含<字符");

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
        EXPECT_EQ(r.error, "记帐数据格式错误");
    }
    std::string raw = "_A_1|2|\x81\x20|0|0|0|0|2024-01-01_A__F__F__T__T_";
    int ret = 0;
    std::string msg;
    ParseCommandAnswer(Post(BuildCommand(4, 6, raw, demo.loginId)), ret, msg);
    EXPECT_EQ(GbkToUtf8(msg), "记帐数据编码错误");
    EXPECT_EQ(SendBookDownload(demo, demoId).msg, changed + "|" + changed + "|" + Account(2, "招商&银行 100%+", 4, 1));
    EXPECT_EQ(SendBookDownload(demo, demoId + 1).status, CommandStatus::Refused);

    // A free member may upload but not download.
    CommandContext free = Login("free", "free123");
    ASSERT_TRUE(SendBookUpload(free, Account(7, "免费", 100, 1), false).ok());
    CommandReply refused = SendBookDownload(free, UserId("free", "free123"));
    EXPECT_EQ(refused.status, CommandStatus::Refused);
    EXPECT_EQ(refused.error, "此功能只对VIP会员开放，如有需要请到网站中会员中心升级为VIP会员。");

    // An uploaded trade id is cancelled once; other ids and other members' trades are refused.
    CommandReply cancel = SendTradeCancel(demo, 2);
    EXPECT_TRUE(cancel.ok()) << cancel.error;
    EXPECT_EQ(SendTradeCancel(demo, 2).error, "此交易已经取消");
    EXPECT_TRUE(SendTradeCancel(demo, 11).ok());
    EXPECT_EQ(SendTradeCancel(demo, 999).error, "没有找到此交易");
    EXPECT_EQ(SendTradeCancel(free, 4).error, "没有找到此交易");
    EXPECT_EQ(SendTradeCancel(Ctx(Url(), "0123-1"), 4).status, CommandStatus::Refused);
    ASSERT_TRUE(SendBookUpload(demo, Account(1, "工商银行", 1, 3), false).ok());
    EXPECT_EQ(SendTradeCancel(demo, 2).status, CommandStatus::Refused) << "a re-upload revives a cancelled trade";
}

TEST_F(Members, PlanSaveListEditDelete)
{
    CommandContext demo = Login();
    const int demoId = UserId("demo", "demo123");
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
    CommandReply list = SendPlanList(demo, demoId);
    ASSERT_TRUE(list.ok()) << list.error;
    ASSERT_EQ(list.fields.size(), 22u);
    EXPECT_EQ(std::vector<std::string>(list.fields.begin(), list.fields.begin() + 11),
              (std::vector<std::string>{"1", "1", "0", "1", "0", fund, "500.00", "1.50", "15", "2024-07-15", "2024-07-14"}));

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
    EXPECT_EQ(SendGroupList(Ctx(Url(), "")).status, CommandStatus::Refused);

    const std::string fund = groups.fields[3];
    EXPECT_EQ(AddFundToTopic(s_service->Base(), demo.loginId, 2, fund), "添加成功");
    EXPECT_EQ(AddFundToTopic(s_service->Base(), demo.loginId, 2, fund), "已收藏有此基金");
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

TEST_F(Members, HostileBodiesLeaveTheServiceAnswering)
{
    CommandContext demo = Login();
    const std::vector<std::string> valid = {
        BuildCommand(4, 6, Account(1, "a", 1, 2), demo.loginId),
        BuildCommand(4, 7, Account(1, "a", 1, 2), demo.loginId),
        BuildCommand(4, 4, "10001", demo.loginId),
        BuildCommand(4, 5, "10001", demo.loginId),
        BuildCommand(4, 15, "1", demo.loginId),
        BuildCommand(4, 32, "000001|1|0|100.00|5.00|1.5|8|1|2024-01-01 00:00:00|0|0|10001", demo.loginId),
        BuildCommand(2, 11, "000001|2024-01-01|2024-10-01|0", demo.loginId),
        BuildCommand(2, 12, "000001|2020-01-01|2024-10-01|10|1", demo.loginId),
        BuildCommand(2, 5, "000001|000002|000003", demo.loginId),
        BuildCommand(3, 3, "a|b@c.d|n|" + UrlEncode(EncryptText("pw")), ""),
        BuildCommand(2, 13, "000001|2000-01-01|2024-10-01|100.00|0", demo.loginId),
        "LoginID=" + demo.loginId + "&TopicID=1&FundID=000001&AddFlag=1",
    };
    std::mt19937 rng(11);
    int answered = 0;
    for (int i = 0; i < 1200; ++i) {
        const std::string& v = valid[static_cast<size_t>(i) % valid.size()];
        std::string body = v.substr(0, rng() % (v.size() + 1));
        if (i % 3 == 0) {
            body.resize(rng() % 300);
            for (char& c : body) c = static_cast<char>(rng() % 3 == 0 ? "|&=%_"[rng() % 5] : rng());
        } else if (i % 3 == 1 && !body.empty()) {
            body[rng() % body.size()] = static_cast<char>(rng());
        }
        std::string answer;
        const bool folder = static_cast<size_t>(i) % valid.size() == valid.size() - 1;
        if (HttpRequest(s_service->Base() + "plindo/client/ClientService.asmx/" + (folder ? "DeleteFundFormTopic" : "SendCommand"),
                        "POST", answer, body, "", 5) > 0)
            ++answered;
    }
    EXPECT_EQ(answered, 1200);

    // A data field near the cap: read whole (the library alone stops form
    // bodies at 8 KB) and refused as bookkeeping for its content.
    const std::string head = "cmdtype=4&cmdid=6&loginid=" + demo.loginId + "&data=";
    for (const char* what : {"_A_", "x"}) {
        std::string body = head + std::string(what) + std::string(kMaxRequestBytes - head.size() - 3 - 30, 'x');
        int ret = 0;
        std::string msg;
        ASSERT_TRUE(ParseCommandAnswer(Post(body), ret, msg));
        EXPECT_EQ(GbkToUtf8(msg), "记帐数据格式错误");
    }
    // A valid upload just under the cap is stored; one byte over the cap is refused.
    const size_t base = Account(1, "大", 100000, 1).size();
    const size_t row = Account(1, "大", 100000, 2).size() - base;
    const std::string big = Account(1, "大", 100000, static_cast<int>((kMaxRequestBytes - 400 - base) / row));
    ASSERT_GT(big.size(), kMaxRequestBytes - 800);
    EXPECT_TRUE(SendBookUpload(demo, big, false).ok());
    std::string over = head + std::string(kMaxRequestBytes, 'x');
    std::string answer;
    EXPECT_EQ(HttpRequest(Url(), "POST", answer, over, "", 10), -1);
    // A wrong login id sees nothing.
    // (The last hex digit changed: a fixed digit would be the real one in one run of sixteen.)
    CommandContext wrong = Ctx(Url(), demo.loginId.substr(0, 31) + (demo.loginId[31] == '0' ? "1-1" : "0-1"));
    EXPECT_EQ(SendBookDownload(wrong, 10001).error, "请先登录");
    EXPECT_EQ(SendPlanList(wrong, 10001).error, "请先登录");
    EXPECT_EQ(SendGroupList(wrong).error, "请先登录");
    EXPECT_TRUE(s_service->Process().IsRunning());
    EXPECT_TRUE(SendGroupList(demo).ok());
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
        // Read while the service would still run: no copy of the plain text left in the file or its journal.
        std::string file = ReadFile(dir + "/plindo.db") + ReadFile(dir + "/plindo.db-wal");
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

TEST_F(Members, RegisteredPasswordNeverInTheDataFile)
{
    CommandReply r = SendRegister(Ctx(Url(), ""), "newbie", "n@x.cn", "新人", "Zq9secretPw");
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(LoginReply("newbie", "Zq9secretPw").ok());
    EXPECT_FALSE(LoginReply("newbie", "Zq9secretPx").ok());
    for (const char* file : {"/plindo.db", "/plindo.db-wal"})
        EXPECT_EQ(ReadFile(s_service->DataDir() + file).find("Zq9secretPw"), std::string::npos) << file;
}

// Runs plindo-serve with `args` to its end; its exit status and output.
int RunServe(const std::string& args, std::string& output)
{
    FILE* p = popen((std::string(PLINDO_SERVE_PATH) + " " + args + " 2>&1").c_str(), "r");
    output.clear();
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) output += buf;
    int status = p ? pclose(p) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Members, StartRefusals)
{
    std::string out;
    EXPECT_EQ(RunServe("--help", out), 0);
    EXPECT_NE(out.find("usage: plindo-serve"), std::string::npos);
    EXPECT_EQ(RunServe("--port 0 --data ''", out), 2);
    EXPECT_NE(out.find("--data"), std::string::npos);
    // A clock outside the simulated years is refused with the range.
    for (const char* now : {"'1997-12-31 12:00:00'", "'2036-01-01 12:00:00'"}) {
        // (the last option is never reached when the clock is refused, so no service starts)
        EXPECT_EQ(RunServe(std::string("--port 0 --data /tmp --now ") + now + " --no-such-option", out), 2) << now;
        EXPECT_NE(out.find("1998-01-01 to 2035-12-31"), std::string::npos) << out;
    }
    EXPECT_EQ(RunServe("--port 0 --data /proc/version/sub", out), 1);
    EXPECT_NE(out.find("/proc/version/sub"), std::string::npos) << out;
    // A second service on the port of the running one.
    EXPECT_EQ(RunServe("--quiet --data " + s_service->DataDir() + "/second --port " + std::to_string(s_service->Process().Port()), out), 1);
    EXPECT_NE(out.find("in use"), std::string::npos) << out;
    EXPECT_TRUE(SendGroupList(Login()).ok());

    // A relative data folder is the one below where the service was started.
    const std::string cwd = s_service->DataDir() + "/started-here";
    std::filesystem::create_directories(cwd);
    const std::string script = "cd '" + cwd + "' && { " + PLINDO_SERVE_PATH +
                               " --quiet --port 0 --funds 50 --data rel >/dev/null 2>&1 & pid=$!; "
                               "for i in $(seq 100); do [ -f rel/Update/Vextal.mdb ] && break; sleep 0.1; done; "
                               "kill $pid; wait $pid; }";
    FILE* p = popen(script.c_str(), "r");
    if (p) pclose(p);
    EXPECT_TRUE(std::filesystem::exists(cwd + "/rel/Update/Vextal.mdb"));
}

}  // namespace
}  // namespace vextal
