#include "ui/BookkeepingUi.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <set>

#include "app/MarketData.h"
#include "app/VextalDoc.h"
#include "book/AccountManager.h"
#include "ui/BookDialogsInstall.h"
#include "book/BookServiceClient.h"
#include "common/Clock.h"
#include "common/Format.h"
#include "ui/ExcelExport.h"
#include "ui/FundCurveView.h"
#include "ui/FundPicker.h"
#include "ui/MainFrame.h"
#include "ui/OptionsDialog.h"

namespace vextal {

namespace {

constexpr int kAccountRole = Qt::UserRole;
constexpr int kFundRole = Qt::UserRole + 1;
constexpr int kBuyTypeRole = Qt::UserRole + 2;

bool IsBookPage(int page) { return page == 105 || page == 106 || page == 107 || page == 114; }

}  // namespace

CBookkeepingUi::CBookkeepingUi(CMainFrame& frame, CVextalDoc& doc, CMarketData& market, CTaskRunner& runner,
                               IUserPrompt& prompt, std::string iniPath)
    : QObject(&frame), m_frame(frame), m_ctx{doc, market, runner, prompt, std::move(iniPath)}
{
    setObjectName(QStringLiteral("bookkeeping"));
    m_accounts = new CAccountListView(m_ctx, &frame);
    m_holdings = new CFundTradeView(m_ctx, &frame);
    m_history = new CFundTradeHistoryView(m_ctx, &frame);
    m_income = new CFundIncomeListView(m_ctx, &frame);
    CHomeView* home = frame.HomeView();
    home->SetPage(105, m_accounts);
    home->SetPage(106, m_holdings);
    home->SetPage(107, m_history);
    home->SetPage(114, m_income);
    connect(frame.AccountTree(), &QTreeWidget::currentItemChanged, this, [this] {
        if (!m_filling) OnTreeChoice();
    });
    connect(m_accounts, &CAccountListView::accountActivated, this, [this](int id) { SelectAccount(id); });
    connect(&frame, &CMainFrame::refreshRequested, this, [this](int page) {
        if (IsBookPage(page)) RefreshLatest();
    });
    // Told by the engine once per change, whoever made it (a dialog, a plan
    // run, a download); on the window's thread.
    QPointer<CBookkeepingUi> self(this);
    m_ctx.Accounts().SetChangeListener([self](const std::vector<int>&) {
        if (self) QMetaObject::invokeMethod(self.data(), [self] {
            if (self) self->BooksChanged();
        });
    });
    // "导出表格到Excel" on these pages, and the options' new columns and row size at once.
    SetExportSource(m_accounts, [this] { return ExportSource{m_accounts->List(), 59175, AccountsSheetName()}; });
    SetExportSource(m_holdings, [this] {
        const AccountInfo* a = m_ctx.Accounts().FindAccount(m_holdings->AccountID());
        return ExportSource{m_holdings->List(), 59176, HoldingsSheetName(a ? QString::fromStdString(a->AccountName) : QString())};
    });
    SetExportSource(m_history, [this] { return ExportSource{m_history->List(), kExportTrades, m_history->Title()}; });
    SetExportSource(m_income, [this] { return ExportSource{m_income->List(), kExportTradeIncome, m_income->Title()}; });
    connect(&OptionsNotifier(), &COptionsNotifier::settingsChanged, this, [this] {
        m_accounts->RebuildColumns();
        m_holdings->RebuildColumns();
        for (CListView* list : {m_history->List(), m_income->List(), static_cast<CListView*>(m_holdings->Trades())})
            list->ApplyListStyle(m_ctx.ListItemSize());
        RefillTree();
    });
    // The holding chosen in the list is the panel's choice, which the dialogs read.
    connect(m_holdings->List()->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        HoldingKey key;
        if (!m_filling && m_holdings->CurrentHolding(key)) SelectHolding(key);
    });
    // The bookkeeping commands on the lists' own menus.
    for (CListView* list : {m_accounts->List(), m_holdings->List(), m_history->List()}) {
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& pos) {
            QMenu menu(list);
            for (int id : std::initializer_list<int>{cmd::Purchase, cmd::Subscribe, cmd::Redeem, cmd::Convert, cmd::QuickBooking, cmd::Split, 0,
                           cmd::TradeDetails, cmd::TradeIncome, 0, cmd::Delete, cmd::Properties}) {
                if (id == 0) menu.addSeparator();
                else if (QAction* a = m_frame.Action(id)) menu.addAction(a);
            }
            if (list == m_history->List()) {
                menu.addSeparator();
                menu.addAction(QStringLiteral("取消交易..."), this, [this] { OpenCancelDialog(); });
            } else {
                const int listed = list == m_accounts->List() ? m_accounts->CurrentAccountID() : 0;
                AddAccountCurveItem(menu, listed ? listed : CurrentAccountID());
            }
            menu.exec(list->viewport()->mapToGlobal(pos));
        });
    }
    QTreeWidget* tree = frame.AccountTree();
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree, &QWidget::customContextMenuRequested, this, [this, tree](const QPoint& pos) {
        QTreeWidgetItem* item = tree->itemAt(pos);
        if (!item || !item->parent()) return;  // the root is no account
        QMenu menu(tree);
        AddAccountCurveItem(menu, item->data(0, kAccountRole).toInt());
        menu.exec(tree->viewport()->mapToGlobal(pos));
    });
}

