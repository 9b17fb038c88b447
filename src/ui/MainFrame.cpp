#include "ui/MainFrame.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
#include <QDockWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QTreeWidget>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <fstream>
#include <iterator>

#include "app/Settings.h"
#include "app/VersionCheck.h"
#include "common/Clock.h"
#include "common/ProgramDir.h"
#include "common/StringTable.h"
#include "net/Encoding.h"
#include "ui/WebUrls.h"

namespace vextal {

// ---- home view ---------------------------------------------------------------

CHomeView::CHomeView(QWidget* parent) : QStackedWidget(parent) {}

void CHomeView::SetPage(int pageId, QWidget* page)
{
    if (indexOf(page) < 0) addWidget(page);
    m_pages[pageId] = page;
}

bool CHomeView::ShowPage(int pageId)
{
    QWidget* page = m_pages.value(pageId, nullptr);
    if (!page) return false;
    if (currentWidget() != page) setCurrentWidget(page);
    // The keys go to the page's list, also when the page shares its widget
    // with the page shown before.
    auto* list = qobject_cast<QAbstractItemView*>(page);
    if (!list) list = page->findChild<QAbstractItemView*>();
    (list ? static_cast<QWidget*>(list) : page)->setFocus();
    return true;
}

// ---- frame -------------------------------------------------------------------

namespace {

QStyle::StandardPixmap ToolIcon(int id)
{
    switch (id) {
    case cmd::Estimate: return QStyle::SP_ComputerIcon;
    case cmd::MyFunds: return QStyle::SP_DirHomeIcon;
    case cmd::FundFilter: return QStyle::SP_FileDialogContentsView;
    case cmd::GroupAccounts: return QStyle::SP_DirIcon;
    case cmd::GroupData: return QStyle::SP_FileDialogDetailedView;
    case cmd::Delete: return QStyle::SP_TrashIcon;
    case cmd::Refresh: return QStyle::SP_BrowserReload;
    case cmd::Properties: return QStyle::SP_FileDialogInfoView;
    case cmd::Back: return QStyle::SP_ArrowBack;
    default: return QStyle::SP_FileIcon;
    }
}

QString ShortText(const CommandDef& c)
{
    std::string prompt = CommandPrompt(c.id);
    size_t nl = prompt.find('\n');
    if (nl != std::string::npos) return QString::fromStdString(prompt.substr(nl + 1));
    return QString::fromUtf8(c.text);
}

}  // namespace

CMainFrame::CMainFrame(const FrameContext& context, QWidget* parent)
    : QMainWindow(parent), m_context(context), m_home(new CHomeView(this))
{
    setCentralWidget(m_home);
    BuildMenus();
    BuildToolBar();
    BuildAccountPanel();
    BuildTrayIcon();
    statusBar()->showMessage(QStringLiteral("就绪"));
    if (m_context.offline) {
        auto* mark = new QLabel(QStringLiteral("离线"), statusBar());
        mark->setObjectName(QStringLiteral("offlineMark"));
        mark->setToolTip(QStringLiteral("离线登录：显示的是本机保存的数据，不从服务器更新"));
        statusBar()->addPermanentWidget(mark);
    }
    // Menu items without a prompt clear the status bar as the pointer passes them.
    connect(statusBar(), &QStatusBar::messageChanged, this, [this](const QString& text) {
        if (text.isEmpty()) statusBar()->showMessage(QStringLiteral("就绪"));
    });
    if (ReadAccountPanel(m_context.iniPath) == 0) m_accountDock->hide();
    ShowCurrentPage();
    resize(1200, 760);
    // Enter is the properties key of the lists only: see eventFilter.
    qApp->installEventFilter(this);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    // Return and Enter belong to the focused widget (a code box draws, a
    // button presses) unless it is a list, where they show the properties.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* w = qobject_cast<QWidget*>(watched);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && key->modifiers() == Qt::NoModifier && w &&
            w->window() == this && !qobject_cast<QAbstractItemView*>(w)) {
            event->accept();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

CMainFrame::~CMainFrame()
{
    // The panel and its tree still signal while the base class destroys
    // them, when nothing of this class is left to receive it.
    disconnect(m_accountDock, nullptr, this, nullptr);
    disconnect(m_accountTree, nullptr, this, nullptr);
    disconnect(statusBar(), nullptr, this, nullptr);
}

bool CMainFrame::AccountPanelChosen() const { return !m_accountDock->isHidden(); }

void CMainFrame::BuildMenus()
{
    std::map<std::string, QMenu*> menus;
    for (const char* title : MenuTitles()) {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(title));
        // What a command can do depends on the page and its list: asked as the menu opens.
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
        menus[title] = menu;
    }
    for (const CommandDef& c : CommandTable()) {
        auto* action = new QAction(QString::fromUtf8(c.text), this);
        action->setData(c.id);
        std::string prompt = CommandPrompt(c.id);
        if (!prompt.empty()) action->setStatusTip(QString::fromStdString(prompt.substr(0, prompt.find('\n'))));
        if (c.page != 0 || c.id == cmd::GroupAccounts || c.id == cmd::AccountPanel) action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, id = c.id] { RunCommand(id); });
        m_actions[c.id] = action;
        // The portfolio income item is not offered in the tools menu.
        if (c.menu && c.id != cmd::PortfolioIncome) {
            QMenu* menu = menus[c.menu];
            if (c.id == cmd::Exit || c.id == cmd::DownloadHistory || c.id == cmd::History ||
                c.id == cmd::IndexQuotes || c.id == cmd::NewAccount || c.id == cmd::TradeDetails ||
                c.id == cmd::AccountPanel || c.id == cmd::About || c.id == cmd::DividendBooking ||
                c.id == cmd::MovingAverage || c.id == cmd::NDayReturn || c.id == cmd::SortValues)
                menu->addSeparator();
            menu->addAction(action);
        }
        addAction(action);  // accelerators work wherever the focus is
    }
    const std::pair<int, QKeySequence> keys[] = {
        {cmd::Estimate, QKeySequence(Qt::CTRL | Qt::Key_1)},     {cmd::MyFunds, QKeySequence(Qt::CTRL | Qt::Key_2)},
        {cmd::FundFilter, QKeySequence(Qt::CTRL | Qt::Key_3)},   {cmd::GroupAccounts, QKeySequence(Qt::CTRL | Qt::Key_4)},
        {cmd::GroupData, QKeySequence(Qt::CTRL | Qt::Key_5)},    {cmd::Delete, QKeySequence(Qt::Key_Delete)},
        {cmd::Refresh, QKeySequence(Qt::Key_F5)},                {cmd::Properties, QKeySequence(Qt::Key_Return)},
    };
    for (const auto& [id, key] : keys) m_actions[id]->setShortcut(key);
}

