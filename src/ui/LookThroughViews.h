#pragma once
// The pages of what an account owns through its funds: the look-through
// exposure per stock with a picture of the largest industries (page 117),
// the overlap of every pair of held funds (118), and the account's
// time-weighted return against an index (119). The figures are computed by
// book/LookThrough and curve/AccountTwr; the pages fetch what they need on
// the task runner and show it.
#include <QDateEdit>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "book/LookThrough.h"
#include "curve/AccountTwr.h"
#include "net/DataService.h"
#include "ui/BookViews.h"

class QComboBox;
class QDoubleSpinBox;
class QPushButton;

namespace vextal {

class CCurveChart;
class CColumnPage;

inline constexpr int kLookThroughPage = 117;
inline constexpr int kOverlapPage = 118;
inline constexpr int kIndexComparePage = 119;
inline bool IsLookThroughPage(int page) { return page >= kLookThroughPage && page <= kIndexComparePage; }

// The exposure list's column catalogue, visible-columns key and widths.
inline constexpr int kExposureCatalogue = 59190;
const ConfigurableList& ExposureListConfig();
// Export kind of the overlap table (ids: its column numbers).
inline constexpr int kExportOverlap = 31;

// The overlap that warns on the holdings page, in percent: Show/OverlapWarn,
// 30 when missing or not a number from 0 to 100; 0 warns never.
double ReadOverlapWarning(const std::string& iniPath);
bool WriteOverlapWarning(double percent, const std::string& iniPath);

// The stock holdings of many funds from the data service, kept for the run
// (they change once a quarter). Money-market funds hold no stocks and are
// not asked.
class CFundHoldingsSource {
public:
    struct Result {
        std::map<std::string, std::vector<CFundInvestItem>> holdings;
        std::vector<std::string> failed;  // not had: the request failed, or offline and not fetched before
    };
    explicit CFundHoldingsSource(const BookContext& ctx);
    // `done` runs on the window's thread: at once when every fund is known,
    // otherwise once the worker has asked for the rest.
    CTaskRunner::CancelFlag Fetch(const std::vector<std::string>& funds, std::function<void(const Result&)> done);

private:
    const BookContext& m_ctx;
    std::shared_ptr<CFundInvestCache> m_cache;
};

// The funds held in one account (0: every account of the user), one entry
// per holding with shares, with the holdings of `got` as stocks.
std::vector<LookThroughFund> HeldFunds(const BookContext& ctx, int accountId,
                                       const CFundHoldingsSource::Result* got = nullptr);
std::vector<std::string> FundCodes(const std::vector<LookThroughFund>& funds);
// "帐户 X" or "全部帐户".
QString AccountCaption(const BookContext& ctx, int accountId);

// The largest industries as a pie with a legend of amounts and shares.
class CIndustryChart : public QWidget {
    Q_OBJECT

public:
    explicit CIndustryChart(QWidget* parent = nullptr);
    void SetIndustries(const std::vector<IndustryExposure>& industries, bool thousands);
    // The slices: at most 8 industries, the rest of the disclosed ones as
    // "其他行业", the undisclosed last.
    const std::vector<IndustryExposure>& Bars() const { return m_bars; }
    QSize sizeHint() const override { return QSize(290, 300); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<IndustryExposure> m_bars;
    bool m_thousands = false;
};

// Page 117.
class CExposureView : public CBookListPage {
    Q_OBJECT

public:
    CExposureView(const BookContext& ctx, CFundHoldingsSource& holdings, QWidget* parent = nullptr);
    ~CExposureView() override;
    void Refresh(int accountId);
    void RebuildColumns();
    bool IsLoading() const { return m_pending != nullptr; }
    const LookThroughResult& Result() const { return m_result; }
    CIndustryChart* Industries() const { return m_industries; }
    QString Note() const;

signals:
    void loaded();

private:
    void Show(const CFundHoldingsSource::Result& got);
    ListCell Cell(int row, int columnId) const;

    const BookContext& m_ctx;
    CFundHoldingsSource& m_holdings;
    int m_accountId = 0;
    LookThroughResult m_result;
    QLabel* m_note;
    CIndustryChart* m_industries;
    CTaskRunner::CancelFlag m_pending;
    int m_serial = 0;
};

// Page 118: every pair of held funds, strongest first.
class COverlapView : public CBookListPage {
    Q_OBJECT

public:
    COverlapView(const BookContext& ctx, CFundHoldingsSource& holdings, QWidget* parent = nullptr);
    ~COverlapView() override { CTaskRunner::Cancel(m_pending); }
    void Refresh(int accountId);
    bool IsLoading() const { return m_pending != nullptr; }
    const std::vector<FundOverlap>& Overlaps() const { return m_overlaps; }
    QString Note() const;

signals:
    void loaded();

private:
    ListCell Cell(int row, int columnId) const;

    const BookContext& m_ctx;
    CFundHoldingsSource& m_holdings;
    int m_accountId = 0;
    std::vector<FundOverlap> m_overlaps;
    std::map<std::string, std::string> m_stockNames;
    QLabel* m_note;
    CTaskRunner::CancelFlag m_pending;
    int m_serial = 0;
};

// Page 119: the account's time-weighted return against an index over a range.
class CAccountIndexView : public QWidget {
    Q_OBJECT

public:
    CAccountIndexView(const BookContext& ctx, QWidget* parent = nullptr);
    ~CAccountIndexView() override;
    // The account of the panel; the range starts at its first trade.
    void SetAccount(int accountId);
    // "确定": the range and index of the bar.
    void Apply();
    bool IsLoading() const { return m_pending != nullptr; }
    void ReloadDisplay();

    CCurveChart* Chart() const { return m_chart; }
    QComboBox* IndexBox() const { return m_index; }
    QDateEdit* StartEdit() const { return m_start; }
    QDateEdit* EndEdit() const { return m_end; }
    const AccountTwr& Account() const { return m_twr; }
    const IndexTwr& Index() const { return m_indexTwr; }
    QString Figures() const;

signals:
    void drawn();

private:
    void Draw();

    const BookContext& m_ctx;
    int m_accountId = 0;
    QLabel* m_title;
    QComboBox* m_index;
    QDateEdit* m_start;
    QDateEdit* m_end;
    QPushButton* m_ok;
    CCurveChart* m_chart;
    QLabel* m_figures;
    AccountTwr m_twr;
    IndexTwr m_indexTwr;
    CTaskRunner::CancelFlag m_pending;
    int m_serial = 0;
};

// The options dialog's page "持仓穿透": the overlap warning and the exposure list's columns.
class CLookThroughOptionsPage : public QWidget {
    Q_OBJECT

public:
    CLookThroughOptionsPage(const std::string& iniPath, QWidget* parent = nullptr);
    void Save() const;
    QDoubleSpinBox* Threshold() const { return m_threshold; }
    CColumnPage* Columns() const { return m_columns; }

private:
    std::string m_iniPath;
    QDoubleSpinBox* m_threshold;
    CColumnPage* m_columns;
};

}  // namespace vextal
