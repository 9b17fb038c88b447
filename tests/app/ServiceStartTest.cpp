// The start of the program against the real plindo-serve process: database
// and page files fetched into an empty home, login online and offline,
// refusals, registration and password change, logout at shutdown, the
// version question, and the fund data after login. Expected figures come
// from the same market simulator the service runs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <set>

#include "MarketSimulator.h"
#include "app/AppTestSupport.h"
#include "app/IniFile.h"
#include "app/LoginDialogLogic.h"
#include "app/MarketData.h"
#include "app/SelfUpdate.h"
#include "app/Settings.h"
#include "app/StartupSequence.h"
#include "net/ClientCommands.h"
#include "net/HttpTransport.h"
#include "support/ServeFixture.h"

using namespace vextal;
using namespace vextal::test;

namespace {

constexpr uint64_t kSeed = 3;
constexpr int kFunds = 80;
// Friday morning: the newest NAV is Thursday's, and the version query goes
// to the service itself (from 19:00 it goes to the web site).
constexpr const char* kNowText = "2024-06-28 10:00:00";
const OleDate kNow = OleDate::FromParts(2024, 6, 28, 10, 0, 0);

const CMarketSimulator& Market() { return SimulatedMarket(kSeed, kFunds); }

class ServiceStartTest : public AppHomeTest, protected LoginDesk {
protected:
    // plindo-serve with the fixed clock; the program's settings point at it.
    void Serve(std::vector<std::string> extra = {})
    {
        svc.reset();
        svc = std::make_unique<RealService>(ServeOptions{kSeed, kFunds, kNowText, extra});
        VEXTAL_ASSERT_STARTED(svc);
        WriteWholeFile(home + "Vextal.ini",
                       "[Login]\r\nServerURL=" + svc->Base() + "\r\nDataServerURL=" + svc->Base() + "\r\n");
        Clock::Fix(kNow);
    }

    std::unique_ptr<ProgramRun> Start(const CLoginForm& form) { return StartProgram(home + "Vextal", form); }

    // Does the service still accept commands under this login id?
    bool SessionAlive(const std::string& loginId)
    {
        return SendCompanyList({svc->CommandUrl(), loginId, "check"}).ok();
    }

    std::string ServedFile(const std::string& path)
    {
        std::string body;
        HttpGetBuffer(svc->Base() + path, body, std::string(), std::string());
        return body;
    }

