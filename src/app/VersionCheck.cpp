#include "app/VersionCheck.h"

#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/IniFile.h"
#include "app/PageFiles.h"
#include "app/ProgramState.h"
#include "app/UpdatePublicKey.h"
#include "app/VextalDoc.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "common/ProgramDir.h"
#include "common/Version.h"
#include "net/CommandProtocol.h"
#include "net/Encoding.h"
#include "net/HttpTransport.h"
#include "net/UpdateSignature.h"

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

namespace {

// The permission bits as well as access(): root passes access() on any file,
// but a program installed read-only (by a package) is not meant to be
// replaced in place, whoever runs it. access() still catches read-only mounts.
bool UserMayWrite(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || access(path.c_str(), W_OK) != 0) return false;
    const uid_t uid = geteuid();
    if (st.st_uid == uid) return (st.st_mode & S_IWUSR) != 0;
    bool inGroup = st.st_gid == getegid();
    gid_t groups[256];
    const int n = getgroups(256, groups);
    for (int i = 0; i < n && !inGroup; ++i) inGroup = groups[i] == st.st_gid;
    return (st.st_mode & (inGroup ? S_IWGRP : S_IWOTH)) != 0;
}

}  // namespace

UpdateFetch FetchSignedUpdateFile(const std::string& serverUrl, const std::string& fileName,
                                  const std::string& publicKeyPem)
{
    const std::string url = serverUrl + "Update/" + fileName;
    std::string body, signature;
    if (HttpGetLargeBuffer(url, body, std::string(), std::string()) <= 0 || body.empty()) return UpdateFetch::Missing;
    HttpGetBuffer(url + kSignatureSuffix, signature, std::string(), std::string());
    const std::string path = ProgramPath(fileName);
    std::error_code ec;
    // Checked in memory: a file that does not verify never reaches the disk,
    // and no older file of the name is left to be started instead.
    if (!VerifyDetached(body, signature, publicKeyPem)) {
        fs::remove(path, ec);
        return UpdateFetch::Refused;
    }
    return WriteFileAtomically(path, body) ? UpdateFetch::Verified : UpdateFetch::Missing;
}

bool CanReplaceProgramFile(const std::string& programFile, const std::string& programDir)
{
    std::error_code ec;
    if (programFile.empty() || !fs::equivalent(fs::path(programFile).parent_path(), fs::path(programDir), ec))
        return false;
    return UserMayWrite(programFile) && UserMayWrite(fs::path(programFile).parent_path().string());
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

CVersionCheck::CVersionCheck(CVextalDoc& doc, IUserPrompt& prompt) : m_doc(doc), m_prompt(prompt)
{
    std::error_code ec;
    m_programFile = fs::read_symlink("/proc/self/exe", ec).string();
}

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
    const std::string dir = GetProgramDirectory();
    if (!CanReplaceProgramFile(m_programFile, dir)) {
        m_prompt.ShowMessage(kCannotSelfUpdateText, PromptIcon::Information);
        return false;
    }
    if (!m_prompt.AskYesNo(kUpgradeQuestion)) return false;

    std::error_code ec;
    fs::remove(ProgramPath(kHelpFileName), ec);
    SetUpdatePending(true);
    auto refuse = [&](const char* name) {
        m_prompt.ShowMessage(StrFormat(kBadUpdateFileText, name), PromptIcon::Warning);
        return false;
    };
    // Nothing is started before its signature verified. A missing first
    // updater is skipped; the second one is the new program itself.
    const UpdateFetch first = FetchSignedUpdateFile(serverUrl, kUpdaterFetched, kUpdatePublicKeyPem);
    if (first == UpdateFetch::Refused) return refuse(kUpdaterFetched);
    if (first == UpdateFetch::Verified) {
        m_launch(ProgramPath(kUpdaterFetched), dir);
        std::this_thread::sleep_for(std::chrono::milliseconds(m_updaterDelayMs));
        fs::remove(ProgramPath(kUpdaterFetched), ec);
    }
    const UpdateFetch second = FetchSignedUpdateFile(serverUrl, kUpdaterStarted, kUpdatePublicKeyPem);
    if (second == UpdateFetch::Refused) return refuse(kUpdaterStarted);
    return second == UpdateFetch::Verified && m_launch(ProgramPath(kUpdaterStarted), dir);
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
