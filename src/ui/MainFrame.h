#pragma once
// The program's one top-level window: menus, toolbar and accelerators from
// the command table, the status bar, the account panel, the tray icon and
// the home view with one page shown at a time. Every command passes one
// router that applies the offline, VIP and time-of-day checks first.
#include <QMainWindow>
#include <QMap>
#include <QStackedWidget>
#include <functional>
#include <map>

#include "common/UserPrompt.h"
#include "ui/CommandTable.h"

class QAction;
class QDockWidget;
class QSystemTrayIcon;
class QTreeWidget;

namespace vextal {

struct FrameContext {
    bool offline = false;
    bool vip = false;
    std::string iniPath;
    std::string serverUrl;  // ends with "/"
    std::string clientVersion = "3.25";
    IUserPrompt* prompt = nullptr;
    // Fetches Vextal.chm when it is missing or stale; true when it is there.
    std::function<bool()> ensureHelpFile;
};

// The home view: one child per page id; several ids may share a child.
class CHomeView : public QStackedWidget {
    Q_OBJECT

public:
    explicit CHomeView(QWidget* parent = nullptr);
    void SetPage(int pageId, QWidget* page);
    QWidget* Page(int pageId) const { return m_pages.value(pageId, nullptr); }
    // False when no view exists for the id (nothing new is shown).
    bool ShowPage(int pageId);

private:
    QMap<int, QWidget*> m_pages;
};

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    explicit CMainFrame(const FrameContext& context, QWidget* parent = nullptr);
    ~CMainFrame() override;

    void SetContext(const FrameContext& context) { m_context = context; }
    // The one entry of every command; returns false when it was refused.
    bool RunCommand(int id);
    const CNavigation& Navigation() const { return m_nav; }
    CHomeView* HomeView() const { return m_home; }
    QTreeWidget* AccountTree() const { return m_accountTree; }
    QDockWidget* AccountPanel() const { return m_accountDock; }
    // What the user last chose for the account panel, whether or not the
    // window is on screen (hidden to the tray, or already closed).
    bool AccountPanelChosen() const;
    QAction* Action(int id) const { return m_actions.value(id, nullptr); }
    // Handlers that later parts of the program register for their commands.
    void SetHandler(int id, std::function<void()> handler) { m_handlers[id] = std::move(handler); }
    // A command that acts on the page shown (Delete, Properties): each page its own handler, before SetHandler's.
    // Such a command is enabled only on the pages that gave it a handler.
    void SetPageHandler(int id, int page, std::function<void()> handler) { m_pageHandlers[{id, page}] = std::move(handler); }
    // A command that can act only when the page shown has something for it
    // (the export: a list or table): `available` says whether it has now.
    void SetAvailability(int id, std::function<bool()> available) { m_available[id] = std::move(available); }
    // Whether the command does something here and now; a command that does
    // not is disabled (its menu item, button and shortcut) and refused.
    bool CommandAvailable(int id) const;
    // Called when a latest-value page is shown with its fund class.
    void SetFundClassHandler(std::function<void(int page, int fundClass)> f) { m_fundClass = std::move(f); }
    void UpdateCommandStates();
    // The account list (105) or one account's holdings (106), as the
    // account panel's choice asks, inside the accounts group.
    void ShowAccountsPage(int page);

signals:
    void pageShown(int page);
    // The window was closed by any way out (menu, tray, close button):
    // the program shuts down.
    void closed();
    void refreshRequested(int page);

protected:
    void closeEvent(QCloseEvent* event) override;
    // The help page in a window of its own (no browser needed).
    void ShowHelp(const std::string& path);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void BuildMenus();
    void BuildToolBar();
    void BuildAccountPanel();
    void BuildTrayIcon();
    void ShowCurrentPage();
    void ToggleAccountPanel();
    void OpenUrl(const std::string& url);

    FrameContext m_context;
    CNavigation m_nav;
    CHomeView* m_home;
    QDockWidget* m_accountDock = nullptr;
    QTreeWidget* m_accountTree = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    QMap<int, QAction*> m_actions;
    std::map<int, std::function<void()>> m_handlers;
    std::map<std::pair<int, int>, std::function<void()>> m_pageHandlers;
    std::map<int, std::function<bool()>> m_available;
    std::function<void(int, int)> m_fundClass;
};

}  // namespace vextal