void CMainFrame::BuildToolBar()
{
    QToolBar* bar = addToolBar(QStringLiteral("工具栏"));
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    const int order[] = {cmd::Estimate, cmd::MyFunds, cmd::FundFilter, 0,          cmd::GroupAccounts, 0,
                         cmd::GroupData, 0,           cmd::Delete,     cmd::Refresh, cmd::Properties,   cmd::Back};
    for (int id : order) {
        if (id == 0) {
            bar->addSeparator();
            continue;
        }
        QAction* a = m_actions[id];
        a->setIcon(style()->standardIcon(ToolIcon(id)));
        a->setToolTip(ShortText(*FindCommand(id)));
        bar->addAction(a);
    }
}

void CMainFrame::BuildAccountPanel()
{
    m_accountDock = new QDockWidget(QStringLiteral("帐户面板"), this);
    m_accountDock->setObjectName(QStringLiteral("accountPanel"));
    m_accountDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    m_accountTree = new QTreeWidget(m_accountDock);
    m_accountTree->setHeaderHidden(true);
    auto* root = new QTreeWidgetItem(m_accountTree, QStringList(QStringLiteral("基金帐户")));
    root->setExpanded(true);
    m_accountDock->setWidget(m_accountTree);
    addDockWidget(Qt::LeftDockWidgetArea, m_accountDock);
    connect(m_accountTree, &QTreeWidget::currentItemChanged, this, [this] { UpdateCommandStates(); });
    connect(m_accountDock, &QDockWidget::visibilityChanged, this, [this] { UpdateCommandStates(); });
}