    std::unique_ptr<RealService> svc;
};

std::string Stored(CVextalDoc& doc, const char* item)
{
    std::string value;
    GetSystemInfo(doc.GetDatabase(), item, value);
    return value;
}

// The codes of the funds listed and not withdrawn at kNow.
std::set<std::string> OnTheMarket()
{
    const int today = DayNumber(kNow);
    std::set<std::string> codes;
    for (const SimFund& f : Market().Funds())
        if (Market().IsListed(f, today) && !Market().IsWithdrawn(f, today)) codes.insert(f.code);
    return codes;
}

// An open-end or money-market fund listed long before kNow.
const SimFund& PickFund(bool moneyMarket)
{
    return EstablishedFund(Market(), [&](const SimFund& f) {
        return f.IsMoneyMarket() == moneyMarket && CMarketSimulator::FundClass(f) == (moneyMarket ? 2 : 1);
    });
}

TEST_F(ServiceStartTest, EmptyHomeOnlineThenOfflineStarts)
{
    Serve();
    // The served database carries a mark, so a file made locally instead
    // of downloaded is told apart.
    {
        CAdoDatabase served;
        served.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
        served.SetDatabase(svc->DataDir() + "/Update/Vextal.mdb", 0);
        ASSERT_TRUE(served.Open()) << served.GetLastError();
        ASSERT_TRUE(SetSystemInfo(served, "Origin", "plindo-serve")) << served.GetLastError();
        served.Close();
    }
    const int today = DayNumber(kNow);
    const SimFund& stock = PickFund(false);
    const SimFund& money = PickFund(true);
    std::string loginId;

    // 1. Empty home: database and page files fetched, demo online with the remembered password.
    {
        auto run = Start({" demo ", " demo123 ", true, false});
        ASSERT_EQ(run->result, StartupResult::Running);
        EXPECT_TRUE(run->prompt.messages.empty()) << run->prompt.messages.front();
        EXPECT_TRUE(run->prompt.questions.empty());
        CVextalDoc& doc = run->Doc();
        ASSERT_TRUE(doc.IsDatabaseOpen());
        // Reads of one fund's NAVs have their index from the first open on.
        EXPECT_EQ(doc.GetDatabase().GetRecordCount(
                      "SELECT name FROM sqlite_master WHERE type='index' AND name='IX_Fund_Value_Fund'"),
                  1);
        EXPECT_EQ(Stored(doc, "Origin"), "plindo-serve");
        EXPECT_EQ(doc.GetServerVersion(), "3.25");

        for (const char* page : {"vextal.htm", "vextalnew.htm", "stylemain.css", "stockindex.htm", "fundkey.txt",
                                 "image/logoweb.gif"})
            EXPECT_EQ(ReadWholeFile(home + "Html/" + page), ServedFile(page)) << page;
        EXPECT_EQ(ReadWholeFile(home + "Html/image/logoweb.gif").substr(0, 6), "GIF89a");
        // The fund key table in UTF-8: every fund on the market, none withdrawn.
        std::map<std::string, std::string> keys;
        for (const std::string& code : OnTheMarket()) keys[code] = Market().FindFund(code)->name;
        EXPECT_EQ(doc.FundKeys(), keys);

        const CUserInfo& u = doc.User();
        EXPECT_EQ(u.UserID, 10001);
        EXPECT_EQ(u.LoginName, "demo");
        EXPECT_EQ(u.Password, "demo123");
        EXPECT_EQ(u.NickName, "演示用户");
        EXPECT_EQ(u.Email, "demo@plindo.example");
        EXPECT_EQ(u.RegisterDate, "2024-01-01");
        EXPECT_EQ(u.EndDate, "2099-12-31");
        EXPECT_EQ(u.FundCorVersion, Market().CompanyListVersion(kNow));
        EXPECT_EQ(u.FundInfoVersion, Market().FundListVersion(kNow));
        EXPECT_EQ(u.NewValueDate, "2024-06-27");
        EXPECT_EQ(u.Attributes, (std::map<std::string, std::string>{{"vip", "1"}, {"level", "1"}}));
        EXPECT_TRUE(std::regex_match(u.LoginID, std::regex("[0-9a-f]{32}-1"))) << u.LoginID;
        EXPECT_TRUE(doc.IsVip());
        EXPECT_FALSE(IsProgramOffline());
        loginId = u.LoginID;

        int userId = 0;
        EXPECT_TRUE(doc.GetDatabase().QueryInt(
            "SELECT UserID FROM T_User_Info WHERE LoginName='demo' AND UserPwd='demo123'", userId));
        EXPECT_EQ(userId, 10001);
        CLoginSettings saved = ReadLoginSettings();
        EXPECT_EQ(saved.name, "demo");
        EXPECT_EQ(saved.password, "demo123");
        EXPECT_EQ(saved.loginFlag, 0);
        EXPECT_EQ(ReadIniString("Login", "ServerURL", "", 128), svc->Base());
        EXPECT_EQ(ReadIniString("Login", "Password", "", 48).find("demo123"), std::string::npos);

        // The catalogue came from the service (its fields and stored versions: ServeTest).
        std::set<std::string> companies;
        for (const SimCompany& c : Market().Companies())
            if (c.firstFundDay && c.firstFundDay <= today) companies.insert(c.id);
        std::set<std::string> gotFunds, gotCompanies;
        for (const auto& [code, info] : run->market->Catalogue().Funds()) gotFunds.insert(code);
        for (const auto& [id, company] : run->market->Catalogue().Companies()) gotCompanies.insert(id);
        EXPECT_EQ(gotFunds, OnTheMarket());
        EXPECT_EQ(gotCompanies, companies);
        // The bookkeeping's fund directory answers from the catalogue.
        EXPECT_TRUE(doc.FundDirectory().IsMoneyMarketFund(money.code));
        EXPECT_FALSE(doc.FundDirectory().IsMoneyMarketFund(stock.code));
        OleDate established;
        EXPECT_TRUE(doc.FundDirectory().GetEstablishDate(stock.code, established));
        EXPECT_EQ(DayNumber(established), stock.createDay);

        // The open-end list's latest values, stored for the next start.
        EXPECT_EQ(run->market->Latest().DownloadClassValues(1, false), kMarketOk)
            << run->market->Latest().GetLastError();

        run->seq->Shutdown();
    }

    // A local change to the catalogue shows whether the next start loads or downloads.
    {
        CAdoDatabase db;
        db.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
        db.SetDatabase(home + "Vextal.mdb", 0);
        ASSERT_TRUE(db.Open());
        ASSERT_TRUE(db.Execute("UPDATE T_Fund_Info SET FundName='本地名称' WHERE FundID='" + stock.code + "'"));
        db.Close();
    }

    // 2. Online again: same versions, so the catalogue and the latest values load locally.
    size_t values = 0;
    {
        auto run = Start({"demo", "demo123", true, false});
        ASSERT_EQ(run->result, StartupResult::Running);
        EXPECT_TRUE(run->prompt.messages.empty());
        const CFundInfo* info = run->market->Catalogue().FindFund(stock.code);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->FundName, "本地名称");
        values = run->market->Latest().Values().size();
        EXPECT_GT(values, 0u);
        EXPECT_NE(run->market->Latest().FindValue(stock.code), nullptr);
        LatestNav nav;
        ASSERT_TRUE(run->Doc().FundDirectory().GetLatestNav(stock.code, nav));
        LatestValue expected;
        ASSERT_TRUE(Market().Latest(stock, kNow, expected));
        EXPECT_NEAR(nav.TodayValue, expected.rec.nav, 5e-5);
        EXPECT_EQ(DayNumber(nav.ValueDate), expected.rec.day);
        EXPECT_NE(run->Doc().User().LoginID, loginId);
        run->seq->Shutdown();
    }

