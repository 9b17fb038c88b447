// A booking killed between two of its statements leaves nothing behind.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BookFixture.h"
#include "support/ChildWait.h"

using namespace vextal;
using vextal::test::BookTest;

TEST_F(BookTest, KilledBookingLeavesTheDatabaseAsBefore)
{
    int acc = NewAccount("A");
    TradeInfo first = Purchase(acc, "000001", 1200, 0, OleDate::FromParts(2024, 6, 3, 10));
    ASSERT_EQ(manager.BookTrade(first), 0);
    const double before = Held(acc, "000001");
    db.Close();

    for (const char* stopAt : {"inserted", "holding", "shares"}) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t pid = fork();
        if (pid == 0) {
            CAdoDatabase childDb;
            childDb.SetDatabase(DbPath(), 0);
            if (!childDb.Open()) _exit(2);
            CAccountManager m;
            m.Init(childDb, kUser, false, &services, &funds);
            m.LoadAccounts(kUser);
            m.SetPausePoint([&](const char* label) {
                if (std::string(label) != stopAt) return;
                char c = 'x';
                (void)!write(fds[1], &c, 1);
                for (;;) pause();
            });
            TradeInfo t = Purchase(acc, "000001", 600, 0, OleDate::FromParts(2024, 6, 4, 10));
            m.BookTrade(t);
            _exit(3);  // never reached when the pause point is hit
        }
        close(fds[1]);
        char c = 0;
        ASSERT_EQ(read(fds[0], &c, 1), 1) << "child did not reach " << stopAt;
        kill(pid, SIGKILL);
        int status = 0;
        test::WaitChildFor(pid, status);
        close(fds[0]);
        ASSERT_TRUE(WIFSIGNALED(status));

        CAdoDatabase after;
        after.SetDatabase(DbPath(), 0);
        ASSERT_TRUE(after.Open()) << after.GetLastError();
        ASSERT_TRUE(after.OpenRecordset("PRAGMA integrity_check"));
        std::string check;
        after.GetFieldValue("integrity_check", check);
        EXPECT_EQ(check, "ok");
        EXPECT_EQ(after.GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeState=0"), 0) << stopAt;
        EXPECT_EQ(after.GetRecordCount("SELECT * FROM T_Trade_Info"), 1) << stopAt;
        double held = 0;
        after.QueryDouble("SELECT TotalCount FROM T_Fund_Trade", held);
        EXPECT_DOUBLE_EQ(held, before) << stopAt;
        after.Close();
    }
    db.Open();
}
