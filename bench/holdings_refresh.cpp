// The refresh that follows a booking on the holdings page of an account with
// 200 holdings: every account recomputed, the panel's tree, the account list
// and the holdings list rebuilt and painted, against the real plindo-serve.
#include <QApplication>
#include <QEventLoop>
#include <fstream>

#include "BenchUtil.h"
#include "BenchService.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/HttpTransport.h"
#include "ui/BookkeepingUi.h"
#include "ui/MainFrame.h"
#include "ui/TaskRunner.h"
#include "ui/VextalApp.h"

using namespace vextal;

namespace {

void WaitIdle(CVextalApp& app)
{
    QEventLoop loop;
    app.Runner()->WhenIdle([&loop] { loop.quit(); });
    loop.exec();
}

int Die(const std::string& why)
{
    std::fprintf(stderr, "holdings_refresh: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("VEXTAL_NO_WEBENGINE", "1");
    QApplication qapp(argc, argv);
    bench::Service service("holdings_refresh", {"--funds", "600", "--now", "2024-10-09 21:00:00", "--quiet"});
    Clock::Fix(OleDate::FromParts(2024, 10, 9, 21, 0));
    bench::ScratchDir home;
    {
        std::ofstream ini(home.File("Vextal.ini"));
        ini << "[Login]\nServerURL=" << service.Base() << "\nDataServerURL=" << service.Base() << "\n";
    }
    AppOptions options;
    options.args = {"--home", home.File("")};
    options.user = "demo";
    options.password = "demo123";
    options.autoLogin = true;

    int userId = 0;
    {
        CVextalApp first(options);
        if (!first.Start()) return Die("first start failed");
        WaitIdle(first);
        userId = first.Document()->User().UserID;
        first.Shutdown();
    }
    {
        // 200 holdings bought in 2023, their dividends already applied.
        CAdoDatabase db;
        db.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
        db.SetDatabase(home.File("Vextal.mdb"), 0);
        if (!db.Open()) return Die(db.GetLastError());
        CAdoTransaction t(db);
        db.Execute(StrFormat("INSERT INTO T_Account_Info(UserID,AccountID,AccountType,TotalMoney,FreeMoney,FundCount,"
                             "CreateDate,AccountName) VALUES(%d,1,0,0,0,200,#2023-01-02 00:00:00#,'主帐户')",
                             userId));
        RecordsetPtr rs = db.OpenRecordsetEx("SELECT TOP 200 FundID FROM T_Fund_Info WHERE InvestTypeID<>4 AND "
                                             "CreateDate<'2023-01-01' ORDER BY FundID");
        std::vector<std::string> funds;
        for (; rs && !rs->IsEOF(); rs->MoveNext()) {
            std::string id;
            db.GetFieldValue(rs, "FundID", id);
            funds.push_back(id);
        }
        if (funds.size() < 200) return Die(StrFormat("only %zu funds", funds.size()));
        for (size_t i = 0; i < funds.size(); ++i) {
            db.Execute(StrFormat("INSERT INTO T_Fund_Trade(AccountID,FundID,BuyType,TotalCount,FreeCount,TradeValue,"
                                 "BonusType,LastBonus,LastTrade) VALUES(1,'%s',0,1000,1000,1.0,0,#2024-10-09 00:00:00#,"
                                 "#2023-03-01 10:00:00#)",
                                 funds[i].c_str()));
            db.Execute(StrFormat("INSERT INTO T_Trade_Info(TradeID,AccountID,FundID,TradeMoney,TradeCount,TradeFee,"
                                 "TradeType,TradeTime,DealTime,TradeState,BuyType,TradeValue,CostValue) VALUES(%zu,1,"
                                 "'%s',1015.00,1000,1.5,0,#2023-03-01 10:00:00#,#2023-03-01 00:00:00#,1,0,1.0,1.0)",
                                 i + 1, funds[i].c_str()));
        }
        if (!t.Commit()) return Die(db.GetLastError());
        db.Close();
    }

    CVextalApp app(options);
    if (!app.Start()) return Die("start failed");
    WaitIdle(app);
    // The latest values of the open-end class, so the holdings carry figures.
    app.Frame()->RunCommand(cmd::ValuesOpen);
    WaitIdle(app);
    app.Frame()->RunCommand(cmd::GroupAccounts);
    CBookkeepingUi* ui = app.Bookkeeping();
    ui->SelectAccount(1);
    if (app.Frame()->Navigation().page != 106 || ui->Holdings()->HoldingCount() != 200)
        return Die(StrFormat("holdings page shows %d holdings", ui->Holdings()->HoldingCount()));
    CAccountManager& manager = app.Document()->Accounts();
    const std::string fund = manager.FindAccount(1)->holdings.front().FundID;
    double best = 1e300;
    for (int i = 0; i < 5; ++i) {
        TradeInfo trade;
        trade.AccountID = 1;
        trade.FundID = fund;
        trade.TradeType = kTradeBuy;
        trade.TradeMoney = 100 + i;
        trade.TradeFee = 1.5;
        trade.TradeTime = OleDate::FromParts(2024, 9, 2, 10, 0);
        trade.NoAutoBonus = 1;
        if (manager.BookTrade(trade) < 0) return Die(manager.GetLastErrorText());
        best = std::min(best, bench::BestMs(1, [&](int) {
            ui->BooksChanged();
            ui->Holdings()->grab();  // laid out and painted
        }));
    }
    if (ui->Holdings()->HoldingCount() != 200) return Die("holdings lost");
    if (manager.FindAccount(1)->MarketValue <= 0) return Die("no market value");
    bench::Report("holdings_list_refresh_after_booking_200", best, "ms", 100, 1);
    app.Shutdown();
    return 0;
}
