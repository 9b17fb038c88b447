#include "common/ProgramDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace vextal {
namespace {
std::mutex g_mutex;
std::string g_dir;
bool g_userData = false;

std::string WithSlash(std::string d)
{
    if (d.empty() || d.back() != '/') d += '/';
    return d;
}

std::string ExecutableFolder()
{
    std::error_code ec;
    auto exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path(ec).string() : exe.parent_path().string();
}

// The files of a home that hold the member's data or settings.
constexpr const char* kPrivateFiles[] = {"Vextal.mdb",     "Vextal.mdb-wal", "Vextal.mdb-shm",
                                         "Vextal.mdb.bak", "Vextal.ini",     "Vextal.mdb-journal"};
}  // namespace

bool IsInstalledProgramFolder(const std::string& exeDir)
{
    fs::path dir = fs::path(exeDir);
    if (!dir.has_filename()) dir = dir.parent_path();  // a trailing "/"
    std::error_code ec;
    if (dir.filename() == "bin" && fs::exists(dir.parent_path() / "share" / "applications" / kDesktopFileName, ec))
        return true;
    return ::access(dir.c_str(), W_OK) != 0;
}

HomeChoice ChooseHome(const std::string& given, const std::string& exeDir, bool installed, const char* xdgDataHome,
                      const char* userHome)
{
    if (!given.empty()) return {WithSlash(fs::absolute(given).lexically_normal().string()), HomeKind::Given};
    if (!installed) return {WithSlash(exeDir), HomeKind::ProgramFolder};
    // A relative XDG_DATA_HOME is invalid and to be ignored.
    std::string base;
    if (xdgDataHome && xdgDataHome[0] == '/')
        base = xdgDataHome;
    else
        base = std::string(userHome && *userHome ? userHome : "/tmp") + "/.local/share";
    return {WithSlash(base) + "Vextal/", HomeKind::UserData};
}

std::string GetProgramDirectory()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_dir.empty()) {
        const std::string exeDir = ExecutableFolder();
        const HomeChoice c = ChooseHome(std::string(), exeDir, IsInstalledProgramFolder(exeDir),
                                        std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
        g_dir = c.dir;
        g_userData = c.kind == HomeKind::UserData;
    }
    return g_dir;
}

void SetProgramDirectory(const std::string& dir)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_dir = WithSlash(fs::absolute(dir).string());
    g_userData = false;
}

bool ProgramDirectoryIsUserData()
{
    GetProgramDirectory();
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_userData;
}

std::string ProgramPath(const std::string& name)
{
    if (!name.empty() && name.front() == '/') return name;
    return GetProgramDirectory() + name;
}

bool PrepareProgramDirectory(const std::string& dir, bool userData, std::string& error)
{
    ::umask(077);
    std::error_code ec;
    const fs::path home = fs::path(dir).lexically_normal();
    const fs::path folder = home.has_filename() ? home : home.parent_path();
    if (!fs::is_directory(folder, ec)) {
        // The parents (~/.local/share) are ordinary folders; only the home
        // itself is private. mkdir under umask 077 gives 0700.
        if (folder.has_parent_path()) fs::create_directories(folder.parent_path(), ec);
        if (::mkdir(folder.c_str(), 0700) != 0 && !fs::is_directory(folder, ec)) {
            error = "cannot create the program folder " + folder.string();
            return false;
        }
        ::chmod(folder.c_str(), 0700);
    } else if (userData) {
        ::chmod(folder.c_str(), 0700);  // ours alone, whoever made it
    }
    // Files an earlier version left readable by others (never someone
    // else's: chmod only succeeds for their owner).
    for (const char* name : kPrivateFiles) {
        const fs::path p = folder / name;
        struct stat st{};
        if (::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
            ::chmod(p.c_str(), 0600);
    }
    struct stat st{};
    const fs::path html = folder / "Html";
    if (::lstat(html.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 077) != 0) ::chmod(html.c_str(), 0700);
    return true;
}

}  // namespace vextal
