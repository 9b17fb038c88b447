// Bookkeeping upload (4/6) and download (4/4) of 20,000 trades in 20
// accounts against plindo-serve, against the same bytes sent twice to a
// command the service refuses at once (transfer and form reading alone).
#include <cstdio>
#include <string>

#include "BenchService.h"
#include "BenchUtil.h"
#include "common/Format.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/HttpTransport.h"

using namespace vextal;

namespace {

constexpr int kAccounts = 20;
constexpr int kTradesPerAccount = 1000;

// The text the program builds: each account's row, one holding, its trades.
std::string BookText()
{
    std::string text;
    int trade = 1;
    for (int a = 1; a <= kAccounts; ++a) {
        if (!text.empty()) text += "|";
        text += StrFormat("_A_%d|10001|账户%02d|0|0.000000|0.000000|1|2015-01-02 00:00:00_A_", a, a);
        text += StrFormat("_F_%d|000001|0|1000.000000|1000.000000|1.000000|0|0.000000|0.000000||2024-03-01 00:00:00|"
                          "0.000000|0|0_F__T_", a);
        for (int i = 0; i < kTradesPerAccount; ++i, ++trade) {
            if (i) text += "|";
            text += StrFormat("%d|%d|%06d|%0.6f|%0.6f|1.500000|%d|2016-%02d-%02d 10:00:00|2016-%02d-%02d 00:00:00|1|0|"
                              "%0.6f|定投购买||%0.6f",
                              trade, a, 1 + trade % 400, 1000.0 + i, 952.38 + i, 1 + i % 3, 1 + i % 12, 1 + i % 28,
                              1 + i % 12, 1 + i % 28, 1.05 + i * 0.001, 1.05 + i * 0.001);
        }
        text += "_T_";
    }
    return text;
}

}  // namespace

int main()
{
    bench::Service p("book_sync", {"--funds", "400", "--now", "2025-06-18 21:00:00", "--quiet"});
    CommandReply login;
    CommandContext ctx = p.DemoLogin(&login);
    const int userId = std::atoi(login.fields.empty() ? "0" : login.fields[0].c_str());
    const std::string text = BookText();
    std::printf("bookkeeping text: %zu bytes\n", text.size());

    constexpr int kRuns = 5;
    bool ok = true;
    double ours = bench::BestMs(kRuns, [&](int) {
        CommandReply up = SendBookUpload(ctx, text, false);
        CommandReply down = SendBookDownload(ctx, userId);
        if (!up.ok() || !down.ok() || down.msg != text) {
            std::fprintf(stderr, "book_sync: %s%s\n", up.error.c_str(), down.error.c_str());
            ok = false;
        }
    });
    const std::string body = BuildCommand(9, 9, text, ctx.loginId);
    double limit = bench::BestMs(kRuns, [&](int) {
        std::string answer;
        HttpRequest(ctx.commandUrl, "POST", answer, body, "", 30);
        HttpRequest(ctx.commandUrl, "POST", answer, body, "", 30);
    });
    if (!ok) return 1;
    bench::Report("book_upload_download_20000_trades", ours, "ms", limit, 5);
    return 0;
}
