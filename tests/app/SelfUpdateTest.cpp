// Completing a self-update: the old instance (a process this test starts
// from a copy of a harmless program) is ended and its file replaced.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "app/AppTestSupport.h"
#include "app/InstanceLock.h"
#include "app/SelfUpdate.h"
#include "support/ChildWait.h"

extern char** environ;

using namespace vextal;
using namespace vextal::test;

namespace {

using SelfUpdateTest = AppHomeTest;

pid_t StartCopyOfSleep(const std::string& path)
{
    fs::copy_file("/bin/sleep", path, fs::copy_options::overwrite_existing);
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("60"), nullptr};
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
    return pid;
}

TEST_F(SelfUpdateTest, OldInstanceEndedAndNewFileTakesTheInstalledName)
{
    const std::string installed = home + "Vextal";
    pid_t old = StartCopyOfSleep(installed);
    ASSERT_GT(old, 0);
    // Wait until the child runs the copied file.
    for (int i = 0; i < 200 && FindUserProcessesOf(installed).empty(); ++i) usleep(10000);
    ASSERT_EQ(FindUserProcessesOf(installed), std::vector<pid_t>{old});
    WriteWholeFile(home + "Vextal-3.26", "new program");

    SelfUpdateResult r = CompleteSelfUpdate(home, "Vextal-3.26", 10);
    if (r.endedProcesses != 1) kill(old, SIGKILL);  // never leave it running
    int status = 0;
    ASSERT_TRUE(WaitChildFor(old, status, 10000));  // reaped by us, its parent
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(r.ran);
    EXPECT_EQ(r.endedProcesses, 1);
    EXPECT_TRUE(r.replaced);
    EXPECT_EQ(ReadWholeFile(installed), "new program");
    EXPECT_FALSE(fs::exists(home + "Vextal-3.26"));

    // The installed name in any case takes no self-update path.
    EXPECT_FALSE(CompleteSelfUpdate(home, "VEXTAL").ran);
    EXPECT_FALSE(CompleteSelfUpdate(home, "vextal").ran);
    EXPECT_EQ(ReadWholeFile(installed), "new program");

    // The new file is not in the program directory: the installed one stays.
    r = CompleteSelfUpdate(home, "Vextal.elsewhere", 10);
    EXPECT_TRUE(r.ran);
    EXPECT_FALSE(r.replaced);
    EXPECT_EQ(ReadWholeFile(installed), "new program");

    // Nothing to end: the file is still replaced.
    WriteWholeFile(home + "Vextal.new", "newer");
    r = CompleteSelfUpdate(home, "Vextal.new", 10);
    EXPECT_EQ(r.endedProcesses, 0);
    EXPECT_TRUE(r.replaced);
    EXPECT_EQ(ReadWholeFile(installed), "newer");
}

TEST_F(SelfUpdateTest, AProgramOfAnotherDirectoryIsLeftAlone)
{
    fs::create_directory(home + "other");
    pid_t other = StartCopyOfSleep(home + "other/Vextal");
    ASSERT_GT(other, 0);
    for (int i = 0; i < 200 && FindUserProcessesOf(home + "other/Vextal").empty(); ++i) usleep(10000);
    WriteWholeFile(home + "Vextal.new", "newer");
    SelfUpdateResult r = CompleteSelfUpdate(home, "Vextal.new", 10);
    EXPECT_EQ(r.endedProcesses, 0);
    EXPECT_EQ(FindUserProcessesOf(home + "other/Vextal"), std::vector<pid_t>{other});
    kill(other, SIGKILL);
    int status = 0;
    WaitChildFor(other, status);
}

TEST_F(SelfUpdateTest, InstanceLockIsExclusiveUntilReleased)
{
    CInstanceLock a, b;
    ASSERT_TRUE(a.Acquire(home + kInstanceLockFile));
    EXPECT_FALSE(b.Acquire(home + kInstanceLockFile));
    EXPECT_FALSE(b.Acquire(home + kInstanceLockFile, 50));
    a.Release();
    EXPECT_TRUE(b.Acquire(home + kInstanceLockFile));
    EXPECT_TRUE(b.IsHeld());
}

}  // namespace
