#pragma once
// The bookkeeping part of the window: the account panel's tree, the pages of
// the accounts group (account list, holdings, trade details, trade income),
// the account, booking and cancel dialogs, and the commands that open them.
// The application installs it once the frame exists and fills it after login.
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

#include "ui/BookViews.h"
#include "ui/TradeDialogs.h"

class QMenu;
class QTreeWidgetItem;

namespace vextal {

class CMainFrame;

class CBookkeepingUi : public QObject {
    Q_OBJECT

public:
    // Owned by the frame; the pages go into its home view at once.
    CBookkeepingUi(CMainFrame& frame, CVextalDoc& doc, CMarketData& market, CTaskRunner& runner, IUserPrompt& prompt,
                   std::string iniPath);
    ~CBookkeepingUi() override;
    static CBookkeepingUi* Of(const CMainFrame& frame);

    // After login: the commands, the tree and the lists.
    void Install();
    // The tree again from the engine's accounts and holdings; the choice kept.
    void RefillTree();
    // The engine changed the books: tree and open lists from its figures,
    // without a recomputation or a service question.
    void BooksChanged();
    // Every account recomputed from the values the program holds.
    void RefreshAll();
    // The frame's refresh (F5) on a bookkeeping page: the held funds' newest
    // values asked on the worker, then RefreshAll; offline, RefreshAll alone.
    void RefreshLatest();
    bool IsRefreshingLatest() const { return m_latestPending != nullptr; }
    void SaveColumnWidths() const;

    // The panel's choice: the account (0: the root or nothing) and holding.
    int CurrentAccountID() const;
    bool CurrentHolding(HoldingKey& key) const;
    void SelectAccount(int accountId);
    void SelectHolding(const HoldingKey& key);

    // Commands.
    // The account's income curve on the curves page.
    void ShowAccountIncomeCurve(int accountId);
    void NewAccount();
    void AccountProperties(int accountId);
    void DeleteAccount(int accountId);
    void OpenTradeDialog(FormKind kind);
    void OpenSplitDialog();
    void OpenCancelDialog();
    void DeleteCurrentItem();
    void ShowCurrentProperties();

    // Screenshot mode: example books when the user has none, then a picture
    // of each list and each dialog.
    void SaveScreenshots(const QString& dir, std::function<void(bool ok)> done);

signals:
    // The books in memory changed (a booking, a refresh of every account);
    // pages that show figures of the books compute them again.
    void booksChanged();

public:

    const BookContext& Context() const { return m_ctx; }
    BookingHooks Hooks();
    CAccountListView* AccountList() const { return m_accounts; }
    CFundTradeView* Holdings() const { return m_holdings; }
    CFundTradeHistoryView* TradeHistory() const { return m_history; }
    CFundIncomeListView* Income() const { return m_income; }

private:
    void AddAccountCurveItem(QMenu& menu, int accountId);
    void OnTreeChoice();
    void RebuildLists();
    bool BookExamples();

    CMainFrame& m_frame;
    BookContext m_ctx;
    QPointer<CAccountListView> m_accounts;
    QPointer<CFundTradeView> m_holdings;
    QPointer<CFundTradeHistoryView> m_history;
    QPointer<CFundIncomeListView> m_income;
    bool m_filling = false;
    CTaskRunner::CancelFlag m_latestPending;
};

// Screenshot mode's bookkeeping pictures (called after the other pages').
void SaveBookkeepingScreenshots(CMainFrame& frame, const QString& dir, std::function<void(bool ok)> done);

}  // namespace vextal