void CMainFrame::BuildTrayIcon()
{
    // Some desktops (and headless runs) have no tray: the program works without one.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    m_tray = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_ComputerIcon), this);
    m_tray->setToolTip(QStringLiteral("Vextal"));
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("退出(&X)"), this, [this] { RunCommand(cmd::Exit); });
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger) return;
        showNormal();
        raise();
        activateWindow();
    });
    m_tray->show();
}

void CMainFrame::OpenUrl(const std::string& url)
{
    if (QDesktopServices::openUrl(QUrl(QString::fromStdString(url))) || !m_context.prompt) return;
    // No browser on this desktop: the address, to copy into one.
    m_context.prompt->ShowMessage("没有找到可以打开网页的浏览器。请把下面的地址复制到浏览器中打开：\n\n" + url,
                                  PromptIcon::Information);
}

void CMainFrame::ShowHelp(const std::string& path)
{
    // The help file is an HTML page in the service's code page: shown here, read as UTF-8.
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("帮助文档"));
    auto* page = new QTextBrowser(&dialog);
    page->setOpenExternalLinks(false);
    page->setHtml(QString::fromStdString(ServiceTextToUtf8(bytes)));
    connect(page, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) { OpenUrl(url.toString().toStdString()); });
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(page);
    dialog.resize(760, 560);
    dialog.exec();
}

void CMainFrame::ShowCurrentPage()
{
    m_home->ShowPage(m_nav.page);
    std::string caption = PageCaption(m_nav.page);
    // Offline the figures are the stored ones: the title says so.
    setWindowTitle(QString::fromStdString(LoadResString(str::AppTitle) + (m_context.offline ? "（离线）" : "") + " -- " + caption));
    UpdateCommandStates();
    emit pageShown(m_nav.page);
}

void CMainFrame::ToggleAccountPanel()
{
    bool show = m_accountDock->isHidden();
    m_accountDock->setVisible(show);
    WriteAccountPanel(show ? 1 : 0, m_context.iniPath);
}

bool CMainFrame::RunCommand(int id)
{
    const CommandDef* c = FindCommand(id);
    if (!c) return false;
    if (!CommandAvailable(id)) {
        UpdateCommandStates();
        return false;
    }
    if (int refusal = RefusalFor(*c, m_context.offline, m_context.vip, Clock::Now())) {
        // The action toggled itself when triggered: put its check mark back.
        UpdateCommandStates();
        if (m_context.prompt) m_context.prompt->ShowMessage(LoadResString(refusal), PromptIcon::Information);
        return false;
    }
    switch (id) {
    case cmd::Exit: close(); return true;
    case cmd::Back: {
        const int last = m_nav.lastCommand;
        if (last == -1 && m_nav.group == 3) {  // nothing to go back to
            UpdateCommandStates();
            return true;
        }
        m_nav.Back();
        ShowCurrentPage();
        // Only a return into the accounts group brings the panel, as the group button does.
        if (m_nav.group == 3 && last != cmd::TradeDetails && last != cmd::TradeIncome) m_accountDock->show();
        return true;
    }
    case cmd::GroupAccounts:
        m_nav.GoAccounts();
        m_accountDock->show();
        ShowCurrentPage();
        return true;
    case cmd::AccountPanel: ToggleAccountPanel(); return true;
    case cmd::Refresh: emit refreshRequested(m_nav.page); break;
    case cmd::Website: OpenUrl(m_context.serverUrl); return true;
    case cmd::VipList: OpenUrl(VipFunctionUrl(m_context.serverUrl)); return true;
    case cmd::Suggestion: OpenUrl(SuggestUrl(m_context.serverUrl)); return true;
    case cmd::Help:
        if (m_context.ensureHelpFile && !m_context.ensureHelpFile()) {
            if (m_context.prompt) m_context.prompt->ShowMessage(kHelpFileUnavailable, PromptIcon::Warning);
            return true;
        }
        ShowHelp(ProgramPath(kHelpFileName));
        return true;
    case cmd::UpgradeVip:
        if (m_context.prompt &&
            m_context.prompt->AskYesNo("升级操作需要到网站中会员中心进行，确定要关闭程序登录到会员中心吗?")) {
            OpenUrl(UpgradeVipUrl(m_context.serverUrl));
            close();
        }
        return true;
    default: break;
    }
    if (c->page != 0) {
        m_nav.Go(id, c->page, c->group);
        if (c->group != 3 && c->group != 0) m_accountDock->hide();
        // Only the latest-value pages take a fund class; the history page keeps its own.
        const bool latestValues = c->page == 100 || c->page == 102 || c->page == 109 || c->page == 110 || c->page == 115;
        if (latestValues && c->fundClass != 0 && m_fundClass) m_fundClass(c->page, c->fundClass);
        ShowCurrentPage();
    }
    auto onPage = m_pageHandlers.find({id, m_nav.page});
    auto handler = m_handlers.find(id);
    // A command nobody handles (the portfolio income, left out of the menu)
    // does nothing; a page without a view keeps the page shown.
    if (onPage != m_pageHandlers.end()) onPage->second();
    else if (handler != m_handlers.end()) handler->second();
    return true;
}

