// Long work against a slow or hung plindo-serve, in the program as users
// run it: the estimate and a class download stop within a second of 取消
// and a download started meanwhile does not wait for the estimate; the
// login asks on a worker and gives a hung service up after its count; the
// program quits at once during a hung request and starts again; and the
// estimate of 14:50 is compared with the NAV at the next start at 21:00.
// VEXTAL_TEST_SHOTS=DIR keeps pictures of the page in DIR.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>

#include "UiFixture.h"
#include "app/VextalDoc.h"
#include "common/ProgramDir.h"
#include "net/ClientCommands.h"
#include "support/Automation.h"
#include "support/ServeFixture.h"
#include "ui/FundForecastView.h"
#include "ui/FundValueNewView.h"
#include "ui/LoginDialogs.h"
#include "ui/MainFrame.h"

using namespace vextal;
using namespace vextal::test;

namespace {

void Shot(QWidget& window, const char* name)
{
    const QByteArray dir = qgetenv("VEXTAL_TEST_SHOTS");
    if (!dir.isEmpty()) window.grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromUtf8(name)));
}

class EstimatePageTest : public AppTest {
protected:
    static constexpr const char* kAt1450 = "2024-10-16 14:50:00";  // a Wednesday, in trading hours

    CFundForecastView& Page()
    {
        app->Frame()->RunCommand(cmd::Estimate);
        auto* view = qobject_cast<CFundForecastView*>(app->Frame()->HomeView()->Page(112));
        EXPECT_NE(view, nullptr);
        return *view;
    }
    // Three stock funds of the service's market (seed 1) as the selection.
    std::vector<std::string> SelectStockFunds()
    {
        std::vector<std::string> funds;
        for (const SimFund& f : SimulatedMarket(1, 300).Funds())
            if (funds.size() < 3 && f.HoldsStocks() && !f.withdrawDay &&
                f.createDay < DayNumber(OleDate::FromParts(2023, 1, 1)))
                funds.push_back(f.code);
        app->Document()->Settings().fundIdList = funds;
        return funds;
    }
};

}  // namespace

TEST_F(EstimatePageTest, CancelDuringHungQuotesOrAHungClassDownloadFreesTheWorkerWithinASecond)
{
    ASSERT_NO_FATAL_FAILURE(Start({300, kAt1450, {"--hang", "/htmdata/", "--hang", "2/1"}}));
    SelectStockFunds();
    CFundForecastView& page = Page();
    ASSERT_TRUE(page.RunEstimate());
    ASSERT_TRUE(LoopUntil([&] { return page.StatusText().startsWith(QStringLiteral("正在取得股票行情")); }, 15000))
        << page.StatusText().toStdString();
    Shot(*app->Frame(), "estimate-running.png");

    // A download started now does not queue behind the estimate.
    CFundValueNewView& values = *app->ValuesView();
    QSignalSpy downloaded(&values, &CFundValueNewView::downloadFinished);
    values.DownloadSelected({app->Document()->Settings().fundIdList.front()});
    ASSERT_TRUE(downloaded.wait(10000));
    EXPECT_EQ(downloaded.at(0).at(0).toInt(), kMarketOk);
    EXPECT_TRUE(page.IsRunning());

    page.CancelRun();
    EXPECT_EQ(page.StatusText(), QStringLiteral("估算已取消"));
    EXPECT_TRUE(LoopUntil([&] { return !app->Runner()->IsBusy(); }, 1000));
    Shot(*app->Frame(), "estimate-cancelled.png");

    // The open-end list's first download hangs at the service: 取消.
    app->Frame()->RunCommand(cmd::ValuesOpen);
    ASSERT_TRUE(values.IsDownloading());
    QTest::qWait(300);  // well inside the hung request
    values.CancelDownload();
    EXPECT_TRUE(LoopUntil([&] { return !app->Runner()->IsBusy(); }, 1000));
}

