// Every command of the menus, toolbar and accelerators, run through the
// frame's one router by a VIP member logged in at the real service: each
// opens the page or dialog it names, quits, or hands its address to the
// desktop browser, and none ends on a page or text that says it is missing.
#include <gtest/gtest.h>

#include <QAction>
#include <QDesktopServices>
#include <QDirIterator>
#include <QDockWidget>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTextBrowser>
#include <map>
#include <set>

#include "UiFixture.h"
#include "app/IniFile.h"
#include "app/VextalDoc.h"
#include "book/BookTypes.h"
#include "ui/BookkeepingUi.h"
#include "ui/FundCurveView.h"
#include "ui/FundForecastView.h"
#include "ui/FundValueListView.h"
#include "ui/FundValueNewView.h"
#include "ui/MainFrame.h"
#include "ui/WebPane.h"
#include "ui/WebViews.h"

using namespace vextal;
using namespace vextal::test;

namespace {

// Catches what the program hands to the desktop browser (a handler is
// invoked by name: this slot needs no meta-object of its own).
class UrlCatcher : public QTextBrowser {
public:
    std::vector<QString> urls;

protected:
    void doSetSource(const QUrl& url, QTextDocument::ResourceType) override { urls.push_back(url.toString()); }
};

// Any text of the window that says a function or page is missing.
std::string MissingText(CMainFrame& frame)
{
    if (frame.statusBar()->currentMessage().contains(QStringLiteral("尚未提供")))
        return frame.statusBar()->currentMessage().toStdString();
    for (QLabel* label : frame.findChildren<QLabel*>())
        if (label->isVisible() && label->text().contains(QStringLiteral("尚未提供"))) return label->text().toStdString();
    return {};
}

class CommandWalkTest : public AppTest {
protected:
    void SetUp() override
    {
        // The export writes into the user's documents: here a folder of the test's.
        oldHome = qgetenv("HOME");
        oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", userHome.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", QDir(userHome.path()).filePath(".config").toUtf8());
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &browser, "setSource");
        ASSERT_NO_FATAL_FAILURE(Start({120}));
        ASSERT_TRUE(app->Document()->IsVip());
    }
    void TearDown() override
    {
        AppTest::TearDown();
        for (const char* scheme : {"http", "https", "file"}) QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        qputenv("HOME", oldHome);
        if (oldConfig.isEmpty()) qunsetenv("XDG_CONFIG_HOME");
        else qputenv("XDG_CONFIG_HOME", oldConfig);
    }

    // An account with one holding, chosen in the account panel.
    int SeedAccount()
    {
        const int id = NewAccount("巡检帐户");
        Book(id, EstablishedFunds(1).at(0), kTradeBuy, 10000, OleDate::FromParts(2024, 9, 2, 10, 0), true);
        WaitIdle(*app);
        app->Bookkeeping()->RefreshAll();
        app->Bookkeeping()->SelectAccount(id);
        return id;
    }

    QTemporaryDir userHome;
    QByteArray oldHome, oldConfig;
    UrlCatcher browser;
};

}  // namespace

