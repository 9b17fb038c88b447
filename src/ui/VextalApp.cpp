#include "ui/VextalApp.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QDir>
#include <QDockWidget>
#include <QLayout>
#include <QLibraryInfo>
#include <QTranslator>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include "app/MarketData.h"
#include "app/ProgramState.h"
#include "app/StartupSequence.h"
#include "app/VersionCheck.h"
#include "common/ProgramDir.h"
#include "ui/AccountCommands.h"
#include "ui/BookkeepingUi.h"
#include "ui/ExportOptionsPages.h"
#include "ui/BookDialogsInstall.h"
#include "ui/FundForecastView.h"
#include "ui/FundCurveView.h"
#include "ui/FundValueNewView.h"
#include "ui/LoginDialogs.h"
#include "ui/MainFrame.h"
#include "ui/LookThroughUi.h"
#include "ui/Screenshots.h"
#include "ui/SortDialog.h"
#include "ui/TaskRunner.h"
#include "ui/WebViews.h"

namespace vextal {

bool LoadQtChineseTexts()
{
    static QTranslator* translator = nullptr;
    if (translator) return true;
    auto* t = new QTranslator(qApp);
    if (!t->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete t;
        return false;
    }
    QCoreApplication::installTranslator(t);
    translator = t;
    return true;
}

namespace {

int FundClassOfPage(int page)
{
    switch (page) {
    case 102: return 2;
    case 109: return 3;
    case 110: return 4;
    case 115: return 5;
    default: return 1;
    }
}

// A signal handler may only write: the loop reads the pipe and closes the window.
int g_sessionEndPipe[2] = {-1, -1};

void OnSessionEndSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = write(g_sessionEndPipe[1], &c, 1);
}

}  // namespace

CVextalApp::CVextalApp(AppOptions options) : m_options(std::move(options))
{
    // A screenshot run must end on its own: no message may wait for a click.
    m_prompt.SetUnattended(!m_options.screenshotDir.isEmpty());
}

CVextalApp::~CVextalApp()
{
    if (m_sessionEnd) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
    }
    Shutdown();
}

