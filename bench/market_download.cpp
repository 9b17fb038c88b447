// The market downloads at today's market size, each against the same
// machine's floor measured in the same run: the raw HTTP fetch of the same
// answer plus a raw prepared-statement insert of the same rows in one
// transaction. The service is a loopback stand-in serving prepared answers.
#include <httplib.h>
#include <sqlite3.h>

#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "db/AdoDatabase.h"
#include "db/Schema.h"
#include "market/FundCatalogue.h"
#include "market/LatestValueCache.h"
#include "market/NavHistory.h"
#include "net/Cipher.h"
#include "net/ClientCommands.h"
#include "net/CommandProtocol.h"
#include "net/HttpTransport.h"

using namespace vextal;

namespace {

[[noreturn]] void Die(const std::string& why)
{
    std::fprintf(stderr, "market_download: %s\n", why.c_str());
    std::exit(1);
}

std::string Wrap(const std::string& inner)
{
    return "<?xml version=\"1.0\"?>\r\n<CommandResult xmlns=\"" + std::string(kCommandNamespace) + "\">" + inner +
           "</CommandResult>";
}

std::string Code(int i) { return StrFormat("%06d", 100000 + i); }

std::string FundList(int count)
{
    std::vector<std::string> f;
    for (int i = 0; i < count; ++i) {
        std::vector<std::string> r = {Code(i), StrFormat("%04d", i % 90), "Fund" + std::to_string(i), "F" + std::to_string(i),
                                      "1", std::to_string(1 + i % 3), std::to_string(1 + i % 13),
                                      "http://f/" + Code(i), "2008-06-19", "1.50", "2.50"};
        f.insert(f.end(), r.begin(), r.end());
    }
    return JoinFields(f);
}

std::string History(int count)
{
    std::vector<std::string> f;
    OleDate d = OleDate::FromParts(2004, 1, 2);
    for (int i = 0; i < count; ++i, d = d.AddDays(d.DayOfWeek() == 5 ? 3 : 1)) {
        float v = 1.0f + 0.0003f * static_cast<float>(i % 1000);
        f.insert(f.end(), {d.Format(1), StrFormat("%0.4f", v), StrFormat("%0.4f", v + 0.5f), "0.12", "0.0012"});
    }
    return JoinFields(f);
}

std::string ClassValues(int count)
{
    std::vector<std::string> f;
    for (int i = 0; i < count; ++i) {
        f.insert(f.end(), {"2024-01-09", EncryptText(Code(i), kCipherKey), "1.2345", "2.3456", "0.52", "0.0064",
                           "0.8", "1.9", "0.8", "1.9", "3.1", "4.2", "6.3", "12.5", "2.1", "8.8", "140.2", "22", "44",
                           "2.4456"});
    }
    return EncryptText(JoinFields(f), kCipherKey);
}

struct Stub {
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::map<std::string, std::string> answers;  // "type/id" -> whole answer

    void Start()
    {
        server.Post("/plindo/client/ClientService.asmx/SendCommand",
                    [this](const httplib::Request& req, httplib::Response& res) {
                        auto it = answers.find(req.get_param_value("cmdtype") + "/" + req.get_param_value("cmdid"));
                        res.set_content(it == answers.end() ? Wrap("<Ret>-1</Ret><Msg>x</Msg>") : it->second,
                                        "text/xml");
                    });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Stub()
    {
        server.stop();
        if (thread.joinable()) thread.join();
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(port) + "/"; }
};

// The floor: fetch the same answer, then insert `rows` rows of `columns`
// values through one prepared statement in one transaction.
void RawInsert(sqlite3* db, const std::string& sql, int rows, int columns)
{
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) Die(sqlite3_errmsg(db));
    for (int r = 0; r < rows; ++r) {
        std::string key = Code(r);
        std::string date = "2024-01-09 00:00:00";
        sqlite3_bind_text(st, 1, key.c_str(), -1, SQLITE_TRANSIENT);
        for (int c = 2; c <= columns; ++c) {
            if (c == columns)
                sqlite3_bind_text(st, c, date.c_str(), -1, SQLITE_TRANSIENT);
            else
                sqlite3_bind_double(st, c, 1.25 + c);
        }
        if (sqlite3_step(st) != SQLITE_DONE) Die(sqlite3_errmsg(db));
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) Die(sqlite3_errmsg(db));
}

std::string Placeholders(int n)
{
    std::string s;
    for (int i = 0; i < n; ++i) s += i ? ",?" : "?";
    return s;
}

void Fetch(const std::string& url, const std::string& body)
{
    std::string answer;
    if (!HttpPostCommand(url, answer, body, std::string())) Die("fetch failed");
}

}  // namespace

