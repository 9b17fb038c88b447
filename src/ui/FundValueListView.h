#pragma once
// The NAV history page: one fund of a class (open-end, money-market or
// closed-end) chosen in a box, its stored NAVs between two dates, newest
// first. Showing a fund brings its history up to date once per run in the
// background; the list shows what is stored meanwhile and takes the new
// rows when they are in.
#include <QWidget>
#include <set>
#include <string>
#include <vector>

#include "market/FundValue.h"
#include "ui/ListView.h"
#include "ui/TaskRunner.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;

namespace vextal {

class CMarketData;
struct CSettings;

class CFundValueListView : public QWidget {
    Q_OBJECT

public:
    CFundValueListView(CMarketData& market, CTaskRunner& runner, const CSettings& settings, QWidget* parent = nullptr);
    ~CFundValueListView() override { CTaskRunner::Cancel(m_pending); }

    // 1 open-end (every fund but money-market and closed-end), 2 money-market, 3 closed-end.
    void SetFundClass(int fundClass);
    int FundClass() const { return m_fundClass; }
    // Shows the fund (a code of the box); downloads its newer NAVs once.
    void ShowFund(const std::string& fundId);
    std::string CurrentFund() const;
    void SetRange(const OleDate& from, const OleDate& to);
    void SetOffline(bool offline) { m_offline = offline; }
    // Downloads the fund's history again (the refresh command).
    void Refresh();
    bool IsDownloading() const { return m_pending != nullptr; }
    void CancelDownload();
    // Reads the rows again from the store.
    void Reload();
    // New display options: row size, fund names.
    void ApplySettings();

    CListView* List() const { return m_list; }
    QComboBox* FundBox() const { return m_funds; }
    int RowCount() const { return static_cast<int>(m_rows.size()); }

signals:
    void downloadFinished();

private:
    void BuildColumns();
    void FillFunds();
    void Download(const std::string& fundId);
    void EndDownload();
    ListCell Cell(int row, int columnId) const;

    CMarketData& m_market;
    CTaskRunner& m_runner;
    const CSettings& m_settings;
    CTaskRunner::CancelFlag m_pending;
    std::set<std::string> m_upToDate;  // funds whose download ran in this run
    bool m_offline = false;
    bool m_userRange = false;
    int m_fundClass = 0;
    QComboBox* m_funds;
    QDateEdit* m_from;
    QDateEdit* m_to;
    QLabel* m_status;
    QPushButton* m_cancel;
    CListView* m_list;
    std::vector<CFundValue> m_rows;  // newest first
};

}  // namespace vextal