TEST_F(EstimatePageTest, ClosedAt1450StartedAt2100FindsThatDaysEstimateCompared)
{
    ASSERT_NO_FATAL_FAILURE(Start({300, kAt1450}));
    const std::vector<std::string> funds = SelectStockFunds();
    std::map<std::string, float> at1450;
    {
        CFundForecastView& page = Page();
        QSignalSpy finished(&page, &CFundForecastView::estimateFinished);
        ASSERT_TRUE(page.RunEstimate());
        ASSERT_TRUE(finished.wait(30000));
        EXPECT_TRUE(page.StatusText().startsWith(QStringLiteral("估算完成：3个基金"))) << page.StatusText().toStdString();
        at1450 = page.LastResult().Calibrated;
        ASSERT_EQ(at1450.size(), 3u);
    }
    app->Shutdown();
    app.reset();

    // The evening: the day's NAVs are out; the program starts again.
    ASSERT_NO_FATAL_FAILURE(Start({300, "2024-10-16 21:00:00"}));
    WaitIdle(*app);  // the comparison asked for after the start
    CAdoDatabase& db = app->Document()->GetDatabase();
    const CMarketSimulator& market = SimulatedMarket(1, 300);
    const OleDate now = OleDate::FromParts(2024, 10, 16, 21, 0);
    const int day = DayNumber(now);
    for (const std::string& fund : funds) {
        const SimFund* f = market.FindFund(fund);
        ASSERT_NE(f, nullptr);
        const std::vector<NavRecord> published = market.Published(*f, now, day, day);
        ASSERT_EQ(published.size(), 1u) << fund;
        RecordsetPtr rs = db.OpenRecordsetEx("SELECT Estimate,Published,Compared FROM T_Fund_Estimate WHERE FundID='" +
                                             fund + "' AND ValueDate='2024-10-16 00:00:00'");
        ASSERT_TRUE(rs && !rs->IsEOF()) << fund;
        double estimate = 0, growth = 0;
        int compared = 0;
        db.GetFieldValue(rs, "Estimate", estimate);
        db.GetFieldValue(rs, "Published", growth);
        db.GetFieldValue(rs, "Compared", compared);
        EXPECT_EQ(compared, 1) << fund;
        EXPECT_NEAR(estimate, at1450[fund], 1e-4) << fund;  // the intraday one, not the evening's
        EXPECT_NEAR(growth, published[0].pct, 0.0051) << fund;
    }

    // The page after publication: the published growth and the error of 14:50.
    ASSERT_EQ(SelectStockFunds(), funds);
    CFundForecastView& page = Page();
    QSignalSpy finished(&page, &CFundForecastView::estimateFinished);
    ASSERT_TRUE(page.RunEstimate());
    ASSERT_TRUE(finished.wait(30000));
    QAbstractItemModel* rows = page.FundModel();
    ASSERT_EQ(rows->rowCount(), 3);
    for (int r = 0; r < 3; ++r) {
        const std::string fund = page.LastResult().Plan.Funds[static_cast<size_t>(r)];
        const SimFund* f = market.FindFund(fund);
        const double pct = market.Published(*f, now, day, day)[0].pct;
        EXPECT_TRUE(rows->index(r, 5).data().toString().endsWith(QStringLiteral("已公布"))) << fund;
        const double shownError = rows->index(r, 6).data().toString().remove('%').toDouble();
        EXPECT_NEAR(shownError, std::fabs(at1450[fund] - std::round(pct * 100) / 100), 0.0051) << fund;
    }
    Shot(*app->Frame(), "estimate-published.png");
}

namespace {

// The program as its own process, driven through its automation socket.
class ProgramProcess : public AutomationClient {
public:
    ProgramProcess(const QString& home, const QString& socket) : AutomationClient(socket.toStdString(), 30000)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VEXTAL_NO_WEBENGINE", "1");
        env.insert("VEXTAL_NOW", "2024-10-16 14:50:00");
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(VEXTAL_PATH, {"--home", home, "--automation", socket});
    }
    ~ProgramProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // Polls `done` every 50 ms for at most 30 s.
    template <class F>
    static bool Until(F done)
    {
        return WaitUntil(done, 30000, 50);
    }
    QProcess& Process() { return m_process; }
    std::string Output() { return m_process.readAll().toStdString(); }

private:
    QProcess m_process;
};

}  // namespace

