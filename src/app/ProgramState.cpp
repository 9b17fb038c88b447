#include "app/ProgramState.h"

#include <atomic>
#include <mutex>

namespace vextal {
namespace {
std::mutex g_mutex;
std::string g_serverUrl;
NewestValueDate g_newestDate;
std::atomic<bool> g_offline{false};
std::atomic<bool> g_updatePending{false};
}  // namespace

std::string GetProgramServerUrl()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_serverUrl;
}

void SetProgramServerUrl(const std::string& url)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_serverUrl = url;
}

bool IsProgramOffline() { return g_offline.load(); }
void SetProgramOffline(bool offline) { g_offline.store(offline); }

NewestValueDate GetNewestValueDate()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_newestDate;
}

void SetNewestValueDate(const NewestValueDate& date)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_newestDate = date;
}

bool IsUpdatePending() { return g_updatePending.load(); }
void SetUpdatePending(bool pending) { g_updatePending.store(pending); }

}  // namespace vextal
