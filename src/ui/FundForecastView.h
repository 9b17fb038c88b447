#pragma once
// The real-time estimate page: the funds with their estimate, the holdings
// of the selected fund with each stock's contribution, and the service page
// of that fund. One run at a time goes to the task runner's worker; the
// quotes' progress shows under the lists with a cancel button, and the lists
// change only when the run's result is back on this thread.
#include <QAbstractTableModel>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <memory>

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

    CTaskRunner& m_runner;
    ForecastViewContext m_ctx;
    CTaskRunner::CancelFlag m_pending;
    std::shared_ptr<std::atomic<int>> m_arrived;
    std::shared_ptr<std::atomic<int>> m_total;
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
