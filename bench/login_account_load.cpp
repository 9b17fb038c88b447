// The first account load after login of 200 holdings (10 of them
// money-market) against plindo-serve answering every request after 50 ms:
// the wall time of the post-login work, the requests it sends, and the
// longest wait of the GUI thread meanwhile (a 10 ms timer records the
// largest delay between its runs). The limit of the wall time is the
// service's own delay for those requests, one after another.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <fstream>

#include "BenchUtil.h"
#include "BenchService.h"
#include "app/LoginDialogLogic.h"
#include "app/MarketData.h"
#include "app/StartupSequence.h"
#include "book/BookServiceClient.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "net/HttpTransport.h"
#include "ui/TaskRunner.h"

using namespace vextal;

namespace {

constexpr int kLatencyMs = 50;
std::atomic<int> g_requests{0};

void Die(const std::string& why)
{
    std::fprintf(stderr, "login_account_load: %s\n", why.c_str());
    std::exit(1);
}

// The bookkeeping's requests, counted.
class CountingServices : public IBookServices {
public:
    explicit CountingServices(CVextalDoc& doc) : m_client([&doc] { return doc.MakeCommandContext(); }) {}
    bool GetFundTradeValue(const std::string& f, const OleDate& t, double& v, OleDate& d, std::string& e) override
    {
        ++g_requests;
        return m_client.GetFundTradeValue(f, t, v, d, e);
    }
    int QueryDividends(const std::string& f, const OleDate& s, const OleDate& en, double n, int b,
                       std::vector<DividendItem>& items, std::string& e) override
    {
        ++g_requests;
        return m_client.QueryDividends(f, s, en, n, b, items, e);
    }
    int QueryMoneyIncome(const std::string& f, const OleDate& s, const OleDate& en, double n, double& a, OleDate& d,
                         std::string& e) override
    {
        ++g_requests;
        return m_client.QueryMoneyIncome(f, s, en, n, a, d, e);
    }
    bool GetLatestValue(const std::string& f, double& v, OleDate& d, std::string& e) override
    {
        ++g_requests;
        return m_client.GetLatestValue(f, v, d, e);
    }
    bool CancelTrade(int id, std::string& e) override
    {
        ++g_requests;
        return m_client.CancelTrade(id, e);
    }

private:
    CBookServiceClient m_client;
};

struct Run {
    std::unique_ptr<CMarketData> market;
    std::unique_ptr<CStartupSequence> seq;
};

// One start as the application wires it, the post-login work on `runner`.
std::unique_ptr<Run> Start(IUserPrompt& prompt, CTaskRunner& runner, const std::string& home)
{
    auto run = std::make_unique<Run>();
    Run* r = run.get();
    CStartupCallbacks cb;
    cb.documentCreated = [r](CVextalDoc& doc) {
        r->market = std::make_unique<CMarketData>(doc);
        r->market->Attach();
        doc.SetBookServices(std::make_unique<CountingServices>(doc));
        // The catalogue's requests, counted too.
        CMarketHooks& h = doc.Market();
        for (auto* hook : {&h.downloadFundCompanies, &h.downloadFundInfos, &h.sendClosingRequest}) {
            auto inner = *hook;
            *hook = [inner]() -> FetchStep {
                FetchStep fetch = inner();
                if (!fetch) return nullptr;
                return [fetch] {
                    ++g_requests;
                    return fetch();
                };
            };
        }
    };
    cb.runLoginDialog = [&prompt](CVextalDoc& doc) {
        CLoginDialogLogic dialog(doc, prompt);
        dialog.OnOpen();
        return dialog.OnLogin({"demo", "demo123", false, false});
    };
    cb.runner = runner.AsRunner();
    run->seq = std::make_unique<CStartupSequence>(prompt, cb);
    CStartupOptions options;
    options.args = {"--home", home};
    options.programFile = home + "/Vextal";
    if (run->seq->Start(options) != StartupResult::Running) Die("login failed");
    return run;
}

void WaitIdle(CTaskRunner& runner)
{
    QEventLoop loop;
    runner.WhenIdle([&loop] { loop.quit(); });
    loop.exec();
}

struct Prompt : IUserPrompt {
    void ShowMessage(const std::string& text, PromptIcon) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
    bool AskYesNo(const std::string&) override { return false; }
};

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    bench::Service service("login_account_load", {"--funds", "2000", "--now", "2026-12-04 21:00:00", "--latency-ms",
                                                  std::to_string(kLatencyMs), "--quiet"});
    Clock::Fix(OleDate::FromParts(2026, 12, 4, 21, 0, 0));
    bench::ScratchDir home;
    {
        std::ofstream ini(home.File("Vextal.ini"));
        ini << "[Login]\nServerURL=" << service.Base() << "\nDataServerURL=" << service.Base() << "\n";
    }
    Prompt prompt;
    int userId = 0;
    {
        // First start: database and catalogue (not measured).
        CTaskRunner runner;
        auto first = Start(prompt, runner, home.File(""));
        WaitIdle(runner);
        userId = first->seq->GetDocument()->User().UserID;
        first->seq->Shutdown();
    }
    {
        CAdoDatabase db;
        db.SetLogin(std::string(), CAdoDatabase::kDefaultPassword);
        db.SetDatabase(home.File("Vextal.mdb"), 0);
        if (!db.Open()) Die(db.GetLastError());
        CAdoTransaction t(db);
        db.Execute(StrFormat("INSERT INTO T_Account_Info(UserID,AccountID,AccountType,TotalMoney,FreeMoney,FundCount,"
                             "CreateDate,AccountName) VALUES(%d,1,0,0,0,200,#2020-01-02 00:00:00#,'bench')",
                             userId));
        int held = 0;
        for (const char* where : {"InvestTypeID<>4", "InvestTypeID=4"}) {
            RecordsetPtr rs = db.OpenRecordsetEx(StrFormat("SELECT TOP %d FundID FROM T_Fund_Info WHERE %s ORDER BY FundID",
                                                           held == 0 ? 190 : 10, where));
            for (; rs && !rs->IsEOF(); rs->MoveNext(), ++held) {
                std::string id;
                db.GetFieldValue(rs, "FundID", id);
                db.Execute("INSERT INTO T_Fund_Trade(AccountID,FundID,BuyType,TotalCount,FreeCount,BonusType,LastTrade) "
                           "VALUES(1,'" + id + "',0,1000,1000,0,#2024-01-08 10:00:00#)");
            }
        }
        if (held != 200 || !t.Commit()) Die("could not store 200 holdings");
    }

    CTaskRunner runner;
    g_requests = 0;
    auto run = Start(prompt, runner, home.File(""));
    // From here the post-login work runs; the GUI thread's timer keeps count.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, worst = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        qint64 now = clock.elapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    timer.start();
    WaitIdle(runner);
    const double wall = static_cast<double>(clock.elapsed());
    timer.stop();
    worst = std::max(worst, clock.elapsed() - last);
    if (run->seq->GetDocument()->Accounts().Accounts().size() != 1) Die("the account did not load");

    const int requests = g_requests;
    bench::Report("login_account_load_200_holdings_latency_50ms", wall, "ms", requests * double(kLatencyMs), 1.2);
    bench::ReportTarget("login_account_load_200_holdings_latency_50ms_time", wall, "ms", 1000);
    bench::ReportTarget("login_account_load_requests", requests, "requests", 210);
    bench::ReportTarget("login_account_load_longest_gui_gap", static_cast<double>(worst), "ms", 100);
    run->seq->Shutdown();
    return 0;
}
