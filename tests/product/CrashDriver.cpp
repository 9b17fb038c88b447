// The program without its window, run through a fixed script so that a test
// can kill it at any moment:
//   vextal_crash_driver run   HOME NOW FUND1 FUND2   bookings, a plan, a
//       bookkeeping upload and download and a class download, online
//   vextal_crash_driver check HOME NOW               a restart, offline; prints
//       every holding as the program loaded it ("H acc fund buytype count bonus cash")
// HOME holds a Vextal.ini that points at the service. It starts the way the
// program does: the start-up sequence, the document, the login dialog's logic.
// "ready" is printed once logged in; exit 0 when the script ran to its end.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/LoginDialogLogic.h"
#include "app/MarketData.h"
#include "app/StartupSequence.h"
#include "common/Clock.h"
#include "common/Format.h"

using namespace vextal;

namespace {

struct QuietPrompt : IUserPrompt {
    void ShowMessage(const std::string& text, PromptIcon) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
    bool AskYesNo(const std::string& text) override
    {
        std::fprintf(stderr, "question (no): %s\n", text.c_str());
        return false;
    }
};

int Fail(const std::string& what)
{
    std::fprintf(stderr, "driver: %s\n", what.c_str());
    return 1;
}

OleDate At(int y, int m, int d, int h) { return OleDate::FromParts(y, m, d, h, 0, 0); }

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) return Fail("usage: vextal_crash_driver run|check HOME NOW [FUND1 FUND2]");
    const std::string mode = argv[1];
    const bool offline = mode == "check";
    if (!offline && (mode != "run" || argc < 6)) return Fail("bad arguments");
    OleDate now;
    if (!OleDate::Parse(argv[3], now)) return Fail("bad NOW");
    Clock::Fix(now);

    QuietPrompt prompt;
    std::unique_ptr<CMarketData> market;
    CStartupCallbacks cb;
    cb.documentCreated = [&](CVextalDoc& doc) {
        doc.SetPrompt(&prompt);
        market = std::make_unique<CMarketData>(doc);
        market->Attach();
    };
    cb.runLoginDialog = [&](CVextalDoc& doc) {
        CLoginDialogLogic dialog(doc, prompt);
        dialog.OnOpen();
        return dialog.OnLogin({"demo", "demo123", true, offline});
    };
    CStartupSequence seq(prompt, cb);
    CStartupOptions options;
    options.args = {"--home", argv[2]};
    if (seq.Start(options) != StartupResult::Running) return Fail("the program did not start");
    CVextalDoc& doc = *seq.GetDocument();
    if (!doc.IsDatabaseOpen()) return Fail("no database");
    CAccountManager& book = doc.Accounts();

    if (offline) {
        for (const auto& [id, account] : book.Accounts())
            for (const FundTradeInfo& h : account->holdings)
                std::printf("H %d %s %d %0.2f %0.2f %0.2f\n", h.AccountID, h.FundID.c_str(), h.BuyType, h.TotalCount,
                            h.TotalBonus, h.CashBonus);
        seq.Shutdown();
        std::printf("done\n");
        return 0;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    const std::string fund1 = argv[4], fund2 = argv[5];
    int accountId = 0;
    for (const auto& [id, account] : book.Accounts())
        if (account->AccountName == "长期帐户") accountId = id;
    if (!accountId) {
        AccountInfo a;
        a.AccountName = "长期帐户";
        a.CreateDate = At(2023, 1, 3, 10);
        if (!book.CreateAccount(a)) return Fail("account: " + book.GetLastErrorText());
        accountId = a.AccountID;
    }
    auto step = [](const char* name) {
        std::printf("%s\n", name);
        std::fflush(stdout);
    };
    for (int round = 0; round < 4; ++round) {
        // A purchase before 15:00 and a redemption of part of it.
        TradeInfo buy;
        buy.AccountID = accountId;
        buy.FundID = fund1;
        buy.TradeType = kTradeBuy;
        buy.TradeMoney = 10000 + 1000 * round;
        buy.TradeFee = 1.5;
        buy.BonusType = kBonusReinvest;
        buy.TradeTime = At(2024, 6, 3 + round, 10);
        if (book.BookTrade(buy) < 0) return Fail("purchase: " + book.GetLastErrorText());
        step("bought");
        TradeInfo sell;
        sell.AccountID = accountId;
        sell.FundID = fund1;
        sell.TradeType = kTradeRedeem;
        sell.TradeCount = 1000;
        sell.TradeFee = 0.5;
        sell.TradeTime = At(2024, 6, 12 + round, 10);
        if (book.BookTrade(sell) < 0) return Fail("redemption: " + book.GetLastErrorText());
        step("redeemed");

        // A monthly plan: its due purchases are booked when it is saved,
        // later runs process what is still due.
        if (!book.Plans().count({accountId, fund2})) {
            PlanInfo plan;
            plan.trade.AccountID = accountId;
            plan.trade.FundID = fund2;
            plan.trade.TradeMoney = 500;
            plan.trade.TradeFee = 1.5;
            plan.trade.TradeCount = 15;  // the day of the month
            plan.trade.BonusType = kBonusCash;
            plan.trade.TradeTime = At(2024, 1, 2, 10);
            if (book.SavePlan(plan) < 0) return Fail("plan: " + book.GetLastErrorText());
        } else if (!book.ProcessPlans()) {
            return Fail("plans: " + book.GetLastErrorText());
        }
        step("planned");

        // The bookkeeping to the service and back into this home.
        if (!book.UploadBookkeeping(false)) return Fail("upload: " + book.GetLastErrorText());
        step("uploaded");
        if (!book.DownloadBookkeeping(false)) return Fail("download: " + book.GetLastErrorText());
        if (!book.LoadAccounts(doc.User().UserID)) return Fail("reload: " + book.GetLastErrorText());
        for (const auto& [id, account] : book.Accounts())
            if (account->AccountName == "长期帐户") accountId = id;
        step("downloaded");

        // The latest values of every open-end fund.
        market->SyncSession();
        const int rc = market->Latest().DownloadClassValues(1, true);
        if (rc < 0) return Fail(StrFormat("class download: %d", rc));
        step("class");
    }
    seq.Shutdown();
    step("finished");
    return 0;
}
