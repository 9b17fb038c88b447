// The market downloads at today's market size, each against the same
// machine's floor measured in the same run: the raw HTTP fetch of the same
// answer plus a raw prepared-statement insert of the same rows in one
// transaction. The answers come from plindo-serve on loopback, asked once
// before timing so its own computing is not measured.
#include <sqlite3.h>

#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "ServiceProcess.h"
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

std::string Code(int i) { return StrFormat("%06d", 100000 + i); }

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
    const OleDate now = OleDate::FromParts(2024, 1, 9, 21);
    Clock::Fix(now);
    const int kRuns = 3;

    // The largest market the service makes: some 20,000 funds, 9,000 of them open-end.
    CServiceProcess service(PLINDO_SERVE_PATH, {"--funds", "20000", "--now", "2024-01-09 21:00:00", "--quiet"});
    if (service.Port() <= 0) Die("plindo-serve did not start");
    CommandContext anonymous{MakeCommandUrl(service.Base()), "", ""};
    CommandReply login = SendLogin(anonymous, "demo", "demo123", "3.25");
    if (!login.ok()) Die(login.error);
    CommandContext ctx{anonymous.commandUrl, login.serverId, ""};

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

    // The catalogue, also to pick the fund and classify the class list.
    CommandReply funds = SendFundList(ctx);
    if (!funds.ok()) Die(funds.error);
    const int kCatalogue = static_cast<int>(funds.fields.size() / 11);
    // The open-end fund whose history is closest to 5,000 NAV days (about 20 years).
    std::string fundId;
    double best = 1e9;
    const OleDate target = OleDate::FromParts(2003, 10, 1);
    for (size_t i = 0; i + 10 < funds.fields.size(); i += 11) {
        OleDate created;
        if (funds.fields[i + 4] != "1" || funds.fields[i + 5] == "4" || !OleDate::Parse(funds.fields[i + 8], created))
            continue;
        double gap = std::abs(created.dt - target.dt);
        if (gap < best) {
            best = gap;
            fundId = funds.fields[i];
        }
    }
    const std::string historyData = fundId + "|1990-01-01|" + now.Format(1) + "|0";
    CommandReply history = SendFundHistory(ctx, fundId, OleDate::FromParts(1990, 1, 1), now, 0);
    if (!history.ok()) Die(history.error);
    const int kHistory = static_cast<int>(history.fields.size() / 5);
    if (!SendClassValues(ctx, 1, "").ok()) Die("class list");  // the service computes it once

    // One fund's whole history.
    {
        auto ours = files(kRuns), raw = files(kRuns);
        double t = bench::BestMs(kRuns, [&](int i) {
            CNavHistory h(ours[static_cast<size_t>(i)]);
            h.SetSession(ctx, false);
            if (!h.IncrementalDownloadFund(fundId)) Die(h.GetLastError());
        });
        double limit = bench::BestMs(kRuns, [&](int i) {
            Fetch(ctx.commandUrl, BuildCommand(2, 11, historyData, ctx.loginId));
            RawInsert(raw[static_cast<size_t>(i)].Handle(),
                      "INSERT INTO T_Fund_Value(FundID,TodayValue,TotalValue,VarPercent,VarValue,ValueDate) VALUES(" +
                          Placeholders(6) + ")",
                      kHistory, 6);
        });
        bench::Report(StrFormat("fund_history_%d_records", kHistory).c_str(), t, "ms", limit, 3);
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
            Fetch(ctx.commandUrl, BuildCommand(1, 11, "", ctx.loginId));
            RawInsert(raw[static_cast<size_t>(i)].Handle(),
                      "INSERT INTO T_Fund_Info(FundID,CompanyID,FundName,FundShortName,FundTypeID,InvestTypeID,"
                      "BankID,FundURL,NewFundCount,OldFundCount,CreateDate) VALUES(" +
                          Placeholders(11) + ")",
                      kCatalogue, 11);
        });
        bench::Report(StrFormat("catalogue_%d_funds_download", kCatalogue).c_str(), t, "ms", limit, 3);

        double load = bench::BestMs(kRuns, [&](int i) {
            CFundCatalogue cat(ours[static_cast<size_t>(i)]);
            if (!cat.LoadFundInfos() || cat.Funds().empty()) Die("load");
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
        bench::Report(StrFormat("catalogue_%d_funds_load", kCatalogue).c_str(), load, "ms", rawLoad, 5);
    }

    // A whole-class download of the open-end funds.
    {
        std::vector<CAdoDatabase> ours = files(kRuns), raw = files(kRuns);
        std::vector<std::unique_ptr<CFundCatalogue>> cats;
        for (auto& db : ours) {
            // The catalogue classifies the funds; filled before timing.
            cats.push_back(std::make_unique<CFundCatalogue>(db));
            cats.back()->SetSession(ctx, false);
            if (!cats.back()->DownloadFundInfos()) Die(cats.back()->GetLastError());
        }
        size_t kClass = 0;
        double t = bench::BestMs(kRuns, [&](int i) {
            CLatestValueCache values(ours[static_cast<size_t>(i)], *cats[static_cast<size_t>(i)]);
            values.SetSession(ctx, false);
            int rc = values.DownloadClassValues(1, true);
            if (rc != kMarketOk || values.Values().empty()) Die(values.GetLastError());
            kClass = values.Values().size();
        });
        double limit = bench::BestMs(kRuns, [&](int i) {
            Fetch(ctx.commandUrl, BuildCommand(2, 1, "", ctx.loginId));
            sqlite3* h = raw[static_cast<size_t>(i)].Handle();
            RawInsert(h,
                      "INSERT INTO T_New_Fund_Value(FundID,TodayValue,TotalValue,TotalValue1,VarPercent,VarValue,"
                      "WeekVarPercent,MonthVarPercent,OneMonthVar,TwoMonthVar,ThreeMonthVar,ValueDate) VALUES(" +
                          Placeholders(12) + ")",
                      static_cast<int>(kClass), 12);
            RawInsert(h,
                      "INSERT INTO T_New_Income(FundID,WeekIncome,MonthIncome,TwoMonthIncome,ThreeMonthIncome,"
                      "SixMonthIncome,OneYearIncome,ThisYearIncome,YearAvgIncome,TotalIncome,LastYearIncome,"
                      "IncomeSum22,IncomeSum44,LastCalcDate) VALUES(" +
                          Placeholders(14) + ")",
                      static_cast<int>(kClass), 14);
        });
        bench::Report(StrFormat("class_values_%zu_funds", kClass).c_str(), t, "ms", limit, 3);
    }
    return 0;
}