void CBookkeepingUi::AddAccountCurveItem(QMenu& menu, int accountId)
{
    menu.addSeparator();
    QAction* a = menu.addAction(QStringLiteral("帐户收益曲线"), this, [this, accountId] { ShowAccountIncomeCurve(accountId); });
    a->setEnabled(accountId != 0);
}

void CBookkeepingUi::ShowAccountIncomeCurve(int accountId)
{
    auto* view = qobject_cast<CFundCurveView*>(m_frame.HomeView()->Page(103));
    if (!view || !m_ctx.Accounts().FindAccount(accountId)) return;
    // Drawn first: the curves page then keeps it rather than drawing its default.
    view->ShowAccountIncome(accountId);
    m_frame.RunCommand(cmd::GroupCurves);
}

void CBookkeepingUi::SelectHolding(const HoldingKey& key)
{
    QTreeWidgetItem* root = m_frame.AccountTree()->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i) {
        QTreeWidgetItem* account = root->child(i);
        if (account->data(0, kAccountRole).toInt() != key.AccountID) continue;
        for (int j = 0; j < account->childCount(); ++j) {
            QTreeWidgetItem* h = account->child(j);
            if (h->data(0, kFundRole).toString().toStdString() == key.FundID && h->data(0, kBuyTypeRole).toInt() == key.BuyType) {
                if (m_frame.AccountTree()->currentItem() != h) m_frame.AccountTree()->setCurrentItem(h);
                return;
            }
        }
    }
}

CBookkeepingUi::~CBookkeepingUi() { CTaskRunner::Cancel(m_latestPending); }

CBookkeepingUi* CBookkeepingUi::Of(const CMainFrame& frame)
{
    return frame.findChild<CBookkeepingUi*>(QStringLiteral("bookkeeping"), Qt::FindDirectChildrenOnly);
}

BookingHooks CBookkeepingUi::Hooks()
{
    BookingHooks hooks;
    hooks.mixedSettings = [this](const HoldingKey& key) { OpenDividendModeFor(m_frame, key); };
    return hooks;
}

