// plindo-serve: the local stand-in of the Plindo services.
//   plindo-serve --port N --data DIR [--seed S] [--funds N]
//                [--now "YYYY-MM-DD HH:MM:SS"] [--latency-ms N] [--client-version V]
//                [--update-key PEM-FILE] [--hang WHAT]...
//   plindo-serve --port N --data DIR --market MARKET-DIR [--now ...] [...]
//   plindo-serve --export-market MARKET-DIR [--seed S] [--funds N] [--from YYYY-MM-DD] [--to YYYY-MM-DD]
//   plindo-serve --version
// --market: serves the market of a folder (MarketFolder.h) in place of the
// simulated one; SIGHUP reads the folder again, and a folder with a fault
// is refused with the file and line, the market served staying as it was.
// --export-market: writes the simulated market as such a folder: the NAVs
// published by the end of --to (default: the day of --now, or today), and
// the holdings and every minute's quotes of the trading days from --from
// (default: --to) on; a whole year of minutes would take gigabytes.
// --update-key: the Ed25519 private key that signs the update files (each
// served with "Update/<file>.sig" beside it); without it they go unsigned.
// --hang: requests that never get an answer (until the service stops), to
// try a client against a hung service: a path prefix such as /htmdata/ (the
// quote pages) or a command such as 2/1.
// Prints "listening on 127.0.0.1:PORT" as its first line and runs until
// SIGTERM or SIGINT. Every time it reads or takes (--now) is Beijing wall
// time, whatever the machine's TZ: NAVs appear at 20:00 in Beijing.
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <pthread.h>
#include <sys/stat.h>

#include "MarketExport.h"
#include "MarketSimulator.h"
#include "PlindoServer.h"
#include "TradingCalendar.h"
#include "common/Clock.h"
#include "common/ProgramVersion.h"
#include "net/UpdateSignature.h"

using namespace vextal;

namespace {

constexpr const char* kUsage =
    "usage: plindo-serve --port N --data DIR [--seed S] [--funds N] "
    "[--now \"YYYY-MM-DD HH:MM:SS\"] [--latency-ms N] [--client-version V] [--update-key PEM-FILE] "
    "[--hang /PATH-PREFIX|TYPE/ID]... [--market MARKET-DIR] [--quiet]\n"
    "       plindo-serve --export-market MARKET-DIR [--seed S] [--funds N] [--from YYYY-MM-DD] [--to YYYY-MM-DD]\n"
    "       plindo-serve --version\n";

int Usage(const char* why)
{
    std::fprintf(stderr, "plindo-serve: %s\n%s", why, kUsage);
    return 2;
}

bool ToNumber(const char* text, long long lo, long long hi, long long& out)
{
    char* end = nullptr;
    out = std::strtoll(text, &end, 10);
    return *text && *end == '\0' && out >= lo && out <= hi;
}

}  // namespace