TEST_F(CommandWalkTest, EveryCommandOpensWhatItNames)
{
    CMainFrame& frame = *app->Frame();
    CHomeView& home = *frame.HomeView();
    // The window opens on the accounts page, with its own view shown.
    ASSERT_EQ(frame.Navigation().page, 105);
    EXPECT_EQ(home.currentWidget(), home.Page(105));
    const int accountId = SeedAccount();
    ASSERT_GT(accountId, 0);
    ModalDriver closer;
    const std::string base = service->Base();

    // What each command must leave: a page (the view shown is that page's),
    // the dialogs and boxes it opened, the address the browser got.
    struct Expect {
        int page = 0;
        std::vector<std::string> modals;
        std::string url;
        std::function<void()> before;  // puts the window where the command applies
        std::function<void()> after;   // checks beyond page, dialogs and address
        bool anyModals = false;        // `after` checks them
        bool disabled = false;         // does nothing anywhere: disabled and refused
    };
    std::map<int, Expect> expect;
    auto onValues = [&] { frame.RunCommand(cmd::ValuesOpen); };
    auto onAccount = [&] {
        frame.RunCommand(cmd::GroupAccounts);
        CBookkeepingUi::Of(frame)->SelectAccount(accountId);
    };
    auto spreadsheet = [&](const char* pattern) {
        QDirIterator files(userHome.path(), {QString::fromUtf8(pattern)}, QDir::Files, QDirIterator::Subdirectories);
        return files.hasNext() ? files.next() : QString();
    };
    const std::pair<int, int> pages[] = {
        {cmd::Estimate, 112},      {cmd::Tools, 112},         {cmd::InvestAnalysis, 116},   {cmd::ValuesOpen, 100},
        {cmd::ValuesMoney, 102},   {cmd::ValuesEtf, 110},     {cmd::ValuesClosed, 109},     {cmd::ValuesCollective, 115},
        {cmd::GroupData, 100},     {cmd::History, 113},       {cmd::HistoryMoney, 113},     {cmd::HistoryClosed, 113},
        {cmd::DailyTrend, 103},    {cmd::GrowthTrend, 103},   {cmd::DailyOverlay, 103},     {cmd::WeeklyOverlay, 103},
        {cmd::MonthlyOverlay, 103}, {cmd::MovingAverage, 103}, {cmd::RealtimeCurve, 103},   {cmd::NDayReturn, 103},
        {cmd::RangeOverlay, 103},  {cmd::BandOverlay, 103},   {cmd::GroupCurves, 103},      {cmd::TradeDetails, 107},
        {cmd::TradeIncome, 114},   {cmd::AccountDetail, 106}, {cmd::GroupAccounts, 106},    {cmd::Back, 106},
        {cmd::Refresh, 100},       {cmd::LookThrough, 117},   {cmd::FundOverlap, 118},      {cmd::IndexCompare, 119}};
    for (auto [id, p] : pages) expect[id].page = p;
    const std::pair<int, const char*> dialogs[] = {
        {cmd::SyncBookkeeping, "记帐数据上传/下载"}, {cmd::UserInfo, "修改用户信息"}, {cmd::Password, "设置登录密码"},
        {cmd::Options, "参数设置"},               {cmd::SortValues, "最新净值排序"}, {cmd::About, "关于Vextal"},
        {cmd::DownloadHistory, "从服务器下载历史净值"}, {cmd::DownloadIndex, "从服务器下载大盘指数"},
        {cmd::AddFavourite, "添加到基金收藏夹"},
        // Answered no, the member centre question changes nothing; the yes is the next test's.
        {cmd::UpgradeVip, "box:升级操作需要到网站中会员中心进行，确定要关闭程序登录到会员中心吗?"}};
    for (auto [id, title] : dialogs) expect[id].modals = {title};
    const std::pair<int, const char*> bookDialogs[] = {
        {cmd::NewAccount, "新建帐户"},       {cmd::QuickBooking, "快速记帐"},         {cmd::Subscribe, "基金认购"},
        {cmd::Purchase, "基金购买"},         {cmd::Redeem, "基金赎回"},               {cmd::Convert, "基金转换"},
        {cmd::DividendBooking, "基金分红记帐"}, {cmd::Split, "基金拆分记帐"},         {cmd::Plans, "基金定投管理"},
        {cmd::EditBooking, "修改记帐信息"},  {cmd::DividendMode, "基金分红设置"},     {cmd::SaleFee, "基金赎回参考费率设置"},
        {cmd::MoveHolding, "帐户间基金移动"}, {cmd::ImportTrades, "导入交易记录"},    {cmd::AccountProperties, "帐户属性"},
        // The question is answered no: the account stays.
        {cmd::DeleteAccount, "box:确定要删除选定的帐户吗?\n\n帐户“巡检帐户”和它的1个基金持仓、1条交易记录将一并删除，不能恢复。"}};
    for (auto [id, title] : bookDialogs) expect[id].modals = {title};
    for (int id : {cmd::TradeDetails, cmd::TradeIncome, cmd::AccountPanel, cmd::DeleteAccount, cmd::NewAccount,
                   cmd::QuickBooking, cmd::Subscribe, cmd::Purchase, cmd::Redeem, cmd::Convert, cmd::DividendBooking,
                   cmd::Split, cmd::Plans, cmd::EditBooking, cmd::DividendMode, cmd::SaleFee, cmd::MoveHolding,
                   cmd::ImportTrades, cmd::AccountProperties, cmd::LookThrough, cmd::FundOverlap, cmd::IndexCompare})
        expect[id].before = onAccount;
    for (int id : {cmd::ExportExcel, cmd::PortfolioIncome, cmd::SortValues, cmd::GroupUsers, cmd::Refresh})
        expect[id].before = onValues;
    const std::pair<int, const char*> tools[] = {
        {cmd::MyFunds, "plindo/tool/myfundfocus.aspx?"},     {cmd::Notebook, "plindo/tool/financingnotepad.aspx?"},
        {cmd::FundFilter, "plindo/tool/FundFilterView.aspx?"}, {cmd::BuyStatus, "plindo/Info/FundStateIndex.aspx?"},
        {cmd::FundSummary, "fundinfo/FundInfoClient.asp?"},  {cmd::FundAnalysis, "plindo/Tool/FundCompareIndex.aspx?"},
        {cmd::IncomeCalculator, "plindo/vip/FundIncomeTool.aspx?"}, {cmd::Recommend, "html/top/StatTopView.htm"},
        {cmd::Ranking, "report/FundHistoryTopIndex.htm"},    {cmd::IndexQuotes, "vip/realstock.asp?"},
        {cmd::OpenBuyStatus, "html/Data/FundState.htm"}};
    for (const auto& [id, path] : tools) {
        expect[id].page = 111;
        expect[id].after = [&, path = std::string(path)] {
            auto* view = qobject_cast<CFundValueHistoryView*>(home.currentWidget());
            ASSERT_NE(view, nullptr);
            EXPECT_EQ(view->LastUrl().rfind(base + path, 0), 0u) << view->LastUrl();
        };
    }
    expect[cmd::Help].modals = {"帮助文档"};  // the program's own window
    expect[cmd::VipList].url = base + "plindo/User/VIPFunction.htm";
    expect[cmd::Suggestion].url = base + "plindo/SuggestView.aspx";
    expect[cmd::Website].url = base;

    expect[cmd::ExportExcel].anyModals = true;
    expect[cmd::ExportExcel].after = [&] {
        // Without a spreadsheet program on the desktop the path of the file is shown.
        if (!closer.seen.empty()) {
            EXPECT_EQ(closer.seen[0].rfind("box:表格已保存到 " + userHome.path().toStdString(), 0), 0u) << closer.seen[0];
        }
        EXPECT_FALSE(spreadsheet("开放式基金最新净值-*.xlsx").isEmpty());
    };
    // The trade details go to a spreadsheet with the amounts as numbers.
    expect[cmd::TradeDetails].after = [&] {
        frame.RunCommand(cmd::ExportExcel);
        Settle();
        const QString file = spreadsheet("帐户 巡检帐户 交易明细-*.xlsx");
        ASSERT_FALSE(file.isEmpty());
        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), file, QStringLiteral("xl/worksheets/sheet1.xml")});
        ASSERT_TRUE(unzip.waitForFinished(10000));
        const QString sheet = QString::fromUtf8(unzip.readAllStandardOutput());
        EXPECT_TRUE(sheet.contains(QRegularExpression(QStringLiteral("<c r=\"F2\" s=\"\\d+\"><v>10000</v>")))) << sheet.toStdString();
    };
    expect[cmd::AccountDetail].before = [&] {
        frame.RunCommand(cmd::ValuesOpen);
        CBookkeepingUi::Of(frame)->SelectAccount(accountId);
    };
    expect[cmd::AccountDetail].after = [&] {
        EXPECT_EQ(frame.Navigation().group, 3);
        EXPECT_TRUE(frame.AccountPanel()->isVisible());
    };
    expect[cmd::TodayIncome].after = [&] {
        EXPECT_TRUE(frame.Action(cmd::TodayIncome)->isChecked());
        EXPECT_EQ(ReadIniString("Show", "ShowRealtimeFlag", "0", 16, HomePath("Vextal.ini")), "1");
    };
    expect[cmd::DeleteAccount].after = [&] { EXPECT_NE(app->Document()->Accounts().FindAccount(accountId), nullptr); };
    expect[cmd::Delete] = expect[cmd::DeleteAccount];
    expect[cmd::Delete].before = [&] {
        onAccount();
        frame.ShowAccountsPage(105);
    };
    expect[cmd::Properties].before = expect[cmd::Delete].before;
    expect[cmd::Properties].modals = {"帐户属性"};
    expect[cmd::AccountPanel].after = [&] {
        EXPECT_FALSE(frame.AccountPanel()->isVisible());
        frame.RunCommand(cmd::AccountPanel);
        EXPECT_TRUE(frame.AccountPanel()->isVisible());
    };
    expect[cmd::GroupAccounts].after = [&] { EXPECT_TRUE(frame.AccountPanel()->isVisible()); };  // the page last used
    // No function for the portfolio income, no view for user management.
    for (int id : {cmd::PortfolioIncome, cmd::GroupUsers}) expect[id].disabled = true;
    expect[cmd::Back].before = [&] {
        frame.RunCommand(cmd::GroupAccounts);
        frame.RunCommand(cmd::ValuesMoney);
    };
    expect[cmd::AddFavourite].before = [&] {
        onValues();
        CListView* list = app->ValuesView()->List();
        list->setCurrentIndex(list->model()->index(0, 0));
    };

    std::set<int> walked;
    for (const CommandDef& c : CommandTable()) {
        if (c.id == cmd::Exit) continue;  // last
        SCOPED_TRACE(std::string(c.text) + " (" + std::to_string(c.id) + ")");
        walked.insert(c.id);
        auto it = expect.find(c.id);
        ASSERT_NE(it, expect.end()) << "a command the walk does not know";
        const Expect& e = it->second;
        if (e.before) e.before();
        Settle();
        WaitIdle(*app);
        closer.seen.clear();
        browser.urls.clear();
        if (e.disabled) {
            EXPECT_FALSE(frame.Action(c.id)->isEnabled());
            EXPECT_FALSE(frame.RunCommand(c.id));
            continue;
        }
        EXPECT_TRUE(frame.RunCommand(c.id));
        Settle();
        WaitIdle(*app);
        ASSERT_EQ(app->Frame(), &frame);
        if (!e.anyModals) {
            EXPECT_EQ(closer.seen, e.modals);
            EXPECT_EQ(browser.urls.size(), e.url.empty() ? 0u : 1u);
        }
        if (!e.url.empty() && !browser.urls.empty()) {
            EXPECT_EQ(browser.urls[0].toStdString(), e.url);
        }
        if (e.page) {
            EXPECT_EQ(home.currentWidget(), home.Page(e.page));
            if (c.page == e.page) {
                EXPECT_EQ(frame.Navigation().page, e.page);
            }
        }
        EXPECT_EQ(MissingText(frame), "");
        if (e.after) e.after();
    }
    EXPECT_EQ(walked.size() + 1, CommandTable().size());

    // "退出(&X)" closes the window, which ends the program.
    bool closed = false;
    QObject::connect(&frame, &CMainFrame::closed, [&closed] { closed = true; });
    frame.RunCommand(cmd::Exit);
    EXPECT_TRUE(closed);
}

