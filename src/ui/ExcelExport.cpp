#include "ui/ExcelExport.h"

#include <xlsxwriter.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QHash>
#include <QPointer>
#include <QProcess>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/Clock.h"
#include "common/Format.h"
#include "common/StringTable.h"
#include "common/UserPrompt.h"
#include "ui/ListView.h"

namespace vextal {

namespace {

ExportKindTable Runs(std::initializer_list<std::tuple<int, int, ExportCell, int>> runs)
{
    ExportKindTable t;
    for (auto [first, count, type, decimals] : runs)
        for (int id = first; id < first + count; ++id) t[id] = {type, decimals};
    return t;
}

std::map<int, ExportKindTable>& Kinds()
{
    using C = ExportCell;
    static std::map<int, ExportKindTable> kinds = {
        // Accounts: name, income figures, money, fund count, creation date.
        {59175, Runs({{10, 1, C::Highlight, 0}, {11, 6, C::Signed, 2}, {17, 4, C::Number, 2},
                      {21, 2, C::Signed, 2}, {23, 1, C::Number, 0}, {24, 1, C::Text, 0}})},
        // Holdings of one account.
        {59176, Runs({{10, 1, C::Number, 0}, {11, 1, C::Highlight, 0}, {12, 1, C::Text, 0}, {13, 4, C::Signed, 2},
                      {17, 1, C::Text, 0}, {18, 1, C::Signed, 2}, {19, 1, C::Number, 4}, {20, 1, C::Signed, 2},
                      {21, 1, C::Signed, 4}, {22, 1, C::Number, 4}, {23, 4, C::Number, 2}, {27, 2, C::Signed, 2},
                      {29, 1, C::Number, 2}})},
        // Latest values.
        {59177, Runs({{10, 1, C::Number, 0}, {11, 1, C::Text, 0}, {12, 1, C::Highlight, 0}, {13, 2, C::Text, 0},
                      {15, 3, C::Number, 4}, {18, 1, C::Signed, 2}, {19, 1, C::Signed, 4}, {20, 9, C::Signed, 2},
                      {29, 1, C::Number, 2}, {30, 1, C::Text, 0}})},
        {kExportMoneyValues, Runs({{10, 1, C::Number, 0}, {11, 1, C::Text, 0}, {12, 1, C::Highlight, 0},
                                   {13, 1, C::Text, 0}, {15, 1, C::Number, 4}, {18, 1, C::Number, 4},
                                   {20, 6, C::Signed, 2}, {30, 1, C::Text, 0}})},
        {kExportNavHistory, Runs({{10, 1, C::Number, 0}, {11, 1, C::Text, 0}, {12, 2, C::Number, 4},
                                  {14, 1, C::Signed, 2}, {15, 1, C::Signed, 4}})},
        {kExportMoneyHistory, Runs({{10, 1, C::Number, 0}, {11, 1, C::Text, 0}, {12, 2, C::Number, 4}})},
        // Trades: number, account, fund, code, type, amount, shares, price, fee rate, fee, time, note, date.
        {kExportTrades, Runs({{1, 1, C::Number, 0}, {3, 1, C::Highlight, 0}, {6, 2, C::Number, 2},
                              {8, 1, C::Number, 4}, {9, 2, C::Number, 2}})},
        {kExportTradeIncome, Runs({{1, 1, C::Number, 0}, {3, 1, C::Highlight, 0}, {5, 1, C::Signed, 2},
                                   {6, 1, C::Signed, 4}, {7, 1, C::Number, 0}, {8, 1, C::Signed, 4},
                                   {9, 3, C::Number, 4}, {13, 2, C::Number, 2}})},
        // Estimates: number, name, latest NAV, estimate, published value (with its mark), error.
        {kExportEstimates, Runs({{0, 1, C::Number, 0}, {1, 1, C::Highlight, 0}, {2, 1, C::Number, 4},
                                 {3, 1, C::Signed, 2}, {5, 1, C::Number, 2}})},
        {kExportEstimateStocks, Runs({{2, 1, C::Number, 2}, {3, 2, C::Signed, 2}})},
        // A chart's points: the date, then each curve (NAVs need four places).
        {kExportCurvePoints, Runs({{1, 16, C::Number, 4}})},
        {kExportAnalysis, Runs({{1, 1, C::Number, 2}})},
    };
    return kinds;
}

std::mutex& KindsMutex()
{
    static std::mutex m;
    return m;
}

constexpr lxw_color_t kHighlightColour = 0x3179BD;  // RGB 49,121,189
constexpr lxw_color_t kRed = 0xFF0000;
constexpr lxw_color_t kGreen = 0x007C00;

// One format per (number format, colour), all in Arial 10 as the sheet.
class FormatCache {
public:
    explicit FormatCache(lxw_workbook* wb) : m_wb(wb) {}
    lxw_format* Get(const std::string& numFormat, lxw_color_t colour)
    {
        auto key = std::make_pair(numFormat, colour);
        auto it = m_formats.find(key);
        if (it != m_formats.end()) return it->second;
        lxw_format* f = workbook_add_format(m_wb);
        format_set_font_name(f, "Arial");
        format_set_font_size(f, 10);
        if (!numFormat.empty()) format_set_num_format(f, numFormat.c_str());
        if (colour != LXW_COLOR_UNSET) format_set_font_color(f, colour);
        m_formats[key] = f;
        return f;
    }

private:
    lxw_workbook* m_wb;
    std::map<std::pair<std::string, lxw_color_t>, lxw_format*> m_formats;
};

// "0." and N zeros; with no decimals plain "0" (a bare "0." shows a stray point).
std::string NumberFormat(int decimals)
{
    return decimals > 0 ? "0." + std::string(static_cast<size_t>(decimals), '0') : "0";
}

QString DefaultFolder()
{
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty() || !QDir(docs).exists()) docs = QDir::homePath();
    return QDir(docs).filePath(QStringLiteral("Vextal"));
}

// The desktop has a program for .xlsx files: then it opens the file.
bool OpenWithDesktop(const QString& path)
{
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"),
                 QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet")});
    if (!query.waitForFinished(3000) || query.exitCode() != 0) return false;
    if (query.readAllStandardOutput().trimmed().isEmpty()) return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

struct RegisteredSource {
    std::function<ExportSource()> make;
    std::function<bool()> available;
};

QHash<QWidget*, RegisteredSource>& Sources()
{
    static QHash<QWidget*, RegisteredSource> sources;
    return sources;
}

}  // namespace

void RegisterExportKind(int kind, ExportKindTable table)
{
    std::lock_guard lock(KindsMutex());
    Kinds()[kind] = std::move(table);
}

ExportKindTable ExportKindColumns(int kind)
{
    std::lock_guard lock(KindsMutex());
    auto it = Kinds().find(kind);
    return it == Kinds().end() ? ExportKindTable() : it->second;
}

QString ExcelSheetName(const QString& name)
{
    QString s = name;
    for (QChar& c : s)
        if (QStringLiteral("[]:*?/\\").contains(c)) c = QLatin1Char('_');
    while (s.startsWith(QLatin1Char('\''))) s.remove(0, 1);
    s = s.left(31);
    while (s.endsWith(QLatin1Char('\''))) s.chop(1);
    return s.isEmpty() ? QStringLiteral("Sheet1") : s;
}

bool WriteListWorkbook(const QAbstractItemModel& model, const std::vector<int>& columnIds, int kind,
                       const QString& sheetName, const QString& path, QString* error)
{
    auto fail = [error](const QString& text) {
        if (error) *error = text;
        return false;
    };
    // The library prints its numbers with printf: a decimal comma of the
    // desktop's locale would make them unreadable to any spreadsheet.
    CNumericLocaleScope cLocale;
    const QByteArray file = QFile::encodeName(path);
    // Rows go to the file as they are written, strings inline: a list of
    // ten thousand funds costs neither a string table nor the whole sheet in memory.
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(file.constData(), &options);
    if (!wb) return fail(QStringLiteral("无法创建文件 %1").arg(path));
    const QByteArray sheetUtf8 = ExcelSheetName(sheetName).toUtf8();
    lxw_worksheet* ws = workbook_add_worksheet(wb, sheetUtf8.constData());
    if (!ws) {
        workbook_close(wb);
        return fail(QStringLiteral("无法创建工作表"));
    }
    FormatCache formats(wb);
    lxw_format* text = formats.Get("@", LXW_COLOR_UNSET);
    const ExportKindTable table = ExportKindColumns(kind);
    const int columns = model.columnCount();

    // Each column's type and its formats: plain, above 0, below 0.
    struct Column {
        ExportCellType type;
        lxw_format* format[3] = {nullptr, nullptr, nullptr};
    };
    std::vector<Column> plan(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) {
        Column& col = plan[static_cast<size_t>(c)];
        const int id = c < static_cast<int>(columnIds.size()) ? columnIds[static_cast<size_t>(c)] : c;
        if (auto it = table.find(id); it != table.end()) col.type = it->second;
        switch (col.type.type) {
        case ExportCell::Text: col.format[0] = col.format[1] = col.format[2] = text; break;
        case ExportCell::Highlight: col.format[0] = col.format[1] = col.format[2] = formats.Get("@", kHighlightColour); break;
        case ExportCell::Number:
            col.format[0] = col.format[1] = col.format[2] = formats.Get(NumberFormat(col.type.decimals), LXW_COLOR_UNSET);
            break;
        case ExportCell::Signed:
            col.format[0] = formats.Get(NumberFormat(col.type.decimals), LXW_COLOR_UNSET);
            col.format[1] = formats.Get(NumberFormat(col.type.decimals), kRed);
            col.format[2] = formats.Get(NumberFormat(col.type.decimals), kGreen);
            break;
        }
    }

    // Row 1: the header.
    for (int c = 0; c < columns; ++c)
        worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c),
                               model.headerData(c, Qt::Horizontal).toString().toUtf8().constData(), text);
    // A list (or the sorting proxy over one) has the number behind each cell.
    const auto* proxy = qobject_cast<const QSortFilterProxyModel*>(&model);
    const bool listModel = qobject_cast<const CListModel*>(proxy ? proxy->sourceModel() : &model) != nullptr;
    // Rows 2 on: the list rows in the order shown.
    std::vector<QByteArray> cells(static_cast<size_t>(columns));
    for (int r = 0; r < model.rowCount(); ++r) {
        const lxw_row_t row = static_cast<lxw_row_t>(r + 1);
        bool separator = true;
        for (int c = 0; c < columns; ++c) {
            cells[static_cast<size_t>(c)] = model.data(model.index(r, c)).toString().toUtf8();
            if (!cells[static_cast<size_t>(c)].isEmpty()) separator = false;
        }
        for (int c = 0; c < columns; ++c) {
            const lxw_col_t col = static_cast<lxw_col_t>(c);
            const QByteArray& cell = cells[static_cast<size_t>(c)];
            const Column& type = plan[static_cast<size_t>(c)];
            // A separator row, or an empty cell, stays an empty text cell.
            if (separator || cell.isEmpty() || type.type.type == ExportCell::Text ||
                type.type.type == ExportCell::Highlight) {
                worksheet_write_string(ws, row, col, cell.constData(), separator || cell.isEmpty() ? text : type.format[0]);
                continue;
            }
            // The number behind the cell (a list's sort value), rounded as the column shows it.
            const QVariant behind = listModel ? model.data(model.index(r, c), CListModel::SortRole) : QVariant();
            const double v = RoundDecimal(CellNumberOf(behind, QString::fromUtf8(cell)), std::clamp(type.type.decimals, 0, 15));
            worksheet_write_number(ws, row, col, v, type.format[v > 0 ? 1 : v < 0 ? 2 : 0]);
        }
    }
    const lxw_error result = workbook_close(wb);
    if (result != LXW_NO_ERROR)
        return fail(QStringLiteral("保存文件 %1 失败: %2").arg(path, QString::fromUtf8(lxw_strerror(result))));
    return true;
}

