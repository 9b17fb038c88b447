#pragma once
// The start-up and shutdown order of the program without any window: the
// application object of the UI calls Start and Shutdown and plugs its
// windows in through the callbacks; tests drive the same sequence.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/InstanceLock.h"
#include "app/SelfUpdate.h"
#include "app/VextalDoc.h"
#include "common/UserPrompt.h"

namespace vextal {

// The program directory: --home DIR (or --home=DIR), else VEXTAL_HOME, else
// the rule of GetProgramDirectory. Empty: no replacement.
std::string HomeFromArguments(const std::vector<std::string>& args, const char* envHome);

struct CStartupCallbacks {
    // Before the document exists: the market code can fill the hooks here.
    std::function<void(CVextalDoc&)> documentCreated;
    std::function<void(CVextalDoc&)> showMainFrame;         // maximised, painted at once
    std::function<void(CVextalDoc&)> saveHomeColumnWidths;  // AccountList, TradeList, NewFundValueList1
    // The modal login dialog: true when it ended with OK.
    std::function<bool(CVextalDoc&)> runLoginDialog;
    std::function<void(CVextalDoc&)> refillPanels;          // fund panel, account panel, selection list
    // Shown while the post-login initialisation runs (true) and when it has
    // ended (false), just before the panels are refilled.
    std::function<void(bool busy)> postLoginBusy;
    // Runs the post-login requests off the window's thread; empty: in place,
    // and Start returns after the panels are filled.
    WorkRunner runner;
};

struct CStartupOptions {
    std::vector<std::string> args;  // without the program path
    // The running program file; empty: /proc/self/exe.
    std::string programFile;
    // How long a self-update waits for the old instance's lock.
    int lockWaitMs = 5000;
    // Pause before the one retry of the rename that installs an update.
    int renameRetryMs = 2000;
};

enum class StartupResult { Running, AlreadyRunning, LoginCancelled };

// The longest the shutdown waits for the logout's answer.
inline constexpr int kLogoutWaitMs = 800;

class CStartupSequence {
public:
    CStartupSequence(IUserPrompt& prompt, CStartupCallbacks callbacks);
    ~CStartupSequence();

    StartupResult Start(const CStartupOptions& options);
    // Shutdown: `accountGroup` is true when the frame shows the accounts
    // group, so the account panel's visibility is stored.
    void Shutdown(bool accountGroup = false, bool accountPanelShown = true);

    CVextalDoc* GetDocument() { return m_doc.get(); }
    const SelfUpdateResult& GetSelfUpdateResult() const { return m_selfUpdate; }

private:
    IUserPrompt& m_prompt;
    CStartupCallbacks m_cb;
    CInstanceLock m_lock;
    std::unique_ptr<CVextalDoc> m_doc;
    SelfUpdateResult m_selfUpdate;
};

}  // namespace vextal
