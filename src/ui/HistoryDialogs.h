#pragma once
// "从服务器下载历史净值" and "从服务器下载大盘指数": the stored date range of a
// fund or index, clearing it, and the incremental download. Many funds
// download on the task runner with progress and a cancel button.
#include <QDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/UserPrompt.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vextal {

class CNavHistory;
class CTaskRunner;

struct HistoryDialogContext {
    CNavHistory* history = nullptr;
    IUserPrompt* prompt = nullptr;
    CTaskRunner* runner = nullptr;
    std::vector<std::pair<std::string, std::string>> funds;  // code and the text shown, in list order
    // The document's list of chosen funds ("多个基金"), and the command that edits it.
    std::function<std::vector<std::string>()> chosenFunds;
    std::function<void()> chooseFunds;
    // Told on the worker, after each fund's request, how many are done (may be empty).
    std::function<void(size_t done)> fetched;
};

class CFundHistoryDialog : public QDialog {
    Q_OBJECT

public:
    CFundHistoryDialog(HistoryDialogContext ctx, QWidget* parent = nullptr);
    ~CFundHistoryDialog() override;
    void OnDownload();
    void OnClear();
    // The cancel button: a running download stops, nothing of it is stored.
    void OnCancel();
    void SelectFund(const std::string& code);
    void SetManyFunds(bool many);
    bool IsBusy() const { return m_cancel != nullptr; }
    QString RangeText() const;
    int Progress() const;

signals:
    void downloadDone();

private:
    void ShowRange();
    void SetBusy(bool busy);
    std::string Chosen() const;
    HistoryDialogContext m_ctx;
    QComboBox* m_fund;
    QLabel* m_range;
    QCheckBox* m_many;
    QPushButton* m_choose;
    QPushButton* m_download;
    QPushButton* m_clear;
    QPushButton* m_close;
    QProgressBar* m_progress;
    QTimer* m_poll;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::shared_ptr<std::atomic<size_t>> m_done;
};

class CIndexHistoryDialog : public QDialog {
    Q_OBJECT

public:
    CIndexHistoryDialog(HistoryDialogContext ctx, QWidget* parent = nullptr);
    void OnDownload();
    void OnClear();
    void SelectIndex(int position);
    QString RangeText() const;

private:
    void ShowRange();
    HistoryDialogContext m_ctx;
    QComboBox* m_index;
    QLabel* m_range;
};

}  // namespace vextal
