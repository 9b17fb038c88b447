#include "app/SelfUpdate.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/Format.h"

namespace fs = std::filesystem;

namespace vextal {
namespace {

constexpr const char* kDeletedSuffix = " (deleted)";

std::string ExecutableOf(const std::string& procDir)
{
    std::error_code ec;
    std::string exe = fs::read_symlink(procDir + "/exe", ec).string();
    if (ec) return {};
    const std::string suffix = kDeletedSuffix;
    if (exe.size() > suffix.size() && exe.compare(exe.size() - suffix.size(), suffix.size(), suffix) == 0)
        exe.resize(exe.size() - suffix.size());
    return exe;
}

// Gone, or a zombie waiting for its parent: either way it runs no more.
bool ProcessEnded(pid_t pid)
{
    if (kill(pid, 0) != 0) return true;
    std::string procDir = "/proc/" + std::to_string(pid);
    std::error_code ec;
    (void)fs::read_symlink(procDir + "/exe", ec);
    return static_cast<bool>(ec);
}

bool WaitEnded(pid_t pid, int ms)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!ProcessEnded(pid)) {
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string Canonical(const std::string& path)
{
    std::error_code ec;
    fs::path p = fs::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

}  // namespace

bool IsInstalledProgramName(const std::string& fileName) { return EqualsNoCase(fileName, kInstalledProgramName); }

std::vector<pid_t> FindUserProcessesOf(const std::string& exePath)
{
    std::vector<pid_t> found;
    const std::string target = Canonical(exePath);
    const uid_t me = getuid();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == getpid()) continue;
        struct stat st {};
        if (stat(entry.path().c_str(), &st) != 0 || st.st_uid != me) continue;
        if (ExecutableOf(entry.path().string()) == target) found.push_back(pid);
    }
    return found;
}

bool EndProcess(pid_t pid, int graceMs)
{
    if (pid <= 0 || pid == getpid()) return false;
    if (kill(pid, SIGTERM) != 0) return ProcessEnded(pid);
    if (WaitEnded(pid, graceMs)) return true;
    kill(pid, SIGKILL);
    return WaitEnded(pid, 5000);
}

SelfUpdateResult CompleteSelfUpdate(const std::string& programDir, const std::string& programFileName,
                                    int retryDelayMs, const std::function<void(const char*)>& pausePoint)
{
    SelfUpdateResult result;
    if (IsInstalledProgramName(programFileName)) return result;
    result.ran = true;

    std::string dir = programDir;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    const std::string installed = dir + kInstalledProgramName;
    const std::string fresh = dir + programFileName;

    // Without the new file there is nothing to install: the old one stays.
    std::error_code ec;
    if (!fs::is_regular_file(fresh, ec)) return result;

    // Only the instance of this installation, and only the user's own.
    auto pids = FindUserProcessesOf(installed);
    if (!pids.empty() && EndProcess(pids.front())) result.endedProcesses = 1;

    if (pausePoint) pausePoint("replace");
    // rename(2) replaces the target atomically (a running program keeps its
    // own copy of the old file).
    fs::rename(fresh, installed, ec);
    if (ec) {
        std::this_thread::sleep_for(std::chrono::milliseconds(retryDelayMs));
        fs::rename(fresh, installed, ec);
    }
    result.replaced = !ec;
    return result;
}

}  // namespace vextal