void CBookkeepingUi::Install()
{
    m_frame.SetHandler(cmd::NewAccount, [this] { NewAccount(); });
    m_frame.SetHandler(cmd::AccountProperties, [this] { AccountProperties(CurrentAccountID()); });
    m_frame.SetHandler(cmd::DeleteAccount, [this] { DeleteAccount(CurrentAccountID()); });
    m_frame.SetHandler(cmd::Purchase, [this] { OpenTradeDialog(FormKind::Purchase); });
    m_frame.SetHandler(cmd::Subscribe, [this] { OpenTradeDialog(FormKind::Subscription); });
    m_frame.SetHandler(cmd::Redeem, [this] { OpenTradeDialog(FormKind::Redemption); });
    m_frame.SetHandler(cmd::Convert, [this] { OpenTradeDialog(FormKind::Conversion); });
    m_frame.SetHandler(cmd::QuickBooking, [this] { OpenTradeDialog(FormKind::Quick); });
    m_frame.SetHandler(cmd::Split, [this] { OpenSplitDialog(); });
    m_frame.SetHandler(cmd::TradeDetails, [this] { m_history->SetAccount(CurrentAccountID()); });
    m_frame.SetHandler(cmd::TradeIncome, [this] { m_income->SetAccount(CurrentAccountID()); });
    // Delete and properties act on the page shown: the accounts, a holding,
    // a trade (whose properties are the edit dialog's, installed with it).
    for (int page : {105, 106, 107}) m_frame.SetPageHandler(cmd::Delete, page, [this] { DeleteCurrentItem(); });
    for (int page : {105, 106}) m_frame.SetPageHandler(cmd::Properties, page, [this] { ShowCurrentProperties(); });
    RefillTree();
    RebuildLists();
}

void CBookkeepingUi::RefillTree()
{
    QTreeWidget* tree = m_frame.AccountTree();
    QTreeWidgetItem* root = tree->topLevelItem(0);
    if (!root) return;
    // The choice survives the refill: the same account or holding again.
    int account = 0;
    HoldingKey holding;
    const bool onHolding = CurrentHolding(holding);
    account = CurrentAccountID();
    const bool onRoot = tree->currentItem() == root;
    m_filling = true;
    qDeleteAll(root->takeChildren());
    QTreeWidgetItem* chosen = onRoot ? root : nullptr;
    for (const auto& [id, a] : m_ctx.Accounts().Accounts()) {
        auto* item = new QTreeWidgetItem(root, QStringList(QString::fromStdString(a->AccountName)));
        item->setData(0, kAccountRole, id);
        if (id == account && !onHolding) chosen = item;
        for (const FundTradeInfo& h : a->holdings) {
            if (h.TotalCount == 0 && m_ctx.FundZeroHide()) continue;
            auto* child = new QTreeWidgetItem(
                item, QStringList(QString::fromStdString(HoldingDisplayName(m_ctx.FundName(h.FundID).toStdString(), h.BuyType))));
            child->setData(0, kAccountRole, id);
            child->setData(0, kFundRole, QString::fromStdString(h.FundID));
            child->setData(0, kBuyTypeRole, h.BuyType);
            if (onHolding && id == holding.AccountID && h.FundID == holding.FundID && h.BuyType == holding.BuyType) chosen = child;
        }
        if (onHolding && id == holding.AccountID && !chosen) chosen = item;
        item->setExpanded(true);
    }
    root->setExpanded(true);
    if (chosen) {
        tree->setCurrentItem(chosen);
        if (chosen->parent() && chosen->parent() != root) chosen->parent()->setExpanded(true);
    }
    m_filling = false;
    m_frame.UpdateCommandStates();
}

int CBookkeepingUi::CurrentAccountID() const
{
    QTreeWidgetItem* item = m_frame.AccountTree()->currentItem();
    if (!item || !item->parent()) return 0;
    return item->data(0, kAccountRole).toInt();
}

bool CBookkeepingUi::CurrentHolding(HoldingKey& key) const
{
    QTreeWidgetItem* item = m_frame.AccountTree()->currentItem();
    if (!item || !item->data(0, kFundRole).isValid()) return false;
    key.AccountID = item->data(0, kAccountRole).toInt();
    key.FundID = item->data(0, kFundRole).toString().toStdString();
    key.BuyType = item->data(0, kBuyTypeRole).toInt();
    return true;
}

