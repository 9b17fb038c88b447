#include "app/VersionCheck.h"

#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/PageFiles.h"
#include "app/ProgramState.h"
#include "app/VextalDoc.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/ProgramDir.h"
#include "common/Version.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/HttpTransport.h"

extern char** environ;

namespace fs = std::filesystem;

namespace vextal {

bool StartProgram(const std::string& path, const std::string& workDir)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if ((st.st_mode & S_IXUSR) == 0 && chmod(path.c_str(), st.st_mode | S_IXUSR | S_IXGRP | S_IXOTH) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
}

std::string ClientVersionUrl(const CSettings& settings, const OleDate& now)
{
    if (now.Hour() > 18) return settings.webSiteUrl + "plindo/client/clientservice.asmx/GetClientVersion";
    return settings.clientServiceUrl + "GetClientVersion";
}

bool IsNewerVersion(const std::string& serverVersion, const std::string& clientVersion)
{
    return CompareVersions(serverVersion, clientVersion) > 0;
}

CVersionCheck::CVersionCheck(CVextalDoc& doc, IUserPrompt& prompt) : m_doc(doc), m_prompt(prompt) {}

bool CVersionCheck::GetClientVersion()
{
    m_error.clear();
    m_doc.SetServerVersion(std::string());
    std::string answer;
    if (!HttpPostCommand(ClientVersionUrl(m_doc.Settings(), Clock::Now()), answer, std::string(), std::string())) {
        m_error = kSendRequestError;
        return false;
    }
    int ret = -1;
    std::string msg;
    if (!ParseCommandAnswer(answer, ret, msg)) {
        m_error = FormatErrorText("GetClientVersion");
        return false;
    }
    msg = GbkToUtf8(msg);
    if (ret != 0) {
        m_error = msg;
        return false;
    }
    m_doc.SetServerVersion(TrimText(msg));
    return true;
}

bool CVersionCheck::CheckNewVersion()
{
    if (!IsNewerVersion(m_doc.GetServerVersion(), m_doc.GetClientVersion())) return false;
    const std::string& serverUrl = m_doc.Settings().serverUrl;
    PrepareHtmlFiles(serverUrl, false);
    std::error_code ec;
    fs::remove(ProgramPath(kHelpFileName), ec);
    if (!m_prompt.AskYesNo(kUpgradeQuestion)) return false;

    SetUpdatePending(true);
    const std::string dir = GetProgramDirectory();
    DownloadFile(serverUrl, kUpdaterFetched);
    m_launch(ProgramPath(kUpdaterFetched), dir);
    std::this_thread::sleep_for(std::chrono::milliseconds(m_updaterDelayMs));
    fs::remove(ProgramPath(kUpdaterFetched), ec);
    return m_launch(ProgramPath(kUpdaterStarted), dir);
}

bool CVersionCheck::EnsureHelpFile()
{
    const std::string path = ProgramPath(kHelpFileName);
    std::error_code ec;
    if (fs::exists(path, ec) && !IsUpdatePending()) return true;
    DownloadFile(m_doc.Settings().serverUrl, kHelpFileName);
    if (!fs::exists(path, ec)) return false;
    SetUpdatePending(false);
    return true;
}

}  // namespace vextal
