// The program in this process, logged in at the real service, and the ways
// out of it: each ends the session, writes the panel the user chose and
// gives the program directory back to the next start.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDockWidget>
#include <QElapsedTimer>
#include <csignal>

#include "UiFixture.h"
#include "app/InstanceLock.h"
#include "app/Settings.h"
#include "ui/MainFrame.h"

using namespace vextal;
using namespace vextal::test;

namespace {

class AppExitTest : public AppTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(Serve({50}));
        Launch(false);
    }
    void TearDown() override
    {
        AppTest::TearDown();
        // A message box would wait for a user who is not there: closed, it fails the test.
        EXPECT_TRUE(guard.seen.empty()) << guard.seen.front();
    }

    // True once another start could take the program directory.
    bool DirectoryFree()
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            QApplication::processEvents();
            CInstanceLock next;
            if (next.Acquire(HomePath(kInstanceLockFile))) return true;
        }
        return false;
    }

    ModalDriver guard;
};

}  // namespace

TEST_F(AppExitTest, TrayExitWhileHiddenShutsDown)
{
    CMainFrame* frame = app->Frame();
    frame->hide();  // minimised with a tray icon: only the icon remains
    frame->RunCommand(cmd::Exit);  // the tray menu's "退出(&X)"
    EXPECT_TRUE(DirectoryFree());
    EXPECT_EQ(app->Frame(), nullptr);
    EXPECT_EQ(ReadAccountPanel(HomePath("Vextal.ini")), 1);
}

TEST_F(AppExitTest, ClosingKeepsThePanelTheUserChose)
{
    ASSERT_TRUE(app->Frame()->AccountPanel()->isVisible());
    app->Frame()->close();  // the window's close button
    EXPECT_TRUE(DirectoryFree());
    app->Shutdown();
    EXPECT_EQ(ReadAccountPanel(HomePath("Vextal.ini")), 1);
}

TEST_F(AppExitTest, TheEndOfTheSessionShutsDown)
{
    app->WatchSessionEnd();
    app->Frame()->hide();
    raise(SIGTERM);  // what the desktop sends its programs when the user logs out
    EXPECT_TRUE(DirectoryFree());
    EXPECT_EQ(app->Frame(), nullptr);
}
