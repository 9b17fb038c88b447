// Latest-NAV requests (command 2/22) per second against plindo-serve from
// two client threads, each request on its own connection as the program
// sends it.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

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

    std::atomic<long> ok{0}, failed{0};
    std::atomic<bool> stop{false};
    auto worker = [&](size_t offset) {
        for (size_t i = offset; !stop; i += 2)
            (SendLatestValue(ctx, codes[i % codes.size()]).ok() ? ok : failed)++;
    };
    auto t0 = std::chrono::steady_clock::now();
    std::thread a(worker, 0), b(worker, 1);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    stop = true;
    a.join();
    b.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    bench::Report("plindo_serve_2_22_requests_per_second_2_threads", ok / seconds, "req/s");
    if (failed) std::printf("failed requests: %ld\n", failed.load());
    return 0;
}
