// Bookkeeping upload (4/6) and download (4/4) of 20,000 trades in 20
// accounts against plindo-serve, against the least any service can do with
// the same text: carry it both ways (an upload under a login id the service
// does not know is read whole and refused before decoding) and store its trade
// rows in SQLite and read them back, raw, in one transaction.
#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "BenchService.h"
#include "BenchUtil.h"
#include "common/Format.h"
#include "net/ClientCommands.h"
#include "net/CommandCatalogue.h"
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

// The trade rows of the text, each as its fields, into one table and back.
void StoreRowsRaw(const std::string& path, const std::string& text)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "DROP TABLE IF EXISTS t; CREATE TABLE t(a,b,c,d,e,f,g,h,i,j,k,l,m,n,o); BEGIN", nullptr, nullptr,
                 nullptr);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1, &ins, nullptr);
    for (size_t at = text.find("_F__T_"); at != std::string::npos; at = text.find("_F__T_", at)) {
        at += 6;
        const size_t end = text.find("_T_", at);
        size_t field = 0, start = at;
        for (size_t i = at; i <= end; ++i) {
            if (i < end && text[i] != '|') continue;
            sqlite3_bind_text(ins, int(field + 1), text.data() + start, int(i - start), SQLITE_STATIC);
            start = i + 1;
            if (++field == 15 || i == end) {
                sqlite3_step(ins);
                sqlite3_reset(ins);
                field = 0;
            }
        }
        at = end;
    }
    sqlite3_finalize(ins);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    std::string back;
    sqlite3_stmt* sel = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM t", -1, &sel, nullptr);
    while (sqlite3_step(sel) == SQLITE_ROW)
        for (int c = 0; c < 15; ++c) back += reinterpret_cast<const char*>(sqlite3_column_text(sel, c));
    sqlite3_finalize(sel);
    sqlite3_close(db);
}

}  // namespace

int main()
{
    bench::Service p("book_sync", {"--funds", "400", "--now", "2025-06-18 21:00:00", "--quiet"});
    CommandReply login;
    CommandContext ctx = p.DemoLogin(&login);
    const int userId = static_cast<int>(login.fields.empty() ? 0 : IntegerOr(login.fields[0], 0));
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
    const std::string body = BuildCommand(command::BookUploadReplace.cmdtype, command::BookUploadReplace.cmdid, text, "0");
    bench::ScratchDir scratch;
    double limit = bench::BestMs(kRuns, [&](int) {
        std::string answer;
        HttpRequest(ctx.commandUrl, "POST", answer, body, "", 30);
        HttpRequest(ctx.commandUrl, "POST", answer, body, "", 30);
        StoreRowsRaw(scratch.File("raw.db"), text);
    });
    if (!ok) return 1;
    bench::Report("book_upload_download_20000_trades", ours, "ms", limit, 5);
    return 0;
}
