// plindo-serve with 10,000 funds: time from exec to "listening", and its
// resident memory right after start-up and after a whole-class answer.
// Targets: start-up under 2 s (it includes computing every fund's latest
// values), the first whole class list under 300 ms, under 500 MB.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "../service/ServiceProcess.h"
#include "BenchUtil.h"
#include "net/ClientCommands.h"
#include "net/HttpTransport.h"

using namespace vextal;

namespace {

std::string ServeBinary()
{
    char self[4096] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    return dir.substr(0, dir.rfind('/')) + "/../service/plindo-serve";
}

}  // namespace

int main()
{
    HttpConfig config = GetHttpConfig();
    config.noProxy = "*";
    SetHttpConfig(config);
    const std::string binary = ServeBinary();
    const std::vector<std::string> args = {"--funds", "10000", "--now", "2025-06-18 21:00:00", "--quiet"};

    double startMs = bench::BestMs(3, [&](int) {
        CServiceProcess p(binary, args);
        if (p.Port() <= 0) {
            std::fprintf(stderr, "service_startup: %s did not start\n", binary.c_str());
            std::exit(1);
        }
    });
    CServiceProcess p(binary, args);
    double rssStart = bench::StatusMegabytes("/proc/" + std::to_string(p.Pid()) + "/status", "VmRSS");

    CommandContext ctx;
    ctx.commandUrl = MakeCommandUrl(p.Base());
    CommandReply login = SendLogin(ctx, "demo", "demo123", "3.25");
    ctx.loginId = login.serverId;
    auto t0 = std::chrono::steady_clock::now();
    CommandReply all = SendClassValues(ctx, 1, "");
    double classMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    double rssAfter = bench::StatusMegabytes("/proc/" + std::to_string(p.Pid()) + "/status", "VmRSS");

    bench::Report("plindo_serve_startup_10000_funds", startMs, "ms", 2000, 1);
    bench::Report("plindo_serve_rss_after_startup_10000_funds", rssStart, "MB");
    bench::Report("plindo_serve_first_class_list_10000_funds", classMs, "ms", 300, 1);
    bench::Report("plindo_serve_rss_after_class_list_10000_funds", rssAfter, "MB");
    std::printf("targets: memory under 500 MB (class list: %zu records)\n",
                all.fields.size() / 20);
    return 0;
}
