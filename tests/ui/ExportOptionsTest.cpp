// The spreadsheet export read back from the file, the options dialog and
// what it writes, and against the real service the NAV history page and
// "添加到基金收藏夹".
#include <gtest/gtest.h>

#include <QApplication>
#include <QDoubleSpinBox>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <clocale>

#include "UiFixture.h"
#include "support/Files.h"
#include "app/Settings.h"
#include "app/VextalDoc.h"
#include "common/Format.h"
#include "common/ProgramDir.h"
#include "common/StringTable.h"
#include "ui/ExcelExport.h"
#include "ui/ExportOptionsPages.h"
#include "ui/FundValueListView.h"
#include "ui/FundValueNewView.h"
#include "ui/LoginDialogs.h"
#include "ui/LookThroughViews.h"
#include "ui/MainFrame.h"
#include "ui/OptionsDialog.h"

using namespace vextal;
using namespace vextal::test;

namespace {

QString Unzip(const QString& file, const QString& member)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), file, member});
    unzip.waitForFinished(10000);
    return QString::fromUtf8(unzip.readAllStandardOutput());
}

// A workbook read back: cells by reference ("B2") with their value, the
// number format and font colour of their style.
struct Sheet {
    struct Cell {
        QString value;  // the number, or the shared string
        QString format;
        QString colour;  // "FF007C00"; empty: the default
    };
    QString name;
    std::map<QString, Cell> cells;
    int rows = 0;

    explicit Sheet(const QString& file)
    {
        name = QRegularExpression(QStringLiteral("<sheet name=\"([^\"]*)\"")).match(Unzip(file, "xl/workbook.xml")).captured(1);
        QStringList strings;
        auto si = QRegularExpression(QStringLiteral("<t[^>]*>([^<]*)</t>")).globalMatch(Unzip(file, "xl/sharedStrings.xml"));
        while (si.hasNext()) strings << si.next().captured(1);
        const QString styles = Unzip(file, "xl/styles.xml");
        std::map<QString, QString> numFmts;
        auto nf = QRegularExpression(QStringLiteral("<numFmt numFmtId=\"(\\d+)\" formatCode=\"([^\"]*)\"")).globalMatch(styles);
        while (nf.hasNext()) {
            auto m = nf.next();
            numFmts[m.captured(1)] = m.captured(2);
        }
        numFmts["49"] = "@";
        QStringList fonts;
        const QString fontBlock = styles.section(QStringLiteral("<fonts"), 1).section(QStringLiteral("</fonts>"), 0, 0);
        auto f = QRegularExpression(QStringLiteral("<font>(.*?)</font>")).globalMatch(fontBlock);
        while (f.hasNext())
            fonts << QRegularExpression(QStringLiteral("<color rgb=\"([^\"]*)\"")).match(f.next().captured(1)).captured(1);
        std::vector<std::pair<QString, int>> xfs;  // format, font
        const QString xfBlock = styles.section(QStringLiteral("<cellXfs"), 1).section(QStringLiteral("</cellXfs>"), 0, 0);
        auto x = QRegularExpression(QStringLiteral("<xf numFmtId=\"(\\d+)\" fontId=\"(\\d+)\"")).globalMatch(xfBlock);
        while (x.hasNext()) {
            auto m = x.next();
            xfs.emplace_back(numFmts.count(m.captured(1)) ? numFmts[m.captured(1)] : m.captured(1), m.captured(2).toInt());
        }
        const QString xml = Unzip(file, "xl/worksheets/sheet1.xml");
        rows = static_cast<int>(xml.count(QStringLiteral("<row ")));
        auto c = QRegularExpression(QStringLiteral("<c r=\"([A-Z]+\\d+)\"( s=\"(\\d+)\")?( t=\"(\\w+)\")?(/>|>(?:<v>([^<]*)</v>|<is><t[^>]*>([^<]*)</t></is>)?)")).globalMatch(xml);
        while (c.hasNext()) {
            auto m = c.next();
            Cell cell;
            cell.value = m.captured(5) == "s"           ? strings.value(m.captured(7).toInt())
                         : m.captured(5) == "inlineStr" ? m.captured(8)
                                                        : m.captured(7);
            const size_t s = m.captured(3).toUInt();
            if (s < xfs.size()) {
                cell.format = xfs[s].first;
                cell.colour = fonts.value(xfs[s].second);
            }
            cells[m.captured(1)] = cell;
        }
    }
};

}  // namespace