void SetExportSource(QWidget* page, std::function<ExportSource()> source, std::function<bool()> available)
{
    if (!page) return;
    const bool known = Sources().contains(page);
    Sources()[page] = {std::move(source), std::move(available)};
    if (!known) QObject::connect(page, &QObject::destroyed, [page] { Sources().remove(page); });
}

bool HasExportSource(QWidget* page)
{
    auto it = Sources().find(page);
    return it != Sources().end() && (!it->available || it->available());
}

bool FindExportSource(QWidget* page, ExportSource& source)
{
    if (!HasExportSource(page)) return false;
    source = Sources().value(page).make();
    return source.list != nullptr || source.table != nullptr || source.model != nullptr;
}

QString ExportList(const ExportSource& source, bool vip, IUserPrompt& prompt, const ExportEnvironment& env)
{
    if (!vip) {
        prompt.ShowMessage(LoadResString(59163), PromptIcon::Information);
        return {};
    }
    QTableView* table = source.list ? source.list : source.table;
    const QAbstractItemModel* model = source.model ? source.model.get() : table ? table->model() : nullptr;
    if (!model) return {};
    const QString folder = env.folder.isEmpty() ? DefaultFolder() : env.folder;
    if (!QDir().mkpath(folder)) {
        prompt.ShowMessage(QStringLiteral("无法创建文件夹 %1，表格没有保存。").arg(folder).toStdString(), PromptIcon::Warning);
        return {};
    }
    // The time of the program's clock (the market's), as every other time it shows.
    const DateParts now = Clock::Now().Parts();
    const QString stamp = QString::fromStdString(
        StrFormat("%04d%02d%02d-%02d%02d%02d", now.year, now.month, now.day, now.hour, now.minute, now.second));
    const QString path = QDir(folder).filePath(ExcelSheetName(source.sheetName) + "-" + stamp + ".xlsx");
    std::vector<int> ids;
    if (source.list)
        for (const ColumnSpec& spec : source.list->Model()->Columns()) ids.push_back(spec.id);
    // Written beside the final name and renamed when whole: a full disk or a
    // failed write leaves no cut file under a name a user would open.
    QString partial;
    {
        QTemporaryFile reserve(QDir(folder).filePath(QStringLiteral(".export-XXXXXX.xlsx")));
        reserve.setAutoRemove(false);
        if (!reserve.open()) {
            prompt.ShowMessage(QStringLiteral("无法在文件夹 %1 中写入文件（%2），表格没有保存。")
                                   .arg(folder, reserve.errorString())
                                   .toStdString(),
                               PromptIcon::Warning);
            return {};
        }
        partial = reserve.fileName();
    }
    QString error;
    // A local write of at most a second for the largest list: in place, under a busy cursor.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool written = WriteListWorkbook(*model, ids, source.kind, source.sheetName, partial, &error);
    if (written && ::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) != 0) {
        written = false;
        error = QString::fromLocal8Bit(std::strerror(errno));
    }
    QApplication::restoreOverrideCursor();
    if (!written) {
        QFile::remove(partial);
        // The library says only that the file could not be made: a full disk is the usual cause.
        const QStorageInfo disk(folder);
        const QString why = disk.isValid() && disk.bytesAvailable() < 1024 * 1024
                                ? QStringLiteral("磁盘空间不足（%1 只剩 %2 KB）").arg(folder).arg(disk.bytesAvailable() / 1024)
                                : error;
        prompt.ShowMessage(QStringLiteral("表格没有保存到 %1：%2。请腾出磁盘空间或换一个文件夹后再导出。")
                               .arg(path, why)
                               .toStdString(),
                           PromptIcon::Warning);
        return {};
    }
    const bool opened = env.open ? env.open(path) : OpenWithDesktop(path);
    if (!opened) prompt.ShowMessage(QStringLiteral("表格已保存到 %1").arg(path).toStdString(), PromptIcon::Information);
    return path;
}

}  // namespace vextal
