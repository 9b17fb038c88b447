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

    // Three runs of five seconds after three that are not counted: the
    // pace, and how far the runs lie apart. The first seconds ran slower in
    // every try (threads, sockets and the allocator's pools still growing,
    // longer right after another benchmark has freed much memory), and on
    // two shared cores the pace of half-seconds swings between 8,000 and
    // 18,000 requests with the scheduler: three-second runs after one
    // second lay up to 26 % apart.
    std::vector<double> rates;
    long failedAll = 0;
    for (int run = -1; run < 3; ++run) {
        std::atomic<long> ok{0}, failed{0};
        std::atomic<bool> stop{false};
        auto worker = [&](size_t offset) {
            for (size_t i = offset; !stop; i += 2)
                (SendLatestValue(ctx, codes[i % codes.size()]).ok() ? ok : failed)++;
        };
        auto t0 = std::chrono::steady_clock::now();
        std::thread a(worker, 0), b(worker, 1);
        std::this_thread::sleep_for(std::chrono::seconds(run < 0 ? 3 : 5));
        stop = true;
        a.join();
        b.join();
        if (run < 0) continue;
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        rates.push_back(ok / seconds);
        failedAll += failed;
        std::printf("service_requests: run %d: %.0f req/s\n", run + 1, rates.back());
    }
    std::sort(rates.begin(), rates.end());
    bench::Report("plindo_serve_2_22_requests_per_second_2_threads", rates[1], "req/s");
    bench::ReportTarget("plindo_serve_2_22_spread_of_3_runs", (rates[2] - rates[0]) / rates[1] * 100, "%", 20);
    if (failedAll) std::printf("failed requests: %ld\n", failedAll);
    return 0;
}