void CBookkeepingUi::SelectAccount(int accountId)
{
    QTreeWidgetItem* root = m_frame.AccountTree()->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i)
        if (root->child(i)->data(0, kAccountRole).toInt() == accountId) {
            m_frame.AccountTree()->setCurrentItem(root->child(i));
            return;
        }
}

void CBookkeepingUi::OnTreeChoice()
{
    const int account = CurrentAccountID();
    HoldingKey holding;
    const bool onHolding = CurrentHolding(holding);
    if (m_holdings->AccountID() != account) m_holdings->SetAccount(account);
    if (onHolding) m_holdings->SelectHolding(holding.FundID, holding.BuyType);
    const int page = m_frame.Navigation().page;
    if (page == 107) m_history->SetAccount(account);
    if (page == 114) m_income->SetAccount(account);
    // Inside the accounts group an account shows its holdings, the root the account list.
    const int wanted = account ? 106 : 105;
    if (m_frame.Navigation().group == 3 && (page == 105 || page == 106) && page != wanted) m_frame.ShowAccountsPage(wanted);
}

void CBookkeepingUi::RebuildLists()
{
    m_accounts->Rebuild();
    m_holdings->SetAccount(CurrentAccountID());
    const int page = m_frame.Navigation().page;
    // The pages that ask the database or the service only while they are shown.
    if (page == 107) m_history->Rebuild();
    if (page == 114) m_income->Rebuild();
}

void CBookkeepingUi::BooksChanged()
{
    if (!m_accounts) return;
    RefillTree();
    RebuildLists();
    emit booksChanged();
}

void CBookkeepingUi::RefreshAll()
{
    CAccountManager& manager = m_ctx.Accounts();
    std::vector<int> ids;
    for (const auto& [id, a] : manager.Accounts()) ids.push_back(id);
    for (int id : ids) manager.RefreshAccount(id);
    RefillTree();
    RebuildLists();
    emit booksChanged();
}

void CBookkeepingUi::RefreshLatest()
{
    if (m_latestPending) return;  // one question at a time
    std::set<std::string> held;
    for (const auto& [id, a] : m_ctx.Accounts().Accounts())
        for (const FundTradeInfo& h : a->holdings)
            if (h.TotalCount > 0) held.insert(h.FundID);
    CLatestValueCache& latest = m_ctx.market.Latest();
    m_ctx.market.SyncSession();
    // The service answers at most 32 funds a question.
    const std::vector<std::string> ids(held.begin(), held.end());
    auto requests = std::make_shared<std::vector<ValuesRequest>>();
    for (size_t i = 0; i < ids.size() && m_ctx.doc.User().OfflineFlag == 0; i += 32) {
        ValuesRequest r;
        const std::vector<std::string> part(ids.begin() + static_cast<long>(i),
                                            ids.begin() + static_cast<long>(std::min(i + 32, ids.size())));
        if (latest.PlanSelectedValues(part, r) == kMarketOk && r.send) requests->push_back(std::move(r));
    }
    if (requests->empty()) return RefreshAll();
    m_latestPending = m_ctx.runner.Run([self = QPointer<CBookkeepingUi>(this), requests,
                                        &latest](const std::atomic<bool>& cancelled) -> WorkFinish {
        auto stored = std::make_shared<std::vector<StoredValues>>();
        for (const ValuesRequest& r : *requests) {
            if (cancelled) return nullptr;
            StoredValues s = latest.WriteValuesElsewhere(r, FetchValues(r), cancelled);
            if (s.result == kMarketCancelled) return nullptr;
            stored->push_back(std::move(s));
        }
        return [self, stored, &latest] {
            std::string error;
            for (StoredValues& s : *stored)
                if (latest.ApplyStored(s) != kMarketOk && error.empty()) error = latest.GetLastError();
            if (!self) return;
            self->m_latestPending.reset();
            self->RefreshAll();
            // The figures stand on the values held before: the user hears why.
            if (!error.empty())
                self->m_frame.statusBar()->showMessage(QStringLiteral("最新净值获取失败，按已有净值计算:") +
                                                           QString::fromStdString(error),
                                                       10000);
        };
    });
}