TEST_F(CommandWalkTest, UpgradeToVipOpensTheMemberCentreAndCloses)
{
    CMainFrame& frame = *app->Frame();
    ModalDriver closer(true);
    bool closed = false;
    QObject::connect(&frame, &CMainFrame::closed, [&closed] { closed = true; });
    frame.RunCommand(cmd::UpgradeVip);
    ASSERT_EQ(browser.urls.size(), 1u);
    EXPECT_EQ(browser.urls[0].toStdString(), service->Base() + "plindo/Login.aspx?code=102");
    EXPECT_TRUE(closed);
}

TEST_F(CommandWalkTest, TheEstimatePageShowsTheServicesPageAndExportsItsList)
{
    CMainFrame& frame = *app->Frame();
    ModalDriver closer;
    ASSERT_TRUE(frame.RunCommand(cmd::Estimate));
    auto* view = qobject_cast<CFundForecastView*>(frame.HomeView()->currentWidget());
    ASSERT_NE(view, nullptr);
    QSignalSpy finished(view, &CFundForecastView::estimateFinished);
    ASSERT_TRUE(view->RunEstimate());
    ASSERT_TRUE(finished.wait(60000));
    ASSERT_GT(view->FundList()->model()->rowCount(), 0) << view->StatusText().toStdString();

    // The chosen fund's estimate page, from the service that serves the site's pages.
    auto* page = view->Pane()->findChild<QTextBrowser*>();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->source().toString().toStdString().rfind(
                  service->Base() + "plindo/newvip/RealtimeCalcView.aspx?flag=1&fundid=", 0),
              0u)
        << page->source().toString().toStdString();

    // "导出表格到Excel" on this page writes the estimates.
    view->FundList()->setFocus();
    frame.RunCommand(cmd::ExportExcel);
    Settle();
    QDirIterator files(userHome.path(), {QStringLiteral("基金净值估算-*.xlsx")}, QDir::Files, QDirIterator::Subdirectories);
    EXPECT_TRUE(files.hasNext());
}

