// A cold process that opens a book of 18,000 trades in 200 holdings (four
// accounts, ten money-market holdings) beside a catalogue of 2,000 funds
// and values it at the latest NAVs: the program's start with an offline
// login (the database opened with its key and checked, the catalogue and
// the latest values loaded, the accounts refreshed, the holdings read) and
// the average costs checked, each in a process of its own. The limit is a
// process that opens the same file with the key and reads the same rows
// straight from the engine into memory. Median of seven of each.
//   bench_book_cold_open [--make DIR | --open DIR | --raw DIR]
#include <sqlite3.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "app/LoginDialogLogic.h"
#include "app/MarketData.h"
#include "app/StartupSequence.h"
#include "book/AccountManager.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "db/Schema.h"

extern char** environ;

using namespace vextal;

namespace {

constexpr int kUserId = 7;
constexpr int kAccounts = 4;
constexpr int kHoldings = 200;
constexpr int kTradesPerHolding = 90;
constexpr int kFunds = 2000;
constexpr int kRuns = 7;

OleDate Now() { return OleDate::FromParts(2026, 12, 4, 21, 0, 0); }

[[noreturn]] void Die(const std::string& why)
{
    std::fprintf(stderr, "book_cold_open: %s\n", why.c_str());
    std::exit(1);
}

double MsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// ---- the book ---------------------------------------------------------------

void Exec(CAdoDatabase& db, const std::string& sql, const FieldValueList& values = {})
{
    if (!(values.empty() ? db.Execute(sql) : db.ExecuteBound(sql, values))) Die(db.GetLastError() + ": " + sql);
}

void FillCatalogue(CAdoDatabase& db)
{
    for (int c = 0; c < 40; ++c)
        Exec(db, "INSERT INTO T_Fund_Company(CompanyID,CompanyName,CompanyURL,CompanyType) VALUES(?,?,?,?)",
             {{"CompanyID", StrFormat("%04d", c)}, {"CompanyName", StrFormat("基金公司%02d", c)},
              {"CompanyURL", "http://example.com/"}, {"CompanyType", "1"}});
    for (int f = 0; f < kFunds; ++f) {
        const bool moneyMarket = f % 20 == 19;
        const std::string id = StrFormat("%06d", 100000 + f);
        Exec(db, "INSERT INTO T_Fund_Info(FundID,CompanyID,FundName,FundShortName,FundTypeID,InvestTypeID,BankID,"
                 "FundURL,CreateDate) VALUES(?,?,?,?,?,?,?,?,?)",
             {{"FundID", id}, {"CompanyID", StrFormat("%04d", f % 40)}, {"FundName", "测试基金" + id},
              {"FundShortName", "测试" + id}, {"FundTypeID", 1}, {"InvestTypeID", moneyMarket ? 4 : 1},
              {"BankID", 0}, {"FundURL", ""}, {"CreateDate", OleDate::FromParts(2010, 1, 4)}});
        const double nav = moneyMarket ? 0.6 + (f % 7) * 0.05 : 0.9 + (f % 37) * 0.05;
        const double pct = moneyMarket ? 2.1 : ((f % 9) - 4) * 0.4;
        Exec(db, "INSERT INTO T_New_Fund_Value(FundID,TodayValue,VarPercent,TotalValue,VarValue,WeekVarPercent,"
                 "MonthVarPercent,OneMonthVar,TwoMonthVar,ThreeMonthVar,ValueDate,TotalValue1) "
                 "VALUES(?,?,?,?,?,0,0,0,0,0,?,?)",
             {{"FundID", id}, {"TodayValue", nav}, {"VarPercent", pct}, {"TotalValue", nav + 0.3},
              {"VarValue", nav * pct / 100}, {"ValueDate", Now().DateOnly()}, {"TotalValue1", nav + 0.3}});
    }
}

// Purchases with a redemption and a cash dividend in every ten trades; the
// holding's count is what its trades give. Average costs are left to the
// engine (below).
void FillBook(CAdoDatabase& db)
{
    Exec(db, StrFormat("INSERT INTO T_User_Info(UserID,LoginName,UserPwd) VALUES(%d,'demo','demo123')", kUserId));
    for (int a = 1; a <= kAccounts; ++a)
        Exec(db, StrFormat("INSERT INTO T_Account_Info(AccountID,UserID,AccountName,AccountType,TotalMoney,FreeMoney,"
                           "FundCount,CreateDate) VALUES(%d,%d,'帐户%d',0,0,0,%d,#2019-12-01 00:00:00#)",
                           a, kUserId, a, kHoldings / kAccounts));
    int tradeId = 0;
    for (int h = 0; h < kHoldings; ++h) {
        const int account = 1 + h % kAccounts;
        const int fund = h < 190 ? h * 10 : (h - 190) * 20 + 19;  // the last ten money-market funds
        const std::string id = StrFormat("%06d", 100000 + fund);
        const bool moneyMarket = fund % 20 == 19;
        double count = 0, cash = 0;
        OleDate when = OleDate::FromParts(2020, 1, 6, 10, 0);
        for (int k = 0; k < kTradesPerHolding; ++k, when = when.AddDays(13)) {
            const double nav = moneyMarket ? 1.0 : 1.0 + (k % 17) * 0.03 + (h % 5) * 0.1;
            int type = kTradeBuy;
            double money = 1000 + (k % 13) * 50, n = Round2(money * 0.985 / nav);
            if (k % 10 == 9) {
                type = kTradeRedeem;
                n = Round2(count * 0.3);
                money = Round2(n * nav * 0.995);
            } else if (k % 10 == 5 && !moneyMarket) {
                type = kTradeCashBonus;
                money = Round2(count * 0.02);
                n = 0;
                cash += money;
            }
            count = Round2(count + (type == kTradeBuy ? n : type == kTradeRedeem ? -n : 0));
            Exec(db, "INSERT INTO T_Trade_Info(TradeID,AccountID,FundID,TradeMoney,TradeCount,TradeFee,TradeType,"
                     "TradeTime,DealTime,TradeState,BuyType,TradeValue,CostValue) VALUES(?,?,?,?,?,1.5,?,?,?,1,0,?,0)",
                 {{"TradeID", ++tradeId}, {"AccountID", account}, {"FundID", id}, {"TradeMoney", money},
                  {"TradeCount", n}, {"TradeType", type}, {"TradeTime", when}, {"DealTime", when}, {"TradeValue", nav}});
        }
        Exec(db, "INSERT INTO T_Fund_Trade(AccountID,FundID,BuyType,TotalCount,FreeCount,TradeValue,BonusType,CashBonus,"
                 "TotalBonus,LastBonus,LastTrade,SaleFee,SaleFeeMoney,CashBonusNew) VALUES(?,?,0,?,?,0,0,?,?,?,?,0.5,0,?)",
             {{"AccountID", account}, {"FundID", id}, {"TotalCount", count}, {"FreeCount", count},
              {"CashBonus", Round2(cash)}, {"TotalBonus", Round2(cash)}, {"LastBonus", Now().DateOnly()},
              {"LastTrade", when}, {"CashBonusNew", Round2(cash)}});
    }
}

void MakeHome(const std::string& home)
{
    const std::string path = home + "/Vextal.mdb";
    std::string error;
    if (!CreateDatabaseFile(path, CAdoDatabase::kDefaultPassword, error)) Die(error);
    CAdoDatabase db;
    db.SetDatabase(path, 0);
    if (!db.Open()) Die(db.GetLastError());
    {
        CAdoTransaction t(db);
        FillCatalogue(db);
        FillBook(db);
        if (!t.Commit()) Die(db.GetLastError());
    }
    // The stored average costs the engine's own pass gives.
    CAccountManager engine;
    engine.Init(db, kUserId, true, nullptr, nullptr);
    engine.SkipDividendsAll();
    if (!engine.LoadAccounts(kUserId) || !engine.LoadHoldings(0) || !engine.RecomputeCostValues())
        Die(engine.GetLastErrorText());
    sqlite3_wal_checkpoint_v2(db.Handle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    db.Close();
    std::ofstream(home + "/Vextal.ini") << "[Login]\nServerURL=http://127.0.0.1:9/\n";
}

// ---- the two kinds of process -------------------------------------------------

struct Prompt : IUserPrompt {
    void ShowMessage(const std::string& text, PromptIcon) override { Die("message: " + text); }
    bool AskYesNo(const std::string&) override { return false; }
};

// The program's start, offline; prints its time and what it valued.
int OpenBook(const std::string& home)
{
    const auto t0 = std::chrono::steady_clock::now();
    Clock::Fix(Now());
    Prompt prompt;
    std::unique_ptr<CMarketData> market;
    CStartupCallbacks cb;
    cb.documentCreated = [&market](CVextalDoc& doc) {
        market = std::make_unique<CMarketData>(doc);
        market->Attach();
    };
    cb.runLoginDialog = [&prompt](CVextalDoc& doc) {
        CLoginDialogLogic dialog(doc, prompt);
        return dialog.OnLogin({"demo", "demo123", false, true});
    };
    CStartupSequence seq(prompt, cb);
    CStartupOptions options;
    options.args = {"--home", home};
    options.programFile = home + "/Vextal";
    if (seq.Start(options) != StartupResult::Running) Die("the start did not log in");
    CAccountManager& accounts = seq.GetDocument()->Accounts();
    if (!accounts.RecomputeCostValues()) Die(accounts.GetLastErrorText());
    const double ms = MsSince(t0);
    double value = 0;
    size_t holdings = 0, trades = 0;
    for (const auto& [id, a] : accounts.Accounts()) {
        value += a->MarketValue;
        holdings += a->holdings.size();
        trades += a->trades.size();
    }
    std::printf("%.3f %zu %zu %.2f\n", ms, holdings, trades, value);
    std::fflush(stdout);
    seq.Shutdown();
    return 0;
}

// The same rows straight from the engine: every column of every row into memory.
int RawRead(const std::string& home)
{
    const auto t0 = std::chrono::steady_clock::now();
    sqlite3* db = nullptr;
    const std::string path = home + "/Vextal.mdb";
    // Opened as the program opens it: one thread per connection, no locks.
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        Die("raw open");
    sqlite3_key(db, CAdoDatabase::kDefaultPassword, static_cast<int>(std::strlen(CAdoDatabase::kDefaultPassword)));
    struct Cell {
        long long i = 0;
        double d = 0;
        std::string s;
    };
    std::vector<Cell> cells;
    size_t rows = 0;
    const std::string accounts = StrFormat("(SELECT AccountID FROM T_Account_Info WHERE UserID=%d)", kUserId);
    for (const std::string& sql :
         {StrFormat("SELECT * FROM T_User_Info WHERE UserID=%d", kUserId), std::string("SELECT * FROM T_Fund_Company"),
          std::string("SELECT * FROM T_Fund_Info"), std::string("SELECT * FROM T_New_Fund_Value"),
          StrFormat("SELECT * FROM T_Account_Info WHERE UserID=%d", kUserId),
          "SELECT * FROM T_Fund_Trade WHERE AccountID IN" + accounts,
          "SELECT * FROM T_Trade_Info WHERE AccountID IN" + accounts + " AND TradeState<>2"}) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Die(sqlite3_errmsg(db));
        const int n = sqlite3_column_count(st);
        while (sqlite3_step(st) == SQLITE_ROW) {
            ++rows;
            for (int c = 0; c < n; ++c) {
                Cell cell;
                switch (sqlite3_column_type(st, c)) {
                case SQLITE_INTEGER: cell.i = sqlite3_column_int64(st, c); break;
                case SQLITE_FLOAT: cell.d = sqlite3_column_double(st, c); break;
                case SQLITE_TEXT: cell.s = reinterpret_cast<const char*>(sqlite3_column_text(st, c)); break;
                default: break;
                }
                cells.push_back(std::move(cell));
            }
        }
        sqlite3_finalize(st);
    }
    const double ms = MsSince(t0);
    std::printf("%.3f %zu\n", ms, rows);
    std::fflush(stdout);
    sqlite3_close_v2(db);
    return 0;
}

// Runs this program with `mode` and returns the time it printed.
double RunChild(const char* self, const char* mode, const std::string& home, std::string& line)
{
    int out[2];
    if (pipe(out) != 0) Die("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string homeArg = home;
    char* argv[] = {const_cast<char*>(self), const_cast<char*>(mode), homeArg.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, self, &actions, nullptr, argv, environ) != 0) Die("spawn");
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    line.clear();
    char buf[256];
    ssize_t n = 0;
    while ((n = read(out[0], buf, sizeof buf)) > 0) line.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die(std::string(mode) + " failed");
    const std::optional<double> ms = ParseNumber(line.substr(0, line.find(' ')));
    if (!ms) Die("no time from " + std::string(mode));
    return *ms;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--open") == 0) return OpenBook(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--raw") == 0) return RawRead(argv[2]);
    // The book alone, in a folder of one's choice: to profile the two kinds by hand.
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0) {
        std::filesystem::create_directories(argv[2]);
        Clock::Fix(Now());
        MakeHome(argv[2]);
        return 0;
    }

    bench::ScratchDir dir;
    const std::string home = dir.File("home");
    std::filesystem::create_directories(home);
    Clock::Fix(Now());
    MakeHome(home);

    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<double> ours, raw;
    std::string line, first;
    for (int i = 0; i < kRuns; ++i) {
        raw.push_back(RunChild(self.c_str(), "--raw", home, line));
        ours.push_back(RunChild(self.c_str(), "--open", home, line));
        if (i == 0) first = line;
        else if (line.substr(line.find(' ')) != first.substr(first.find(' ')))
            Die("the figures changed between two starts: " + first + " / " + line);
    }
    // holdings, trades and the market value the start gave
    std::printf("book_cold_open: %s", first.substr(first.find(' ') + 1).c_str());
    const double o = Median(ours), r = Median(raw);
    bench::Report("book_cold_open_18000_trades_200_holdings", o, "ms", r, 1.5);
    bench::ReportTarget("book_cold_open_18000_trades_200_holdings_time", o, "ms", 150);
    return 0;
}