// A holdings list as shown, exported with the holdings kind.
TEST(ExcelExport, HoldingsCellsKeepTheirTypesFormatsAndColours)
{
    QTemporaryDir dir;
    CListView list;
    list.Model()->SetColumns(59176, VisibleColumnSpecs(59176, "10|11|23|13|18"));
    const QString rows[][5] = {{"1", "示例成长", "1,234.50", "-0.35", "0.00"}, {"", "", "", "", ""},
                               {"2", "示例债券", "88", "12.346", "-1,000.4"}};
    list.Model()->SetSource(3, [&rows](int row, int id) -> ListCell {
        const int column = id == 10 ? 0 : id == 11 ? 1 : id == 23 ? 2 : id == 13 ? 3 : 4;
        return {rows[row][column], {}};
    });
    ShownPrompt prompt;
    ExportEnvironment env{dir.path(), [](const QString&) { return false; }};
    const ExportSource source{&list, 59176, HoldingsSheetName(QStringLiteral("主:帐户/2"))};

    // A free member: 59163 and no file.
    EXPECT_TRUE(ExportList(source, false, prompt, env).isEmpty());
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0], LoadResString(59163));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    // No spreadsheet program: the file is there and its path is shown.
    const QString path = ExportList(source, true, prompt, env);
    ASSERT_FALSE(path.isEmpty());
    ASSERT_EQ(prompt.messages.size(), 2u);
    EXPECT_NE(prompt.messages[1].find(path.toStdString()), std::string::npos);

    Sheet sheet(path);
    EXPECT_EQ(sheet.name, QStringLiteral("帐户 主_帐户_2 持有基金明细"));  // Excel refuses ":" and "/"
    EXPECT_EQ(sheet.rows, 4);
    EXPECT_EQ(sheet.cells["A1"].value, QStringLiteral("序号"));
    EXPECT_EQ(sheet.cells["C1"].value, QStringLiteral("基金市值"));
    EXPECT_EQ(sheet.cells["B2"].value, QStringLiteral("示例成长"));
    EXPECT_EQ(sheet.cells["B2"].colour, QStringLiteral("FF3179BD"));
    EXPECT_EQ(sheet.cells["C2"].value, QStringLiteral("1234.5"));
    EXPECT_EQ(sheet.cells["C2"].format, QStringLiteral("0.00"));
    EXPECT_EQ(sheet.cells["D2"].value, QStringLiteral("-0.35"));
    EXPECT_EQ(sheet.cells["D2"].colour, QStringLiteral("FF007C00"));
    EXPECT_EQ(sheet.cells["E2"].value, QStringLiteral("0"));
    EXPECT_TRUE(sheet.cells["E2"].colour.isEmpty());
    // The separator row holds empty text, not zeros.
    EXPECT_EQ(sheet.cells["C3"].format, QStringLiteral("@"));
    EXPECT_TRUE(sheet.cells["C3"].value.isEmpty());
    // Rounded to the column's decimals; red above 0.
    EXPECT_EQ(sheet.cells["D4"].value, QStringLiteral("12.35"));
    EXPECT_EQ(sheet.cells["D4"].colour, QStringLiteral("FFFF0000"));
    EXPECT_EQ(sheet.cells["E4"].value, QStringLiteral("-1000.4"));

    // An empty list: the header row only.
    list.Model()->SetSource(0, nullptr);
    Sheet empty(ExportList(source, true, prompt, env));
    EXPECT_EQ(empty.rows, 1);
    EXPECT_EQ(empty.cells["E1"].value, QStringLiteral("当日收益"));
}

