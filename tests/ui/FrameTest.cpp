#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <fstream>
#include <QTreeWidget>

#include "UiFixture.h"
#include "app/VersionCheck.h"
#include "app/VextalDoc.h"
#include "common/Clock.h"
#include "common/ProgramDir.h"
#include "common/StringTable.h"
#include "net/Encoding.h"
#include "ui/LoginDialogs.h"
#include "ui/MainFrame.h"

using namespace vextal;
using namespace vextal::test;

namespace {

struct FrameFixture : ::testing::Test {
    QTemporaryDir dir;
    ShownPrompt prompt;
    FrameContext Context(bool offline, bool vip)
    {
        FrameContext c;
        c.offline = offline;
        c.vip = vip;
        c.iniPath = QDir(dir.path()).filePath("Vextal.ini").toStdString();
        c.prompt = &prompt;
        return c;
    }
    void TearDown() override { Clock::Release(); }
};

}  // namespace

// Offline, the title and the status bar say so; what needs the service is
// refused there, and what needs a VIP member for a free one: the page stays
// and a refused command (as a toolbar click or menu pick triggers it) leaves
// no check mark.
TEST_F(FrameFixture, OfflineAndFreeMembersAreRefusedAndThePageStays)
{
    CMainFrame frame(Context(true, true));
    auto* mark = frame.statusBar()->findChild<QLabel*>(QStringLiteral("offlineMark"));
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->text(), QStringLiteral("离线"));
    EXPECT_FALSE(frame.RunCommand(cmd::History));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0], LoadResString(59154));
    EXPECT_EQ(frame.Navigation().page, 105);
    frame.Action(cmd::Estimate)->trigger();
    frame.Action(cmd::MyFunds)->trigger();
    EXPECT_FALSE(frame.Action(cmd::Estimate)->isChecked());
    EXPECT_FALSE(frame.Action(cmd::MyFunds)->isChecked());
    EXPECT_TRUE(frame.Action(cmd::GroupAccounts)->isChecked());
    EXPECT_EQ(prompt.messages.size(), 3u);
    EXPECT_TRUE(frame.RunCommand(cmd::ValuesOpen));
    EXPECT_EQ(frame.Navigation().page, 100);
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Vextal（离线） -- 开放式基金最新净值"));
    EXPECT_TRUE(frame.Action(cmd::ValuesOpen)->isChecked());
    EXPECT_TRUE(frame.Action(cmd::GroupData)->isChecked());
    EXPECT_TRUE(frame.Action(cmd::SortValues)->isEnabled());
    // VIP-only commands refuse a free member with 59163.
    CMainFrame free(Context(false, false));
    EXPECT_FALSE(free.windowTitle().contains(QStringLiteral("离线")));
    EXPECT_EQ(free.statusBar()->findChild<QLabel*>(QStringLiteral("offlineMark")), nullptr);
    EXPECT_FALSE(free.RunCommand(cmd::RangeOverlay));
    EXPECT_EQ(prompt.messages.back(), LoadResString(59163));
    free.Action(cmd::BandOverlay)->trigger();
    EXPECT_FALSE(free.Action(cmd::BandOverlay)->isChecked());
    EXPECT_EQ(prompt.messages.size(), 5u);
}

TEST_F(FrameFixture, FreeMembersGetTheEstimateCurveOnlyOutsideTradingHours)
{
    CMainFrame frame(Context(false, false));
    Clock::Fix(OleDate::FromParts(2026, 12, 2, 10, 30));  // a Wednesday
    EXPECT_FALSE(frame.RunCommand(cmd::RealtimeCurve));
    EXPECT_EQ(prompt.messages.back(), LoadResString(59174));
    Clock::Fix(OleDate::FromParts(2026, 12, 2, 16, 0));
    EXPECT_TRUE(frame.RunCommand(cmd::RealtimeCurve));
    EXPECT_EQ(frame.Navigation().page, 103);
    Clock::Fix(OleDate::FromParts(2026, 12, 2, 19, 0));
    EXPECT_FALSE(frame.RunCommand(cmd::RealtimeCurve));
    Clock::Fix(OleDate::FromParts(2026, 12, 6, 10, 30));  // a Sunday
    EXPECT_TRUE(frame.RunCommand(cmd::RealtimeCurve));
    CMainFrame vip(Context(false, true));
    Clock::Fix(OleDate::FromParts(2026, 12, 2, 10, 30));
    EXPECT_TRUE(vip.RunCommand(cmd::RealtimeCurve));
}

