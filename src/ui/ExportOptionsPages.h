#pragma once
// Wires the spreadsheet export, the options dialog, the NAV history page
// and "添加到基金收藏夹" into the main frame.
#include <QComboBox>
#include <QDialog>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "market/FundCatalogue.h"

namespace vextal {

class CMainFrame;
class CVextalDoc;
class CMarketData;
class CTaskRunner;
class CFundValueNewView;
class CFundValueListView;
class IUserPrompt;

// The dialog "添加到基金收藏夹": the user's folders in "收藏夹:", "添加"
// sends the fund to the chosen one through `add` (folder number, or -1 with
// no folder) and shows its message.
class CAddFavouriteDialog : public QDialog {
    Q_OBJECT

public:
    CAddFavouriteDialog(const std::vector<CFundGroup>& folders, std::function<std::string(int folder)> add,
                        IUserPrompt& prompt, QWidget* parent = nullptr);
    QComboBox* Folders() const { return m_folders; }
    // The "添加" button; the last message shown.
    void Add();
    const std::string& Message() const { return m_message; }

private:
    std::function<std::string(int)> m_add;
    IUserPrompt& m_prompt;
    QComboBox* m_folders;
    std::string m_message;
};

// Adds the fund to a folder chosen in the dialog; on "添加成功" the folders
// are read again in the background and `changed` runs once they are in.
void AddFundToFavourites(CVextalDoc& doc, CMarketData& market, CTaskRunner& runner, IUserPrompt& prompt,
                         const std::string& fundId, QWidget* parent, std::function<void()> changed);

// Page 113, the commands History / HistoryMoney / HistoryClosed, Options,
// ExportExcel and AddFavourite, the export sources of the latest-value
// lists, and the lists taking new options at once. Returns page 113.
CFundValueListView* InstallExportOptionsPages(CMainFrame& frame, CVextalDoc& doc, CMarketData& market,
                                              CTaskRunner& runner, IUserPrompt& prompt, const std::string& iniPath,
                                              CFundValueNewView* values, CFundValueNewView* money);

// Pictures of the options dialog's tabs and the curve colour dialog.
bool SaveExportOptionsScreenshots(CMainFrame& frame, const QString& dir);

}  // namespace vextal
