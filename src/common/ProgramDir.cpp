#include "common/ProgramDir.h"

#include <filesystem>
#include <mutex>

namespace vextal {
namespace {
std::mutex g_mutex;
std::string g_dir;

std::string WithSlash(std::string d)
{
    if (d.empty() || d.back() != '/') d += '/';
    return d;
}
}  // namespace

std::string GetProgramDirectory()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_dir.empty()) {
        std::error_code ec;
        auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        g_dir = WithSlash(ec ? std::filesystem::current_path().string() : exe.parent_path().string());
    }
    return g_dir;
}

void SetProgramDirectory(const std::string& dir)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_dir = WithSlash(std::filesystem::absolute(dir).string());
}

std::string ProgramPath(const std::string& name)
{
    if (!name.empty() && name.front() == '/') return name;
    return GetProgramDirectory() + name;
}

}  // namespace vextal