// Quitting while the estimate waits on a hung holdings request ends the
// program at once, and a start right after it is not refused.
TEST_F(EstimatePageTest, QuittingDuringAHungRequestEndsTheProgramAndTheNextStartRuns)
{
    ASSERT_NO_FATAL_FAILURE(Serve({300, kAt1450, {"--hang", "/plindo/common/plindoservice.asmx/GetNewFundInvestInfo"}}));
    const QString socket = QDir(home.path()).filePath("automation.sock");
    {
        ProgramProcess program(home.path(), socket);
        ASSERT_TRUE(program.Connect()) << program.Output();
        ASSERT_TRUE(program.Until([&] { return program.Ask("dialog").rfind("ok 登录", 0) == 0; }));
        EXPECT_EQ(program.Ask("set name demo"), "ok");
        EXPECT_EQ(program.Ask("set password demo123"), "ok");
        EXPECT_EQ(program.Ask("click 登录"), "ok");
        ASSERT_TRUE(program.Until([&] { return program.Ask("dialog") == "ok -" && program.Ask("busy") == "ok 0"; }));
        EXPECT_EQ(program.Ask("command 32829"), "ok");
        ASSERT_TRUE(program.Until([&] { return program.Ask("page") == "ok 112"; }));
        EXPECT_EQ(program.Ask("click 估算"), "ok");
        ASSERT_TRUE(program.Until([&] { return program.Ask("busy") == "ok 1"; }));
        QThread::msleep(1000);  // well inside the hung request
        ASSERT_EQ(program.Ask("busy"), "ok 1");
        EXPECT_EQ(program.Ask("quit"), "ok");
        EXPECT_TRUE(program.Process().waitForFinished(2000)) << "still running 2 s after quit";
        EXPECT_EQ(program.Process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.Process().exitCode(), 0) << program.Output();
    }
    ProgramProcess again(home.path(), socket);
    ASSERT_TRUE(again.Connect()) << again.Output();
    EXPECT_TRUE(again.Until([&] { return again.Ask("dialog").rfind("ok 登录", 0) == 0; })) << again.Ask("dialog");
}

// The login asks on a worker: the dialog answers meanwhile, counts the
// seconds, gives up a hung service after them, and 取消 ends a login at once.
// The version asked before the dialog opens is not waited for either.
TEST(LoginDialog, AHungServiceIsGivenUpAfterTheCountAndCancelEndsTheLogin)
{
    RealService service({7, 50, "2024-10-16 10:00:00",
                         {"--hang", "3/1", "--hang", "/plindo/client/ClientService.asmx/GetClientVersion"}});
    VEXTAL_ASSERT_STARTED(&service);
    UseDirectHttp();
    Clock::Fix(OleDate::FromParts(2024, 10, 16, 10, 0));
    QTemporaryDir home;
    SetProgramDirectory(home.path().toStdString());
    CVextalDoc doc;
    doc.Settings().serverUrl = service.Base();
    doc.Settings().clientServiceUrl = service.Base() + "plindo/client/ClientService.asmx/";
    doc.Membership().SetCommandUrl(service.CommandUrl());
    ShownPrompt prompt;
    CLoginDialog login(doc, prompt);
    QElapsedTimer opening;
    opening.start();
    ASSERT_TRUE(login.Prepare());
    EXPECT_LT(opening.elapsed(), 15000);  // the request time-out would be 60 s
    EXPECT_EQ(login.Logic().VersionCheck().GetLastError(), kSendRequestError);  // asked, and given up
    Clock::Release();
    login.SetWaitSeconds(2);
    login.SetForm({"demo", "demo123", false, false});
    login.show();

    login.accept();
    ASSERT_TRUE(login.IsLoggingIn());
    EXPECT_EQ(login.StatusText(), QStringLiteral("正在登录，最多再等2秒…"));
    EXPECT_FALSE(login.findChild<QLineEdit*>(QStringLiteral("name"))->isEnabled());
    login.reject();  // 取消
    EXPECT_FALSE(login.IsLoggingIn());
    EXPECT_TRUE(login.isVisible());
    EXPECT_EQ(login.StatusText(), QStringLiteral("登录已取消"));
    EXPECT_TRUE(LoopUntil([&] { return !login.IsWorking(); }, 1000));
    EXPECT_TRUE(prompt.messages.empty());

    login.accept();
    ASSERT_TRUE(LoopUntil([&] { return login.StatusText() == QStringLiteral("正在登录，最多再等1秒…"); }, 1500));
    ASSERT_TRUE(LoopUntil([&] { return !login.IsLoggingIn(); }, 3000));
    EXPECT_EQ(prompt.Last(), "登录失败:发送请求错误");
    EXPECT_EQ(login.StatusText(), QStringLiteral("服务器2秒内没有回答"));
    EXPECT_TRUE(login.findChild<QLineEdit*>(QStringLiteral("name"))->isEnabled());
    EXPECT_TRUE(login.isVisible());
    EXPECT_TRUE(LoopUntil([&] { return !login.IsWorking(); }, 1000));
}