// A desktop whose locale writes a decimal comma changes no number: the sign
// colour and the exported figure are the cell's number.
TEST(ExcelExport, CellsKeepTheirNumbersUnderADecimalComma)
{
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale (scripts/setup makes it)";
    QTemporaryDir dir;
    CListView list;
    list.Model()->SetColumns(59176, VisibleColumnSpecs(59176, "10|11|23|13|18"));
    const ListCell cells[] = {{"1", 1}, {"示例成长", {}}, {"1,234.50", 1234.5}, {"-0.66", -0.66}, {"1.09", 1.0878}};
    list.Model()->SetSource(1, [&cells](int, int id) -> ListCell {
        return cells[id == 10 ? 0 : id == 11 ? 1 : id == 23 ? 2 : id == 13 ? 3 : 4];
    });
    EXPECT_EQ(list.Model()->data(list.Model()->index(0, 3), Qt::ForegroundRole).value<QColor>(), QColor(0, 124, 0));
    EXPECT_EQ(list.Model()->data(list.Model()->index(0, 4), Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    ShownPrompt prompt;
    const QString path = ExportList({&list, 59176, QStringLiteral("明细")}, true, prompt,
                                    {dir.path(), [](const QString&) { return false; }});
    std::setlocale(LC_NUMERIC, before.c_str());
    ASSERT_FALSE(path.isEmpty());
    Sheet sheet(path);
    EXPECT_EQ(sheet.cells["C2"].value, QStringLiteral("1234.5"));
    EXPECT_EQ(sheet.cells["D2"].value, QStringLiteral("-0.66"));
    EXPECT_EQ(sheet.cells["D2"].colour, QStringLiteral("FF007C00"));
    EXPECT_EQ(sheet.cells["E2"].value, QStringLiteral("1.09"));
}

TEST(OptionsDialog, ColumnsProxyAndColoursAreWrittenOnOkOnly)
{
    QTemporaryDir dir;
    const std::string ini = QDir(dir.path()).filePath("Vextal.ini").toStdString();
    ShownPrompt prompt;
    {
        COptionsDialog dialog(ini, prompt);
        ASSERT_EQ(dialog.Tabs()->count(), 6);
        CColumnPage& values = *dialog.ColumnPage(2);
        values.None();
        EXPECT_TRUE(values.Visible().empty());
        values.Concise();
        const std::vector<int> concise = values.Visible();
        // "->" appends the highlighted column, "↑" moves it up one place.
        values.Available()->setCurrentRow(0);  // 累计净值还 (17)
        values.MoveRight();
        values.Up();
        std::vector<int> moved = concise;
        moved.insert(moved.end() - 1, 17);
        EXPECT_EQ(values.Visible(), moved);

        // Unticking the box disables the four fields.
        dialog.ProxyBox()->setChecked(true);
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(dialog.ProxyField(i)->isEnabled());
        dialog.ProxyField(0)->setText("10.1.2.3");
        dialog.ProxyField(1)->setText("3128");
        dialog.ProxyField(2)->setText("alice");
        dialog.ProxyField(3)->setText("Pr0xy-secret");
        dialog.ProxyBox()->setChecked(false);
        for (int i = 0; i < 4; ++i) EXPECT_FALSE(dialog.ProxyField(i)->isEnabled());
        dialog.ProxyBox()->setChecked(true);
        dialog.CurveColours().series[3] = 0x123456;
        dialog.reject();
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(ini)));  // "取消" wrote nothing

    COptionsDialog dialog(ini, prompt);
    dialog.ColumnPage(2)->Concise();
    dialog.ProxyBox()->setChecked(true);
    // A proxy needs an address and a port a socket can have: refused, the field named.
    const std::pair<const char*, const char*> refused[] = {
        {"", "使用代理服务器时请填写代理服务器的地址"}, {"0", "端口"}, {"99999999", "端口"}, {"", "端口"}};
    for (const auto& [port, text] : refused) {
        if (std::string(text) == "端口") dialog.ProxyField(0)->setText("10.1.2.3");
        dialog.ProxyField(1)->setText(port);
        prompt.messages.clear();
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        ASSERT_EQ(prompt.messages.size(), 1u) << port;
        EXPECT_NE(prompt.messages[0].find(text), std::string::npos) << port << ": " << prompt.messages[0];
    }
    EXPECT_FALSE(QFile::exists(QString::fromStdString(ini)));
    dialog.ProxyField(1)->setText("3128");
    dialog.ProxyField(0)->setText("10.1.2.3");
    dialog.ProxyField(3)->setText(QString(40, 'x'));  // enciphered it would not fit the file
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(ini)));
    dialog.ProxyField(3)->setText("Pr0xy-secret");
    dialog.CurveColours().series[3] = 0x123456;
    auto* lookThrough = qobject_cast<CLookThroughOptionsPage*>(dialog.Tabs()->widget(5));
    ASSERT_NE(lookThrough, nullptr);
    EXPECT_EQ(lookThrough->Threshold()->value(), 30.0);  // nothing in the file yet
    lookThrough->Threshold()->setValue(12.5);
    lookThrough->Columns()->All();
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    const std::string text = ReadWholeFile(ini);
    EXPECT_EQ(text.find("Pr0xy-secret"), std::string::npos);
    EXPECT_NE(text.find("NewValueItem=10|11|12|13|14|15|16|18|19|20|21|22|23|30"), std::string::npos);
    CSettings read;
    LoadSettings(read, ini);
    EXPECT_EQ(read.proxy.enable, 1);
    EXPECT_EQ(read.proxy.ip, "10.1.2.3");
    EXPECT_EQ(read.proxy.password, "Pr0xy-secret");
    EXPECT_EQ(ReadCurveColours(ini).series[3], 0x123456u);
    EXPECT_EQ(ReadCurveColours(ini).axis, 0x0000FFu);  // the chart's default
    EXPECT_NE(text.find("ExposureItem=10|11|12|13|14|15|16|17"), std::string::npos);
    EXPECT_EQ(ReadOverlapWarning(ini), 12.5);
    // A hand-edited threshold that is no percentage warns at the default.
    for (const char* bad : {"nan", "150", "-1", "3O", "1e999"}) {
        WriteShowString("OverlapWarn", bad, ini);
        EXPECT_EQ(ReadOverlapWarning(ini), 30.0) << bad;
    }
}

