// A market folder of 20,000 funds with ten years of daily NAVs (about 48
// million lines) read and checked by CFileMarket::Load, beside the same NAV
// files read raw: each file read whole and its lines cut into days and two
// numbers with nothing checked. Both on two threads, each in a child process
// of its own so that its peak memory is its own.
// Targets: the load under 10 s and 1 GB, at most three times the raw read.
// VEXTAL_BENCH_MARKET_FUNDS sets another number of funds.
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "MarketFolder.h"
#include "TradingCalendar.h"

using namespace vextal;

namespace {

constexpr int kThreads = 2;

struct Outcome {
    double ms = 0, peakMb = 0;
    long rows = 0;
    bool ok = false;
};

// Runs `f` in a child process and takes back its time and peak memory.
template <class F>
Outcome InChild(F&& f)
{
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Outcome o;
        const auto t0 = std::chrono::steady_clock::now();
        o.ok = f(o.rows);
        o.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        o.peakMb = bench::StatusMegabytes("/proc/self/status", "VmHWM");
        (void)!write(fds[1], &o, sizeof o);
        _exit(0);
    }
    close(fds[1]);
    Outcome o;
    if (read(fds[0], &o, sizeof o) != static_cast<ssize_t>(sizeof o)) o.ok = false;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return o;
}

void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Day(int day)
{
    const DateParts p = DateOfDay(day).Parts();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
    return buf;
}

void Append(std::string& out, double v)
{
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
    out.append(buf, r.ptr);
}

// companies, funds (one in ten a money-market fund), every fund's NAVs over
// the ten years to `last`, and the holdings of one disclosure.
long MakeFolder(const std::string& dir, int funds, int last)
{
    std::filesystem::create_directories(dir + "/nav");
    const CTradingCalendar cal;
    std::vector<std::string> days;
    for (int i = cal.IndexOnOrAfter(last - 3652); i <= cal.IndexOnOrBefore(last); ++i) days.push_back(Day(cal.DayAt(i)));
    Write(dir + "/companies.csv", "id,name\n0001,甲乙基金管理有限公司\n");
    std::string list = "code,name,company,type,invest,founded\n", holdings = "fund,date,stock,stock_name,weight\n";
    for (int f = 0; f < funds; ++f) {
        const bool money = f % 10 == 9;
        char code[16];
        std::snprintf(code, sizeof code, "%06d", f + 1);
        list += std::string(code) + ",基金" + code + ",0001,开放式," + (money ? "货币" : "混合") + "," + days[0] + "\n";
        if (!money)
            for (int k = 0; k < 10; ++k)
                holdings += std::string(code) + "," + days[days.size() - 60] + "," + std::to_string(600000 + (f * 7 + k * 13) % 1500) +
                            ",股票,5.00\n";
    }
    Write(dir + "/funds.csv", list);
    Write(dir + "/holdings.csv", holdings);
    std::atomic<int> next{0};
    auto work = [&] {
        std::string text;
        for (int f; (f = next++) < funds;) {
            const bool money = f % 10 == 9;
            char code[16];
            std::snprintf(code, sizeof code, "%06d", f + 1);
            text = money ? "date,income,yield\n" : "date,nav,acc\n";
            double nav = 1;
            for (size_t i = 0; i < days.size(); ++i) {
                nav *= 1.0 + 0.01 * std::sin(static_cast<double>(i * 7 + static_cast<size_t>(f)));
                text += days[i];
                text += ',';
                Append(text, money ? 0.5 : nav);
                text += ',';
                Append(text, money ? 1.8 : nav + 0.3);
                text += '\n';
            }
            Write(dir + "/nav/" + code + ".csv", text);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
    return static_cast<long>(days.size()) * funds;
}

// The NAV files read raw: bytes, lines, a day as its digits and two numbers.
bool ReadRaw(const std::string& dir, long& rows)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir + "/nav")) names.push_back(e.path().string());
    std::atomic<size_t> next{0};
    std::atomic<long> total{0};
    struct Nav {
        std::vector<int> days;
        std::vector<float> a, b;
    };
    std::vector<Nav> kept(names.size());
    auto work = [&] {
        for (size_t i; (i = next++) < names.size();) {
            std::ifstream in(names[i], std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            Nav& n = kept[i];
            size_t pos = text.find('\n') + 1;
            while (pos < text.size()) {
                const char* p = text.data() + pos;
                const int day = (p[0] - '0') * 10000000 + (p[1] - '0') * 1000000 + (p[2] - '0') * 100000 +
                                (p[3] - '0') * 10000 + (p[5] - '0') * 1000 + (p[6] - '0') * 100 + (p[8] - '0') * 10 +
                                (p[9] - '0');
                double a = 0, b = 0;
                const char* end = text.data() + text.size();
                auto r = std::from_chars(p + 11, end, a);
                r = std::from_chars(r.ptr + 1, end, b);
                n.days.push_back(day);
                n.a.push_back(static_cast<float>(a));
                n.b.push_back(static_cast<float>(b));
                pos = static_cast<size_t>(r.ptr - text.data()) + 1;
            }
            total += static_cast<long>(n.days.size());
        }
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < kThreads; ++t) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
    rows = total;
    return true;
}

}  // namespace

int main()
{
    const char* env = std::getenv("VEXTAL_BENCH_MARKET_FUNDS");
    const int funds = env ? static_cast<int>(std::clamp(IntegerOr(env, 20000), 10LL, 1000000LL)) : 20000;
    bench::ScratchDir scratch;
    const std::string dir = scratch.File("market");
    const long rows = MakeFolder(dir, funds, DayOf(2025, 12, 31));

    const Outcome raw = InChild([&](long& n) { return ReadRaw(dir, n); });
    const Outcome load = InChild([&](long& n) {
        std::string error;
        auto market = CFileMarket::Load(dir, error, kThreads);
        if (!market) std::fprintf(stderr, "market_folder_load: %s\n", error.c_str());
        n = market ? static_cast<long>(market->Funds().size()) : 0;
        return market != nullptr;
    });
    if (!raw.ok || !load.ok || raw.rows != rows || load.rows != funds) {
        std::fprintf(stderr, "market_folder_load: failed (raw rows %ld of %ld, funds %ld of %d)\n", raw.rows, rows,
                     load.rows, funds);
        return 1;
    }
    std::printf("market folder: %d funds, %ld NAV lines\n", funds, rows);
    bench::Report("market_folder_load", load.ms / 1000.0, "s", raw.ms / 1000.0, 3);
    bench::ReportTarget("market_folder_load_seconds", load.ms / 1000.0, "s", 10);
    bench::Report("market_folder_load_memory", load.peakMb, "MB", raw.peakMb, 2);
    bench::ReportTarget("market_folder_load_megabytes", load.peakMb, "MB", 1024);
    return 0;
}
