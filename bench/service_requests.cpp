// Latest-NAV requests (command 2/22) per second against plindo-serve from
// two client threads, each keeping its connection between requests as the
// program does. Three runs, and their spread around the middle one.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BenchService.h"
#include "BenchUtil.h"
#include "net/ClientCommands.h"
#include "net/HttpTransport.h"

using namespace vextal;

int main()
{
    bench::Service p("service_requests", {"--now", "2025-06-18 21:00:00", "--quiet"});
    CommandContext ctx = p.DemoLogin();
    CommandReply list = SendFundList(ctx);
    std::vector<std::string> codes;
    for (size_t i = 0; i + 10 < list.fields.size(); i += 11)
        if (!list.fields[i + 1].empty()) codes.push_back(list.fields[i]);
    if (codes.empty()) return 1;
    for (const std::string& c : codes) SendLatestValue(ctx, c);  // warm the caches

    // Three runs of ten seconds after three that are not counted: the
    // pace, and how far the runs lie apart. The first seconds ran slower in
    // every try (threads, sockets and the allocator's pools still growing,
    // longer right after another benchmark has freed much memory), and the
    // pace drifts over seconds on two shared cores: a longer run averages
    // more of the drift.
    //
    // The pace is bound by wake-ups (the client threads and the service's
    // worker pass each request along), not by work, and on a
    // shared virtual machine a wake-up costs what the host makes it cost:
    // while the host took 20-25 % of the two cores (steal), the pace halved,
    // and runs with 2-3 % went 8-17 % slower than their neighbours with
    // under 1 %. A run during which the host took more than kQuietSteal is
    // not counted and is measured again; it is printed with what the host took.
    constexpr double kQuietSteal = 1.5;
    constexpr int kRunSeconds = 10;
    constexpr int kMaxRuns = 8;
    long failedAll = 0;
    auto measure = [&](int seconds, double& steal) {
        std::atomic<long> ok{0}, failed{0};
        std::atomic<bool> stop{false};
        auto worker = [&](size_t offset) {
            for (size_t i = offset; !stop; i += 2)
                (SendLatestValue(ctx, codes[i % codes.size()]).ok() ? ok : failed)++;
        };
        const bench::CpuTicks before = bench::ReadCpuTicks();
        auto t0 = std::chrono::steady_clock::now();
        std::thread a(worker, 0), b(worker, 1);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        stop = true;
        a.join();
        b.join();
        steal = bench::StealPercent(before, bench::ReadCpuTicks());
        failedAll += failed;
        return ok / std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    double steal = 0;
    measure(3, steal);
    std::vector<double> rates;
    std::vector<std::pair<double, double>> disturbed;  // steal, rate
    for (int run = 1; run <= kMaxRuns && rates.size() < 3; ++run) {
        const double rate = measure(kRunSeconds, steal);
        // Where the host's share cannot be read, every run counts, and says so.
        const bool quiet = steal <= kQuietSteal;
        if (steal < 0) std::printf("service_requests: run %d: %.0f req/s, the host's share unknown\n", run, rate);
        else
            std::printf("service_requests: run %d: %.0f req/s, the host took %.1f %%%s\n", run, rate, steal,
                        quiet ? "" : " (not counted)");
        if (quiet) rates.push_back(rate);
        else disturbed.emplace_back(steal, rate);
    }
    if (rates.size() < 3) {
        // The host never calmed: the least disturbed runs make up the three.
        std::printf("service_requests: fewer than 3 runs with the host under %.1f %%\n", kQuietSteal);
        std::sort(disturbed.begin(), disturbed.end());
        for (size_t i = 0; rates.size() < 3; ++i) rates.push_back(disturbed[i].second);
    }
    std::sort(rates.begin(), rates.end());
    bench::Report("plindo_serve_2_22_requests_per_second_2_threads", rates[1], "req/s");
    bench::ReportTarget("plindo_serve_2_22_spread_of_3_runs", (rates[2] - rates[0]) / rates[1] * 100, "%", 20);
    if (failedAll) std::printf("failed requests: %ld\n", failedAll);
    return 0;
}