    // 3. Offline with the same credentials: works with the service gone.
    svc->Process().Stop();
    {
        auto run = Start({"demo", "demo123", false, true});
        ASSERT_EQ(run->result, StartupResult::Running);
        EXPECT_TRUE(run->prompt.messages.empty()) << run->prompt.messages.front();
        EXPECT_TRUE(run->prompt.questions.empty());
        EXPECT_EQ(run->opened.form.name, "demo");  // remembered from the last login
        CVextalDoc& doc = run->Doc();
        EXPECT_EQ(doc.User().UserID, 10001);
        EXPECT_TRUE(doc.User().LoginID.empty());
        EXPECT_TRUE(IsProgramOffline());
        EXPECT_EQ(run->market->Catalogue().Funds().size(), OnTheMarket().size());
        EXPECT_EQ(run->market->Latest().Values().size(), values);
        run->seq->Shutdown();
        EXPECT_EQ(ReadLoginSettings().loginFlag, 1);
        EXPECT_EQ(ReadLoginSettings().password, "");  // not remembered this time
    }
}

TEST_F(ServiceStartTest, RefusedAndHostileLoginsShowTheirTexts)
{
    Serve();
    OpenDocument();
    const std::string offlineRefusal = "登录失败:错误的用户名或者密码，或者没有连机正确登录过系统";
    DialogFocus focus = DialogFocus::None;
    EXPECT_FALSE(dialog->OnLogin({"   ", "x", false, false}, &focus));
    EXPECT_EQ(LastMessage(), kEmptyLoginName);
    EXPECT_EQ(focus, DialogFocus::Name);

    // The service's own refusal text.
    EXPECT_FALSE(Login("demo", "demo12", false));
    EXPECT_EQ(LastMessage(), "登录失败:用户名或密码错误");
    EXPECT_EQ(prompt.icons.back(), PromptIcon::Warning);
    EXPECT_FALSE(Login("nobody", "demo123", false));
    EXPECT_EQ(LastMessage(), "登录失败:用户名或密码错误");
    EXPECT_EQ(ReadLoginSettings().name, "");  // a refused login writes nothing back
    // Never logged in online on this database.
    EXPECT_FALSE(Login("demo", "demo123", true));
    EXPECT_EQ(LastMessage(), offlineRefusal);

    ASSERT_TRUE(Login("demo", "demo123", false)) << LastMessage();
    // Quotes reach the service as text and the local table as literals.
    EXPECT_FALSE(Login("' OR '1'='1", "' OR '1'='1", false));
    EXPECT_EQ(LastMessage(), "登录失败:用户名或密码错误");
    for (const auto& [name, password] : std::vector<std::pair<std::string, std::string>>{
             {"' OR '1'='1", "' OR '1'='1"}, {"demo", "x' OR '1'='1"}, {"demo' --", ""}, {"demo'", "demo123"},
             {"de\"mo", "demo123"}, {"demo", "demo123'"}}) {
        EXPECT_FALSE(Login(name, password, true)) << name << " / " << password;
        EXPECT_EQ(LastMessage(), offlineRefusal) << name;
    }
    CRegisterForm quoted{"o'brien", "o@plindo.example", "奥", "pw"};
    EXPECT_FALSE(dialog->OnRegister(quoted));
    EXPECT_EQ(LastMessage(), "注册失败:用户名包含非法字符");
    int rows = 0;
    EXPECT_TRUE(doc->GetDatabase().QueryInt("SELECT COUNT(*) FROM T_User_Info", rows));
    EXPECT_EQ(rows, 1);
    EXPECT_TRUE(Login("demo", "demo123", true)) << LastMessage();
    EXPECT_EQ(doc->User().UserID, 10001);

    // The service gone: the version query fails quietly, the login says why.
    svc->Process().Stop();
    WriteIniString("Login", "LoginFlag", "0");  // the last login was offline
    RecordingPrompt quiet;
    CLoginDialogLogic fresh(*doc, quiet);
    auto state = fresh.OnOpen();
    EXPECT_FALSE(state.endProgram);
    EXPECT_TRUE(quiet.messages.empty());
    EXPECT_TRUE(quiet.questions.empty());
    EXPECT_EQ(doc->GetServerVersion(), "");
    EXPECT_EQ(fresh.VersionCheck().GetLastError(), kSendRequestError);
    EXPECT_FALSE(Login("demo", "demo123", false));
    EXPECT_EQ(LastMessage(), "登录失败:发送请求错误");
}

