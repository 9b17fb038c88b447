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
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "book/BookTypes.h"
#include "ui/BookkeepingUi.h"
#include "ui/FundValueNewView.h"
#include "ui/MainFrame.h"

using namespace vextal;
using namespace vextal::test;

namespace {

// The ways out: the window's close button, the tray menu's "退出(&X)", and
// the signal the desktop sends its programs when the user logs out.
enum class WayOut { CloseButton, TrayExit, SessionEnd };

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

// Each way out with no dialog open (from the tray and at the session's end
// with only the tray icon left): the program shuts down, gives the program
// directory back and keeps the panel the user chose.
TEST_F(AppExitTest, EveryWayOutShutsDownAndKeepsThePanel)
{
    for (WayOut way : {WayOut::CloseButton, WayOut::TrayExit, WayOut::SessionEnd}) {
        SCOPED_TRACE(static_cast<int>(way));
        if (!app) {
            ASSERT_NO_FATAL_FAILURE(Launch(false));
        }
        CMainFrame* frame = app->Frame();
        ASSERT_TRUE(frame->AccountPanel()->isVisible());
        if (way == WayOut::CloseButton) {
            frame->close();
        } else {
            if (way == WayOut::SessionEnd) app->WatchSessionEnd();
            frame->hide();
            if (way == WayOut::TrayExit) frame->RunCommand(cmd::Exit);
            else raise(SIGTERM);
        }
        EXPECT_TRUE(DirectoryFree());
        if (way != WayOut::CloseButton) {
            EXPECT_EQ(app->Frame(), nullptr);
        }
        app->Shutdown();
        app.reset();
        EXPECT_EQ(ReadAccountPanel(HomePath("Vextal.ini")), 1);
    }
}

namespace {

struct DialogCase {
    int command;
    const char* title;   // the modal window that opens ("box:" for a message box's text start)
    const char* nested;  // a button of that dialog that opens a second modal window, or null
};

// Every command that opens a modal window, some with a second one over it.
const DialogCase kDialogs[] = {
    {cmd::NewAccount, "新建帐户", "新建"},  // the empty name's message box over the dialog
    {cmd::Purchase, "基金购买", nullptr},
    {cmd::SyncBookkeeping, "记帐数据上传/下载", nullptr},
    {cmd::ImportTrades, "导入交易记录", "浏览..."},  // the file dialog over it
    {cmd::Plans, "基金定投管理", "基金定投"},
    {cmd::Options, "参数设置", "曲线颜色..."},
    {cmd::QuickBooking, "快速记帐", nullptr},
    {cmd::Subscribe, "基金认购", nullptr},
    {cmd::Redeem, "基金赎回", nullptr},
    {cmd::Convert, "基金转换", "设置混合分红方式"},
    {cmd::DividendBooking, "基金分红记帐", nullptr},
    {cmd::Split, "基金拆分记帐", nullptr},
    {cmd::EditBooking, "修改记帐信息", nullptr},
    {cmd::DividendMode, "基金分红设置", nullptr},
    {cmd::SaleFee, "基金赎回参考费率设置", nullptr},
    {cmd::MoveHolding, "帐户间基金移动", nullptr},
    {cmd::AccountProperties, "帐户属性", nullptr},
    {cmd::DeleteAccount, "box:", nullptr},
    {cmd::UserInfo, "修改用户信息", nullptr},
    {cmd::Password, "设置登录密码", nullptr},
    {cmd::About, "关于Vextal", nullptr},
    {cmd::DownloadHistory, "从服务器下载历史净值", nullptr},
    {cmd::DownloadIndex, "从服务器下载大盘指数", nullptr},
    {cmd::SortValues, "最新净值排序", nullptr},
    {cmd::AddFavourite, "添加到基金收藏夹", nullptr},
    {cmd::UpgradeVip, "box:", nullptr},
};

QWidget* VisibleModal()
{
    QWidget* w = QApplication::activeModalWidget();
    return w && w->isVisible() ? w : nullptr;
}

bool IsCase(QWidget* w, const char* title)
{
    if (std::string(title).rfind("box:", 0) == 0) return qobject_cast<QMessageBox*>(w) != nullptr;
    return w->windowTitle() == QString::fromUtf8(title);
}

class QuitWithDialogTest : public AppTest, public ::testing::WithParamInterface<WayOut> {};

}  // namespace

// With each modal window open (and some with a second one over it) the
// program is left by one of its ways out: the windows close first, the
// program shuts down and gives the directory back, nothing is freed twice.
TEST_P(QuitWithDialogTest, ClosesTheDialogsFirstAndEndsCleanly)
{
    ASSERT_NO_FATAL_FAILURE(Serve({50}));
    const WayOut way = GetParam();
    int accountId = 0;
    size_t tried = 0;
    for (size_t i = static_cast<size_t>(way); i < std::size(kDialogs); i += 3, ++tried) {
        const DialogCase& c = kDialogs[i];
        SCOPED_TRACE(c.title);
        ASSERT_NO_FATAL_FAILURE(Launch());
        CMainFrame* frame = app->Frame();
        if (way == WayOut::SessionEnd) app->WatchSessionEnd();
        CBookkeepingUi* book = CBookkeepingUi::Of(*frame);
        if (accountId == 0) {
            accountId = NewAccount("退出帐户");
            Book(accountId, EstablishedFunds(1).at(0), kTradeBuy, 5000, OleDate::FromParts(2024, 9, 2, 10, 0), true);
            WaitIdle(*app);
            book->RefreshAll();
        }
        if (c.command == cmd::SortValues || c.command == cmd::AddFavourite) {
            frame->RunCommand(cmd::ValuesOpen);
            WaitIdle(*app);
            CListView* list = app->ValuesView()->List();
            list->setCurrentIndex(list->model()->index(0, 0));
        } else {
            frame->RunCommand(cmd::GroupAccounts);
            book->SelectAccount(accountId);
        }

        // Once the window (and the one over it) is up, the way out.
        bool sawDialog = false, sawNested = c.nested == nullptr, left = false;
        QPointer<QWidget> first;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* w = VisibleModal();
            if (left || !w) return;
            if (!sawDialog) {
                if (!IsCase(w, c.title)) return;
                sawDialog = true;
                first = w;
                if (c.nested) {
                    for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
                        if (b->text() == QString::fromUtf8(c.nested)) {
                            QTimer::singleShot(0, b, &QAbstractButton::click);
                            return;
                        }
                    ADD_FAILURE() << "no button " << c.nested;
                }
            } else if (!sawNested) {
                if (w == first) return;  // the second window is not up yet
                sawNested = true;
            }
            left = true;
            switch (way) {
            case WayOut::CloseButton: frame->close(); break;
            case WayOut::TrayExit: frame->RunCommand(cmd::Exit); break;
            case WayOut::SessionEnd: raise(SIGTERM); break;
            }
        });
        poll.start(20);
        // Run from an event loop, as the program's own: the dialog's loop is nested in it.
        QEventLoop loop;
        QTimer::singleShot(0, frame, [frame, c] { frame->RunCommand(c.command); });
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        QTimer ended;
        QObject::connect(&ended, &QTimer::timeout, &loop, [&] {
            if (!app->Frame()) loop.quit();
        });
        ended.start(20);
        loop.exec();
        poll.stop();
        EXPECT_TRUE(sawDialog);
        EXPECT_TRUE(sawNested);
        EXPECT_EQ(app->Frame(), nullptr);
        EXPECT_EQ(VisibleModal(), nullptr);
        CInstanceLock next;
        EXPECT_TRUE(next.Acquire(HomePath(kInstanceLockFile)));
        app.reset();
    }
    EXPECT_GE(tried, 8u);
}

INSTANTIATE_TEST_SUITE_P(EveryWayOut, QuitWithDialogTest,
                         ::testing::Values(WayOut::CloseButton, WayOut::TrayExit, WayOut::SessionEnd));
