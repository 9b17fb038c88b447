#pragma once
// The fund curve page: the chart under one of two bars, the multi-fund
// curve bar of the overlays (statistic, dates, index boxes, day count, the
// fund selection, "确定") and the single-fund bar of the NAV trend and the
// real-time estimate. What a draw needs from the network is fetched on the
// task runner's worker first; the chart is drawn when it is there.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "curve/CurveData.h"
#include "ui/TaskRunner.h"

class QListWidget;
class QTreeWidget;

namespace vextal {

class CCurveChart;
class CCurvePointsDialog;
class CMainFrame;
class CMarketData;
class CVextalDoc;
class IUserPrompt;

// The multi-fund curve bar.
class CCurveBar : public QWidget {
    Q_OBJECT

public:
    explicit CCurveBar(QWidget* parent = nullptr);
    // Refills the bar for a curve kind; `today` ends the date range.
    void Fill(int kind, const QDate& today);
    int Kind() const { return m_kind; }
    CurveBarValues Values() const;

    QComboBox* statistic;
    QDateEdit *start, *end;
    QCheckBox *shanghai, *shenzhen, *csi300;
    QComboBox* days;
    QPushButton *chooseFunds, *ok;

private:
    void ApplyIndexRule();
    QWidget* m_dayLabel;
    int m_kind = 0;
};

// The single-fund bar: fund box, dates, "涨跌幅曲线", "确定".
class CSingleFundBar : public QWidget {
    Q_OBJECT

public:
    explicit CSingleFundBar(QWidget* parent = nullptr);
    QComboBox* fund;
    QDateEdit *start, *end;
    QCheckBox* dailyChange;
    QPushButton* ok;
    QPushButton* list;      // "？": every fund to choose from
    QPushButton* keyboard;  // "F": the keyboard picker with what was typed
};

// "基金选择": the available and the selected funds.
class CFundSelectDialog : public QDialog {
    Q_OBJECT

public:
    // `checkCount` is asked with the number already selected before one
    // more is added (the membership's limit; it says why it refuses).
    CFundSelectDialog(const std::vector<std::pair<std::string, std::string>>& available,
                      const std::vector<std::string>& selected, IUserPrompt& prompt,
                      std::function<bool(int)> checkCount, QWidget* parent = nullptr);
    std::vector<std::string> Selected() const;
    // The buttons' work, also for tests: false when refused.
    bool AddHighlighted();
    void RemoveHighlighted();
    void RemoveAll();
    QListWidget *availableList, *selectedList;

private:
    IUserPrompt& m_prompt;
    std::function<bool(int)> m_checkCount;
};

class CFundCurveView : public QWidget {
    Q_OBJECT

public:
    CFundCurveView(CVextalDoc& doc, CMarketData& market, CTaskRunner& runner, IUserPrompt& prompt,
                   const std::string& iniPath, QWidget* parent = nullptr);
    ~CFundCurveView() override;

    // A curve menu command (the frame has applied its access rules).
    void RunCurveCommand(int commandId);
    // The curve bar's "确定".
    void ApplyCurveBar();
    // The single-fund bar's "确定": the current fund in the current kind.
    void ApplySingleFund();
    // The account income curve of one account.
    void ShowAccountIncome(int accountId);
    // The account panel, for the current account or holding.
    void SetAccountTree(QTreeWidget* tree) { m_tree = tree; }
    void ChooseFunds();
    // The funds of the overlays: the document's selection, which the
    // real-time estimate uses too.
    void SetSelectedFunds(const std::vector<std::string>& funds);
    // "基金曲线点信息" over the chart (one, kept while the view lives).
    void ShowPointList();
    // The colours of the options, read again.
    void ReloadDisplay();
    // The single-fund bar's pickers: the chosen fund drawn at once.
    void PickSingleFund(bool withTyped);
    // The refresh command: the curve shown drawn again, with the bar's values.
    void Redraw();

    CCurveChart* Chart() const { return m_chart; }
    CCurveBar* Bar() const { return m_bar; }
    CSingleFundBar* SingleBar() const { return m_single; }
    CCurveData& Data() { return m_data; }
    CMarketData& Market() { return m_market; }
    bool IsLoading() const { return m_pending != nullptr; }

signals:
    // A draw finished (its fetches done and the chart laid out).
    void curveDrawn();

private:
    // Fetches what the draw needs that is not here yet, then draws.
    void LoadThenDraw(int kind, const std::vector<std::string>& funds, int statistic, bool splits,
                      std::function<void()> draw, const std::vector<int>& indexes = {});
    void Finish();
    std::string CurrentFundChoice() const;
    void SyncSession();

    CVextalDoc& m_doc;
    CMarketData& m_market;
    CTaskRunner& m_runner;
    IUserPrompt& m_prompt;
    std::string m_iniPath;
    CCurveData m_data;
    CCurveChart* m_chart;
    CCurveBar* m_bar;
    CSingleFundBar* m_single;
    QTreeWidget* m_tree = nullptr;
    CCurvePointsDialog* m_points = nullptr;
    CTaskRunner::CancelFlag m_pending;
    int m_serial = 0;
    bool m_busyCursor = false;
    int m_kind = 1;
    int m_accountId = 0;
};

// Builds the curve page and registers every curve command of the frame.
CFundCurveView* InstallCurveView(CMainFrame& frame, CVextalDoc& doc, CMarketData& market, CTaskRunner& runner,
                                 IUserPrompt& prompt, const std::string& iniPath);
// Pictures of every curve kind into <dir>/curve-*.png (screenshot mode).
void SaveCurveScreenshots(CMainFrame& frame, const QString& dir, std::function<void(bool ok)> done);

}  // namespace vextal