TEST_F(ServiceStartTest, RegistrationUserInformationAndPasswordChange)
{
    Serve();
    OpenDocument();
    DialogFocus focus = DialogFocus::None;
    CRegisterForm nameless{"newbie", "newbie@plindo.example", " ", "pw1"};
    EXPECT_FALSE(dialog->OnRegister(nameless, &focus));
    EXPECT_EQ(LastMessage(), "姓名不能为空");
    EXPECT_EQ(focus, DialogFocus::Nickname);
    CRegisterForm form{" newbie ", "newbie@plindo", "新人", "pw1"};
    EXPECT_FALSE(dialog->OnRegister(form));
    EXPECT_EQ(LastMessage(), "注册失败:Email格式不正确");
    form.email = "newbie@plindo.example";
    ASSERT_TRUE(dialog->OnRegister(form)) << LastMessage();
    EXPECT_EQ(LastMessage(), kRegisterDone);
    EXPECT_EQ(form.loginName, "newbie");
    EXPECT_FALSE(dialog->OnRegister(form));
    EXPECT_EQ(LastMessage(), "注册失败:该用户名已经被注册");

    ASSERT_TRUE(Login("newbie", "pw1", false)) << LastMessage();
    EXPECT_EQ(doc->User().UserID, 10003);
    EXPECT_EQ(doc->User().NickName, "新人");
    EXPECT_EQ(doc->User().Email, "newbie@plindo.example");
    EXPECT_EQ(doc->User().RegisterDate, "2024-06-28");
    EXPECT_EQ(doc->User().LoginID.substr(32), "-0");
    EXPECT_FALSE(doc->IsVip());

    EXPECT_FALSE(SaveUserInformation(*doc, prompt, "bad", "老手"));
    EXPECT_EQ(LastMessage(), "修改失败:Email格式不正确");
    EXPECT_EQ(doc->User().NickName, "新人");
    ASSERT_TRUE(SaveUserInformation(*doc, prompt, " m@plindo.example ", "老手")) << LastMessage();
    EXPECT_EQ(LastMessage(), kUpdateDone);

    // Signs that the form encoding and the cipher must carry unchanged.
    const std::string password = "a+b%20c&d=中";
    EXPECT_FALSE(ChangeLoginPassword(*doc, prompt, "pw2", password, &focus));
    EXPECT_EQ(LastMessage(), kWrongOldPassword);
    EXPECT_EQ(focus, DialogFocus::OldPassword);
    ASSERT_TRUE(ChangeLoginPassword(*doc, prompt, "pw1", password)) << LastMessage();

    EXPECT_FALSE(Login("newbie", "pw1", false));
    EXPECT_EQ(LastMessage(), "登录失败:用户名或密码错误");
    ASSERT_TRUE(Login("newbie", password, false)) << LastMessage();
    EXPECT_EQ(doc->User().NickName, "老手");
    EXPECT_EQ(doc->User().Email, "m@plindo.example");
    EXPECT_FALSE(Login("newbie", "pw1", true));
    EXPECT_TRUE(Login("newbie", password, true)) << LastMessage();
    EXPECT_EQ(doc->User().UserID, 10003);
    // Blanks around a new password go, as they go from what the login dialog sends.
    ASSERT_TRUE(Login("newbie", password, false)) << LastMessage();
    ASSERT_TRUE(ChangeLoginPassword(*doc, prompt, " " + password + " ", " pw3 ")) << LastMessage();
    EXPECT_EQ(doc->User().Password, "pw3");
    EXPECT_TRUE(Login("newbie", " pw3", false)) << LastMessage();
    EXPECT_TRUE(Login("newbie", "pw3", true)) << LastMessage();

    // A Chinese login name crosses the wire in GBK and comes back the same.
    CRegisterForm chinese{"张三", "zhang@plindo.example", "张先生", "密码1"};
    ASSERT_TRUE(dialog->OnRegister(chinese)) << LastMessage();
    ASSERT_TRUE(Login("张三", "密码1", false)) << LastMessage();
    EXPECT_TRUE(Login("张三", "密码1", true)) << LastMessage();
    EXPECT_EQ(doc->User().UserID, 10004);
    EXPECT_FALSE(Login("张", "密码1", true));
}