int main()
{
    HttpConfig config;
    config.noProxy = "*";
    SetHttpConfig(config);
    Clock::Fix(OleDate::FromParts(2024, 1, 9, 20));
    const int kRuns = 3;
    const int kHistory = 5000, kClass = 10000, kCatalogue = 20000;

    Stub stub;
    stub.answers["2/11"] = Wrap("<Ret>0</Ret><Msg>" + History(kHistory) + "</Msg>");
    stub.answers["2/1"] = Wrap("<Ret>0</Ret><Msg>V1</Msg><Msg2>" + ClassValues(kClass) + "</Msg2>");
    stub.answers["1/11"] = Wrap("<Ret>0</Ret><Msg>" + FundList(kCatalogue) + "</Msg>");
    stub.Start();
    CommandContext ctx{MakeCommandUrl(stub.Base()), "bench", ""};

    bench::ScratchDir dir;
    int fileNo = 0;
    auto fresh = [&]() {
        std::string path = dir.File(StrFormat("f%d.mdb", fileNo++)), error;
        if (!CreateDatabaseFile(path, CAdoDatabase::kDefaultPassword, error)) Die(error);
        CAdoDatabase db;
        db.SetDatabase(path, 1);
        if (!db.Open()) Die(db.GetLastError());
        return db;
    };
    auto files = [&](int n) {
        std::vector<CAdoDatabase> v;
        for (int i = 0; i < n; ++i) v.push_back(fresh());
        return v;
    };

    // One fund's whole history.
    {
        auto ours = files(kRuns), raw = files(kRuns);
        double t = bench::BestMs(kRuns, [&](int i) {
            CNavHistory history(ours[static_cast<size_t>(i)]);
            history.SetSession(ctx, false);
            if (!history.IncrementalDownloadFund("110011")) Die(history.GetLastError());
        });
        double limit = bench::BestMs(kRuns, [&](int i) {
            Fetch(ctx.commandUrl, BuildCommand(2, 11, "110011|1990-01-01|2024-01-09|0", "bench"));
            RawInsert(raw[static_cast<size_t>(i)].Handle(),
                      "INSERT INTO T_Fund_Value(FundID,TodayValue,TotalValue,VarPercent,VarValue,ValueDate) VALUES(" +
                          Placeholders(6) + ")",
                      kHistory, 6);
        });
        bench::Report("fund_history_5000_records", t, "ms", limit, 3);
    }

    // The fund catalogue: download and store, then the load at login.
    {
        auto ours = files(kRuns), raw = files(kRuns);
        double t = bench::BestMs(kRuns, [&](int i) {
            CFundCatalogue cat(ours[static_cast<size_t>(i)]);
            cat.SetSession(ctx, false);
            if (!cat.DownloadFundInfos()) Die(cat.GetLastError());
        });
        double limit = bench::BestMs(kRuns, [&](int i) {
            Fetch(ctx.commandUrl, BuildCommand(1, 11, "", "bench"));
            RawInsert(raw[static_cast<size_t>(i)].Handle(),
                      "INSERT INTO T_Fund_Info(FundID,CompanyID,FundName,FundShortName,FundTypeID,InvestTypeID,"
                      "BankID,FundURL,NewFundCount,OldFundCount,CreateDate) VALUES(" +
                          Placeholders(11) + ")",
                      kCatalogue, 11);
        });
        bench::Report("catalogue_20000_funds_download", t, "ms", limit, 3);

        double load = bench::BestMs(kRuns, [&](int i) {
            CFundCatalogue cat(ours[static_cast<size_t>(i)]);
            if (!cat.LoadFundInfos() || cat.Funds().size() != kCatalogue) Die("load");
        });
        double rawLoad = bench::BestMs(kRuns, [&](int i) {
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(ours[static_cast<size_t>(i)].Handle(), "SELECT * FROM T_Fund_Info ORDER BY FundName",
                               -1, &st, nullptr);
            size_t bytes = 0;
            while (sqlite3_step(st) == SQLITE_ROW)
                for (int c = 0; c < sqlite3_column_count(st); ++c) bytes += static_cast<size_t>(sqlite3_column_bytes(st, c));
            sqlite3_finalize(st);
            if (bytes == 0) Die("raw load");
        });
        bench::Report("catalogue_20000_funds_load", load, "ms", rawLoad, 5);
    }

    // A whole-class download of the open-end funds.
    {
        std::vector<CAdoDatabase> ours = files(kRuns), raw = files(kRuns);
        std::vector<std::unique_ptr<CFundCatalogue>> cats;
        for (auto& db : ours) {
            // The catalogue classifies the funds; filled before timing.
            cats.push_back(std::make_unique<CFundCatalogue>(db));
            cats.back()->SetSession(ctx, false);
            stub.answers["1/11"] = Wrap("<Ret>0</Ret><Msg>" + FundList(kClass) + "</Msg>");
            if (!cats.back()->DownloadFundInfos()) Die(cats.back()->GetLastError());
        }
        double t = bench::BestMs(kRuns, [&](int i) {
            CLatestValueCache values(ours[static_cast<size_t>(i)], *cats[static_cast<size_t>(i)]);
            values.SetSession(ctx, false);
            int rc = values.DownloadClassValues(1, true);
            if (rc != kMarketOk || values.Values().size() != kClass) Die(values.GetLastError());
        });
        double limit = bench::BestMs(kRuns, [&](int i) {
            Fetch(ctx.commandUrl, BuildCommand(2, 1, "", "bench"));
            sqlite3* h = raw[static_cast<size_t>(i)].Handle();
            RawInsert(h,
                      "INSERT INTO T_New_Fund_Value(FundID,TodayValue,TotalValue,TotalValue1,VarPercent,VarValue,"
                      "WeekVarPercent,MonthVarPercent,OneMonthVar,TwoMonthVar,ThreeMonthVar,ValueDate) VALUES(" +
                          Placeholders(12) + ")",
                      kClass, 12);
            RawInsert(h,
                      "INSERT INTO T_New_Income(FundID,WeekIncome,MonthIncome,TwoMonthIncome,ThreeMonthIncome,"
                      "SixMonthIncome,OneYearIncome,ThisYearIncome,YearAvgIncome,TotalIncome,LastYearIncome,"
                      "IncomeSum22,IncomeSum44,LastCalcDate) VALUES(" +
                          Placeholders(14) + ")",
                      kClass, 14);
        });
        bench::Report("class_values_10000_funds", t, "ms", limit, 3);
    }
    return 0;
}
