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
inline constexpr const char* kUpdaterFetched = "UpdatePlindo";
inline constexpr const char* kUpdaterStarted = "UpdateVextal";

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

    // Asks the service for the newest client version and keeps it in the
    // document (empty when the query fails). True on success.
    bool GetClientVersion();
    // When the service knows a newer version: page files refreshed, help
    // file deleted, the user asked; on Yes the updaters are fetched and
    // started. True when the program must end for the update.
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
    std::string m_error;
};

}  // namespace vextal