TEST_F(ServiceStartTest, FirstStartWithTheServiceDown)
{
    Serve();
    svc->Process().Stop();
    auto run = Start({"demo", "demo123", false, false});
    EXPECT_EQ(run->result, StartupResult::LoginCancelled);
    EXPECT_EQ(run->prompt.messages, std::vector<std::string>{"登录失败:发送请求错误"});
    EXPECT_TRUE(run->prompt.questions.empty());
    // The database was made here instead, complete; no page file appeared.
    ASSERT_TRUE(run->Doc().IsDatabaseOpen());
    EXPECT_EQ(Stored(run->Doc(), "DBVersion"), kCurrentDBVersion);
    EXPECT_FALSE(fs::exists(home + "Html/vextal.htm"));
    EXPECT_FALSE(fs::exists(home + "Vextal.mdb.download"));
    EXPECT_EQ(ReadLoginSettings().name, "");
}

// A fund list received after the login that a full disk cannot take is
// said, with the lack of space, instead of an empty list shown as ready;
// its version stays, so the next login asks again.
TEST_F(ServiceStartTest, AFundListTheFullDiskCannotTakeIsReported)
{
    if (!MountSmallHome("8m")) GTEST_SKIP() << "no small file system to fill (mounting needs root)";
    Serve();
    std::string versionBefore;
    auto run = StartProgram(home + "Vextal", {"demo", "demo123", false, false}, true, [&](CVextalDoc& doc) {
        versionBefore = Stored(doc, "FundInfoVersion");
        FillHome();
    });
    ASSERT_EQ(run->result, StartupResult::Running);
    std::string said;
    for (const std::string& m : run->prompt.messages)
        if (m.find("基金列表没有存入数据库文件 " + home + "Vextal.mdb") == 0) said = m;
    EXPECT_NE(said.find("磁盘空间不足"), std::string::npos) << ::testing::PrintToString(run->prompt.messages);
    EXPECT_EQ(Stored(run->Doc(), "FundInfoVersion"), versionBefore);
    run->seq->Shutdown();
}