void CVextalApp::WatchSessionEnd()
{
    auto end = [this] {
        if (m_frame) m_frame->close();  // shown or hidden in the tray: the close runs the shutdown
        else Shutdown();
    };
    if (g_sessionEndPipe[0] < 0 && pipe2(g_sessionEndPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_sessionEnd = std::make_unique<QSocketNotifier>(g_sessionEndPipe[0], QSocketNotifier::Read);
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, m_sessionEnd.get(), end);
    QObject::connect(m_sessionEnd.get(), &QSocketNotifier::activated, m_sessionEnd.get(), [end] {
        char buffer[16];
        while (read(g_sessionEndPipe[0], buffer, sizeof buffer) > 0) {
        }
        end();
    });
    struct sigaction action {};
    action.sa_handler = OnSessionEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

int CVextalApp::Run()
{
    if (!Start()) {
        Shutdown();
        return 1;
    }
    if (!m_options.screenshotDir.isEmpty()) {
        // The pictures once the post-login work has filled the panels.
        m_runner->WhenIdle([this] {
            SaveScreenshots(*m_frame, *m_runner, m_options.screenshotDir,
                            [](bool ok) { QApplication::exit(ok ? 0 : 1); });
        });
        int code = QApplication::exec();
        Shutdown();
        return code;
    }
    WatchSessionEnd();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, [this] { Shutdown(); });
    int code = QApplication::exec();
    Shutdown();
    return code;
}

bool CVextalApp::Start()
{
    CStartupCallbacks cb;
    cb.documentCreated = [this](CVextalDoc& doc) {
        m_doc = &doc;
        doc.SetPrompt(&m_prompt);
        m_market = std::make_unique<CMarketData>(doc);
        m_market->Attach();
        // The latest values are read again after login, while the window
        // runs: the lists take the new map at once, before they paint again.
        auto load = doc.Market().loadLatestValues;
        doc.Market().loadLatestValues = [this, load] {
            if (load) load();
            if (m_values) m_values->Rebuild();
            if (m_money) m_money->Rebuild();
        };
    };
    cb.showMainFrame = [this](CVextalDoc& doc) { ShowMainFrame(doc); };
    cb.saveHomeColumnWidths = [this](CVextalDoc&) {
        if (m_values) m_values->SaveColumnWidths();
    };
    cb.runLoginDialog = [this](CVextalDoc& doc) { return RunLoginDialog(doc); };
    cb.refillPanels = [this](CVextalDoc& doc) { RefillPanels(doc); };
    // The window stays usable while the post-login work runs; the status bar says so.
    cb.postLoginBusy = [this](bool busy) {
        if (!m_frame) return;
        if (busy) m_frame->statusBar()->showMessage(QStringLiteral("正在载入基金和帐户数据…"));
        else m_frame->statusBar()->showMessage(QStringLiteral("就绪"));
    };
    m_runner = std::make_unique<CTaskRunner>();
    cb.runner = m_runner->AsRunner();
    m_sequence = std::make_unique<CStartupSequence>(m_prompt, cb);
    CStartupOptions start;
    start.args = m_options.args;
    return m_sequence->Start(start) == StartupResult::Running;
}

void CVextalApp::ShowMainFrame(CVextalDoc& doc)
{
    FrameContext context;
    context.iniPath = ProgramPath("Vextal.ini");
    context.serverUrl = doc.Settings().serverUrl;
    context.clientVersion = doc.GetClientVersion();
    context.prompt = &m_prompt;
    m_frame = std::make_unique<CMainFrame>(context);
    m_prompt.SetParent(m_frame.get());
    // Every way out closes the frame, shown or hidden in the tray; the
    // shutdown runs once the close has returned.
    QObject::connect(m_frame.get(), &CMainFrame::closed, &m_receiver, [this] { EndOnceUnwound(); },
                     Qt::QueuedConnection);

    m_values = new CFundValueNewView(*m_market, *m_runner, doc.Settings(), context.iniPath, m_prompt, false,
                                     m_frame.get());
    m_money = new CFundValueNewView(*m_market, *m_runner, doc.Settings(), context.iniPath, m_prompt, true,
                                    m_frame.get());
    CHomeView* home = m_frame->HomeView();
    for (int page : {100, 109, 110, 115}) home->SetPage(page, m_values);
    home->SetPage(102, m_money);
    m_book = new CBookkeepingUi(*m_frame, doc, *m_market, *m_runner, m_prompt, context.iniPath);
    // The holdings' figures are priced by the latest values: new values, new figures.
    for (CFundValueNewView* view : {m_values, m_money})
        QObject::connect(view, &CFundValueNewView::downloadFinished, m_book, [this] { m_book->RefreshAll(); });
    InstallExportOptionsPages(*m_frame, doc, *m_market, *m_runner, m_prompt, context.iniPath, m_values, m_money);
    m_forecast = InstallFundForecastView(*m_frame, doc, *m_market, *m_runner);
    InstallCurveView(*m_frame, doc, *m_market, *m_runner, m_prompt, context.iniPath);
    InstallLookThrough(*m_frame, doc, *m_market, *m_runner, m_prompt, context.iniPath);
    // The stack shows the first view added; the window opens on its own page.
    home->ShowPage(m_frame->Navigation().page);
    if (m_options.screenshotDir.isEmpty()) m_frame->showMaximized();
    else {
        m_frame->resize(1280, 800);
        m_frame->show();
    }
}

bool CVextalApp::RunLoginDialog(CVextalDoc& doc)
{
    CLoginDialog dialog(doc, m_prompt, m_frame.get());
    if (!dialog.Prepare()) return false;
    if (!m_options.autoLogin) return dialog.exec() == QDialog::Accepted;

    // Without a user at the keyboard: the given credentials, and in
    // screenshot mode a picture of the dialog as the user would see it.
    CLoginForm form = dialog.Form();
    form.name = m_options.user;
    form.password = m_options.password;
    form.offline = m_options.offline;
    dialog.SetForm(form);
    if (!m_options.screenshotDir.isEmpty()) {
        dialog.resize(520, 420);
        dialog.show();
        if (dialog.layout()) dialog.layout()->activate();
        QDir().mkpath(m_options.screenshotDir);
        dialog.grab().save(QDir(m_options.screenshotDir).filePath("login.png"));
    }
    bool ok = dialog.Logic().OnLogin(form);
    dialog.hide();
    return ok;
}

void CVextalApp::RefillPanels(CVextalDoc& doc)
{
    FrameContext context;
    context.iniPath = ProgramPath("Vextal.ini");
    context.serverUrl = doc.Settings().serverUrl;
    context.clientVersion = doc.GetClientVersion();
    context.prompt = &m_prompt;
    context.offline = doc.User().OfflineFlag != 0;
    context.vip = doc.IsVip();
    context.ensureHelpFile = [this] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        bool there = CVersionCheck(*m_doc, m_prompt).EnsureHelpFile();
        QApplication::restoreOverrideCursor();
        return there;
    };
    m_frame->SetContext(context);
    m_values->SetOffline(context.offline);
    m_money->SetOffline(context.offline);

    m_book->Install();

    m_frame->SetFundClassHandler([this](int page, int fundClass) {
        (page == 102 ? m_money : m_values)->SetFundClass(fundClass);
        (void)FundClassOfPage;
    });
    QObject::connect(m_frame.get(), &CMainFrame::refreshRequested, m_frame.get(), [this](int page) {
        if (page == 102) m_money->Refresh();
        else if (page == 100 || page == 109 || page == 110 || page == 115) m_values->Refresh();
    });
    m_frame->SetHandler(cmd::UserInfo, [this] {
        CUserInfoDialog dialog(*m_doc, m_prompt, m_frame.get());
        dialog.exec();
    });
    m_frame->SetHandler(cmd::Password, [this] {
        CPasswordDialog dialog(*m_doc, m_prompt, m_frame.get());
        dialog.exec();
    });
    m_frame->SetHandler(cmd::SortValues, [this] {
        CSortDialog dialog(ProgramPath("Vextal.ini"), m_frame.get());
        if (dialog.exec() == QDialog::Accepted) m_values->ApplySort(dialog.Settings());
    });
    InstallBookDialogs(*m_frame, doc, *m_market, *m_runner, m_prompt);
    InstallWebPages(*m_frame, doc, *m_market);
    InstallAccountCommands(*m_frame, doc, m_prompt, context.iniPath);
    m_frame->UpdateCommandStates();
    // Estimates of days whose NAV came out while the program was closed.
    if (m_forecast) m_forecast->CompareWaitingEstimates();
}