// The program against the real service: page 113 with its download and
// export, and a fund added to a folder.
using ExportOptionsService = AppTest;

TEST_F(ExportOptionsService, HistoryPageAndAddingAFavourite)
{
    ASSERT_NO_FATAL_FAILURE(Start({120, "2024-10-09 21:00:00", {}, "[Show]\nFundView=1\n"}));
    CMainFrame& frame = *app->Frame();

    // A fund outside the folders, added through the dialog; the reply's
    // message is shown and the row is highlighted once the folders are read again.
    ASSERT_TRUE(frame.RunCommand(cmd::ValuesOpen));
    WaitIdle(*app);
    CFundValueNewView& values = *app->ValuesView();
    CFundCatalogue& catalogue = app->Market()->Catalogue();
    ASSERT_FALSE(catalogue.FundGroups().empty());
    int row = -1, group = 0;
    for (int r = 0; r < values.RowCount() && row < 0; ++r) {
        values.List()->setCurrentIndex(values.List()->model()->index(r, 0));
        if (!catalogue.GetFundGroup(values.CurrentFund(), group)) row = r;
    }
    ASSERT_GE(row, 0);
    const std::string fund = values.CurrentFund();
    const QModelIndex cell = values.List()->model()->index(row, 0);
    EXPECT_FALSE(cell.data(Qt::BackgroundRole).value<QColor>().isValid());

    ModalDriver driver;
    auto add = [&driver](QDialog* d) { qobject_cast<CAddFavouriteDialog*>(d)->Add(); };
    driver.Next(add);
    frame.RunCommand(cmd::AddFavourite);
    WaitIdle(*app);
    EXPECT_EQ(driver.seen, (std::vector<std::string>{"添加到基金收藏夹", "box:添加成功"}));
    EXPECT_TRUE(catalogue.GetFundGroup(fund, group));
    EXPECT_EQ(values.List()->model()->index(row, 0).data(Qt::BackgroundRole).value<QColor>(), QColor(0xDC, 0xDC, 0xDC));
    // The same fund again: the service says it is there.
    values.List()->setCurrentIndex(values.List()->model()->index(row, 0));
    driver.Next(add);
    frame.RunCommand(cmd::AddFavourite);
    EXPECT_TRUE(driver.Said("已收藏有此基金"));
    driver.Next([](QDialog* d) {
        qobject_cast<COptionsDialog*>(d)->ColumnPage(2)->All();
        d->accept();
    });

    // New options reach the list at once: every column.
    frame.RunCommand(cmd::Options);
    EXPECT_EQ(values.List()->model()->columnCount(), 21);

    // Page 113 shows the history once the background download is in, newest first.
    ASSERT_TRUE(frame.RunCommand(cmd::History));
    auto* history = qobject_cast<CFundValueListView*>(frame.HomeView()->Page(113));
    ASSERT_TRUE(history);
    EXPECT_EQ(frame.HomeView()->currentWidget(), history);
    WaitIdle(*app);
    ASSERT_GT(history->RowCount(), 20);
    const QAbstractItemModel& rows = *history->List()->model();
    EXPECT_EQ(rows.headerData(4, Qt::Horizontal).toString(), QStringLiteral("日增长率"));
    EXPECT_GT(rows.data(rows.index(0, 1)).toString(), rows.data(rows.index(1, 1)).toString());
    ExportSource source;
    ASSERT_TRUE(FindExportSource(history, source));
    EXPECT_EQ(source.sheetName, QStringLiteral("历史净值"));
    QTemporaryDir out;
    const QString file = QDir(out.path()).filePath("h.xlsx");
    ASSERT_TRUE(WriteListWorkbook(*source.list->model(), {10, 11, 12, 13, 14, 15}, source.kind, source.sheetName, file));
    Sheet sheet(file);
    EXPECT_EQ(sheet.rows, history->RowCount() + 1);
    EXPECT_EQ(sheet.cells["C2"].format, QStringLiteral("0.0000"));
    EXPECT_EQ(sheet.cells["C2"].value.toDouble(), rows.data(rows.index(0, 2)).toString().toDouble());
    ASSERT_TRUE(frame.RunCommand(cmd::HistoryMoney));
    WaitIdle(*app);
    EXPECT_EQ(history->List()->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("每万份收益"));
    EXPECT_GT(history->RowCount(), 0);
}

