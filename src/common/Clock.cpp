#include "common/Clock.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>

namespace vextal {
namespace {
// A fixed clock is an offset from the real one (running) or a frozen value.
std::atomic<bool> g_fixed{false};
std::atomic<bool> g_running{false};
std::atomic<double> g_value{0.0};        // frozen value
std::atomic<long long> g_offsetMs{0};    // running: fixed start minus real start

long long RealMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
// For tests of the whole program only: VEXTAL_NOW="YYYY-MM-DD HH:MM:SS"
// (Beijing time) starts the clock there and lets it run on, so a test can
// meet trading hours at any hour of its own. Unset, or not a valid time: the
// real clock. Read once, before main.
[[maybe_unused]] const bool g_fromEnvironment = [] {
    const char* text = std::getenv("VEXTAL_NOW");
    OleDate at;
    if (!text || !*text || !OleDate::Parse(text, at) || !at.IsValid()) return false;
    Clock::Fix(at, true);
    return true;
}();

}  // namespace

OleDate Clock::Now()
{
    if (g_fixed.load()) {
        if (!g_running.load()) return OleDate(g_value.load());
        long long ms = RealMs() + g_offsetMs.load();
        OleDate base = OleDate::FromTimeT(static_cast<std::time_t>(ms / 1000));
        return base;
    }
    return OleDate::FromTimeT(std::time(nullptr));
}

void Clock::Fix(const OleDate& at, bool running)
{
    g_value.store(at.dt);
    g_offsetMs.store(static_cast<long long>(at.ToTimeT()) * 1000 - RealMs());
    g_running.store(running);
    g_fixed.store(true);
}

void Clock::Release() { g_fixed.store(false); }

bool Clock::IsFixed() { return g_fixed.load(); }

}  // namespace vextal
