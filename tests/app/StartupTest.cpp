// The start of the program without windows against a stand-in service, for
// what the real one cannot produce: a download that is no database, a failed
// upgrade, a second instance, a self-update, members whose names hold quotes,
// malformed login answers, a refused version query and page files that fail;
// the ordinary first start, online and offline, logins, refusals and the
// version question run against plindo-serve in ServiceStartTest.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#include "app/AppTestSupport.h"
#include "app/IniFile.h"
#include "app/LoginDialogLogic.h"
#include "app/PageFiles.h"
#include "app/Settings.h"
#include "app/StartupSequence.h"
#include "app/VersionCheck.h"
#include "app/VextalDoc.h"
#include "support/ChildWait.h"

using namespace vextal;
using namespace vextal::test;

namespace {

using StartupTest = AppHomeTest;

// (A failed download: ServiceStartTest, with the service down.)
TEST_F(StartupTest, DatabaseMadeLocallyWhenTheDownloadIsNoDatabase)
{
    FakeService svc;
    svc.mdb = "<html>maintenance</html>";
    UseServer(svc.Base());
    RecordingPrompt prompt;
    CVextalDoc doc;
    doc.OnNewDocument(prompt);
    EXPECT_TRUE(doc.IsDatabaseOpen()) << doc.GetDatabase().GetLastError();
    EXPECT_TRUE(prompt.messages.empty());
    std::string version;
    EXPECT_TRUE(GetSystemInfo(doc.GetDatabase(), "DBVersion", version));
    EXPECT_EQ(version, kCurrentDBVersion);
    EXPECT_EQ(svc.Requests("/Update/Vextal.mdb"), 1);
    EXPECT_FALSE(fs::exists(home + "Vextal.mdb.download"));
}

// An upgrade step that fails is reported at start, leaves the stored version
// and the copy of the file, and the program goes on without the database.
TEST_F(StartupTest, AFailedUpgradeIsReportedAndChangesNothing)
{
    FakeService svc;
    UseServer(svc.Base());
    std::string error;
    ASSERT_TRUE(CreateDatabaseFile(home + "Vextal.mdb", CAdoDatabase::kDefaultPassword, error)) << error;
    {
        CAdoDatabase db;
        db.SetDatabase(home + "Vextal.mdb", 1);
        ASSERT_TRUE(db.Open());
        ASSERT_TRUE(SetSystemInfo(db, "DBVersion", "3.20"));
        ASSERT_TRUE(db.Execute("DROP TABLE T_Fund_Info"));  // step 3.23 cannot run
    }
    RecordingPrompt prompt;
    CVextalDoc doc;
    EXPECT_TRUE(doc.OnNewDocument(prompt));
    EXPECT_FALSE(doc.IsDatabaseOpen());
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("T_Fund_Info"), std::string::npos) << prompt.messages[0];
    EXPECT_EQ(prompt.icons[0], PromptIcon::Error);
    EXPECT_TRUE(fs::exists(home + "Vextal.mdb.bak"));  // version and copy kept: SchemaTest
}

TEST_F(StartupTest, EmptyFundCodeRowsGo)
{
    FakeService svc;
    UseServer(svc.Base());
    {
        RecordingPrompt prompt;
        CVextalDoc doc;
        doc.OnNewDocument(prompt);
        ASSERT_TRUE(doc.IsDatabaseOpen());
        ASSERT_TRUE(doc.GetDatabase().Execute(
            "INSERT INTO T_Fund_Value(FundID,TodayValue,VarPercent,TotalValue,VarValue,ValueDate) "
            "VALUES('',1,0,1,0,#2024-06-27 00:00:00#)"));
        ASSERT_TRUE(doc.GetDatabase().Execute(
            "INSERT INTO T_Fund_Value(FundID,TodayValue,VarPercent,TotalValue,VarValue,ValueDate) "
            "VALUES('000001',1,0,1,0,#2024-06-27 00:00:00#)"));
    }
    RecordingPrompt prompt;
    CVextalDoc doc;
    doc.OnNewDocument(prompt);
    int n = -1;
    EXPECT_TRUE(doc.GetDatabase().QueryInt("SELECT COUNT(*) FROM T_Fund_Value", n));
    EXPECT_EQ(n, 1);
}