TEST(OptionsDialog, OpensFromTheLoginDialogBeforeLogin)
{
    QTemporaryDir home;
    SetProgramDirectory(home.path().toStdString());
    CVextalDoc doc;
    ShownPrompt prompt;
    CLoginDialog login(doc, prompt);
    QPushButton* settings = nullptr;
    for (QPushButton* b : login.findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("设置")) settings = b;
    ASSERT_TRUE(settings);
    ASSERT_TRUE(settings->isEnabled());
    bool opened = false;
    QTimer::singleShot(0, [&] {
        auto* options = qobject_cast<COptionsDialog*>(QApplication::activeModalWidget());
        opened = options != nullptr;
        if (!options) return;
        options->ProxyBox()->setChecked(true);
        options->ProxyField(0)->setText("127.0.0.1");
        options->ProxyField(1)->setText("9");
        options->accept();
    });
    settings->click();
    EXPECT_TRUE(opened);
    // Taken at once: the document and the transport go through the proxy.
    EXPECT_EQ(doc.Settings().proxy.enable, 1);
    EXPECT_EQ(doc.Settings().proxy.port, 9);
    SetProxySettings(ProxySettings());
}

// The file's name carries the program's clock; a full disk leaves nothing
// under the final name (nor the temporary file) and says so.
TEST(ExcelExport, NamedByTheProgramClockAndNothingCutOnAFullDisk)
{
    Clock::Fix(OleDate::FromParts(2024, 10, 9, 21, 0, 5));
    CListView list;
    list.Model()->SetColumns(59176, VisibleColumnSpecs(59176, "10|11|23|13|18"));
    list.Model()->SetSource(5000, [](int row, int id) -> ListCell {
        return {QString::fromStdString(StrFormat("%d-%d 示例基金的一段不短的说明文字", row, id)), {}};
    });
    ShownPrompt prompt;
    const ExportSource source{&list, 59176, QStringLiteral("明细")};
    QTemporaryDir roomy;
    const QString path = ExportList(source, true, prompt, {roomy.path(), [](const QString&) { return true; }});
    EXPECT_TRUE(path.endsWith(QStringLiteral("明细-20241009-210005.xlsx"))) << path.toStdString();

    QTemporaryDir small;
    QProcess mount;
    mount.start(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=64k", "tmpfs", small.path()});
    if (!mount.waitForFinished(10000) || mount.exitCode() != 0) {
        Clock::Release();
        GTEST_SKIP() << "no small file system to fill (mounting needs root)";
    }
    prompt.messages.clear();
    EXPECT_TRUE(ExportList(source, true, prompt, {small.path(), [](const QString&) { return true; }}).isEmpty());
    const QStringList left = QDir(small.path()).entryList(QDir::Files | QDir::Hidden);
    QProcess::execute(QStringLiteral("umount"), {small.path()});
    Clock::Release();
    EXPECT_TRUE(left.isEmpty()) << left.join(' ').toStdString();
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("磁盘空间不足"), std::string::npos) << prompt.messages[0];
}
