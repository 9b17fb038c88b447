#pragma once
// The latest-values pages: one fund class at a time (open-end, closed-end,
// ETF/LOF, collective products) over the configurable columns, and the
// money-market page with its own columns. Opening or refreshing a page runs
// the class download on the task runner's worker, with a progress dialog
// that can cancel it; the list shows the old values until the new ones are
// stored, then all of them at once.
#include <QPointer>
#include <QProgressDialog>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/Settings.h"
#include "common/UserPrompt.h"
#include "ui/ListView.h"
#include "ui/TaskRunner.h"

namespace vextal {

class CMarketData;
struct CNewFundValue;
struct ValuesRequest;

class CFundValueNewView : public QWidget {
    Q_OBJECT

public:
    CFundValueNewView(CMarketData& market, CTaskRunner& runner, const CSettings& settings, std::string iniPath,
                      IUserPrompt& prompt, bool moneyMarket, QWidget* parent = nullptr);
    // A download still running is dropped with the view.
    ~CFundValueNewView() override { CTaskRunner::Cancel(m_pending); }

    // Switches to a class; downloads when the stored values are not current.
    void SetFundClass(int fundClass);
    int FundClass() const { return m_fundClass; }
    // Starts the class download (a refresh asks for the whole class again).
    void Refresh();
    // The selected-funds download (at most 32 codes), from a mirror when
    // `serverUrl` is given.
    void DownloadSelected(const std::vector<std::string>& fundIds, const std::string& serverUrl = std::string());
    bool IsDownloading() const { return m_pending != nullptr; }
    // Stops the running download; the list keeps its values.
    void CancelDownload();
    // Reads the rows again from the latest-value map.
    void Rebuild();
    void SetOffline(bool offline) { m_offline = offline; }
    // Three-key order of the sort dialog.
    void ApplySort(const CSortSettings& sort);
    void SaveColumnWidths() const;
    CListView* List() const { return m_list; }
    // "添加到基金收藏夹" of the popup menu, with the fund of the current row.
    void SetFavouriteHandler(std::function<void(const std::string& fundId)> handler) { m_favourite = std::move(handler); }
    // The fund of the current row (empty when none).
    std::string CurrentFund() const;
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    QString Title() const;

signals:
    void titleChanged(const QString& title);
    // A download ended: stored, failed or cancelled.
    void downloadFinished(int result);

private:
    void Download(bool refresh);
    void StartDownload(std::shared_ptr<ValuesRequest> request);
    // The disclosure pages of the funds (local fetch).
    void FetchDisclosurePages(const std::vector<std::string>& fundIds);
    void ShowProgress(const QString& text);
    void EndDownload(int result);
    ListCell Cell(int row, int columnId) const;
    QString FundName(const std::string& fundId) const;
    std::vector<std::string> SelectedFunds() const;
    void ShowContextMenu(const QPoint& pos);

    CMarketData& m_market;
    CTaskRunner& m_runner;
    CTaskRunner::CancelFlag m_pending;
    int m_downloadSerial = 0;  // moves on at every start and cancel
    QPointer<QProgressDialog> m_progress;
    const CSettings& m_settings;
    std::string m_iniPath;
    IUserPrompt& m_prompt;
    bool m_moneyMarket;
    bool m_offline = false;
    int m_fundClass = 1;
    int m_downloadClass = 0;  // the class of the running download (0: a list of funds)
    CListView* m_list;
    std::vector<const CNewFundValue*> m_rows;
    std::function<void(const std::string&)> m_favourite;
};

}  // namespace vextal
