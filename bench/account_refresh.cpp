// Refreshing an account of 200 holdings and 20,000 trades (sums, cached
// trades, average costs, income figures) against the least such a refresh
// must do: one raw read of the same trades and one in-memory cost pass over
// them. Then the annualised returns of all 200 holdings and the account.
#include <sqlite3.h>

#include <map>
#include <vector>

#include "BenchUtil.h"
#include "book/AccountManager.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "db/Schema.h"

using namespace vextal;

namespace {

struct NoFunds : IFundDirectory {
    bool IsMoneyMarketFund(const std::string&) const override { return false; }
    bool GetEstablishDate(const std::string&, OleDate&) const override { return false; }
    bool GetLatestNav(const std::string&, LatestNav& n) const override
    {
        n.TodayValue = 1.1f;
        return true;
    }
};

void Die(const std::string& why)
{
    std::fprintf(stderr, "account_refresh: %s\n", why.c_str());
    std::exit(1);
}

void Fill(CAdoDatabase& db, int holdings, int tradesPerHolding)
{
    CAdoTransaction t(db);
    db.Execute("INSERT INTO T_Account_Info(AccountID,UserID,AccountName,CreateDate) VALUES(1,1,'bench',#2020-01-01#)");
    int id = 0;
    for (int h = 0; h < holdings; ++h) {
        std::string fund = StrFormat("%06d", 100000 + h);
        db.Execute("INSERT INTO T_Fund_Trade(AccountID,FundID,BuyType,TotalCount,FreeCount,LastBonus,LastTrade) "
                   "VALUES(1,'" + fund + "',0,1000,1000,#2020-01-01#,#2020-01-01#)");
        for (int k = 0; k < tradesPerHolding; ++k) {
            int type = k % 10 == 9 ? 1 : (k % 10 == 5 ? 7 : 0);
            OleDate when = OleDate::FromParts(2015, 1, 5).AddDays(k * 7);
            db.Execute(StrFormat("INSERT INTO T_Trade_Info(TradeID,AccountID,FundID,TradeMoney,TradeCount,TradeFee,"
                                 "TradeType,TradeTime,DealTime,TradeState,BuyType,TradeValue,CostValue) VALUES(%d,1,'%s',"
                                 "%0.2f,%0.2f,1.5,%d,'%s','%s',1,0,1.05,0)",
                                 ++id, fund.c_str(), 100.0 + k, 95.0 + k % 7, type, when.Format(0).c_str(),
                                 when.Format(0).c_str()));
        }
    }
    if (!t.Commit()) Die(db.GetLastError());
}

// The floor: read the trades once, walk them once in memory.
double RawPass(sqlite3* db)
{
    struct Row {
        int id, type;
        std::string fund;
        double money, count, cost;
    };
    std::vector<Row> rows;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM T_Trade_Info WHERE AccountID=1 AND TradeState=1 ORDER BY TradeID", -1, &st,
                       nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
        Row r;
        r.id = sqlite3_column_int(st, 0);
        r.fund = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
        r.money = sqlite3_column_double(st, 3);
        r.count = sqlite3_column_double(st, 4);
        r.type = sqlite3_column_int(st, 6);
        r.cost = sqlite3_column_double(st, 14);
        rows.push_back(std::move(r));
    }
    sqlite3_finalize(st);
    std::map<std::string, std::vector<const Row*>> groups;
    for (const Row& r : rows) groups[r.fund].push_back(&r);
    double total = 0;
    for (auto& [fund, list] : groups) {
        double c = 0, n = 0, a = 0;
        for (const Row* r : list) {
            if (r->type == 0) {
                c += r->money;
                n += r->count;
                if (n != 0) a = c / n;
            } else if (r->type == 1) {
                c -= r->count * a;
                n -= r->count;
            }
        }
        total += a;
    }
    return total;
}

}  // namespace

int main()
{
    Clock::Fix(OleDate::FromParts(2024, 6, 14, 20, 0));
    bench::ScratchDir dir;
    std::string error;
    std::string path = dir.File("Vextal.mdb");
    if (!CreateDatabaseFile(path, CAdoDatabase::kDefaultPassword, error)) Die(error);
    CAdoDatabase db;
    db.SetDatabase(path, 0);
    if (!db.Open()) Die(db.GetLastError());
    Fill(db, 200, 100);

    NoFunds funds;
    CAccountManager manager;
    manager.Init(db, 1, true, nullptr, &funds);
    if (!manager.LoadAccounts(1) || !manager.LoadHoldings(1)) Die(manager.GetLastErrorText());
    manager.RecomputeCostValues();  // the first pass writes every cost value once

    double ours = bench::BestMs(5, [&](int) {
        if (!manager.RefreshAccount(1) || !manager.RecomputeCostValues()) Die(manager.GetLastErrorText());
    });
    volatile double sink = 0;
    double floor = bench::BestMs(5, [&](int) { sink = sink + RawPass(db.Handle()); });
    bench::Report("account_refresh_200_holdings_20000_trades", ours, "ms", floor, 2);

    double xirr = bench::BestMs(5, [&](int) { manager.RefreshAnnualRates(1); });
    int rated = 0;
    for (const FundTradeInfo& h : manager.FindAccount(1)->holdings) rated += h.figures.AnnualRate.has_value();
    if (rated != 200 || !manager.FindAccount(1)->AnnualRate) Die(StrFormat("only %d holdings have a rate", rated));
    bench::ReportTarget("account_xirr_200_holdings_20000_trades", xirr, "ms", 20);
    return 0;
}
