// The start of the program without windows against a fake service, for what
// the real one cannot produce (a missing or broken database file, a failed
// upgrade, a second instance, a self-update); the ordinary first start,
// online and offline, runs against plindo-serve in ServiceStartTest.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "app/AppTestSupport.h"
#include "app/IniFile.h"
#include "app/LoginDialogLogic.h"
#include "app/Settings.h"
#include "app/StartupSequence.h"
#include "support/ChildWait.h"

extern char** environ;

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

TEST_F(StartupTest, EmptyFundCodeRowsGoAndAnUnreadableDatabaseIsReported)
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
    {
        RecordingPrompt prompt;
        CVextalDoc doc;
        doc.OnNewDocument(prompt);
        int n = -1;
        EXPECT_TRUE(doc.GetDatabase().QueryInt("SELECT COUNT(*) FROM T_Fund_Value", n));
        EXPECT_EQ(n, 1);
    }
    // A file that is not a database: its error is shown, the program goes on.
    fs::remove(home + "Vextal.mdb-wal");
    fs::remove(home + "Vextal.mdb-shm");
    WriteWholeFile(home + "Vextal.mdb", std::string(4096, 'x'));
    RecordingPrompt prompt;
    CVextalDoc doc;
    EXPECT_TRUE(doc.OnNewDocument(prompt));
    EXPECT_FALSE(doc.IsDatabaseOpen());
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0], doc.GetDatabase().GetLastError());
    EXPECT_EQ(prompt.icons[0], PromptIcon::Error);
    // Offline login against no database fails with the database's text.
    CLoginDialogLogic dialog(doc, prompt);
    EXPECT_FALSE(dialog.OnLogin({"demo", "demo123", false, true}));
    EXPECT_EQ(prompt.messages.back().rfind("登录失败:", 0), 0u);
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

TEST_F(StartupTest, StartedUnderAnotherNameItReplacesTheOldProgram)
{
    FakeService svc;
    svc.mdb = MakeDatabaseBytes(home);
    UseServer(svc.Base());
    const std::string installed = home + "Vextal";
    fs::copy_file("/bin/sleep", installed);
    pid_t old = 0;
    char* argv[] = {const_cast<char*>(installed.c_str()), const_cast<char*>("60"), nullptr};
    ASSERT_EQ(posix_spawn(&old, installed.c_str(), nullptr, nullptr, argv, environ), 0);
    for (int i = 0; i < 200 && FindUserProcessesOf(installed).empty(); ++i) usleep(10000);
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

}  // namespace
