#pragma once
// Version check against the service, the offer to upgrade, the start of the
// updaters, and the help file that is fetched on demand.
#include <functional>
#include <string>

#include "common/OleDate.h"
#include "common/UserPrompt.h"

namespace vextal {

class CVextalDoc;
struct CSettings;

inline constexpr const char* kUpgradeQuestion = "Vextal已经升级，是否下载并升级当前版本的程序?";
inline constexpr const char* kHelpFileName = "Vextal.chm";
inline constexpr const char* kHelpFileUnavailable = "无法获取帮助文档Vextal.chm，请检查网络连接后再试。";
inline constexpr const char* kUpdaterFetched = "UpdatePlindo";
inline constexpr const char* kUpdaterStarted = "UpdateVextal";
// Said instead of the upgrade question when the program cannot replace its
// own file.
inline constexpr const char* kCannotSelfUpdateText =
    "Vextal已经升级，但当前用户不能改写本程序的文件（例如由软件包安装），不能自动升级，请用安装本程序的方式升级。";
// Said when an update file comes without a valid signature (%s: its name).
inline constexpr const char* kBadUpdateFileText = "升级文件%s没有有效的签名，已删除，升级取消。";

enum class UpdateFetch { Verified, Missing, Refused };

// Fetches serverUrl + "Update/" + fileName and its detached signature
// (fileName + ".sig"). Only a file whose signature verifies against
// `publicKeyPem` is written to the program directory: Verified. Nothing came
// back: Missing. A file that came back unsigned, cut or wrongly signed is
// never written, and an older file of that name is removed: Refused.
UpdateFetch FetchSignedUpdateFile(const std::string& serverUrl, const std::string& fileName,
                                  const std::string& publicKeyPem);

// True when the running program file lies in the program directory and the
// user may write both (not a package install, not a build started with
// --home from elsewhere).
bool CanReplaceProgramFile(const std::string& programFile, const std::string& programDir);

// Starts a program file with the given working directory, without waiting.
using ProgramLauncher = std::function<bool(const std::string& path, const std::string& workDir)>;
// The default launcher; a file without execute permission gets it first
// (downloaded updaters arrive without).
bool StartProgram(const std::string& path, const std::string& workDir);

// The client service URL + "GetClientVersion"; from 19:00 on the web site's
// fixed address instead.
std::string ClientVersionUrl(const CSettings& settings, const OleDate& now);
// Compared as decimal versions (CompareVersions); an empty server version is never newer.
bool IsNewerVersion(const std::string& serverVersion, const std::string& clientVersion);

class CVersionCheck {
public:
    CVersionCheck(CVextalDoc& doc, IUserPrompt& prompt);

    void SetLauncher(ProgramLauncher launcher) { m_launch = std::move(launcher); }
    // Pause between starting the first updater and deleting it.
    void SetUpdaterDelayMs(int ms) { m_updaterDelayMs = ms; }
    // The running program file (default: this process's executable).
    void SetProgramFile(std::string path) { m_programFile = std::move(path); }

    // Asks the service for the newest client version and keeps it in the
    // document (empty when the query fails). True on success.
    bool GetClientVersion();
    // When the service knows a newer version: page files refreshed, the
    // user asked; on Yes the help file is deleted (the new one comes with
    // the new version) and the updaters are fetched, each checked against
    // the built-in key, and started. A program that cannot replace its own
    // file says so instead of asking. True when the program must end for
    // the update.
    bool CheckNewVersion();
    // Makes sure the help file is in the program directory (fetched again
    // after an accepted upgrade). True when it is there.
    bool EnsureHelpFile();
    const std::string& GetLastError() const { return m_error; }

private:
    CVextalDoc& m_doc;
    IUserPrompt& m_prompt;
    ProgramLauncher m_launch = StartProgram;
    int m_updaterDelayMs = 2000;
    std::string m_programFile;
    std::string m_error;
};

}  // namespace vextal