namespace {

// Closes the modal windows and popup menus open now; false when there were none.
bool CloseModalWindows()
{
    bool any = false;
    // A dialog whose rejection opens another window does not hold the end up for ever.
    for (int i = 0; i < 32; ++i) {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
        } else if (QPointer<QWidget> modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            // Rejected as by Esc, so the dialog stops its work; one that
            // refuses (it asks first) is hidden, which ends its loop too.
            if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
            else modal->close();
            if (modal && modal->isVisible()) modal->hide();
        } else {
            break;
        }
        any = true;
    }
    return any;
}

}  // namespace

void CVextalApp::EndOnceUnwound()
{
    // The close may arrive inside a dialog's own event loop (the tray's
    // 退出, the end of the session). That dialog lives on the stack of the
    // code that opened it, as a child of the frame: the frame must not go
    // before it. The windows are closed first, and the end runs once their
    // loops have returned.
    const bool closed = CloseModalWindows();
    if (closed || QThread::currentThread()->loopLevel() > 1) {
        QTimer::singleShot(closed ? 0 : 10, &m_receiver, [this] { EndOnceUnwound(); });
        return;
    }
    Shutdown();
    QApplication::quit();
}

void CVextalApp::Shutdown()
{
    if (!m_sequence) return;
    // Work still running is dropped, nothing of it stored, and its worker
    // ended before the document it reads goes.
    m_runner.reset();
    if (m_frame) {
        if (m_values) m_values->SaveColumnWidths();
        if (m_book) m_book->SaveColumnWidths();
        m_sequence->Shutdown(m_frame->Navigation().group == 3, m_frame->AccountPanelChosen());
        m_frame->hide();
    } else {
        m_sequence->Shutdown();
    }
    m_sequence.reset();
    m_values = m_money = nullptr;
    m_book = nullptr;
    m_forecast = nullptr;
    m_prompt.SetParent(nullptr);
    m_frame.reset();
    m_market.reset();
}

}  // namespace vextal
