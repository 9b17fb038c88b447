// The whole program killed with SIGKILL at seeded random moments of a
// scripted series of bookings, plan processing, a bookkeeping download and a
// class download (the driver, against the real plindo-serve). After every
// kill: the database is intact, every holding is the replay of its
// confirmed trades, nothing is left half booked, and a restart shows the
// same holdings.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>
#include <tuple>

#include "MarketSimulator.h"
#include "ServiceProcess.h"
#include "book/AccountManager.h"
#include "common/Format.h"
#include "db/AdoDatabase.h"
#include "support/ChildWait.h"

using namespace vextal;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSeed = 5;
constexpr int kFunds = 60;
constexpr const char* kNow = "2024-06-28 10:00:00";
constexpr int kKills = 20;

using Figures = std::map<std::tuple<int, std::string, int>, std::string>;

struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string text;  // everything read so far

    // Reads until `line` has appeared, the child has ended, or the limit.
    bool WaitFor(const std::string& line, int limitMs)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (text.find(line + "\n") == std::string::npos) {
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count());
            pollfd p{out, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0) return false;
            char buf[4096];
            const ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0) return false;
            text.append(buf, static_cast<size_t>(n));
        }
        return true;
    }
    int Finish()
    {
        WaitFor("\x01never", 30000);  // to the end of its output
        close(out);
        int status = 0;
        test::WaitChildFor(pid, status);
        return status;
    }
};

Child Spawn(const std::vector<std::string>& args)
{
    Child c;
    int fds[2];
    if (pipe(fds) != 0) return c;
    const pid_t parent = getpid();
    c.pid = fork();
    if (c.pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<std::string> all = {CRASH_DRIVER_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    c.out = fds[0];
    return c;
}

// Two equity funds listed long before the script's dates, without splits.
std::vector<std::string> ScriptFunds()
{
    const CMarketSimulator market(MarketOptions{kSeed, kFunds});
    OleDate now;
    OleDate::Parse(kNow, now);
    std::vector<std::string> codes;
    for (const SimFund& f : market.Funds())
        if (codes.size() < 2 && f.HoldsStocks() && !f.withdrawDay &&
            f.createDay < DayNumber(OleDate::FromParts(2022, 1, 1)) && market.Splits(f, now).empty())
            codes.push_back(f.code);
    return codes;
}

// Checks the killed program's database and returns its holdings.
Figures CheckDatabase(const std::string& path, int& trades)
{
    Figures figures;
    CAdoDatabase db;
    db.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
    db.SetDatabase(path, 0);
    EXPECT_TRUE(db.Open()) << db.GetLastError();
    if (!db.IsOpen()) return figures;
    EXPECT_TRUE(db.OpenRecordset("PRAGMA integrity_check"));
    std::string check;
    db.GetFieldValue("integrity_check", check);
    EXPECT_EQ(check, "ok");
    // Nothing written but left unconfirmed.
    EXPECT_EQ(db.GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeState=0"), 0);
    trades = db.GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeState=1");

    CAccountManager replay;
    replay.Init(db, 0, true, nullptr, nullptr);
    RecordsetPtr rs = db.OpenRecordsetEx("SELECT AccountID,FundID,BuyType,TotalCount,TotalBonus,CashBonus FROM T_Fund_Trade");
    EXPECT_TRUE(rs);
    std::vector<FundTradeInfo> holdings;
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        FundTradeInfo h;
        db.GetFieldValue(rs, "AccountID", h.AccountID);
        db.GetFieldValue(rs, "FundID", h.FundID);
        db.GetFieldValue(rs, "BuyType", h.BuyType);
        db.GetFieldValue(rs, "TotalCount", h.TotalCount);
        db.GetFieldValue(rs, "TotalBonus", h.TotalBonus);
        db.GetFieldValue(rs, "CashBonus", h.CashBonus);
        holdings.push_back(h);
    }
    for (const FundTradeInfo& h : holdings) {
        const std::string stored = StrFormat("%0.2f %0.2f %0.2f", h.TotalCount, h.TotalBonus, h.CashBonus);
        figures[{h.AccountID, h.FundID, h.BuyType}] = stored;
        // The engine's own replay of the confirmed trades, undone afterwards.
        CAdoTransaction trans(db);
        TradeInfo key;
        key.AccountID = h.AccountID;
        key.FundID = h.FundID;
        key.BuyType = h.BuyType;
        EXPECT_TRUE(replay.RecomputeHolding(key, false)) << replay.GetLastErrorText();
        const HoldingKey k = HoldingKey::Of(key);
        double count = 0, bonus = 0, cash = 0;
        db.QueryDouble("SELECT TotalCount FROM T_Fund_Trade WHERE" + k.Where(), count);
        db.QueryDouble("SELECT TotalBonus FROM T_Fund_Trade WHERE" + k.Where(), bonus);
        db.QueryDouble("SELECT CashBonus FROM T_Fund_Trade WHERE" + k.Where(), cash);
        EXPECT_EQ(StrFormat("%0.2f %0.2f %0.2f", count, bonus, cash), stored) << h.AccountID << " " << h.FundID;
    }
    db.Close();
    return figures;
}

Figures ParseFigures(const std::string& text)
{
    Figures figures;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("H ", 0) != 0) continue;
        std::istringstream f(line.substr(2));
        int account = 0, buyType = 0;
        std::string fund, count, bonus, cash;
        f >> account >> fund >> buyType >> count >> bonus >> cash;
        figures[{account, fund, buyType}] = count + " " + bonus + " " + cash;
    }
    return figures;
}

}  // namespace