void CMainFrame::ShowAccountsPage(int page)
{
    m_nav.Go(cmd::GroupAccounts, page, 3);
    ShowCurrentPage();
}

bool CMainFrame::CommandAvailable(int id) const
{
    const int p = m_nav.page;
    switch (id) {
    // No view for user management, no function for the portfolio income.
    case cmd::GroupUsers:
    case cmd::PortfolioIncome: return false;
    case cmd::AccountPanel:
    case cmd::DividendMode: return m_nav.group == 3;
    case cmd::SortValues: return p == 100 || p == 109 || p == 110;
    case cmd::AddFavourite: return p == 100 || p == 102 || p == 109 || p == 110 || p == 115;
    case cmd::EditBooking:
        return m_nav.group == 3 && m_accountTree && m_accountTree->topLevelItem(0) &&
               m_accountTree->topLevelItem(0)->childCount() > 0;
    case cmd::Delete:
    case cmd::Properties: return m_pageHandlers.count({id, p}) > 0;
    case cmd::Refresh: return m_home->Page(p) != nullptr;
    // Back from the accounts group with nothing recorded goes nowhere.
    case cmd::Back: return !(m_nav.lastCommand == -1 && m_nav.group == 3);
    default: break;
    }
    if (auto it = m_available.find(id); it != m_available.end()) return it->second();
    const CommandDef* c = FindCommand(id);
    if (c && (c->checks & kCheckAccountPanel) && id != cmd::NewAccount)
        return m_accountTree && m_accountTree->currentItem() && m_accountTree->currentItem()->parent();
    return c != nullptr;
}

void CMainFrame::UpdateCommandStates()
{
    for (auto it = m_actions.begin(); it != m_actions.end(); ++it) {
        const CommandDef* c = FindCommand(it.key());
        QAction* a = it.value();
        if (c->page != 0) a->setChecked(m_nav.command == c->id);
        a->setEnabled(CommandAvailable(c->id));
    }
    auto group = [&](int id, int g) {
        if (QAction* a = m_actions.value(id)) a->setChecked(m_nav.group == g);
    };
    group(cmd::GroupData, 1);
    group(cmd::GroupCurves, 2);
    group(cmd::GroupAccounts, 3);
    group(cmd::GroupUsers, 4);
    m_actions[cmd::AccountPanel]->setChecked(m_accountDock && m_accountDock->isVisible());
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_nav.group == 3) WriteAccountPanel(AccountPanelChosen() ? 1 : 0, m_context.iniPath);
    if (m_tray) m_tray->hide();
    event->accept();
    emit closed();
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Minimised, only the tray icon remains (when there is one to come back by).
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) && m_tray)
        QMetaObject::invokeMethod(this, [this] { hide(); }, Qt::QueuedConnection);
}

}  // namespace vextal
