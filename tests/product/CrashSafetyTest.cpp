// The whole program killed with SIGKILL at seeded random moments of a
// scripted series of bookings, plan processing, a bookkeeping download and a
// class download (the driver, against the real plindo-serve). After every
// kill: the database is intact, every holding is the replay of its
// confirmed trades, nothing is left half booked, and a restart shows the
// same holdings.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "MarketSimulator.h"
#include "ServiceProcess.h"
#include "book/AccountManager.h"
#include "support/SpawnLogged.h"
#include "support/StoredHoldings.h"

using namespace vextal;
namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSeed = 5;
constexpr int kFunds = 60;
constexpr const char* kNow = "2024-06-28 10:00:00";
constexpr int kKills = 20;

// The driver, its output kept in `log`.
struct Child {
    std::string log;
    pid_t pid;

    Child(const std::vector<std::string>& args, const std::string& logPath) : log(logPath)
    {
        fs::remove(log);
        std::vector<std::string> argv = {CRASH_DRIVER_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        pid = test::SpawnLogged(argv, {}, log);
    }
    std::string Text() const { return test::ReadWholeFile(log); }
    // Until `line` has appeared, or the limit.
    bool WaitFor(const std::string& line) const
    {
        return test::WaitUntil([&] { return Text().find(line + "\n") != std::string::npos; }, 30000, 2);
    }
    int Finish() const
    {
        int status = 0;
        test::WaitChildFor(pid, status);
        return status;
    }
};

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

// Checks the killed program's database (intact, nothing left unconfirmed,
// every holding the engine's replay of its confirmed trades) and returns
// its holdings.
std::string CheckDatabase(const std::string& path, int& trades)
{
    CAdoDatabase db;
    if (!test::OpenChecked(db, path)) return {};
    EXPECT_EQ(db.GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeState=0"), 0);
    trades = db.GetRecordCount("SELECT * FROM T_Trade_Info WHERE TradeState=1");
    const std::string stored = test::HoldingLines(db);
    CAdoTransaction replayOnly(db);  // rolled back
    CAccountManager replay;
    replay.Init(db, 0, true, nullptr, nullptr);
    std::istringstream lines(stored);
    for (std::string h; lines >> h;) {
        TradeInfo t;
        lines >> t.AccountID >> t.FundID >> t.BuyType >> h >> h >> h;
        EXPECT_TRUE(replay.RecomputeHolding(t, false)) << replay.GetLastErrorText();
    }
    EXPECT_EQ(test::HoldingLines(db), stored);
    return stored;
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
    const std::string work = mkdtemp(tmpl), home = work + "/home", log = work + "/driver.log";
    fs::create_directory(home);
    std::ofstream(home + "/Vextal.ini") << "[Login]\r\nServerURL=" << service.Base()
                                        << "\r\nDataServerURL=" << service.Base() << "\r\n";
    const std::vector<std::string> run = {"run", home, kNow, funds[0], funds[1]};

    // Two whole runs first: the first fills the home; the second shows how
    // long a later start and its script take.
    using Steady = std::chrono::steady_clock;
    auto ms = [](Steady::duration d) { return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); };
    long startMs = 0, scriptMs = 0;
    for (int calibration = 0; calibration < 2; ++calibration) {
        const auto spawned = Steady::now();
        Child whole(run, log);
        ASSERT_TRUE(whole.WaitFor("ready")) << whole.Text();
        const auto ready = Steady::now();
        ASSERT_TRUE(whole.WaitFor("finished")) << whole.Text();
        startMs = ms(ready - spawned);
        scriptMs = ms(Steady::now() - ready);
        const int status = whole.Finish();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << whole.Text();
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
        Child child(run, log);
        if (!duringStart) {
            ASSERT_TRUE(child.WaitFor("ready")) << child.Text();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(at));
        kill(child.pid, SIGKILL);
        int status = child.Finish();
        killed += WIFSIGNALED(status);
        if (!WIFSIGNALED(status)) {
            ASSERT_EQ(WEXITSTATUS(status), 0) << child.Text();
        }
        // Where it was: the last step it reported.
        std::string last = child.Text();
        last = last.empty() ? "start" : last.substr(0, last.size() - 1);
        std::printf("kill %d: %ld ms after %s, after \"%s\"%s\n", i, at, duringStart ? "the start" : "ready",
                    last.substr(last.rfind('\n') + 1).c_str(), WIFSIGNALED(status) ? "" : " (not killed: finished)");

        int trades = 0;
        const std::string stored = CheckDatabase(home + "/Vextal.mdb", trades);
        ASSERT_FALSE(HasFailure());
        EXPECT_GE(trades, previousTrades);
        previousTrades = trades;
        std::printf("  %d confirmed trades\n%s", trades, stored.c_str());

        // A restart shows the same holdings.
        Child restart({"check", home, kNow}, log);
        status = restart.Finish();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << restart.Text();
        EXPECT_EQ(test::HoldingLinesOf(restart.Text()), stored);
    }
    // Most runs end by the kill rather than at the end of the script.
    EXPECT_GE(killed, kKills / 2);
    std::error_code ec;
    fs::remove_all(work, ec);
}