// A damaged database file: the user chooses the last backup or a new file;
// the damaged one is kept aside byte for byte and the backup is never
// overwritten, not by this start nor by the next.
TEST_F(StartupTest, ADamagedDatabaseOffersTheBackupOrANewFileAndKeepsIt)
{
    FakeService svc;  // serves no database: a new file is made here
    UseServer(svc.Base());
    std::string good;
    {
        RecordingPrompt prompt;
        CVextalDoc doc;
        doc.OnNewDocument(prompt);
        ASSERT_TRUE(doc.IsDatabaseOpen());
        ASSERT_TRUE(SetSystemInfo(doc.GetDatabase(), "Mark", "backup"));
    }
    good = ReadWholeFile(home + "Vextal.mdb");
    const std::string garbage(4096, 'x');
    const std::string aside = home + "Vextal.mdb.damaged-20240628-100000";
    struct Case {
        const char* name;
        std::string damaged, backup;
        bool answer;
        const char* mark;  // the Mark of the file opened; nullptr: none opened
    } cases[] = {
        {"empty file, backup chosen", "", good, true, "backup"},
        {"garbage, new file chosen", garbage, good, false, ""},
        {"garbage, no backup, new file", garbage, "", true, ""},
        {"empty file, no backup, declined", "", "", false, nullptr},
        {"garbage, damaged backup, new file", garbage, garbage, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* f : {"Vextal.mdb", "Vextal.mdb-wal", "Vextal.mdb-shm", "Vextal.mdb.bak"}) fs::remove(home + f);
        fs::remove(aside);
        WriteWholeFile(home + "Vextal.mdb", c.damaged);
        if (!c.backup.empty()) WriteWholeFile(home + "Vextal.mdb.bak", c.backup);
        RecordingPrompt prompt;
        prompt.answer = c.answer;
        auto doc = std::make_unique<CVextalDoc>();
        doc->OnNewDocument(prompt);
        ASSERT_EQ(prompt.questions.size(), 1u);
        EXPECT_NE(prompt.questions[0].find(home + "Vextal.mdb 已损坏"), std::string::npos) << prompt.questions[0];
        EXPECT_NE(prompt.questions[0].find(c.backup == good ? "打开最近的备份" : "没有可用的备份"), std::string::npos);
        EXPECT_TRUE(prompt.messages.empty()) << prompt.messages.front();
        ASSERT_EQ(doc->IsDatabaseOpen(), c.mark != nullptr);
        if (c.mark) {
            std::string mark;
            GetSystemInfo(doc->GetDatabase(), "Mark", mark);
            EXPECT_EQ(mark, c.mark);
            EXPECT_EQ(ReadWholeFile(aside), c.damaged);
            EXPECT_TRUE(fs::exists(aside));
        } else {
            EXPECT_EQ(ReadWholeFile(home + "Vextal.mdb"), c.damaged);
            EXPECT_FALSE(fs::exists(aside));
            // Offline login without the database says so, not the closed database's text.
            CLoginDialogLogic dialog(*doc, prompt);
            EXPECT_FALSE(dialog.OnLogin({"demo", "demo123", false, true}));
            EXPECT_NE(prompt.messages.back().find("不能离线登录"), std::string::npos) << prompt.messages.back();
        }
        doc.reset();
        // The next start opens what this one chose; the backup is what it was.
        RecordingPrompt next;
        CVextalDoc again;
        again.OnNewDocument(next);
        EXPECT_EQ(next.questions.size(), c.mark ? 0u : 1u);
        if (!c.backup.empty()) EXPECT_EQ(ReadWholeFile(home + "Vextal.mdb.bak"), c.backup);
        else EXPECT_FALSE(fs::exists(home + "Vextal.mdb.bak"));
    }
}

