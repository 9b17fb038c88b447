// Storing NAV history the way the program does (look the row up by key, then
// insert or update through CAdoDatabase, all in one transaction) against a
// raw prepared-statement insert of the same rows in one transaction.
#include <sqlite3.h>

#include <vector>

#include "BenchUtil.h"
#include "common/Format.h"
#include "common/OleDate.h"
#include "db/AdoDatabase.h"
#include "db/Schema.h"

using namespace vextal;

namespace {

struct Nav {
    std::string fund;
    OleDate date;
    float today, percent, total, var;
};

std::vector<Nav> MakeRows(int count)
{
    std::vector<Nav> rows;
    rows.reserve(static_cast<size_t>(count));
    OleDate start = OleDate::FromParts(2010, 1, 4);
    for (int i = 0; i < count; ++i) {
        int fund = i % 5;
        int day = i / 5;
        float v = 1.0f + 0.001f * static_cast<float>(day % 300);
        rows.push_back({StrFormat("%06d", 110000 + fund), start.AddDays(day), v, 0.1f, v + 0.5f, 0.001f});
    }
    return rows;
}

bool Die(const std::string& why)
{
    std::fprintf(stderr, "nav_store: %s\n", why.c_str());
    std::exit(1);
}

void StoreLikeTheProgram(CAdoDatabase& db, const std::vector<Nav>& rows)
{
    CAdoTransaction trans(db);
    for (const Nav& r : rows) {
        std::string key = " WHERE FundID=" + SqlQuote(r.fund) + " AND ValueDate=#" + r.date.Format(0) + "#";
        FieldValueList fields = {{"FundID", r.fund},       {"TodayValue", r.today}, {"VarPercent", r.percent},
                                 {"TotalValue", r.total},  {"VarValue", r.var},     {"ValueDate", r.date}};
        if (!db.OpenRecordset("SELECT FundID FROM T_Fund_Value" + key)) Die(db.GetLastError());
        bool exists = db.HasRecord();
        db.CloseRecordset();
        bool ok = exists ? db.UpdateRecord("T_Fund_Value", fields, key) : db.InsertRecord("T_Fund_Value", fields);
        if (!ok) Die(db.GetLastError());
    }
    if (!trans.Commit()) Die(db.GetLastError());
}

void StoreRaw(sqlite3* db, const std::vector<Nav>& rows)
{
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO T_Fund_Value(FundID,TodayValue,VarPercent,TotalValue,VarValue,ValueDate) "
                       "VALUES(?,?,?,?,?,?)",
                       -1, &st, nullptr);
    for (const Nav& r : rows) {
        std::string date = r.date.Format(0);
        sqlite3_bind_text(st, 1, r.fund.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(st, 2, r.today);
        sqlite3_bind_double(st, 3, r.percent);
        sqlite3_bind_double(st, 4, r.total);
        sqlite3_bind_double(st, 5, r.var);
        sqlite3_bind_text(st, 6, date.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) != SQLITE_DONE) Die(sqlite3_errmsg(db));
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) Die(sqlite3_errmsg(db));
}

}  // namespace

int main()
{
    const int kRows = 5000;
    const int kRuns = 3;
    std::vector<Nav> rows = MakeRows(kRows);
    bench::ScratchDir dir;

    // Both sides write to a fresh, keyed file of the program's schema.
    auto freshFile = [&](const std::string& name) {
        std::string error;
        if (!CreateDatabaseFile(dir.File(name), CAdoDatabase::kDefaultPassword, error)) Die(error);
        return dir.File(name);
    };

    // Keying and opening a file costs tens of milliseconds: done before timing.
    std::vector<CAdoDatabase> ourFiles(kRuns), rawFiles(kRuns);
    for (int i = 0; i < kRuns; ++i) {
        ourFiles[static_cast<size_t>(i)].SetDatabase(freshFile(StrFormat("ours%d.mdb", i)), 0);
        rawFiles[static_cast<size_t>(i)].SetDatabase(freshFile(StrFormat("raw%d.mdb", i)), 0);
        if (!ourFiles[static_cast<size_t>(i)].Open()) Die(ourFiles[static_cast<size_t>(i)].GetLastError());
        if (!rawFiles[static_cast<size_t>(i)].Open()) Die(rawFiles[static_cast<size_t>(i)].GetLastError());
    }
    double ours = bench::BestMs(kRuns, [&](int i) { StoreLikeTheProgram(ourFiles[static_cast<size_t>(i)], rows); });
    double raw = bench::BestMs(kRuns, [&](int i) { StoreRaw(rawFiles[static_cast<size_t>(i)].Handle(), rows); });
    bench::Report("nav_store_5000_rows", ours, "ms", raw, 5);
    return 0;
}