TEST(CrashSafety, KilledProgramLosesNoBookedTrade)
{
    const std::vector<std::string> funds = ScriptFunds();
    ASSERT_EQ(funds.size(), 2u);
    CServiceProcess service(PLINDO_SERVE_PATH,
                            {"--seed", std::to_string(kSeed), "--funds", std::to_string(kFunds), "--now", kNow, "--quiet"});
    ASSERT_GT(service.Port(), 0) << "plindo-serve did not start";
    char tmpl[] = "/tmp/vextal-crash-XXXXXX";
    const std::string home = mkdtemp(tmpl);
    std::ofstream(home + "/Vextal.ini") << "[Login]\r\nServerURL=" << service.Base()
                                        << "\r\nDataServerURL=" << service.Base() << "\r\n";
    const std::vector<std::string> run = {"run", home, kNow, funds[0], funds[1]};

    // Two whole runs first: the first fills the home; the second shows how
    // long a later start and its script take.
    long startMs = 0, scriptMs = 0;
    for (int calibration = 0; calibration < 2; ++calibration) {
        const auto spawned = std::chrono::steady_clock::now();
        Child whole = Spawn(run);
        ASSERT_TRUE(whole.WaitFor("ready", 30000)) << whole.text;
        const auto ready = std::chrono::steady_clock::now();
        ASSERT_TRUE(whole.WaitFor("finished", 30000)) << whole.text;
        const auto finished = std::chrono::steady_clock::now();
        const int status = whole.Finish();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << whole.text;
        startMs = std::chrono::duration_cast<std::chrono::milliseconds>(ready - spawned).count();
        scriptMs = std::chrono::duration_cast<std::chrono::milliseconds>(finished - ready).count();
    }
    std::printf("start %ld ms, script %ld ms\n", startMs, scriptMs);

    // Every other kill falls in the start-up (its own writes: catalogue,
    // dividends), the others in the script after the login.
    std::mt19937 random(20240628);
    std::uniform_int_distribution<long> inStart(0, std::max<long>(1, startMs));
    std::uniform_int_distribution<long> inScript(0, std::max<long>(1, scriptMs));
    int killed = 0, previousTrades = 0;
    for (int i = 0; i < kKills; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        const bool duringStart = i % 2 == 0;
        const long at = duringStart ? inStart(random) : inScript(random);
        Child child = Spawn(run);
        if (!duringStart) {
            ASSERT_TRUE(child.WaitFor("ready", 30000)) << child.text;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(at));
        kill(child.pid, SIGKILL);
        int status = child.Finish();
        if (WIFSIGNALED(status)) {
            ++killed;
        } else {
            ASSERT_EQ(WEXITSTATUS(status), 0) << child.text;
        }
        // Where it was: the last step it reported.
        std::string last = child.text.empty() ? "start" : child.text.substr(0, child.text.size() - 1);
        last = last.substr(last.rfind('\n') + 1);
        std::printf("kill %d: %ld ms after %s, after \"%s\"%s\n", i, at, duringStart ? "the start" : "ready", last.c_str(),
                    WIFSIGNALED(status) ? "" : " (not killed: finished)");

        int trades = 0;
        const Figures stored = CheckDatabase(home + "/Vextal.mdb", trades);
        ASSERT_FALSE(HasFailure());
        EXPECT_GE(trades, previousTrades);
        previousTrades = trades;
        std::printf("  %d confirmed trades, %zu holdings\n", trades, stored.size());

        Child restart = Spawn({"check", home, kNow});
        status = restart.Finish();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << restart.text;
        EXPECT_EQ(ParseFigures(restart.text), stored);
    }
    // Most runs end by the kill rather than at the end of the script.
    EXPECT_GE(killed, kKills / 2);
    std::error_code ec;
    fs::remove_all(home, ec);
}