// A first start on a full disk names the folder and the lack of space, and
// leaves no part of a file behind.
TEST_F(StartupTest, NoRoomAtTheFirstStartIsNamed)
{
    FakeService svc;
    svc.mdb = MakeDatabaseBytes(home);
    if (!MountSmallHome("128k")) GTEST_SKIP() << "no small file system to fill (mounting needs root)";
    UseServer(svc.Base());
    FillHome();
    RecordingPrompt prompt;
    CVextalDoc doc;
    doc.OnNewDocument(prompt);
    EXPECT_FALSE(doc.IsDatabaseOpen());
    ASSERT_EQ(prompt.messages.size(), 1u);
    const std::string& text = prompt.messages[0];
    EXPECT_NE(text.find("无法在文件夹 " + home.substr(0, home.size() - 1) + " 中建立数据库文件 Vextal.mdb"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("磁盘空间不足"), std::string::npos) << text;
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(home)) left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"Vextal.ini", "filler", "filler2"}));
}

TEST_F(StartupTest, OneInstancePerProgramDirectory)
{
    FakeService svc;
    svc.mdb = MakeDatabaseBytes(home);
    UseServer(svc.Base());
    const CLoginForm form{"demo", "demo123", false, false};
    auto first = StartProgram(home + "Vextal", form, false);
    ASSERT_EQ(first->result, StartupResult::Running);
    auto second = StartProgram(home + "Vextal", form, false);
    EXPECT_EQ(second->result, StartupResult::AlreadyRunning);
    EXPECT_EQ(second->prompt.messages, std::vector<std::string>{kAlreadyRunningText});
    EXPECT_EQ(second->seq->GetDocument(), nullptr);

    first->seq->Shutdown();
    EXPECT_EQ(StartProgram(home + "Vextal", form, false)->result, StartupResult::Running);
}

// A lock file that cannot be made (a folder one may not write; here a
// directory in its place, as root may write anywhere) is named with its
// reason, not taken for a second instance.
TEST_F(StartupTest, ALockFileThatCannotBeMadeIsNamed)
{
    FakeService svc;
    svc.mdb = MakeDatabaseBytes(home);
    UseServer(svc.Base());
    ASSERT_TRUE(std::filesystem::create_directory(home + kInstanceLockFile));
    auto run = StartProgram(home + "Vextal", {"demo", "demo123", false, false}, false);
    EXPECT_EQ(run->result, StartupResult::AlreadyRunning);
    ASSERT_EQ(run->prompt.messages.size(), 1u);
    const std::string& text = run->prompt.messages[0];
    EXPECT_EQ(text.find("已经在运行"), std::string::npos) << text;
    EXPECT_NE(text.find("Vextal.lock"), std::string::npos) << text;
    EXPECT_NE(text.find(std::strerror(EISDIR)), std::string::npos) << text;
}