int main(int argc, char** argv)
{
    // The locale of the environment, as a server takes it; no figure on the
    // wire follows it (the suites run the service under a decimal comma too).
    std::setlocale(LC_ALL, "");
    ServerOptions options;
    bool hasData = false;
    std::string exportDir;
    int exportFrom = 0, exportTo = 0;
    const CTradingCalendar calendar;
    auto dayOption = [&](const char* value, int& day) {
        OleDate at;
        if (!OleDate::Parse(value, at) || !at.IsValid()) return false;
        day = DayNumber(at);
        return day >= calendar.FirstDay() && day <= calendar.LastDay();
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--quiet") {
            options.log = false;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::printf("%s", kUsage);
            return 0;
        }
        if (arg == "--version") {
            std::printf("plindo-serve %s\n", kProgramVersion);
            return 0;
        }
        if (i + 1 >= argc) return Usage(("missing value of " + arg).c_str());
        const char* value = argv[++i];
        long long n = 0;
        if (arg == "--port") {
            if (!ToNumber(value, 0, 65535, n)) return Usage("bad --port");
            options.port = static_cast<int>(n);
        } else if (arg == "--data") {
            if (!*value) return Usage("--data needs a folder (an empty one would mean the filesystem root)");
            // Relative to where it was started: the database layer would
            // otherwise take a relative path as one inside the program's folder.
            std::error_code ec;
            options.dataDir = std::filesystem::absolute(value, ec).string();
            if (ec) options.dataDir = value;
            hasData = true;
        } else if (arg == "--seed") {
            if (!ToNumber(value, 0, 0x7FFFFFFFFFFFFFFFll, n)) return Usage("bad --seed");
            options.seed = static_cast<uint64_t>(n);
        } else if (arg == "--funds") {
            if (!ToNumber(value, 1, 20000, n)) return Usage("--funds must be 1 to 20000");
            options.funds = static_cast<int>(n);
        } else if (arg == "--now") {
            OleDate at;
            if (!OleDate::Parse(value, at) || !at.IsValid()) return Usage("bad --now");
            // Outside the simulated years funds would answer with days past
            // the clock or the empty date: refuse rather than serve that.
            const int day = DayNumber(at);
            if (day < calendar.FirstDay() || day > calendar.LastDay())
                return Usage(("--now must lie in the simulated range " + DateOfDay(calendar.FirstDay()).Format(1) +
                              " to " + DateOfDay(calendar.LastDay()).Format(1))
                                 .c_str());
            Clock::Fix(at);
        } else if (arg == "--latency-ms") {
            if (!ToNumber(value, 0, 60000, n)) return Usage("bad --latency-ms");
            options.latencyMs = static_cast<int>(n);
        } else if (arg == "--hang") {
            const std::string what = value;
            const size_t slash = what.find('/');
            const bool command = slash != std::string::npos && slash > 0 && slash + 1 < what.size() &&
                                 what.find_first_not_of("0123456789") == slash &&
                                 what.find_first_not_of("0123456789", slash + 1) == std::string::npos;
            if (what.empty() || (what[0] != '/' && !command)) return Usage("--hang needs a path prefix (/...) or a command (2/1)");
            options.hang.push_back(what);
        } else if (arg == "--market") {
            if (!*value) return Usage("--market needs a folder");
            options.marketDir = value;
        } else if (arg == "--export-market") {
            if (!*value) return Usage("--export-market needs a folder");
            exportDir = value;
        } else if (arg == "--from") {
            if (!dayOption(value, exportFrom)) return Usage("bad --from");
        } else if (arg == "--to") {
            if (!dayOption(value, exportTo)) return Usage("bad --to");
        } else if (arg == "--client-version") {
            options.clientVersion = value;
        } else if (arg == "--update-key") {
            std::ifstream in(value, std::ios::binary);
            options.updateKeyPem.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!IsEd25519PrivateKey(options.updateKeyPem)) return Usage("--update-key needs an Ed25519 private key (PEM)");
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    if (!exportDir.empty()) {
        if (!exportTo) exportTo = DayNumber(Clock::Now());
        if (!exportFrom) exportFrom = exportTo;
        if (exportFrom > exportTo) return Usage("--from lies after --to");
        const CMarketSimulator market(MarketOptions{options.seed, options.funds});
        std::string error;
        if (!ExportMarket(market, exportDir, exportFrom, exportTo, error)) {
            std::fprintf(stderr, "plindo-serve: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (!hasData) return Usage("--data DIR is required");

    // Signals are taken by sigwait below, never by an asynchronous handler,
    // so the server threads (which inherit this mask) are never interrupted.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // The data folder holds every member's bookkeeping and logins: what
    // the service makes there is for this account only.
    umask(077);
    std::string error;
    const std::shared_ptr<const CMarket> market = MakeMarket(options, error);
    if (!market) {
        std::fprintf(stderr, "plindo-serve: %s\n", error.c_str());
        return 1;
    }
    CPlindoServer server(options, market);
    if (!server.Start(error)) {
        std::fprintf(stderr, "plindo-serve: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on 127.0.0.1:%d\n", server.Port());
    std::fflush(stdout);

    int sig = 0;
    while (sigwait(&stopSignals, &sig) == 0 && sig == SIGHUP) {
        // The simulated market has nothing to read again.
        if (options.marketDir.empty()) continue;
        if (server.Reload(error))
            std::fprintf(stderr, "plindo-serve: market folder read again\n");
        else
            std::fprintf(stderr, "plindo-serve: %s; still serving the market read before\n", error.c_str());
        std::fflush(stderr);
    }
    // Requests still being handled get a moment; the store's writes are
    // transactions, so ending during one loses nothing acknowledged.
    if (!server.Stop(1500)) {
        std::fprintf(stderr, "plindo-serve: stopped (%s) with requests unfinished\n", strsignal(sig));
        std::fflush(stderr);
        std::_Exit(0);
    }
    std::fprintf(stderr, "plindo-serve: stopped (%s)\n", strsignal(sig));
    return 0;
}
