// Ordinary requests (a latest NAV and the style sheet, each on its own
// connection as the program sends them) on an idle plindo-serve, then
// while 32 slow clients and 4 hostile 4 MiB bodies are at it (two the
// service refuses from their start, two it must read whole): their median
// and 99th-percentile latency against the idle ones, and the service's
// peak memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchService.h"
#include "BenchUtil.h"
#include "HostileClients.h"
#include "net/ClientCommands.h"
#include "net/HttpTransport.h"

using namespace vextal;

namespace {

constexpr int kRequests = 1000;

// Latencies in ms of kRequests ordinary requests, sorted; failures counted.
std::vector<double> Ordinary(const bench::Service& p, const CommandContext& ctx, int& failed)
{
    std::vector<double> ms;
    for (int i = 0; i < kRequests; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        bool ok = true;
        if (i % 2 == 0) {
            ok = SendLatestValue(ctx, "000001").status != CommandStatus::SendFailed;
        } else {
            std::string css;
            ok = HttpGetBuffer(p.Base() + "stylemain.css", css, "", "") > 0;
        }
        if (!ok) ++failed;
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

double Percentile(const std::vector<double>& sorted, double q)
{
    return sorted[std::min(sorted.size() - 1, static_cast<size_t>(q * static_cast<double>(sorted.size())))];
}

}  // namespace

int main()
{
    bench::Service p("service_hostile_load", {"--now", "2025-06-18 21:00:00", "--quiet"});
    const CommandContext ctx = p.DemoLogin();
    int failed = 0;
    Ordinary(p, ctx, failed);  // warm the caches
    const std::vector<double> idle = Ordinary(p, ctx, failed);

    CHostileClients hostile(p.Port(), 32, 4);
    for (int i = 0; i < 200 && (hostile.SlowConnections() < 32 || hostile.HostilePosts() < 4); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int failedUnderLoad = 0;
    const std::vector<double> loaded = Ordinary(p, ctx, failedUnderLoad);
    const double peak = bench::StatusMegabytes("/proc/" + std::to_string(p.Pid()) + "/status", "VmHWM");
    const long posts = hostile.HostilePosts(), bodies = hostile.HostileBodies(), slow = hostile.SlowConnections();
    hostile.Stop();

    std::printf("under load: %ld hostile posts (%ld sent whole), %ld slow connections, %d of %d ordinary requests failed\n",
                posts, bodies, slow, failedUnderLoad, kRequests);
    bench::Report("plindo_serve_ordinary_p50_under_hostile_load", Percentile(loaded, 0.5), "ms", Percentile(idle, 0.5), 3);
    bench::Report("plindo_serve_ordinary_p99_under_hostile_load", Percentile(loaded, 0.99), "ms", Percentile(idle, 0.99), 3);
    // No figure is no pass of the memory target.
    if (peak < 0) std::fprintf(stderr, "service_hostile_load: no VmHWM figure of the service\n");
    else bench::ReportTarget("plindo_serve_peak_memory_under_hostile_load", peak, "MB", 300);
    return failed + failedUnderLoad > 0 || peak < 0 ? 1 : 0;
}
