#include "app/StartupSequence.h"

#include <filesystem>

#include "app/Settings.h"
#include "common/ProgramDir.h"
#include "net/HttpTransport.h"

namespace fs = std::filesystem;

namespace vextal {

std::string HomeFromArguments(const std::vector<std::string>& args, const char* envHome)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--home" && i + 1 < args.size()) return args[i + 1];
        if (args[i].rfind("--home=", 0) == 0) return args[i].substr(7);
    }
    return envHome ? std::string(envHome) : std::string();
}

CStartupSequence::CStartupSequence(IUserPrompt& prompt, CStartupCallbacks callbacks)
    : m_prompt(prompt), m_cb(std::move(callbacks))
{
}

CStartupSequence::~CStartupSequence()
{
    m_doc.reset();
    m_lock.Release();
}

StartupResult CStartupSequence::Start(const CStartupOptions& options)
{
    std::string home = HomeFromArguments(options.args, std::getenv("VEXTAL_HOME"));
    if (!home.empty()) SetProgramDirectory(home);
    const std::string dir = GetProgramDirectory();
    std::string homeError;
    if (!PrepareProgramDirectory(dir, ProgramDirectoryIsUserData(), homeError)) {
        m_prompt.ShowMessage(homeError, PromptIcon::Error);
        return StartupResult::LoginCancelled;
    }

    std::string programFile = options.programFile;
    if (programFile.empty()) {
        std::error_code ec;
        programFile = fs::read_symlink("/proc/self/exe", ec).string();
    }
    const std::string programName = fs::path(programFile).filename().string();

    // A new program started by the updater first ends the old instance, so
    // it may wait for that instance's lock; any other start may not.
    // The update path only for a program file inside the program directory:
    // a build or copy started elsewhere with --home must not replace the
    // installed program.
    std::error_code ec;
    const bool updating = !IsInstalledProgramName(programName) &&
                          fs::equivalent(fs::path(programFile).parent_path(), fs::path(dir), ec);
    if (updating) m_selfUpdate = CompleteSelfUpdate(dir, programName, options.renameRetryMs);
    if (!m_lock.Acquire(ProgramPath(kInstanceLockFile), updating ? options.lockWaitMs : 0)) {
        // A folder that cannot be written is no second instance: say which and why.
        if (m_lock.OpenError() != 0) m_prompt.ShowMessage(LockFileFailureText(dir, m_lock.OpenError()), PromptIcon::Error);
        else m_prompt.ShowMessage(kAlreadyRunningText, PromptIcon::Warning);
        return StartupResult::AlreadyRunning;
    }

    m_doc = std::make_unique<CVextalDoc>();
    if (m_cb.documentCreated) m_cb.documentCreated(*m_doc);
    m_doc->OnNewDocument(m_prompt);
    if (m_cb.showMainFrame) m_cb.showMainFrame(*m_doc);
    if (m_cb.saveHomeColumnWidths) m_cb.saveHomeColumnWidths(*m_doc);

    if (!m_cb.runLoginDialog || !m_cb.runLoginDialog(*m_doc)) return StartupResult::LoginCancelled;

    if (m_cb.postLoginBusy) m_cb.postLoginBusy(true);
    m_doc->LoadFundKeyTable();
    // With a runner the window keeps running while the catalogue, the
    // accounts and their dividends arrive; the panels fill at the end.
    CVextalDoc* doc = m_doc.get();
    m_doc->InitAfterLogin(m_cb.runner, [this, doc] {
        if (m_cb.postLoginBusy) m_cb.postLoginBusy(false);
        if (m_cb.refillPanels) m_cb.refillPanels(*doc);
    });
    return StartupResult::Running;
}

void CStartupSequence::Shutdown(bool accountGroup, bool accountPanelShown)
{
    if (!m_doc) return;
    if (accountGroup) WriteAccountPanel(accountPanelShown ? 1 : 0);
    if (m_doc->Market().askStoreUnsavedValues) m_doc->Market().askStoreUnsavedValues(m_prompt);
    if (!m_doc->User().LoginID.empty()) {
        // The service is told when it answers at once; a hung one does not
        // keep the program from ending (nor the next start from running).
        CHttpCancelScope limit(nullptr, kLogoutWaitMs);
        m_doc->Logout();
    }
    m_doc->CloseDatabase();
    m_doc.reset();
    m_lock.Release();
}

}  // namespace vextal