void CBookkeepingUi::SaveColumnWidths() const
{
    if (m_accounts) m_accounts->SaveColumnWidths();
    if (m_holdings) m_holdings->SaveColumnWidths();
}

// ---- commands ---------------------------------------------------------------------

void CBookkeepingUi::NewAccount()
{
    CAccountDialog dialog(m_ctx.Accounts(), m_ctx.prompt, nullptr, &m_frame);
    if (dialog.exec() != QDialog::Accepted) return;
    SelectAccount(dialog.AccountID());
}

void CBookkeepingUi::AccountProperties(int accountId)
{
    const AccountInfo* account = m_ctx.Accounts().FindAccount(accountId);
    if (!account) {
        m_ctx.prompt.ShowMessage("请先在帐户面板或帐户列表中选择一个帐户", PromptIcon::Information);
        return;
    }
    CAccountDialog dialog(m_ctx.Accounts(), m_ctx.prompt, account, &m_frame);
    dialog.exec();
}

void CBookkeepingUi::DeleteAccount(int accountId)
{
    const AccountInfo* account = m_ctx.Accounts().FindAccount(accountId);
    if (!account) {
        m_ctx.prompt.ShowMessage("请先在帐户面板或帐户列表中选择要删除的帐户", PromptIcon::Information);
        return;
    }
    // The question names the account and what goes with it.
    const int trades = m_ctx.doc.GetDatabase().GetRecordCount(StrFormat("SELECT * FROM T_Trade_Info WHERE AccountID=%d", accountId));
    const std::string question = "确定要删除选定的帐户吗?\n\n帐户“" + account->AccountName + "”" +
                                 StrFormat("和它的%d个基金持仓、%d条交易记录将一并删除，不能恢复。",
                                           static_cast<int>(account->holdings.size()), std::max(trades, 0));
    if (!m_ctx.prompt.AskYesNo(question)) return;
    AccountInfo doomed;
    doomed.AccountID = accountId;
    if (!m_ctx.Accounts().DeleteAccount(doomed))
        m_ctx.prompt.ShowMessage("删除帐户失败:" + m_ctx.Accounts().GetLastErrorText(), PromptIcon::Warning);
    m_frame.AccountTree()->setCurrentItem(m_frame.AccountTree()->topLevelItem(0));
}

void CBookkeepingUi::OpenTradeDialog(FormKind kind)
{
    const int account = CurrentAccountID();
    if (!account) return;
    HoldingKey holding;
    const bool onHolding = CurrentHolding(holding);
    CTradeDialog dialog(kind, m_ctx, account, onHolding ? &holding : nullptr, Hooks(), &m_frame);
    dialog.exec();
}

void CBookkeepingUi::OpenSplitDialog()
{
    HoldingKey holding;
    const bool onHolding = CurrentHolding(holding);
    CSplitDialog dialog(m_ctx, CurrentAccountID(), onHolding ? &holding : nullptr, Hooks(), &m_frame);
    dialog.exec();
}

void CBookkeepingUi::OpenCancelDialog()
{
    int accountId = CurrentAccountID();
    if (!accountId && m_history->CurrentTrade()) accountId = m_history->CurrentTrade()->AccountID;
    CCancelTradeDialog dialog(m_ctx, accountId, Hooks(), &m_frame);
    dialog.exec();
}