TEST_F(ServiceStartTest, LogoutAtShutdownOnlyWhenOnline)
{
    Serve();
    // Another session of the same member, which no shutdown may end.
    CommandReply other = SendLogin({svc->CommandUrl(), "", "LoginOnline"}, "demo", "demo123", "3.25");
    ASSERT_TRUE(other.ok()) << other.error;

    auto online = Start({"demo", "demo123", false, false});
    ASSERT_EQ(online->result, StartupResult::Running);
    const std::string loginId = online->Doc().User().LoginID;
    ASSERT_TRUE(SessionAlive(loginId));
    online->seq->Shutdown();
    EXPECT_FALSE(SessionAlive(loginId));
    EXPECT_TRUE(SessionAlive(other.serverId));

    auto offline = Start({"demo", "demo123", false, true});
    ASSERT_EQ(offline->result, StartupResult::Running);
    EXPECT_TRUE(offline->Doc().User().LoginID.empty());
    offline->seq->Shutdown();
    EXPECT_TRUE(SessionAlive(other.serverId));
}

// The service signs its updaters with the key this build made (a build with
// a release key has no private key to give it).
TEST_F(ServiceStartTest, OnlyANewerServiceVersionAsks)
{
    const std::string key = VEXTAL_DEV_UPDATE_KEY;
    const std::vector<std::string> signing =
        key.empty() ? std::vector<std::string>{} : std::vector<std::string>{"--update-key", key};
    auto serve = [&](const std::string& version) {
        std::vector<std::string> args = {"--client-version", version};
        args.insert(args.end(), signing.begin(), signing.end());
        Serve(args);
    };
    const std::string installed = home + "Vextal";
    WriteWholeFile(installed, "old program");
    fs::permissions(installed, fs::perms(0755));
    struct Case {
        std::string version;
        bool asks;
    };
    for (const Case& c : {Case{"3.26", true}, Case{"3.25", false}, Case{"", false}}) {
        serve(c.version);
        WriteWholeFile(home + "Vextal.chm", "old help");
        fs::create_directories(home + "Html");
        WriteWholeFile(home + "Html/vextal.htm", "old page");
        RecordingPrompt p;
        CVextalDoc d;
        d.OnNewDocument(p);
        CLoginDialogLogic dlg(d, p);
        int launches = 0;
        dlg.VersionCheck().SetLauncher([&](const std::string&, const std::string&) { return ++launches, true; });
        dlg.VersionCheck().SetProgramFile(installed);
        auto state = dlg.OnOpen();
        EXPECT_EQ(d.GetServerVersion(), c.version);
        EXPECT_EQ(p.questions, c.asks ? std::vector<std::string>{kUpgradeQuestion} : std::vector<std::string>{})
            << c.version;
        EXPECT_FALSE(state.endProgram);  // the recorder answers No
        EXPECT_EQ(launches, 0);
        // A newer version refreshes the page files; the help file stays when the user declines.
        EXPECT_EQ(ReadWholeFile(home + "Html/vextal.htm") == "old page", !c.asks) << c.version;
        EXPECT_EQ(ReadWholeFile(home + "Vextal.chm"), "old help") << c.version;
    }

    // Offline: the service is never asked.
    serve("3.26");
    WriteIniString("Login", "LoginFlag", "1");
    {
        RecordingPrompt p;
        CVextalDoc d;
        d.OnNewDocument(p);
        CLoginDialogLogic dlg(d, p);
        auto state = dlg.OnOpen();
        EXPECT_TRUE(state.form.offline);
        EXPECT_TRUE(p.questions.empty());
        EXPECT_EQ(d.GetServerVersion(), "");
    }

    WriteIniString("Login", "LoginFlag", "0");
    RecordingPrompt p;
    p.answer = true;
    CVextalDoc d;
    d.OnNewDocument(p);
    std::vector<std::string> started, bodies;
    auto open = [&](const std::string& programFile) {
        p.messages.clear();
        p.questions.clear();
        CLoginDialogLogic dlg(d, p);
        dlg.VersionCheck().SetUpdaterDelayMs(1);
        dlg.VersionCheck().SetProgramFile(programFile);
        dlg.VersionCheck().SetLauncher([&](const std::string& path, const std::string&) {
            started.push_back(path);
            bodies.push_back(ReadWholeFile(path));
            return true;
        });
        return dlg.OnOpen().endProgram;
    };

    // A package install (file or folder read-only, for root too) or a build
    // started from elsewhere: one message, no question, nothing fetched.
    for (int which = 0; which < 3; ++which) {
        if (which == 0) fs::permissions(installed, fs::perms(0555));
        if (which == 1) fs::permissions(home, fs::perms(0555));
        EXPECT_FALSE(open(which == 2 ? std::string(PLINDO_SERVE_PATH) : installed)) << which;
        fs::permissions(installed, fs::perms(0755));
        fs::permissions(home, fs::perms(0755));
        EXPECT_EQ(p.messages, std::vector<std::string>{kCannotSelfUpdateText}) << which;
        EXPECT_TRUE(p.questions.empty()) << which;
    }
    EXPECT_TRUE(started.empty());
    EXPECT_FALSE(IsUpdatePending());

    // Yes: both updaters come from the service, verified; the first is gone
    // after it started.
    if (key.empty()) GTEST_SKIP() << "built with a release update key: the service cannot sign";
    EXPECT_TRUE(open(installed));
    EXPECT_TRUE(p.messages.empty());
    ASSERT_EQ(started, (std::vector<std::string>{home + "UpdatePlindo", home + "UpdateVextal"}));
    EXPECT_EQ(bodies[0], ServedFile("Update/UpdatePlindo"));
    EXPECT_EQ(bodies[0].rfind("#!/bin/sh", 0), 0u);
    EXPECT_EQ(bodies[1], ServedFile("Update/UpdateVextal"));
    EXPECT_FALSE(fs::exists(home + "UpdatePlindo"));
    EXPECT_TRUE(IsUpdatePending());
    EXPECT_FALSE(fs::exists(home + "Vextal.chm"));
    CVersionCheck help(d, p);
    EXPECT_TRUE(help.EnsureHelpFile());
    EXPECT_EQ(ReadWholeFile(home + "Vextal.chm"), ServedFile("Update/Vextal.chm"));
    EXPECT_FALSE(IsUpdatePending());
    WriteWholeFile(home + "Vextal.chm", "kept help");  // not fetched again
    EXPECT_TRUE(help.EnsureHelpFile());
    EXPECT_EQ(ReadWholeFile(home + "Vextal.chm"), "kept help");

    // The new program, started as UpdateVextal, takes the installed name:
    // the very file that was verified, by one rename.
    struct stat before {}, after {};
    ASSERT_EQ(stat((home + "UpdateVextal").c_str(), &before), 0);
    EXPECT_TRUE(CompleteSelfUpdate(home, kUpdaterStarted, 10).replaced);
    ASSERT_EQ(stat(installed.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadWholeFile(installed), bodies[1]);
    EXPECT_FALSE(fs::exists(home + "UpdateVextal"));
}


TEST_F(ServiceStartTest, MembershipFromTheLoginAndRemaindersClearedAfterIt)
{
    Serve();
    WriteIniString("Show", "FundIDList", "000001|000002|000003|000004|000005|000006|000007");
    OpenDocument();
    ASSERT_TRUE(Login("free", "free123", false)) << LastMessage();
    EXPECT_FALSE(doc->IsVip());
    EXPECT_EQ(doc->Settings().fundIdList, (std::vector<std::string>{"000004", "000005", "000006", "000007"}));
    EXPECT_FALSE(doc->CheckFundCount(4));
    EXPECT_EQ(LastMessage(), "免费会员最多可以选择4个基金");

    ASSERT_TRUE(Login("demo", "demo123", false)) << LastMessage();
    EXPECT_TRUE(doc->IsVip());
    doc->Settings().fundIdList.clear();
    for (int i = 1; i <= 15; ++i) doc->Settings().fundIdList.push_back(StrFormat("%06d", i));
    doc->TrimFundList();
    ASSERT_EQ(doc->Settings().fundIdList.size(), 12u);
    EXPECT_EQ(doc->Settings().fundIdList.front(), "000004");
    EXPECT_TRUE(doc->CheckFundCount(11));

    // A holding of half a share is cleared by the next login's start.
    CAdoDatabase& db = doc->GetDatabase();
    ASSERT_TRUE(db.Execute("INSERT INTO T_Account_Info(UserID,AccountID,AccountType,TotalMoney,FreeMoney,FundCount,"
                           "CreateDate,AccountName) VALUES(10001,1,0,0,0,2,#2024-01-02 00:00:00#,'主帐户')"));
    for (const char* row : {"1,'000001',0,0.5,0.5", "1,'000011',0,100,100"})
        ASSERT_TRUE(db.Execute(std::string("INSERT INTO T_Fund_Trade(AccountID,FundID,BuyType,TotalCount,FreeCount) "
                                           "VALUES(") + row + ")"));
    const size_t before = prompt.messages.size();
    doc->InitAfterLogin();
    EXPECT_EQ(prompt.messages.size(), before) << LastMessage();
    float half = -1, kept = -1;
    EXPECT_TRUE(db.QueryFloat("SELECT FreeCount FROM T_Fund_Trade WHERE FundID='000001'", half));
    EXPECT_TRUE(db.QueryFloat("SELECT FreeCount FROM T_Fund_Trade WHERE FundID='000011'", kept));
    EXPECT_EQ(half, 0.0f);
    EXPECT_EQ(kept, 100.0f);
    ASSERT_EQ(doc->Accounts().Accounts().size(), 1u);

    // Today's figures compare with the day the latest values are expected
    // for: Thursday's NAVs on Friday morning.
    {
        CMarketData market(*doc);
        market.Attach();
        ASSERT_TRUE(doc->Accounts().RefreshAccount(1));
        doc->Market() = CMarketHooks();
    }
    const AccountInfo& account = *doc->Accounts().Accounts().at(1);
    ASSERT_FALSE(account.holdings.empty());
    for (const FundTradeInfo& h : account.holdings)
        EXPECT_EQ(h.figures.CurrentValueDate.Format(1), "2024-06-27") << h.FundID;
}

}  // namespace
