// Export of a latest-value list of 10,000 funds and every column to a
// spreadsheet, against writing the same cell texts as a plain text file
// (the least any export of the list has to do) in the same run.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include "BenchUtil.h"
#include "ui/ColumnCatalogue.h"
#include "ui/ExcelExport.h"
#include "ui/ListView.h"

using namespace vextal;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::ScratchDir dir;
    CListView list;
    std::vector<ColumnSpec> columns = ParseCatalogue(59177);
    std::vector<int> ids;
    for (const ColumnSpec& c : columns) ids.push_back(c.id);
    list.Model()->SetColumns(59177, columns);
    const int rows = 10000;
    list.Model()->SetSource(rows, [](int row, int id) -> ListCell {
        if (id == 12) return {QStringLiteral("示例基金%1").arg(row), {}};
        if (id == 11 || id == 30) return {QStringLiteral("2024-10-09"), {}};
        if (id >= 18 && id <= 28) return {QString::number((row % 200 - 100) * 0.0137, 'f', 2) + "%", {}};
        return {QString::number(1000.0 + row * 0.25 + id, 'f', 4), {}};
    });
    const QAbstractItemModel& model = *list.model();
    const QString base = QString::fromStdString(dir.File(""));

    double plain = bench::BestMs(3, [&](int i) {
        QFile file(QDir(base).filePath(QStringLiteral("plain%1.txt").arg(i)));
        file.open(QIODevice::WriteOnly);
        QTextStream out(&file);
        for (int r = 0; r < model.rowCount(); ++r) {
            for (int c = 0; c < model.columnCount(); ++c) out << model.data(model.index(r, c)).toString() << '\t';
            out << '\n';
        }
    });
    double xlsx = bench::BestMs(3, [&](int i) {
        WriteListWorkbook(model, ids, 59177, QStringLiteral("开放式基金最新净值"),
                          QDir(base).filePath(QStringLiteral("book%1.xlsx").arg(i)));
    });
    bench::Report("excel_export_10000x21", xlsx, "ms", plain, 8);
    return 0;
}
