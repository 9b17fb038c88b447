#pragma once
// The bookkeeping lists: the account list "基金帐户明细", the holdings of
// one account with the trades of the chosen holding under them, the trade
// lists and the trade income list. Every list shows what the engine holds
// in memory (CAccountManager's accounts, holdings and confirmed trades), so
// a rebuild after a booking reads no database and asks no service.
#include <QLabel>
#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "book/BookTypes.h"
#include "book/Income.h"
#include "common/UserPrompt.h"
#include "ui/ListView.h"
#include "ui/TaskRunner.h"

namespace vextal {

class CVextalDoc;
class CMarketData;
class CAccountManager;

// What every bookkeeping view and dialog works with.
struct BookContext {
    CVextalDoc& doc;
    CMarketData& market;
    CTaskRunner& runner;
    IUserPrompt& prompt;
    std::string iniPath;

    CAccountManager& Accounts() const;
    // The fund's name as the catalogue (or the keyboard wizard list) has it; the code when unknown.
    QString FundName(const std::string& fundId) const;
    bool ShowThousand() const;
    bool FundZeroHide() const;
    int ListItemSize() const;
};

// Money and counts "%0.2f", with thousands separators when asked.
QString BookNumber(double value, bool thousands, const char* format = "%0.2f");

// A titled list: the caption above, the list below.
class CBookListPage : public QWidget {
    Q_OBJECT

public:
    explicit CBookListPage(QWidget* parent = nullptr);
    CListView* List() const { return m_list; }
    QString Title() const { return m_title->text(); }
    // The source row under the current index of the list (-1: none).
    int CurrentRow() const;

protected:
    void SetTitle(const QString& title) { m_title->setText(title); }
    QLabel* m_title;
    CListView* m_list;
};

// Page 105: one row per account, then "合计" and "平均".
class CAccountListView : public CBookListPage {
    Q_OBJECT

public:
    CAccountListView(const BookContext& context, QWidget* parent = nullptr);
    void Rebuild();
    // The visible columns and row size again (after the options changed them).
    void RebuildColumns();
    // The account of the current row (0: none, or a sum row).
    int CurrentAccountID() const;
    int AccountCount() const { return static_cast<int>(m_accounts.size()); }
    void SaveColumnWidths() const;

signals:
    void accountActivated(int accountId);

private:
    ListCell Cell(int row, int columnId) const;

    const BookContext& m_ctx;
    // Copies, so the list never points into records a booking replaces.
    struct AccountRow {
        int AccountID = 0;
        OleDate CreateDate;
        std::optional<double> AnnualRate;
    };
    std::vector<AccountRow> m_accounts;
    std::vector<IncomeRow> m_rows;  // accounts, then totals and average
};

// The trades of one holding, one account (0: every account of the user), as
// the trade lists show them.
class CTradeListModelSource {
public:
    explicit CTradeListModelSource(const BookContext& context) : m_ctx(context) {}
    void Load(int accountId, const std::string& fundId = std::string(), int buyType = -1);
    const std::vector<TradeInfo>& Trades() const { return m_trades; }
    ListCell Cell(int row, int columnId) const;

private:
    const BookContext& m_ctx;
    std::vector<TradeInfo> m_trades;
};

// The trade list columns (ids: 1 序号 .. 12 备注) and the short set of the
// cancel dialog's list.
const std::vector<ColumnSpec>& TradeListColumns();
const std::vector<ColumnSpec>& TradeInfoListColumns();

// The trades of the holding chosen in the holdings list.
class CFundTradeListView : public CListView {
    Q_OBJECT

public:
    CFundTradeListView(const BookContext& context, QWidget* parent = nullptr);
    void Show(int accountId, const std::string& fundId, int buyType);
    void Rebuild();
    const TradeInfo* CurrentTrade() const;

private:
    CTradeListModelSource m_source;
    int m_accountId = 0;
    std::string m_fundId;
    int m_buyType = -1;
};

// Page 106: the holdings of one account, then "合计" and "平均"; the trades
// of the current holding below.
class CFundTradeView : public CBookListPage {
    Q_OBJECT

public:
    CFundTradeView(const BookContext& context, QWidget* parent = nullptr);
    void SetAccount(int accountId);
    int AccountID() const { return m_accountId; }
    void Rebuild();
    // The visible columns and row size again (after the options changed them).
    void RebuildColumns();
    // The holding of the current row; false on a sum row or none.
    bool CurrentHolding(HoldingKey& key) const;
    void SelectHolding(const std::string& fundId, int buyType);
    int HoldingCount() const { return static_cast<int>(m_holdings.size()); }
    CFundTradeListView* Trades() const { return m_trades; }
    void SaveColumnWidths() const;

private:
    ListCell Cell(int row, int columnId) const;
    void ShowTradesOfCurrent();

    const BookContext& m_ctx;
    int m_accountId = 0;
    std::vector<FundTradeInfo> m_holdings;  // copies, as the account list's
    std::vector<IncomeRow> m_rows;
    CFundTradeListView* m_trades;
};

// Page 107: every confirmed trade of the chosen account (0: of every account).
class CFundTradeHistoryView : public CBookListPage {
    Q_OBJECT

public:
    CFundTradeHistoryView(const BookContext& context, QWidget* parent = nullptr);
    void SetAccount(int accountId);
    void Rebuild();
    const TradeInfo* CurrentTrade() const;
    int TradeCount() const { return static_cast<int>(m_source.Trades().size()); }

private:
    const BookContext& m_ctx;
    CTradeListModelSource m_source;
    int m_accountId = 0;
};

// The list of the cancel dialog: the account's trades in the short columns.
class CTradeInfoListView : public CListView {
    Q_OBJECT

public:
    CTradeInfoListView(const BookContext& context, QWidget* parent = nullptr);
    void Show(int accountId);
    const TradeInfo* CurrentTrade() const;
    int TradeCount() const { return static_cast<int>(m_source.Trades().size()); }

private:
    CTradeListModelSource m_source;
    int m_accountId = 0;
};

// Page 114: the income of every purchase-like trade since it was made. The
// local figures show at once; the service's interval figures come from the
// worker.
class CFundIncomeListView : public CBookListPage {
    Q_OBJECT

public:
    CFundIncomeListView(const BookContext& context, QWidget* parent = nullptr);
    ~CFundIncomeListView() override { CTaskRunner::Cancel(m_pending); }
    void SetAccount(int accountId);
    void Rebuild();
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    const std::vector<TradeIncomeRow>& Rows() const { return m_rows; }

private:
    ListCell Cell(int row, int columnId) const;
    void FetchIntervals();

    const BookContext& m_ctx;
    int m_accountId = 0;
    std::vector<TradeIncomeRow> m_rows;
    CTaskRunner::CancelFlag m_pending;
    int m_serial = 0;
};

}  // namespace vextal
