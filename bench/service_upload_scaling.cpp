// A bookkeeping upload (4/6, replacing) of 32,000 small accounts against
// 16 times one of 2,000: the time grows with the size, not its square; and
// while the large one is stored, another member's logins: the longest wait;
// and SIGTERM during one: how long the service takes to end.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <sys/wait.h>

#include "BenchService.h"
#include "BenchUtil.h"
#include "common/Format.h"
#include "net/ClientCommands.h"

using namespace vextal;

namespace {

std::string Accounts(int count)
{
    std::string text;
    for (int a = 1; a <= count; ++a) {
        if (a > 1) text += "|";
        text += StrFormat("_A_%d|10001|帐户%05d|0|0.000000|0.000000|1|2015-01-02 00:00:00_A__F__F__T__T_", a, a);
    }
    return text;
}

}  // namespace

int main()
{
    bench::Service p("service_upload_scaling", {"--funds", "100", "--now", "2025-06-18 21:00:00", "--quiet"});
    const CommandContext ctx = p.DemoLogin();
    const std::string small = Accounts(2000), large = Accounts(32000);
    bool ok = true;
    auto upload = [&](const std::string& text) {
        CommandReply r = SendBookUpload(ctx, text, false);
        if (!r.ok()) {
            std::fprintf(stderr, "service_upload_scaling: %s\n", r.error.c_str());
            ok = false;
        }
    };
    const double smallMs = bench::BestMs(5, [&](int) { upload(small); });
    const double largeMs = bench::BestMs(3, [&](int) { upload(large); });

    // Another member logs in over and over while large uploads run.
    std::atomic<bool> stop{false};
    double longestLogin = 0;
    int logins = 0;
    std::thread other([&] {
        CommandContext anon;
        anon.commandUrl = MakeCommandUrl(p.Base());
        while (!stop) {
            const auto t0 = std::chrono::steady_clock::now();
            if (!SendLogin(anon, "free", "free123", "3.25").ok()) ok = false;
            longestLogin = std::max(longestLogin,
                                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
            ++logins;
        }
    });
    for (int i = 0; i < 3; ++i) upload(large);
    stop = true;
    other.join();

    // SIGTERM while a large upload is being stored: how long until the process is gone.
    std::thread last([&] { SendBookUpload(ctx, large, false); });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const auto t0 = std::chrono::steady_clock::now();
    const int status = p.Stop();
    const double stopMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    last.join();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ok = false;

    std::printf("upload of 2,000 accounts (%zu bytes): %.1f ms; of 32,000 (%zu bytes): %.1f ms; %d logins meanwhile\n",
                small.size(), smallMs, large.size(), largeMs, logins);
    bench::Report("plindo_serve_upload_32000_accounts", largeMs, "ms", 16 * smallMs, 1.5);
    bench::ReportTarget("plindo_serve_longest_login_during_upload", longestLogin, "ms", 1000);
    bench::ReportTarget("plindo_serve_sigterm_during_upload", stopMs, "ms", 2000);
    return ok ? 0 : 1;
}