void CBookkeepingUi::DeleteCurrentItem()
{
    CAccountManager& manager = m_ctx.Accounts();
    switch (m_frame.Navigation().page) {
    case 105: {
        int id = m_accounts->CurrentAccountID();
        DeleteAccount(id ? id : CurrentAccountID());
        break;
    }
    case 106: {
        HoldingKey key;
        if (!m_holdings->CurrentHolding(key) && !CurrentHolding(key)) {
            m_ctx.prompt.ShowMessage("请先在列表中选择要删除的基金", PromptIcon::Information);
            return;
        }
        if (!m_ctx.prompt.AskYesNo("确定要删除选定基金的记帐信息吗?")) return;
        if (!manager.DeleteFundBookkeeping(key))
            m_ctx.prompt.ShowMessage("删除基金记帐信息失败:" + manager.GetLastErrorText(), PromptIcon::Warning);
        break;
    }
    case 107: {
        const TradeInfo* current = m_history->CurrentTrade();
        if (!current) {
            m_ctx.prompt.ShowMessage("请先在列表中选择要删除的记帐明细", PromptIcon::Information);
            return;
        }
        const TradeInfo trade = *current;
        if (!m_ctx.prompt.AskYesNo("确定要删除选定的记帐明细信息吗?")) return;
        if (!manager.DeleteTrade(trade))
            m_ctx.prompt.ShowMessage("删除记帐明细信息失败:" + manager.GetLastErrorText(), PromptIcon::Warning);
        break;
    }
    default: break;
    }
}

void CBookkeepingUi::ShowCurrentProperties()
{
    const int page = m_frame.Navigation().page;
    if (page == 105) {
        int id = m_accounts->CurrentAccountID();
        AccountProperties(id ? id : CurrentAccountID());
    } else if (page == 106) {
        AccountProperties(m_holdings->AccountID());
    }
}

// ---- screenshots ---------------------------------------------------------------------

bool CBookkeepingUi::BookExamples()
{
    CAccountManager& manager = m_ctx.Accounts();
    if (!manager.Accounts().empty() || m_ctx.doc.User().OfflineFlag != 0) return true;
    AccountInfo account;
    account.AccountName = "示例帐户";
    account.CreateDate = Clock::Now();
    if (!manager.CreateAccount(account)) return false;
    // Three funds bought some months before the service's latest NAV, part of
    // one redeemed since (the program's clock may run ahead of the service's).
    std::vector<std::string> funds;
    OleDate latest;
    for (const auto& [code, info] : m_ctx.market.Catalogue().Funds()) {
        LatestNav nav;
        if (info.InvestTypeID == 4 || funds.size() >= 3 || !m_ctx.doc.FundDirectory().GetLatestNav(code, nav)) continue;
        if (nav.ValueDate.dt == 0 || !(info.CreateDate < nav.ValueDate.AddDays(-400))) continue;
        funds.push_back(code);
        latest = nav.ValueDate;
    }
    const DateParts bought = latest.AddDays(-200).Parts(), sold = latest.AddDays(-60).Parts();
    for (size_t i = 0; i < funds.size(); ++i) {
        TradeForm f = DefaultTradeForm(FormKind::Purchase);
        f.AccountID = account.AccountID;
        f.FundID = funds[i];
        f.Amount = i == 0 ? 20000 : i == 1 ? 15000 : 10000;
        f.TradeTime = OleDate::FromParts(bought.year, bought.month, bought.day, 10, 30);
        f.MarkInfo = "示例";
        TradeInfo t = TradeFromForm(f);
        manager.BookTrade(t);
    }
    if (!funds.empty()) {
        TradeForm f = DefaultTradeForm(FormKind::Redemption);
        f.AccountID = account.AccountID;
        f.FundID = funds[0];
        f.Count = 3000;
        f.Fee = 0.5;
        f.TradeTime = OleDate::FromParts(sold.year, sold.month, sold.day, 10, 0);
        TradeInfo t = TradeFromForm(f);
        manager.BookTrade(t);
    }
    RefillTree();
    RebuildLists();
    return true;
}

