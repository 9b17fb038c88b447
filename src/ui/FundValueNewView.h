#pragma once
// The latest-values pages: one fund class at a time (open-end, closed-end,
// ETF/LOF, collective products) over the configurable columns, and the
// money-market page with its own columns. Opening or refreshing a page runs
// the class download with a progress dialog that can cancel it.
#include <QWidget>

#include "app/Settings.h"
#include "common/UserPrompt.h"
#include "ui/ListView.h"

namespace vextal {

class CMarketData;
struct CNewFundValue;

class CFundValueNewView : public QWidget {
    Q_OBJECT

public:
    CFundValueNewView(CMarketData& market, const CSettings& settings, std::string iniPath, IUserPrompt& prompt,
                      bool moneyMarket, QWidget* parent = nullptr);

    // Switches to a class; downloads when the stored values are not current.
    void SetFundClass(int fundClass);
    int FundClass() const { return m_fundClass; }
    // Runs the class download (a refresh asks for the whole class again).
    void Refresh();
    void SetOffline(bool offline) { m_offline = offline; }
    // Three-key order of the sort dialog.
    void ApplySort(const CSortSettings& sort);
    void SaveColumnWidths() const;
    CListView* List() const { return m_list; }
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    QString Title() const;

signals:
    void titleChanged(const QString& title);

private:
    void Download(bool refresh);
    void Rebuild();
    ListCell Cell(int row, int columnId) const;
    QString FundName(const std::string& fundId) const;
    std::vector<std::string> SelectedFunds() const;
    void ShowContextMenu(const QPoint& pos);

    CMarketData& m_market;
    const CSettings& m_settings;
    std::string m_iniPath;
    IUserPrompt& m_prompt;
    bool m_moneyMarket;
    bool m_offline = false;
    int m_fundClass = 1;
    CListView* m_list;
    std::vector<const CNewFundValue*> m_rows;
};

}  // namespace vextal