TEST_F(CommandWalkTest, EveryPageOffersOnlyTheCommandsThatActOnIt)
{
    CMainFrame& frame = *app->Frame();
    const int accountId = SeedAccount();
    ModalDriver closer;
    auto spreadsheets = [&] {
        int n = 0;
        for (QDirIterator it(userHome.path(), {QStringLiteral("*.xlsx")}, QDir::Files, QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++n;
        return n;
    };
    auto onAccount = [&](int command) {
        return [&, command] {
            frame.RunCommand(cmd::GroupAccounts);
            CBookkeepingUi::Of(frame)->SelectAccount(accountId);
            if (command) frame.RunCommand(command);
            else frame.ShowAccountsPage(105);
        };
    };
    auto go = [&](int command) { return [&, command] { frame.RunCommand(command); }; };
    auto drawn = [&] {
        frame.RunCommand(cmd::ValuesOpen);
        CListView* list = app->ValuesView()->List();
        list->setCurrentIndex(list->model()->index(0, 0));
        auto* view = qobject_cast<CFundCurveView*>(frame.HomeView()->Page(103));
        ASSERT_NE(view, nullptr);
        QSignalSpy spy(view, &CFundCurveView::curveDrawn);
        frame.RunCommand(cmd::DailyTrend);
        if (spy.count() == 0) {
            ASSERT_TRUE(spy.wait(60000));
        }
    };
    // The export: 1 offered, 0 not, -1 as the page's data has it. Delete and
    // properties act on the accounts, a holding, a trade: nowhere else.
    struct Case {
        int page;
        std::function<void()> show;
        int exports;
    };
    const Case cases[] = {
        {100, go(cmd::ValuesOpen), 1},      {102, go(cmd::ValuesMoney), 1},   {109, go(cmd::ValuesClosed), 1},
        {110, go(cmd::ValuesEtf), 1},       {115, go(cmd::ValuesCollective), 1}, {103, drawn, 1},
        {105, onAccount(0), 1},             {106, onAccount(cmd::AccountDetail), 1}, {107, onAccount(cmd::TradeDetails), 1},
        {114, onAccount(cmd::TradeIncome), 1}, {111, go(cmd::MyFunds), 0},   {112, go(cmd::Estimate), -1},
        {113, go(cmd::History), -1},        {116, go(cmd::InvestAnalysis), 0}, {117, onAccount(cmd::LookThrough), -1},
        {118, onAccount(cmd::FundOverlap), -1}, {119, onAccount(cmd::IndexCompare), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("page " + std::to_string(c.page));
        ASSERT_NO_FATAL_FAILURE(c.show());
        Settle();
        WaitIdle(*app);
        ASSERT_EQ(frame.Navigation().page, c.page);
        const bool book = c.page == 105 || c.page == 106 || c.page == 107;
        for (int id : {cmd::ExportExcel, cmd::Delete, cmd::Properties}) {
            SCOPED_TRACE(FindCommand(id)->text);
            frame.UpdateCommandStates();
            const bool enabled = frame.Action(id)->isEnabled();
            if (id != cmd::ExportExcel) {
                EXPECT_EQ(enabled, book);
            } else if (c.exports >= 0) {
                EXPECT_EQ(enabled, c.exports == 1);
            }
            closer.seen.clear();
            const int before = spreadsheets();
            // A disabled command is refused; an enabled one shows a box or dialog or writes a file.
            EXPECT_EQ(frame.RunCommand(id), enabled);
            Settle();
            WaitIdle(*app);
            if (enabled) {
                EXPECT_TRUE(!closer.seen.empty() || spreadsheets() > before);
            } else {
                EXPECT_TRUE(closer.seen.empty());
                EXPECT_EQ(spreadsheets(), before);
            }
            EXPECT_EQ(frame.Navigation().page, c.page);
        }
    }
    EXPECT_NE(app->Document()->Accounts().FindAccount(accountId), nullptr);
}