TEST_F(StartupTest, StartedUnderAnotherNameItReplacesTheOldProgram)
{
    FakeService svc;
    svc.mdb = MakeDatabaseBytes(home);
    UseServer(svc.Base());
    const std::string installed = home + "Vextal";
    const pid_t old = StartCopyOfSleep(installed);
    ASSERT_GT(old, 0);
    WriteWholeFile(home + "Vextal.update", "new program");

    // A build started elsewhere with this home is not an update.
    const CLoginForm form{"demo", "demo123", false, false};
    fs::path elsewhere = fs::path(home).parent_path().parent_path() / "vextal-elsewhere-build";
    auto run = StartProgram(elsewhere.string(), form, false);
    EXPECT_EQ(run->result, StartupResult::Running);
    EXPECT_FALSE(run->seq->GetSelfUpdateResult().ran);
    EXPECT_EQ(FindUserProcessesOf(installed), std::vector<pid_t>{old});
    run->seq->Shutdown();
    run.reset();

    run = StartProgram(home + "Vextal.update", form, false);
    EXPECT_EQ(run->result, StartupResult::Running);
    const SelfUpdateResult& update = run->seq->GetSelfUpdateResult();
    if (update.endedProcesses != 1) kill(old, SIGKILL);
    int status = 0;
    EXPECT_TRUE(WaitChildFor(old, status, 10000));
    EXPECT_EQ(update.endedProcesses, 1);
    EXPECT_TRUE(update.replaced);
    EXPECT_EQ(ReadWholeFile(installed), "new program");
    EXPECT_FALSE(fs::exists(home + "Vextal.update"));
    run->seq->Shutdown();
}

TEST(StartupArguments, HomeFromArgumentsOrEnvironment)
{
    EXPECT_EQ(HomeFromArguments({"--home", "/a/b"}, "/env"), "/a/b");
    EXPECT_EQ(HomeFromArguments({"--home=/c"}, nullptr), "/c");
    EXPECT_EQ(HomeFromArguments({"--other"}, "/env"), "/env");
    EXPECT_EQ(HomeFromArguments({"--home"}, nullptr), "");
}

class LoginTest : public AppHomeTest, protected LoginDesk {
protected:
    void Open(const std::string& base)
    {
        UseServer(base);
        OpenDocument();
    }
};

TEST_F(LoginTest, QuotesInNamesNeitherLogInNorBreakAnything)
{
    FakeService svc;
    svc.members["o'brien"] = {31, "it's", "o@x", "奥", 0};
    Open(svc.Base());

    ASSERT_TRUE(Login("o'brien", "it's", false)) << LastMessage();
    EXPECT_TRUE(Login("o'brien", "it's", true)) << LastMessage();
    EXPECT_EQ(doc->User().UserID, 31);
    EXPECT_FALSE(Login("o'brien", "it''s", true));
    int rows = 0;
    EXPECT_TRUE(doc->GetDatabase().QueryInt("SELECT COUNT(*) FROM T_User_Info", rows));
    EXPECT_EQ(rows, 1);
}

TEST_F(LoginTest, OnlyANineFieldAnswerIsSavedForOfflineUse)
{
    FakeService svc;
    Open(svc.Base());
    svc.loginMsgOverride = "7|演示|demo@x|2020-01-01|2030-12-31|20240101|20240102|2024-06-28|a=1|extra";
    ASSERT_TRUE(Login("demo", "demo123", false)) << LastMessage();
    EXPECT_EQ(doc->User().UserID, 0);
    EXPECT_TRUE(doc->IsVip());  // the login id still carries the level
    EXPECT_FALSE(Login("demo", "demo123", true));

    // Too short an answer is malformed and logs nobody in.
    svc.loginMsgOverride = "7|演示";
    EXPECT_FALSE(Login("demo", "demo123", false));
    EXPECT_EQ(LastMessage(), "登录失败:LoginOnline():数据格式错误");

    EXPECT_EQ(MembershipLevelOf("3f9a-12"), 12);
    for (const char* bad : {"3f9a-", "3f9a", "a-1-x"}) EXPECT_EQ(MembershipLevelOf(bad), -1) << bad;
}

// The free member's limit and the trimming of both lists: ServiceStartTest.
TEST(Membership, VipOnlyFunctionsAndTheVipLimit)
{
    CMembership m;
    RecordingPrompt prompt;
    EXPECT_FALSE(m.RequireVip(&prompt));
    EXPECT_EQ(prompt.messages.back(), "此功能只对VIP会员开放，如有需要请到网站中会员中心升级为VIP会员。");
    m.SetVipFlag(1);
    EXPECT_TRUE(m.RequireVip(&prompt));
    EXPECT_FALSE(m.CheckFundCount(12, &prompt));
    EXPECT_EQ(prompt.messages.back(), "VIP会员最多可以选择12个基金");
}

