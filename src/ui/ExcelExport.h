#pragma once
// Export of a list to a spreadsheet: the header row, then one row per list
// row in the order shown, each cell typed by the list kind's table (text,
// highlighted text, signed number in red or green, number with N decimals).
// The file is an .xlsx written here and opened with the desktop's
// spreadsheet program.
//
// A list kind is a table from the list's column ids to cell types. The
// catalogue lists use their catalogue number as kind (59175 accounts,
// 59176 holdings, 59177 latest values); lists with fixed columns take a
// kind of their own and register its table once:
//
//     RegisterExportKind(kMyKind, {{10, {ExportCell::Number, 0}}, {13, {ExportCell::Signed, 2}}});
//
// and their page tells the export command what to export:
//
//     SetExportSource(page, [this] { return ExportSource{m_list, kMyKind, QStringLiteral("…")}; });
//
// The command "导出表格到Excel" exports the page shown, if it set a source.
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAbstractItemModel;
class QTableView;
class QWidget;

namespace vextal {

class IUserPrompt;
class CListView;

enum class ExportCell {
    Text = 0,       // number format "@", the list text
    Highlight = 1,  // as Text, in RGB 49,121,189
    Signed = 2,     // number; red above 0, green below 0, default colour at 0
    Number = 3,     // number
};

struct ExportCellType {
    ExportCell type = ExportCell::Text;
    int decimals = 0;
};

// Column id → cell type; ids not in the table are written as text.
using ExportKindTable = std::map<int, ExportCellType>;

// Kinds of the lists with fixed columns built here.
enum ExportKind : int {
    kExportMoneyValues = 1,   // money-market latest values
    kExportNavHistory = 2,    // NAV history
    kExportMoneyHistory = 3,  // NAV history of a money-market fund
    kExportTrades = 4,        // trade details and trade records
    kExportTradeIncome = 5,   // trade income
    kExportEstimates = 6,     // real-time estimates of the funds (ids: column numbers)
    kExportEstimateStocks = 7,  // the estimated fund's stocks (ids: column numbers)
    kExportCurvePoints = 8,   // a chart's points: date, then one column per curve
    kExportAnalysis = 9,      // the investment analysis: group, figure
};

// Adds or replaces a kind's table.
void RegisterExportKind(int kind, ExportKindTable table);
// The table of a kind (empty when none is registered).
ExportKindTable ExportKindColumns(int kind);

// A worksheet name Excel accepts: []:*?/\ become "_", leading and trailing
// apostrophes go, at most 31 characters; an empty name becomes "Sheet1".
QString ExcelSheetName(const QString& name);

// Writes the model's header and rows, as shown, to a new workbook at
// `path`; column c has the id columnIds[c]. False with `error` on failure.
bool WriteListWorkbook(const QAbstractItemModel& model, const std::vector<int>& columnIds, int kind,
                       const QString& sheetName, const QString& path, QString* error = nullptr);

// Sheet names of the account list and of one account's holdings.
inline QString AccountsSheetName() { return QStringLiteral("基金帐户明细"); }
inline QString HoldingsSheetName(const QString& accountName)
{
    return QStringLiteral("帐户 ") + accountName + QStringLiteral(" 持有基金明细");
}

struct ExportSource {
    CListView* list = nullptr;
    int kind = 0;
    QString sheetName;
    // A plain table instead of a list: its column numbers are the ids.
    QTableView* table = nullptr;
    // A table made for the export (a chart's points), same ids.
    std::shared_ptr<QAbstractItemModel> model = nullptr;
};
// A page registers what its export command exports; gone with the page.
// `available`, when given, says cheaply whether there is anything to export
// now (a chart with points); the command is disabled while there is not.
void SetExportSource(QWidget* page, std::function<ExportSource()> source, std::function<bool()> available = {});
// Whether the page offers an export now (asked whenever the commands' states are).
bool HasExportSource(QWidget* page);
// The page's source, if it has one and it has something to export now.
bool FindExportSource(QWidget* page, ExportSource& source);

struct ExportEnvironment {
    QString folder;  // empty: ~/Documents/Vextal (or ~/Vextal)
    // Opens the file in the spreadsheet program; false when there is none.
    std::function<bool(const QString& path)> open;  // empty: the desktop's
};

// The export command: VIP check (59163), the file written and opened; where
// no spreadsheet program opens it, the path of the saved file is shown.
// The file is written under a temporary name in the target folder and
// renamed when complete, so a full disk leaves nothing under the final
// name; its name carries the program's clock.
// Returns the file written (empty when nothing was written).
QString ExportList(const ExportSource& source, bool vip, IUserPrompt& prompt,
                   const ExportEnvironment& env = ExportEnvironment());

}  // namespace vextal
