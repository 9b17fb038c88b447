#pragma once
// The real-time estimate page: the funds with their estimate, the holdings
// of the selected fund with each stock's contribution, the curve of its
// daily estimate errors, and the service page of that fund. One run at a
// time goes to the task runner's worker: holdings, quotes, the service's
// calibration and the funds' latest values, each phase's progress under the
// lists with a cancel button; the lists change only when the run's result
// is back on this thread.
#include <QAbstractTableModel>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>

#include "estimate/EstimateErrors.h"
#include "estimate/ForecastRows.h"
#include "estimate/FundForecast.h"
#include "ui/TaskRunner.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;

namespace vextal {

class CEstimateErrors;
class CMainFrame;
class CMarketData;
class CRealtimeEstimates;
class CVextalDoc;
class CWebPane;

inline constexpr int kAutoRefreshTimerId = 12020;
inline constexpr int kAutoRefreshMs = 30000;

// Brings values for the page: called on this thread, the fetch it returns
// runs on the worker, and the store the fetch returns runs here again.
using ForecastStore = std::function<void()>;
using ForecastFetch = std::function<ForecastStore()>;
// The published NAV records of a fund over days (on the worker); false when
// they could not be had.
using PublishedSource =
    std::function<bool(const std::string& fundId, const OleDate& from, const OleDate& to, std::vector<CFundValue>& records)>;

// What the view reads from the program; tests give their own.
struct ForecastViewContext {
    std::function<std::vector<std::string>()> selectedFunds;  // "自选基金"
    std::function<ForecastFundInfo(const std::string& fundId)> fundInfo;
    EstimateSources sources;
    std::string webSiteBase;  // ends with "/"
    QString indexPage;        // the local stockindex.htm
    CEstimateErrors* errors = nullptr;      // the error history (none: not kept)
    CRealtimeEstimates* realtime = nullptr;  // fed from each estimate
    std::function<void()> showIndexQuotes;   // command 32893
    int waitPerFundMs = kQuoteWaitPerFundMs;
    // The latest values of the funds estimated (the page shows their latest
    // NAV and, once out, the day's published growth); none: not fetched.
    std::function<ForecastFetch(const std::vector<std::string>& funds)> latestValues;
    // For the estimates still waiting for their NAV; none (offline): not asked.
    std::function<PublishedSource()> publishedValues;
};

// The daily errors of one fund's estimate (estimate − published, in
// percentage points) over the last 20 trading days, with their mean.
class CErrorCurve : public QWidget {
    Q_OBJECT

public:
    explicit CErrorCurve(QWidget* parent = nullptr);
    void SetOutcomes(const QString& fundName, std::vector<EstimateOutcome> outcomes);
    QSize sizeHint() const override { return {360, 130}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_fund;
    std::vector<EstimateOutcome> m_outcomes;
};

// Rows of one list with their sign colours.
class CForecastModel : public QAbstractTableModel {
    Q_OBJECT

public:
    struct Cell {
        QString text;
        int sign = 0;  // >0 red, <0 green
    };
    CForecastModel(QStringList titles, QObject* parent = nullptr)
        : QAbstractTableModel(parent), m_titles(std::move(titles))
    {
    }
    void SetRows(std::vector<std::vector<Cell>> rows);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QStringList m_titles;
    std::vector<std::vector<Cell>> m_rows;
};

class CFundForecastView : public QWidget {
    Q_OBJECT

public:
    CFundForecastView(CTaskRunner& runner, ForecastViewContext context, QWidget* parent = nullptr);
    ~CFundForecastView() override;

    // "估算": one run unless one is going (false: nothing started).
    bool RunEstimate();
    // A tick of the refresh timer: runs only with the view shown.
    void OnTimerTick(int timerId);
    void SetAutoRefresh(bool on);
    bool AutoRefreshActive() const { return m_autoTimer.isActive(); }
    // Stops the run going; the lists keep what they show.
    void CancelRun();
    bool IsRunning() const { return m_pending != nullptr; }
    // Compares the intraday estimates that wait for a NAV by now published
    // (at the start, for days the program was closed); on the worker.
    void CompareWaitingEstimates();
    CErrorCurve* ErrorCurve() const { return m_curve; }
    // The fund box and the all/one mode.
    void SetAllFunds(bool all);
    void ReloadFundBox();
    void SelectFund(int row);

    CForecastModel* FundModel() const { return m_fundModel; }
    CForecastModel* HoldingModel() const { return m_holdingModel; }
    QTableView* FundList() const { return m_fundList; }
    QTableView* HoldingList() const { return m_holdingList; }
    CWebPane* Pane() const { return m_web; }
    const EstimateResult& LastResult() const { return *m_result; }
    QString StatusText() const;

signals:
    // A run ended: its status (cancelled included).
    void estimateFinished(int status);

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::vector<std::string> FundsToEstimate() const;
    void Finish(std::shared_ptr<EstimateResult> result);
    void EndRun();
    void ShowFundRows();
    void ShowHoldings(const std::string& fundId);

    struct Progress {
        std::atomic<int> phase{0}, done{0}, total{0};
    };

    void ShowErrorCurve(const std::string& fundId);
    // The published growth of the funds' latest values, for the estimates of that day.
    void CompareWithLatest();

    CTaskRunner& m_runner;
    ForecastViewContext m_ctx;
    CTaskRunner::CancelFlag m_pending;
    std::shared_ptr<Progress> m_progressState;
    std::shared_ptr<EstimateResult> m_result;  // the last calibrated run
    std::vector<ForecastFundRow> m_fundRows;
    QTimer m_autoTimer;
    QTimer m_progressTimer;
    QComboBox* m_fundBox;
    QCheckBox* m_allFunds;
    QCheckBox* m_auto;
    QPushButton* m_estimate;
    QPushButton* m_indexQuotes;
    QTableView* m_fundList;
    QTableView* m_holdingList;
    CForecastModel* m_fundModel;
    CForecastModel* m_holdingModel;
    CWebPane* m_web;
    CErrorCurve* m_curve;
    QProgressBar* m_progress;
    QPushButton* m_cancel;
    QLabel* m_status;
};

// The view on page 112 of the frame, fed by the document's data; its
// real-time values go to the bookkeeping's income figures.
CFundForecastView* InstallFundForecastView(CMainFrame& frame, CVextalDoc& doc, CMarketData& market,
                                           CTaskRunner& runner);

// Screenshot mode: the estimate page after one run, as <dir>/estimate.png.
void SaveForecastScreenshot(CMainFrame& frame, const QString& dir, std::function<void(bool ok)> done);

}  // namespace vextal