using VersionTest = AppHomeTest;

// The prompt itself runs against the real service (ServiceStartTest); here
// the comparison and a refusal the real service never sends.
TEST_F(VersionTest, OnlyANewerServerVersionPrompts)
{
    FakeService svc;
    svc.mdb = MakeDatabaseBytes(home);
    UseServer(svc.Base());
    CVextalDoc doc;
    RecordingPrompt p;
    doc.OnNewDocument(p);
    EXPECT_FALSE(IsNewerVersion("3.249", "3.25"));
    EXPECT_TRUE(IsNewerVersion("10.0", "9.9"));
    EXPECT_FALSE(IsNewerVersion("3.250", "3.25"));
    EXPECT_TRUE(IsNewerVersion("3.3", "3.25"));
    EXPECT_TRUE(IsNewerVersion("3.25a", "3.25"));
    EXPECT_FALSE(IsNewerVersion("3.25B", "3.25b"));

    // A refused query leaves the server version empty and asks nothing.
    svc.version = "3.99";
    svc.versionRet = -1;
    CLoginDialogLogic dialog(doc, p);
    dialog.OnOpen();
    EXPECT_EQ(doc.GetServerVersion(), "");
    EXPECT_TRUE(p.questions.empty());
    EXPECT_EQ(dialog.VersionCheck().GetLastError(), "3.99");
}

TEST_F(VersionTest, TheEveningQueryGoesToTheWebSite)
{
    CSettings s;
    s.clientServiceUrl = "http://127.0.0.1:8610/plindo/client/ClientService.asmx/";
    s.webSiteUrl = "http://www.plindo.example/";
    EXPECT_EQ(ClientVersionUrl(s, OleDate::FromParts(2024, 6, 28, 18, 59, 59)),
              "http://127.0.0.1:8610/plindo/client/ClientService.asmx/GetClientVersion");
    EXPECT_EQ(ClientVersionUrl(s, OleDate::FromParts(2024, 6, 28, 19, 0, 0)),
              "http://www.plindo.example/plindo/client/clientservice.asmx/GetClientVersion");
    EXPECT_EQ(ClientVersionUrl(s, OleDate::FromParts(2024, 6, 28, 0, 0, 0)).find("www."), std::string::npos);
}

TEST_F(VersionTest, PageFilesOnlyMissingAndFundKeys)
{
    FakeService svc;
    PrepareHtmlFiles(svc.Base(), true);
    const size_t first = svc.srv.Seen().size();
    EXPECT_EQ(first, 6u);
    PrepareHtmlFiles(svc.Base(), true);
    EXPECT_EQ(svc.srv.Seen().size(), first);

    // A failed fetch keeps the old file; an empty answer too.
    svc.files.erase("/stockindex.htm");
    svc.files["/stylemain.css"] = "";
    PrepareHtmlFiles(svc.Base(), false);
    EXPECT_EQ(ReadWholeFile(home + "Html/stockindex.htm"), "<html>index</html>");
    EXPECT_EQ(ReadWholeFile(home + "Html/stylemain.css"), "body{}");

    auto keys = LoadFundKeyTable(home + "Html/fundkey.txt");
    EXPECT_EQ(keys, (std::map<std::string, std::string>{{"000001", "华夏成长"}, {"000011", "华夏大盘"}}));
    EXPECT_TRUE(LoadFundKeyTable(home + "missing.txt").empty());

    // Html cannot be made (a file is in its way): nothing is requested.
    fs::remove_all(home + "Html");
    WriteWholeFile(home + "Html", "");
    PrepareHtmlFiles(svc.Base(), false);
    EXPECT_EQ(svc.srv.Seen().size(), first + 6);
}

}  // namespace
