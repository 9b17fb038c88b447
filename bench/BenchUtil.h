#pragma once
// Shared bits of the benchmarks: timing, a scratch folder, and the one
// output line form every benchmark prints.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "common/Format.h"

namespace vextal::bench {

// Best of `runs` wall-clock timings of f(), in milliseconds.
template <class F>
double BestMs(int runs, F&& f)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f(i);
        auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return best;
}

inline void Report(const char* name, double value, const char* unit, double limit, double target)
{
    std::printf("BENCH %s: %.2f %s, limit %.2f %s, ratio %.2f, target <= %g\n", name, value, unit, limit, unit,
                value / limit, target);
    std::fflush(stdout);
}

inline void ReportTarget(const char* name, double value, const char* unit, double target)
{
    std::printf("BENCH %s: %.2f %s, target <= %g\n", name, value, unit, target);
    std::fflush(stdout);
}

inline void Report(const char* name, double value, const char* unit)
{
    std::printf("BENCH %s: %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

// A memory figure of a process's status file ("/proc/self/status" or
// "/proc/PID/status"), "VmHWM" or "VmRSS", in MiB; -1 when the line is
// missing or its figure does not read.
inline double StatusMegabytes(const std::string& statusFile, std::string_view field)
{
    std::ifstream in(statusFile);
    const std::string head = std::string(field) + ":";
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(head, 0) != 0) continue;
        std::string_view kb(line);
        kb.remove_prefix(head.size());
        if (kb.size() >= 2 && kb.substr(kb.size() - 2) == "kB") kb.remove_suffix(2);
        const std::optional<long long> n = ParseInteger(kb);
        return n && *n >= 0 ? static_cast<double>(*n) / 1024.0 : -1;
    }
    return -1;
}

// The CPU time of the whole machine so far (/proc/stat, in ticks) and the
// part of it the host of this virtual machine gave to others (steal); both
// -1 when unreadable.
struct CpuTicks {
    long long total = -1, steal = -1;
};

inline CpuTicks ReadCpuTicks()
{
    std::ifstream in("/proc/stat");
    std::string line;
    if (!std::getline(in, line) || line.rfind("cpu ", 0) != 0) return {};
    // user nice system idle iowait irq softirq steal; the guest times after
    // them are already within user and nice.
    CpuTicks t{0, 0};
    std::string_view rest(line);
    rest.remove_prefix(4);
    for (int field = 0; field < 8; ++field) {
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        const size_t end = std::min(rest.find(' '), rest.size());
        const std::optional<long long> n = ParseInteger(rest.substr(0, end));
        if (!n || *n < 0) return {};
        t.total += *n;
        if (field == 7) t.steal = *n;
        rest.remove_prefix(end);
    }
    return t;
}

// Percent of the machine's CPU time between `from` and `to` that the host
// took; -1 when it cannot be told.
inline double StealPercent(const CpuTicks& from, const CpuTicks& to)
{
    if (from.total < 0 || to.total <= from.total) return -1;
    return 100.0 * static_cast<double>(to.steal - from.steal) / static_cast<double>(to.total - from.total);
}

class ScratchDir {
public:
    ScratchDir()
    {
        char tmpl[] = "/tmp/vextal-bench-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace vextal::bench