TEST_F(FrameFixture, BackReturnsOnceToTheAccountsPage)
{
    CMainFrame frame(Context(false, true));
    ASSERT_EQ(frame.Navigation().group, 3);
    frame.RunCommand(cmd::ValuesOpen);
    EXPECT_EQ(frame.Navigation().page, 100);
    EXPECT_FALSE(frame.AccountPanel()->isVisibleTo(&frame));
    frame.RunCommand(cmd::Back);
    EXPECT_EQ(frame.Navigation().page, 105);
    EXPECT_EQ(frame.Navigation().group, 3);
    EXPECT_TRUE(frame.AccountPanel()->isVisibleTo(&frame));
    frame.RunCommand(cmd::Back);
    EXPECT_EQ(frame.Navigation().page, 105);
    EXPECT_EQ(frame.Navigation().lastCommand, -1);
    // With nothing to go back to, a panel the user hid stays hidden.
    frame.show();
    frame.RunCommand(cmd::AccountPanel);
    ASSERT_TRUE(frame.AccountPanel()->isHidden());
    frame.RunCommand(cmd::Back);
    EXPECT_TRUE(frame.AccountPanel()->isHidden());
    EXPECT_EQ(frame.Navigation().page, 105);

    // From a data page to a curve page, back goes to the accounts group.
    frame.RunCommand(cmd::ValuesMoney);
    frame.RunCommand(cmd::DailyTrend);
    frame.RunCommand(cmd::Back);
    EXPECT_EQ(frame.Navigation().group, 3);
}

TEST_F(FrameFixture, PanelToggleIsWrittenAndReadBack)
{
    {
        CMainFrame frame(Context(false, true));
        frame.show();
        EXPECT_TRUE(frame.AccountPanel()->isVisible());
        frame.RunCommand(cmd::AccountPanel);
        EXPECT_FALSE(frame.AccountPanel()->isVisible());
        frame.close();
    }
    // Read back; shown again, the frame with its panel is destroyed cleanly.
    CMainFrame again(Context(false, true));
    again.show();
    EXPECT_FALSE(again.AccountPanel()->isVisible());
    again.RunCommand(cmd::AccountPanel);
    EXPECT_TRUE(again.AccountPanel()->isVisible());
}

TEST_F(FrameFixture, HistoryCommandsOpenTheHistoryPageOnly)
{
    CMainFrame frame(Context(false, true));
    std::vector<std::pair<int, int>> classes;
    frame.SetFundClassHandler([&](int page, int fundClass) { classes.emplace_back(page, fundClass); });
    for (int id : {cmd::History, cmd::HistoryMoney, cmd::HistoryClosed}) {
        EXPECT_TRUE(frame.RunCommand(id));
        EXPECT_EQ(frame.Navigation().page, 113);
    }
    EXPECT_TRUE(classes.empty());
    frame.RunCommand(cmd::ValuesClosed);
    EXPECT_EQ(classes, (std::vector<std::pair<int, int>>{{109, 3}}));
}

TEST_F(FrameFixture, TheShownPagesListTakesTheKeys)
{
    CMainFrame frame(Context(false, true));
    auto* page = new QWidget;
    auto* list = new QTableView(page);
    frame.HomeView()->SetPage(100, page);
    frame.HomeView()->SetPage(109, page);  // one widget for two pages, as the latest values have
    frame.show();
    frame.RunCommand(cmd::ValuesOpen);
    EXPECT_EQ(frame.focusWidget(), list);
    frame.AccountTree()->setFocus();
    frame.RunCommand(cmd::ValuesClosed);
    EXPECT_EQ(frame.focusWidget(), list);
}

TEST_F(FrameFixture, IdleTextReturnsAfterAMenuItemWithoutPrompt)
{
    CMainFrame frame(Context(false, true));
    QStatusTipEvent passing{QString()};  // what a menu item without a prompt sends
    QApplication::sendEvent(&frame, &passing);
    EXPECT_EQ(frame.statusBar()->currentMessage(), QStringLiteral("就绪"));
}

