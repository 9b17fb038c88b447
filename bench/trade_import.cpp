// A CSV import of 1,000 trades over three funds into an empty account,
// against the real plindo-serve. The import cannot do less than ask the
// service for each row's confirming NAV (the service answers one trade time
// per question) and write the rows; the limit is exactly that, measured in
// the same run: the same price questions one after another plus the same
// rows inserted by raw SQL in one transaction. The ratio says what the
// engine costs on top: per row it runs about fifteen statements (the form's
// checks, the holding, its dividends, the trade and its final state), each
// through the Jet translation, where the limit runs one insert; a ratio up to
// 4 is that and no more. Booking row by row with a recomputation of the
// whole account after each row measured a ratio above 30 here.
#include <cstdio>
#include <string>

#include "BenchService.h"
#include "BenchUtil.h"
#include "book/AccountManager.h"
#include "book/BookServiceClient.h"
#include "book/TradeImport.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "db/Schema.h"
#include "market/FundCatalogue.h"
#include "net/ClientCommands.h"
#include "net/HttpTransport.h"

using namespace vextal;

namespace {

constexpr int kRows = 1000;

struct CatalogueDirectory : IFundDirectory {
    const CFundCatalogue& catalogue;
    explicit CatalogueDirectory(const CFundCatalogue& c) : catalogue(c) {}
    bool IsMoneyMarketFund(const std::string& id) const override { return catalogue.IsMoneyMarketFund(id); }
    bool GetEstablishDate(const std::string& id, OleDate& d) const override
    {
        const CFundInfo* f = catalogue.FindFund(id);
        if (!f) return false;
        d = f->CreateDate;
        return true;
    }
    bool GetLatestNav(const std::string&, LatestNav&) const override { return false; }
};

int Die(const std::string& why)
{
    std::fprintf(stderr, "trade_import: %s\n", why.c_str());
    return 1;
}

// One row a calendar day from 2021-01-04 at 10:00: purchases with rate and
// yuan fees, every tenth a redemption of 50 shares.
std::string File(const std::vector<std::string>& funds)
{
    std::string text = "日期,基金代码,类型,金额或份数,手续费\n";
    for (int i = 0; i < kRows; ++i) {
        const std::string date = OleDate::FromParts(2021, 1, 4, 10, 0, 0).AddDays(i).Format(0);
        const std::string& fund = funds[i % funds.size()];
        if (i % 10 == 9) text += date + "," + fund + ",赎回,50,0.5\n";
        else text += date + "," + fund + ",申购," + std::to_string(1000 + i) + (i % 2 ? ",1.5\n" : ",8元\n");
    }
    return text;
}

}  // namespace

int main()
{
    bench::Service service("trade_import", {"--funds", "300", "--now", "2024-10-09 21:00:00", "--quiet"});
    Clock::Fix(OleDate::FromParts(2024, 10, 9, 21, 0, 0));
    CommandReply login;
    CommandContext ctx = service.DemoLogin(&login);
    const int userId = static_cast<int>(login.fields.empty() ? 0 : IntegerOr(login.fields[0], 0));
    if (ctx.loginId.empty() || userId == 0) return Die("login failed: " + login.error);

    bench::ScratchDir dir;
    std::string error;
    if (!CreateDatabaseFile(dir.File("Vextal.mdb"), CAdoDatabase::kDefaultPassword, error)) return Die(error);
    CAdoDatabase db;
    db.SetDatabase(dir.File("Vextal.mdb"), 0);
    if (!db.Open()) return Die(db.GetLastError());
    CFundCatalogue catalogue(db);
    catalogue.SetSession(ctx, false);
    if (!catalogue.DownloadFundCompanies() || !catalogue.DownloadFundInfos()) return Die(catalogue.GetLastError());
    std::vector<std::string> funds;
    RecordsetPtr rs = db.OpenRecordsetEx("SELECT TOP 3 FundID FROM T_Fund_Info WHERE InvestTypeID<>4 AND "
                                         "CreateDate<'2020-01-01' ORDER BY FundID");
    for (; rs && !rs->IsEOF(); rs->MoveNext()) {
        std::string id;
        db.GetFieldValue(rs, "FundID", id);
        funds.push_back(id);
    }
    if (funds.size() < 3) return Die("no three funds established before 2020");
    CatalogueDirectory directory(catalogue);
    CBookServiceClient services([&ctx] { return ctx; });
    CAccountManager manager;
    manager.Init(db, userId, false, &services, &directory);
    if (!manager.LoadAccounts(userId)) return Die(manager.GetLastErrorText());
    AccountInfo account;
    account.AccountName = "导入";
    account.CreateDate = Clock::Now();
    if (!manager.CreateAccount(account)) return Die(manager.GetLastErrorText());
    const std::string file = File(funds);

    ImportResult result;
    const double ours = bench::BestMs(1, [&](int) {
        // As the import dialog runs it on its worker.
        result = ImportTradesElsewhere(PrepareImport(manager, db, &directory, account.AccountID, file, false), {});
    });
    if (!result.booked || result.rows.size() != kRows)
        return Die(result.refusals.empty() ? "not booked" : result.refusals.front().Text());

    // The floor: each row's price question, then the rows written at once.
    const ImportResult parsed = ParseTradeCsv(file, account.AccountID);
    const double limit = bench::BestMs(1, [&](int) {
        for (const ImportRow& row : parsed.rows) {
            double value = 0;
            OleDate deal;
            std::string e;
            services.GetFundTradeValue(row.trade.FundID, row.trade.TradeTime, value, deal, e);
        }
        CAdoTransaction trans(db);
        for (size_t i = 0; i < parsed.rows.size(); ++i) {
            const TradeInfo& t = parsed.rows[i].trade;
            db.Execute(StrFormat("INSERT INTO T_Trade_Info(TradeID,AccountID,FundID,TradeMoney,TradeCount,TradeFee,"
                                 "TradeType,TradeTime,DealTime,TradeState,BuyType,TradeValue,CostValue) VALUES(%zu,%d,"
                                 "'%s',%0.2f,%0.2f,%0.2f,0,'%s','%s',1,0,1.0,1.0)",
                                 100000 + i, t.AccountID + 1000, t.FundID.c_str(), t.TradeMoney, t.TradeCount,
                                 t.TradeFee, t.TradeTime.Format(0).c_str(), t.TradeTime.Format(0).c_str()));
        }
        trans.Commit();
    });
    bench::Report("trade_import_1000_rows", ours, "ms", limit, 4);
    return 0;
}
