#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QDir>
#include <QHeaderView>
#include <QTemporaryDir>

#include "app/IniFile.h"
#include "app/Settings.h"
#include "ui/ListView.h"
#include "ui/SortDialog.h"

using namespace vextal;

TEST(ListFramework, ColumnsComeFromTheCatalogueAndTheVisibleKey)
{
    QTemporaryDir dir;
    std::string ini = QDir(dir.path()).filePath("Vextal.ini").toStdString();
    WriteIniString("Show", "AccountItem", "10|99|12", ini);
    CListView view;
    view.BuildColumns(AccountListConfig(), true, 1, ini);
    ASSERT_EQ(view.Model()->columnCount(), 2);
    EXPECT_EQ(view.Model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("帐户名称"));
    EXPECT_EQ(view.Model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("收益率"));

    // An empty key takes the default and writes it back.
    CListView holdings;
    holdings.BuildColumns(HoldingListConfig(), true, 1, ini);
    EXPECT_EQ(holdings.Model()->columnCount(), 12);
    EXPECT_EQ(ReadIniString("Show", "FundItem", "", 256, ini), ini::kDefaultFundItem);

    // Keys a hand edit broke: nothing readable gives the defaults, a repeat shows once.
    for (const char* broken : {"||||", "-1", "abc|"}) {
        WriteIniString("Show", "FundItem", broken, ini);
        CListView repaired;
        repaired.BuildColumns(HoldingListConfig(), false, 1, ini);
        EXPECT_EQ(repaired.Model()->columnCount(), 12) << broken;
    }
    WriteIniString("Show", "AccountItem", "10|12|10", ini);
    CListView once;
    once.BuildColumns(AccountListConfig(), false, 1, ini);
    EXPECT_EQ(once.Model()->columnCount(), 2);

    // Stored widths outside 1..1024 keep the catalogue width.
    WriteIniString("ColumnWidth", "AccountList", "0|2000", ini);
    CListView widths;
    widths.BuildColumns(AccountListConfig(), true, 1, ini);
    // (scaled alike when the list font is wider than the catalogue assumed)
    EXPECT_NEAR(widths.columnWidth(0) / double(widths.columnWidth(1)), 100.0 / 60.0, 0.05);
    EXPECT_GE(widths.columnWidth(0), 100);
    WriteIniString("ColumnWidth", "AccountList", "130|77", ini);
    widths.BuildColumns(AccountListConfig(), true, 1, ini);
    EXPECT_EQ(widths.columnWidth(0), 130);
    widths.setColumnWidth(1, 90);
    widths.SaveColumnWidths("AccountList", ini);
    EXPECT_EQ(ReadColumnWidths("AccountList", ini), (std::vector<int>{130, 90}));
    // Row size follows ListItemSize.
    EXPECT_EQ(widths.verticalHeader()->defaultSectionSize(), 20);
    widths.ApplyListStyle(0);
    EXPECT_EQ(widths.verticalHeader()->defaultSectionSize(), 24);
}

TEST(ListFramework, SignColoursBlueNamesAndNumericSorting)
{
    CListView view;
    view.Model()->SetColumns(59177, VisibleColumnSpecs(59177, "12|18"));
    const std::vector<std::pair<QString, QString>> rows = {
        {"华夏", "-0.50"}, {"南方", "0.00"}, {"博时", "1.2"}, {"嘉实", "10.5"}, {"易方达", "9.8"}};
    view.Model()->SetSource(static_cast<int>(rows.size()), [&](int row, int id) {
        const auto& r = rows[static_cast<size_t>(row)];
        if (id == 12) return ListCell{r.first, {}};
        return ListCell{r.second + "%", r.second.toDouble()};
    });
    QAbstractItemModelTester tester(view.Model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    auto colour = [&](int row, int col) {
        return view.Model()->data(view.Model()->index(row, col), Qt::ForegroundRole).value<QColor>();
    };
    EXPECT_EQ(colour(0, 1), QColor(0, 124, 0));
    EXPECT_EQ(colour(1, 1), QColor(0, 0, 0));
    EXPECT_EQ(colour(2, 1), QColor(255, 0, 0));
    EXPECT_EQ(colour(0, 0), QColor(49, 121, 189));

    // Header clicks sort by the number behind the cell, ascending first.
    view.horizontalHeader()->sectionClicked(1);
    auto shown = [&](int row) { return view.Proxy()->index(row, 1).data().toString(); };
    EXPECT_EQ(shown(0), "-0.50%");
    EXPECT_EQ(shown(3), "9.8%");
    EXPECT_EQ(shown(4), "10.5%");  // as text "10.5" would sort before "9.8"
    view.horizontalHeader()->sectionClicked(1);
    EXPECT_EQ(shown(0), "10.5%");
}

TEST(ListFramework, SortDialogRefusalsAndWriteBack)
{
    QTemporaryDir dir;
    std::string ini = QDir(dir.path()).filePath("Vextal.ini").toStdString();
    CSortDialog dialog(ini);
    dialog.SetQuiet(true);
    dialog.SetKeys(1, 3, 3);
    dialog.accept();
    EXPECT_EQ(dialog.LastRefusal(), QStringLiteral("次要关键字和第三关键字不能相同"));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    dialog.SetKeys(1, 0, 0);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ReadSortSettings(ini).item[0], 1);
}

TEST(ListFramework, FundNamesSortInPinyinOrder)
{
    CListView view;
    view.Model()->SetColumns(59177, VisibleColumnSpecs(59177, "12"));
    const QStringList names = {"易方达", "华夏", "南方", "博时", "嘉实"};
    view.Model()->SetSource(static_cast<int>(names.size()), [&](int row, int) { return ListCell{names[row], {}}; });
    view.horizontalHeader()->sectionClicked(0);
    QStringList shown;
    for (int row = 0; row < names.size(); ++row) shown << view.Proxy()->index(row, 0).data().toString();
    // bo, hua, jia, nan, yi (code points would give 华 南 博 嘉 易)
    EXPECT_EQ(shown, (QStringList{"博时", "华夏", "嘉实", "南方", "易方达"}));
    EXPECT_LT(CompareListValues(QStringLiteral("博时"), QStringLiteral("华夏")), 0);
}
