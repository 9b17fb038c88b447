// The program in this process, logged in at the real service, and the ways
// out of it: each ends the session, writes the panel the user chose and
// gives the program directory back to the next start.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <fstream>

#include "ServiceProcess.h"
#include "app/InstanceLock.h"
#include "app/Settings.h"
#include "ui/MainFrame.h"
#include "ui/VextalApp.h"

using namespace vextal;

namespace {

class AppExitTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        service = new CServiceProcess(PLINDO_SERVE_PATH, {"--funds", "50", "--now", "2024-10-09 21:00:00", "--quiet"});
    }
    static void TearDownTestSuite()
    {
        delete service;
        service = nullptr;
    }

    void SetUp() override
    {
        ASSERT_GT(service->Port(), 0);
        qputenv("VEXTAL_NO_WEBENGINE", "1");
        std::ofstream(Path("Vextal.ini")) << "[Login]\nServerURL=" << service->Base()
                                          << "\nDataServerURL=" << service->Base() << "\n";
        // A message box would wait for a user who is not there: close it and fail.
        QObject::connect(&modalGuard, &QTimer::timeout, [this] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                boxes.push_back(box->windowTitle().toStdString());
                box->close();
            }
        });
        modalGuard.start(100);
        AppOptions options;
        options.args = {"--home", home.path().toStdString()};
        options.autoLogin = true;
        options.user = "demo";
        options.password = "demo123";
        app = std::make_unique<CVextalApp>(options);
        ASSERT_TRUE(app->Start());
        ASSERT_NE(app->Frame(), nullptr);
    }

    void TearDown() override
    {
        app.reset();
        EXPECT_TRUE(boxes.empty()) << boxes.front();
    }

    std::string Path(const char* name) const { return QDir(home.path()).filePath(name).toStdString(); }

    // True once another start could take the program directory.
    bool DirectoryFree()
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            QApplication::processEvents();
            CInstanceLock next;
            if (next.Acquire(Path(kInstanceLockFile))) return true;
        }
        return false;
    }

    static CServiceProcess* service;
    QTemporaryDir home;
    QTimer modalGuard;
    std::vector<std::string> boxes;
    std::unique_ptr<CVextalApp> app;
};

CServiceProcess* AppExitTest::service = nullptr;

}  // namespace

TEST_F(AppExitTest, TrayExitWhileHiddenShutsDown)
{
    CMainFrame* frame = app->Frame();
    frame->hide();  // minimised with a tray icon: only the icon remains
    frame->RunCommand(cmd::Exit);  // the tray menu's "退出(&X)"
    EXPECT_TRUE(DirectoryFree());
    EXPECT_EQ(app->Frame(), nullptr);
    EXPECT_EQ(ReadAccountPanel(Path("Vextal.ini")), 1);
}

TEST_F(AppExitTest, ClosingKeepsThePanelTheUserChose)
{
    ASSERT_TRUE(app->Frame()->AccountPanel()->isVisible());
    app->Frame()->close();  // the window's close button
    EXPECT_TRUE(DirectoryFree());
    app->Shutdown();
    EXPECT_EQ(ReadAccountPanel(Path("Vextal.ini")), 1);
}

TEST_F(AppExitTest, TheEndOfTheSessionShutsDown)
{
    app->WatchSessionEnd();
    app->Frame()->hide();
    raise(SIGTERM);  // what the desktop sends its programs when the user logs out
    EXPECT_TRUE(DirectoryFree());
    EXPECT_EQ(app->Frame(), nullptr);
}