TEST_F(FrameFixture, HelpFetchesTheFileFirstAndSaysWhenItCannot)
{
    FrameContext context = Context(false, true);
    int asked = 0;
    context.ensureHelpFile = [&] { return ++asked, false; };
    CMainFrame frame(context);
    EXPECT_TRUE(frame.RunCommand(cmd::Help));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(prompt.messages, std::vector<std::string>{kHelpFileUnavailable});
}

// Delete and properties reach the page shown: the bookkeeping pages' own
// actions and another page's, whoever registered last.
TEST_F(FrameFixture, DeleteAndPropertiesActOnThePageShown)
{
    CMainFrame frame(Context(false, true));
    std::vector<std::string> calls;
    frame.SetPageHandler(cmd::Delete, 106, [&] { calls.push_back("holdings"); });
    frame.SetPageHandler(cmd::Properties, 106, [&] { calls.push_back("holdings properties"); });
    frame.RunCommand(cmd::ValuesOpen);
    frame.SetPageHandler(cmd::Delete, 100, [&] { calls.push_back("values"); });
    frame.RunCommand(cmd::Delete);
    frame.ShowAccountsPage(106);
    frame.RunCommand(cmd::Delete);
    frame.RunCommand(cmd::Properties);
    EXPECT_EQ(calls, (std::vector<std::string>{"values", "holdings", "holdings properties"}));
}

// Qt's own buttons and file dialog speak Chinese like the rest of the window.
TEST(QtTexts, StandardButtonsAndTheFileDialogAreChinese)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("问"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), QStringLiteral("是(&Y)"));
    EXPECT_EQ(box.button(QMessageBox::No)->text(), QStringLiteral("否(&N)"));
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    QFileDialog files;
    files.setOption(QFileDialog::DontUseNativeDialog);
    QStringList labels;
    for (QLabel* label : files.findChildren<QLabel*>()) labels << label->text();
    EXPECT_TRUE(labels.contains(QStringLiteral("查找范围："))) << labels.join('|').toStdString();
}

// Without a browser on the desktop a link says where it leads.
TEST_F(FrameFixture, ALinkWithoutABrowserShowsItsAddress)
{
    FrameContext c = Context(false, true);
    c.serverUrl = "http://127.0.0.1:8610/";
    CMainFrame frame(c);
    EXPECT_TRUE(frame.RunCommand(cmd::VipList));
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("http://127.0.0.1:8610/plindo/User/VIPFunction.htm"), std::string::npos)
        << prompt.messages[0];
}

// 帮助文档 shows the help page in a window of the program, its Chinese read
// from the service's code page; 修改用户信息 shows a long address whole.
TEST_F(FrameFixture, HelpReadsItsCodePageAndTheUserInfoShowsTheWholeAddress)
{
    const std::string home = GetProgramDirectory();
    SetProgramDirectory(dir.path().toStdString());
    std::ofstream(ProgramPath(kHelpFileName), std::ios::binary)
        << Utf8ToGbk("<html><body><h1>基金净值估算</h1><p>按持仓估算当日净值。</p></body></html>");
    CMainFrame frame(Context(false, true));
    QString shown, title;
    QTimer::singleShot(0, [&] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w) return;
        title = w->windowTitle();
        if (auto* page = w->findChild<QTextBrowser*>()) shown = page->toPlainText();
        w->close();
    });
    EXPECT_TRUE(frame.RunCommand(cmd::Help));
    SetProgramDirectory(home);
    EXPECT_EQ(title, QStringLiteral("帮助文档"));
    EXPECT_TRUE(shown.contains(QStringLiteral("按持仓估算当日净值"))) << shown.toStdString();

    CVextalDoc doc;
    doc.User().Email = "a.rather.long.address.for.testing@mail.subdomain.plindo.example";
    CUserInfoDialog info(doc, prompt);
    info.show();
    int widthShort = 1 << 20;  // no such field: fails
    for (QLineEdit* edit : info.findChildren<QLineEdit*>())
        if (edit->text().toStdString() == doc.User().Email)
            widthShort = edit->fontMetrics().horizontalAdvance(edit->text()) - edit->width();
    EXPECT_LT(widthShort, 0);
}
