// The trade import runs on the worker against the real plindo-serve: the
// window's thread asks the service nothing, "取消" books nothing, and a
// finished import is in the window's lists at once.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "book/BookServiceClient.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/HttpTransport.h"
#include "support/BookHome.h"
#include "support/DirectHttp.h"
#include "support/RecordingPrompt.h"
#include "support/ServeFixture.h"
#include "ui/ImportDialog.h"
#include "ui/TaskRunner.h"

using namespace vextal;

namespace {
std::atomic<int> g_windowRequests{0};
}  // namespace

TEST(ImportDialog, BooksOnTheWorkerAndACancelBooksNothing)
{
    test::UseDirectHttp();
    test::RealService service({29, 120, "2007-03-05 21:00:00"});
    VEXTAL_ASSERT_STARTED(&service);
    Clock::Fix(OleDate::FromParts(2007, 3, 5, 21, 0, 0));
    const CMarketSimulator& market = test::SimulatedMarket(29, 120);
    CommandReply login = service.LoginReply();
    ASSERT_TRUE(login.ok()) << login.error;
    CommandContext ctx = service.Anonymous();
    ctx.loginId = login.serverId;
    std::string fund;
    for (const SimFund& f : market.Funds())
        if (fund.empty() && f.HoldsStocks() && !f.withdrawDay && f.createDay < DayNumber(OleDate::FromParts(2005, 6, 1)))
            fund = f.code;
    ASSERT_FALSE(fund.empty());
    test::SimDirectory directory(market);
    CBookServiceClient services([&ctx] { return ctx; });
    test::BookHome home(static_cast<int>(IntegerOr(login.fields[0], -1)), &services, &directory);
    const int account = home.NewAccount("导入帐户");

    QTemporaryDir dir;
    const QString path = dir.filePath("trades.csv");
    std::ofstream(path.toStdString()) << "日期,基金代码,类型,金额或份数,手续费\n2006-03-01," << fund
                                      << ",申购,10000,1.5\n2006-05-08," << fund << ",申购,2000,1.5\n2006-09-01," << fund
                                      << ",赎回,1000,0.5\n";
    CTaskRunner runner;
    BookDialogContext c;
    c.accounts = &home.manager;
    c.db = &home.db;
    c.funds = &directory;
    c.runner = &runner;
    c.currentAccount = account;
    // The engine's announcements of what the import booked.
    int refreshes = 0;
    home.manager.SetChangeListener([&](const std::vector<int>& ids) {
        ++refreshes;
        EXPECT_EQ(ids, std::vector<int>{account});
    });
    test::RecordingPrompt prompt;
    c.prompt = &prompt;

    HttpConfig config = GetHttpConfig();
    config.onRequest = [](const std::string&) {
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) ++g_windowRequests;
    };
    SetHttpConfig(config);
    {
        CImportDialog dialog(c);
        dialog.findChild<QLineEdit*>("file")->setText(path);

        // Stopped while it waits for the worker: it never runs.
        std::mutex m;
        std::condition_variable cv;
        bool open = false;
        runner.Run([&](const std::atomic<bool>&) -> WorkFinish {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return open; });
            return nullptr;
        });
        dialog.OnImport();
        EXPECT_TRUE(dialog.IsBusy());
        dialog.reject();  // "取消"
        EXPECT_FALSE(dialog.IsBusy());
        QSignalSpy idle(&runner, &CTaskRunner::idle);
        {
            std::lock_guard<std::mutex> lock(m);
            open = true;
        }
        cv.notify_all();
        ASSERT_TRUE(idle.wait(30000));
        EXPECT_EQ(home.Count("SELECT TradeID FROM T_Trade_Info"), 0);
        EXPECT_EQ(refreshes, 0);

        // Imported: booked on the worker and announced (the lists that follow: BookFlowTest).
        QSignalSpy done(&dialog, &CImportDialog::runDone);
        dialog.OnImport();
        ASSERT_TRUE(done.wait(30000));
        EXPECT_EQ(dialog.Refusals(), "");
        EXPECT_EQ(home.Count("SELECT TradeID FROM T_Trade_Info WHERE TradeType<>6 AND TradeType<>7"), 3);
        EXPECT_EQ(refreshes, 1);

        // The same file again: the user is asked, says no, and the rows the
        // account holds stay out, marked as such.
        const int booked = home.Count("SELECT TradeID FROM T_Trade_Info");
        dialog.OnImport();
        ASSERT_TRUE(done.wait(30000));
        ASSERT_EQ(prompt.questions.size(), 1u);
        EXPECT_NE(prompt.questions[0].find("文件中有3笔交易与帐户中已有的记帐相同"), std::string::npos);
        EXPECT_EQ(prompt.messages.back(), "导入成功：0笔交易");
        EXPECT_EQ(home.Count("SELECT TradeID FROM T_Trade_Info"), booked);
        EXPECT_EQ(dialog.Model()->Rows().at(0).back(), QStringLiteral("重复，未记帐"));

        // "取消" after the worker committed, before its result reached the
        // window: the dialog says the rows are in, not that nothing was booked.
        std::ofstream(path.toStdString(), std::ios::trunc)
            << "日期,基金代码,类型,金额或份数,手续费\n2006-10-09," << fund << ",申购,3000,1.5\n";
        const int before = home.Count("SELECT TradeID FROM T_Trade_Info WHERE TradeType=0");
        prompt.messages.clear();
        dialog.OnImport();
        for (int i = 0; i < 3000 && home.Count("SELECT TradeID FROM T_Trade_Info WHERE TradeType=0") == before; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        dialog.reject();
        ASSERT_TRUE(QSignalSpy(&runner, &CTaskRunner::idle).wait(30000));
        QCoreApplication::processEvents();
        EXPECT_EQ(home.Count("SELECT TradeID FROM T_Trade_Info WHERE TradeType=0"), before + 1);
        EXPECT_EQ(prompt.messages, std::vector<std::string>{"导入成功：1笔交易"});
        EXPECT_EQ(refreshes, 3);
    }
    config.onRequest = nullptr;
    SetHttpConfig(config);
    EXPECT_EQ(g_windowRequests.load(), 0);
    Clock::Release();
}