void CBookkeepingUi::SaveScreenshots(const QString& dir, std::function<void(bool)> done)
{
    bool ok = BookExamples();
    auto save = [&ok, &dir](QWidget* w, const char* name) {
        ok = w->grab().save(QDir(dir).filePath(QString::fromUtf8(name) + ".png")) && ok;
    };
    QTreeWidget* tree = m_frame.AccountTree();
    m_frame.RunCommand(cmd::GroupAccounts);
    tree->setCurrentItem(tree->topLevelItem(0));
    m_frame.ShowAccountsPage(105);
    save(&m_frame, "account-list");
    const auto& accounts = m_ctx.Accounts().Accounts();
    const int first = accounts.empty() ? 0 : accounts.begin()->first;
    if (first) {
        SelectAccount(first);
        if (m_holdings->HoldingCount() > 0) m_holdings->List()->setCurrentIndex(m_holdings->List()->Proxy()->index(0, 0));
    }
    save(&m_frame, "holdings");
    m_frame.RunCommand(cmd::TradeDetails);
    save(&m_frame, "trades");
    m_frame.RunCommand(cmd::TradeIncome);
    save(&m_frame, "trade-income");

    // Each dialog with example values, as a user would have filled it.
    const AccountInfo* account = m_ctx.Accounts().FindAccount(first);
    HoldingKey held;
    const bool hasHolding = account && !account->holdings.empty();
    if (hasHolding) held = HoldingKey::Of(account->holdings.front());
    {
        CAccountDialog d(m_ctx.Accounts(), m_ctx.prompt, account, &m_frame);
        d.show();
        save(&d, "dialog-account");
    }
    const std::pair<FormKind, const char*> kinds[] = {{FormKind::Purchase, "dialog-purchase"},
                                                      {FormKind::Subscription, "dialog-subscription"},
                                                      {FormKind::Redemption, "dialog-redemption"},
                                                      {FormKind::Conversion, "dialog-conversion"},
                                                      {FormKind::Quick, "dialog-quick"}};
    for (const auto& [kind, name] : kinds) {
        CTradeDialog d(kind, m_ctx, first, hasHolding ? &held : nullptr, {}, &m_frame);
        if (d.AmountEdit()) d.AmountEdit()->setText(QStringLiteral("10000.00"));
        if (kind == FormKind::Redemption || kind == FormKind::Conversion) d.CountEdit()->setText(QStringLiteral("1000.00"));
        if (kind == FormKind::Quick) d.CountEdit()->setText(QStringLiteral("5000.00"));
        if (d.TargetFund() && account && account->holdings.size() > 1) d.TargetFund()->SetFundID(account->holdings[1].FundID);
        if (kind == FormKind::Conversion) d.TargetFeeBox()->setEditText(QStringLiteral("0.5"));
        d.NoteEdit()->setText(QStringLiteral("示例记帐"));
        d.show();
        save(&d, name);
    }
    {
        CSplitDialog d(m_ctx, first, hasHolding ? &held : nullptr, {}, &m_frame);
        d.RatioEdit()->setText(QStringLiteral("1.5000"));
        const double shares = hasHolding ? account->holdings.front().TotalCount * 1.5 : 15000;
        d.CountEdit()->setText(QString::number(shares, 'f', 2));
        d.show();
        save(&d, "dialog-split");
    }
    {
        CCancelTradeDialog d(m_ctx, first, {}, &m_frame);
        d.show();
        save(&d, "dialog-cancel-trade");
    }
    // The split records arrive from the worker; the lists' pages are done.
    m_ctx.runner.WhenIdle([ok, done] { done(ok); });
}

void SaveBookkeepingScreenshots(CMainFrame& frame, const QString& dir, std::function<void(bool)> done)
{
    CBookkeepingUi* ui = CBookkeepingUi::Of(frame);
    if (!ui) {
        done(true);
        return;
    }
    ui->SaveScreenshots(dir, std::move(done));
}

}  // namespace vextal
