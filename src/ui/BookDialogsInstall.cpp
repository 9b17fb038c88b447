#include "ui/BookDialogsInstall.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLayout>
#include <QLineEdit>
#include <QTableView>
#include <QTreeWidget>

#include "app/IniFile.h"
#include "app/LoginDialogLogic.h"
#include "app/MarketData.h"
#include "app/Settings.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "common/Clock.h"
#include "ui/BookDialogs.h"
#include "ui/BookkeepingUi.h"
#include "ui/FundCurveView.h"
#include "ui/ExportOptionsPages.h"
#include "ui/FundPicker.h"
#include "ui/HistoryDialogs.h"
#include "ui/ImportDialog.h"
#include "ui/LoginDialogs.h"
#include "ui/MainFrame.h"
#include "ui/PlanDialogs.h"
#include "ui/SortDialog.h"
#include "ui/SyncDialog.h"

namespace vextal {

namespace {

struct Installed {
    CMainFrame* frame = nullptr;
    CVextalDoc* doc = nullptr;
    CMarketData* market = nullptr;
    CTaskRunner* runner = nullptr;
    IUserPrompt* prompt = nullptr;
};
Installed g_installed;

// The account and holding chosen in the account panel.
void PanelChoice(CMainFrame& frame, int& account, std::string& fund)
{
    account = 0;
    fund.clear();
    QTreeWidgetItem* item = frame.AccountTree() ? frame.AccountTree()->currentItem() : nullptr;
    if (!item) return;
    account = item->data(0, Qt::UserRole).toInt();
    fund = item->data(0, Qt::UserRole + 1).toString().toStdString();
}

BookDialogContext MakeContext(const Installed& in)
{
    BookDialogContext c;
    c.accounts = &in.doc->Accounts();
    c.db = &in.doc->GetDatabase();
    c.prompt = in.prompt;
    c.funds = &in.doc->FundDirectory();
    CMarketData* market = in.market;
    c.fundName = [market](const std::string& id) {
        const CFundInfo* f = market->Catalogue().FindFund(id);
        return f ? f->FundName : std::string();
    };
    CVextalDoc* doc = in.doc;
    c.isVip = [doc] { return doc->IsVip(); };
    c.fundChoices = FundChoicesOf(market->Catalogue(), doc->FundKeys());
    c.runner = in.runner;
    PanelChoice(*in.frame, c.currentAccount, c.currentFund);
    return c;
}

HistoryDialogContext MakeHistoryContext(const Installed& in)
{
    HistoryDialogContext h;
    h.history = &in.market->History();
    h.prompt = in.prompt;
    h.runner = in.runner;
    // Name and code in the order the display setting names funds.
    const int style = in.doc->Settings().fundShowType;
    for (const auto& [code, info] : in.market->Catalogue().Funds()) {
        const std::string& shortName = info.FundShortName.empty() ? info.FundName : info.FundShortName;
        h.funds.emplace_back(code, style == 3   ? code + "(" + shortName + ")"
                                   : style == 2 ? shortName + "(" + code + ")"
                                                : info.FundName + "(" + code + ")");
    }
    CVextalDoc* doc = in.doc;
    h.chosenFunds = [doc] { return doc->Settings().fundIdList; };
    // "选择基金": the fund selection that edits the document's list of chosen funds, kept in the ini file.
    CMarketData* market = in.market;
    IUserPrompt* prompt = in.prompt;
    CMainFrame* frame = in.frame;
    h.chooseFunds = [doc, market, prompt, frame] {
        std::vector<std::pair<std::string, std::string>> available;
        for (const auto& [code, info] : market->Catalogue().Funds())
            if (!info.CompanyID.empty()) available.emplace_back(code, info.FundName);
        CFundSelectDialog dialog(available, doc->Settings().fundIdList, *prompt,
                                 [doc](int count) { return doc->CheckFundCount(count); },
                                 QApplication::activeModalWidget() ? QApplication::activeModalWidget() : frame);
        if (dialog.exec() != QDialog::Accepted) return;
        doc->Settings().fundIdList = dialog.Selected();
        if (const CBookkeepingUi* ui = CBookkeepingUi::Of(*frame)) WriteFundIdList(doc->Settings().fundIdList, ui->Context().iniPath);
    };
    return h;
}

template <class Dialog, class... Args>
void Open(Args&&... args)
{
    Dialog dialog(std::forward<Args>(args)...);
    dialog.exec();
}

}  // namespace

void OpenDividendModeFor(CMainFrame& frame, const HoldingKey& key)
{
    BookDialogContext ctx = MakeContext(g_installed);
    if (!key.FundID.empty()) {
        ctx.currentAccount = key.AccountID;
        ctx.currentFund = key.FundID;
        ctx.currentBuyType = key.BuyType;
    }
    QWidget* modal = QApplication::activeModalWidget();
    CDividendModeDialog dialog(ctx, modal ? modal : &frame);
    dialog.exec();
}

void InstallBookDialogs(CMainFrame& frame, CVextalDoc& doc, CMarketData& market, CTaskRunner& runner,
                        IUserPrompt& prompt)
{
    g_installed = {&frame, &doc, &market, &runner, &prompt};
    CMainFrame* f = &frame;
    frame.SetHandler(cmd::DividendBooking, [f] { Open<CDividendBookingDialog>(MakeContext(g_installed), f); });
    frame.SetHandler(cmd::DividendMode, [f] { Open<CDividendModeDialog>(MakeContext(g_installed), f); });
    frame.SetHandler(cmd::Plans, [f] { Open<CPlansDialog>(MakeContext(g_installed), f); });
    frame.SetHandler(cmd::EditBooking, [f] { Open<CEditBookingDialog>(MakeContext(g_installed), f); });
    // Enter on a trade of the trade details: that trade in the edit dialog.
    frame.SetPageHandler(cmd::Properties, 107, [f] {
        CBookkeepingUi* book = CBookkeepingUi::Of(*f);
        const TradeInfo* trade = book ? book->TradeHistory()->CurrentTrade() : nullptr;
        CEditBookingDialog dialog(MakeContext(g_installed), f);
        if (trade) dialog.SelectTrade(trade->AccountID, trade->TradeID);
        dialog.exec();
    });
    frame.SetHandler(cmd::MoveHolding, [f] { Open<CMoveHoldingDialog>(MakeContext(g_installed), f); });
    frame.SetHandler(cmd::SaleFee, [f] { Open<CSaleFeeDialog>(MakeContext(g_installed), f); });
    frame.SetHandler(cmd::SyncBookkeeping, [f] { Open<CSyncDialog>(MakeContext(g_installed), f); });
    frame.SetHandler(cmd::ImportTrades, [f] { Open<CImportDialog>(MakeContext(g_installed), f); });
    frame.SetHandler(cmd::DownloadHistory, [f] { Open<CFundHistoryDialog>(MakeHistoryContext(g_installed), f); });
    frame.SetHandler(cmd::DownloadIndex, [f] { Open<CIndexHistoryDialog>(MakeHistoryContext(g_installed), f); });
}

namespace {

bool Shoot(QDialog& dialog, const QString& dir, const char* name)
{
    dialog.show();
    if (dialog.layout()) dialog.layout()->activate();
    const bool ok = dialog.grab().save(QDir(dir).filePath(QString::fromUtf8(name) + ".png"));
    dialog.hide();
    return ok;
}

template <class W>
W* Field(QDialog& d, const char* name)
{
    return d.findChild<W*>(QString::fromUtf8(name));
}

void Type(QDialog& d, const char* name, const QString& text)
{
    if (auto* e = Field<QLineEdit>(d, name)) e->setText(text);
}

}  // namespace

namespace {

// Example books for the pictures: two purchases when the user has no
// account, a mixed-dividend range and a second account to move to.
void MakeExampleBooks(BookDialogContext& ctx)
{
    CAccountManager& accounts = *ctx.accounts;
    if (accounts.Accounts().empty()) {
        AccountInfo account;
        account.AccountName = "示例帐户";
        account.CreateDate = Clock::Now();
        if (accounts.CreateAccount(account)) {
            ctx.currentAccount = account.AccountID;
            int booked = 0;
            for (const auto& [code, info] : g_installed.market->Catalogue().Funds()) {
                if (booked == 2) break;
                if (info.InvestTypeID > 2 || info.CreateDate > Clock::Now().AddDays(-400)) continue;
                TradeInfo t;
                t.AccountID = account.AccountID;
                t.FundID = code;
                t.TradeType = kTradeBuy;
                t.TradeMoney = booked ? 5000 : 10000;
                t.TradeFee = 1.5;
                t.TradeTime = Clock::Now().AddDays(-90 - 30 * booked).DateOnly().AddSeconds(10 * 3600);
                t.NoAutoBonus = 1;
                if (accounts.BookTrade(t) >= 0) ++booked;
            }
        }
    }
    AccountInfo* first = accounts.Accounts().empty() ? nullptr : accounts.Accounts().begin()->second.get();
    if (first && !first->holdings.empty()) {
        accounts.LoadUserBonus();
        UserBonusInfo range;
        range.AccountID = first->AccountID;
        range.FundID = first->holdings.front().FundID;
        range.StartDate = Clock::Now().AddDays(-365).DateOnly();
        range.EndDate = Clock::Now().DateOnly();
        range.DateState = 2;
        range.BonusType = kBonusReinvest;
        if (!accounts.IsRangeOverlapping(range)) accounts.SaveUserBonus(range);
    }
    if (accounts.Accounts().size() < 2) {
        AccountInfo second;
        second.AccountName = "示例帐户2";
        second.CreateDate = Clock::Now();
        accounts.CreateAccount(second);
    }
}

// The dialogs of the fund lists, the login and the settings, filled as a
// user would see them.
bool ShootSmallDialogs(const BookDialogContext& ctx, const QString& dir)
{
    QWidget* parent = g_installed.frame;
    IUserPrompt& prompt = *g_installed.prompt;
    CVextalDoc& doc = *g_installed.doc;
    bool ok = true;
    std::vector<std::pair<std::string, std::string>> available;
    for (const auto& [code, info] : g_installed.market->Catalogue().Funds())
        if (available.size() < 40) available.emplace_back(code, info.FundName);
    std::vector<std::string> selected;
    for (size_t i = 0; i < available.size() && i < 3; ++i) selected.push_back(available[i].first);
    {
        CFundSelectDialog d(available, selected, prompt, [](int) { return true; }, parent);
        ok = Shoot(d, dir, "dialog-fund-select") && ok;
    }
    {
        CFundPicker d(ctx.fundChoices, QStringLiteral("华"), parent);
        ok = Shoot(d, dir, "dialog-fund-picker") && ok;
    }
    {
        std::vector<CFundGroup> folders = g_installed.market->Catalogue().FundGroups();
        if (folders.empty()) folders.push_back({});
        CAddFavouriteDialog d(folders, [](int) { return std::string(); }, prompt, parent);
        ok = Shoot(d, dir, "dialog-add-favourite") && ok;
    }
    {
        CSortDialog d(DefaultIniPath(), parent);
        ok = Shoot(d, dir, "dialog-sort") && ok;
    }
    {
        CUserInfoDialog d(doc, prompt, parent);
        ok = Shoot(d, dir, "dialog-user-info") && ok;
    }
    {
        CPasswordDialog d(doc, prompt, parent);
        ok = Shoot(d, dir, "dialog-password") && ok;
    }
    {
        CLoginDialogLogic logic(doc, prompt);
        CRegisterDialog d(logic, parent);
        ok = Shoot(d, dir, "dialog-register") && ok;
    }
    return ok;
}

bool ShootAll(BookDialogContext ctx, const QString& dir)
{
    CAccountManager& accounts = *ctx.accounts;
    if (ctx.currentAccount == 0 && !accounts.Accounts().empty()) ctx.currentAccount = accounts.Accounts().begin()->first;
    if (AccountInfo* a = accounts.FindAccount(ctx.currentAccount); a && !a->holdings.empty() && ctx.currentFund.empty())
        ctx.currentFund = a->holdings.front().FundID;
    QWidget* parent = g_installed.frame;
    bool ok = true;
    {
        CDividendBookingDialog d(ctx, parent);
        Type(d, "perTen", QStringLiteral("0.50"));  // the amount follows the holding's shares
        ok = Shoot(d, dir, "dialog-dividend-booking") && ok;
    }
    {
        CDividendModeDialog d(ctx, parent);
        Field<QCheckBox>(d, "noStart")->setChecked(true);
        Field<QComboBox>(d, "mode")->setCurrentIndex(1);
        ok = Shoot(d, dir, "dialog-dividend-mode") && ok;
    }
    {
        CPlansDialog d(ctx, parent);
        if (d.Model()->rowCount() == 0 && !ctx.currentFund.empty()) {
            // An example plan in the picture only: plans are kept at the service.
            PlanInfo plan;
            plan.trade.AccountID = ctx.currentAccount;
            plan.trade.FundID = ctx.currentFund;
            plan.trade.BonusType = kBonusCash;
            plan.trade.TradeMoney = 500;
            plan.trade.TradeFee = 1.5;
            plan.trade.TradeCount = 8;
            plan.trade.TradeTime = Clock::Now().AddDays(-100).DateOnly();
            plan.trade.DealTime = Clock::Now().DateOnly();
            plan.PeriodsDone = 3;
            d.ShowPlanList({plan});
        }
        ok = Shoot(d, dir, "dialog-plans") && ok;
    }
    {
        CPlanDialog d(ctx, ctx.currentAccount, nullptr, parent);
        const auto& funds = g_installed.market->Catalogue().Funds();
        if (!funds.empty()) Field<CFundSelector>(d, "fund")->SetFundID(funds.begin()->first);
        Type(d, "amount", QStringLiteral("500.00"));
        ok = Shoot(d, dir, "dialog-plan") && ok;
    }
    {
        CEditBookingDialog d(ctx, parent);
        if (d.View()->model()->rowCount() > 0) d.View()->selectRow(0);
        ok = Shoot(d, dir, "dialog-edit-booking") && ok;
    }
    {
        CMoveHoldingDialog d(ctx, parent);
        ok = Shoot(d, dir, "dialog-move-holding") && ok;
    }
    {
        CSaleFeeDialog d(ctx, parent);
        Type(d, "rate", QStringLiteral("0.50"));
        ok = Shoot(d, dir, "dialog-sale-fee") && ok;
    }
    {
        CSyncDialog d(ctx, parent);
        ok = Shoot(d, dir, "dialog-sync") && ok;
    }
    {
        HistoryDialogContext h = MakeHistoryContext(g_installed);
        h.prompt = nullptr;
        CFundHistoryDialog f(h, parent);
        ok = Shoot(f, dir, "dialog-history-funds") && ok;
        CIndexHistoryDialog i(h, parent);
        i.SelectIndex(2);
        ok = Shoot(i, dir, "dialog-history-index") && ok;
    }
    ok = ShootSmallDialogs(ctx, dir) && ok;
    return ok;
}

// The import previews on a connection of its own, which must be able to
// write: taken outside the example books' transaction, on the user's books.
bool ShootImport(BookDialogContext ctx, const QString& dir)
{
    QWidget* parent = g_installed.frame;
    CAccountManager& accounts = *ctx.accounts;
    // The example account may have gone with the transaction.
    if (!accounts.FindAccount(ctx.currentAccount))
        ctx.currentAccount = accounts.Accounts().empty() ? 0 : accounts.Accounts().begin()->first;
    bool ok = true;
    {
        // A small file with one good and one refused row, previewed (rolled back).
        const QString csv = QDir(dir).filePath("import-example.csv");
        const auto& funds = g_installed.market->Catalogue().Funds();
        const std::string code = funds.empty() ? "000001" : funds.begin()->first;
        // A month before the latest NAV: the program's clock may run ahead of the service's.
        OleDate day = Clock::Now().AddDays(-30);
        if (const AccountInfo* a = ctx.accounts->FindAccount(ctx.currentAccount); a && !a->holdings.empty() &&
                                                                                  a->holdings.front().figures.ValueDate.dt > 0)
            day = a->holdings.front().figures.ValueDate.AddDays(-30);
        QFile file(csv);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QStringLiteral("日期,基金代码,类型,金额或份数,手续费\n%1,%2,申购,10000,1.5\n%1,%2,赎回,99999999,0.5\n")
                           .arg(QString::fromStdString(day.Format(1)), QString::fromStdString(code))
                           .toUtf8());
            file.close();
        }
        CImportDialog d(ctx, parent);
        if (ctx.currentAccount != 0) d.SetFile(csv);
        if (d.IsBusy()) {
            // The preview runs on the worker: the picture shows its end.
            QEventLoop wait;
            QObject::connect(&d, &CImportDialog::runDone, &wait, &QEventLoop::quit);
            wait.exec();
        }
        ok = Shoot(d, dir, "dialog-import") && ok;
        QFile::remove(csv);
    }
    return ok;
}

}  // namespace

bool SaveBookDialogShots(const QString& dir)
{
    if (!g_installed.doc) return true;
    BookDialogContext ctx = MakeContext(g_installed);
    ctx.prompt = nullptr;  // pictures only: nothing is asked
    bool ok = true;
    {
        // The example books are taken back after the pictures.
        CAdoTransaction example(*ctx.db);
        MakeExampleBooks(ctx);
        ok = ShootAll(ctx, dir);
    }
    ctx.accounts->LoadAccounts(ctx.accounts->GetUserID());
    ctx.accounts->ReadHoldings(0);
    return ShootImport(ctx, dir) && ok;
}

}  // namespace vextal
