// The curve page: the chart painted into an image (pixels where the series
// and the frame must be, nothing of a series outside the plot), and the
// curve commands of the program logged in to the real plindo-serve.
#include <gtest/gtest.h>

#include <QLineEdit>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QListWidget>
#include <QSignalSpy>

#include <set>
#include <QFontMetrics>
#include "UiFixture.h"
#include "app/IniFile.h"
#include "app/VextalDoc.h"
#include "common/Format.h"
#include "common/StringTable.h"
#include "db/AdoDatabase.h"
#include "curve/CurveBuilders.h"
#include "ui/BookkeepingUi.h"
#include "ui/CurveChart.h"
#include "ui/CurvePointsDialog.h"
#include "ui/FundCurveView.h"
#include "ui/FundPicker.h"
#include "ui/MainFrame.h"

using namespace vextal;
using namespace vextal::test;

namespace {

bool Near(QColor a, QColor b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= tolerance;
}

}  // namespace

// A rising series in a colour of its own: drawn in that colour inside the
// plot (rising to the right, so not upside down), nothing of it below or
// left of the plot, the frame in the axis colour; the same at twice the
// pixel density.
TEST(CurveChartPaint, SeriesInItsColourInsideThePlotOnly)
{
    CCurveChart chart;
    chart.resize(800, 500);
    // The first curve's colour as the options write it (#RRGGBB).
    QTemporaryDir dir;
    const std::string ini = QDir(dir.path()).filePath("Vextal.ini").toStdString();
    std::ofstream(ini) << "[Curve]\nCurveColor1=#0096C8\n";
    chart.SetDisplay(ReadCurveDisplay(ini));
    CCurveChartModel& m = chart.Model();
    int s = m.AddSeries();
    m.SetSeriesName(s, "测试基金");
    OleDate d = OleDate::FromParts(2024, 1, 1);
    for (int i = 0; i < 60; ++i) {
        CurvePoint p;
        p.Date = d;
        p.Value = 1.0 + 0.01 * i;
        m.AddPoint(s, p);
        d = d.AddDays(d.DayOfWeek() == 5 ? 3 : 1);
    }
    chart.RecalculateLayout();
    const CurveRect r = m.PlotRect();
    const QColor series(0, 150, 200);

    for (qreal dpr : {1.0, 2.0}) {
        QImage image(QSize(800, 500) * dpr, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(dpr);
        chart.Render(image);
        if (qEnvironmentVariableIsSet("CURVE_TEST_DUMP")) image.save(QString("/tmp/curveui_paint_%1.png").arg(dpr));
        auto at = [&](int x, int y) { return image.pixelColor(int(x * dpr), int(y * dpr)); };
        SCOPED_TRACE(dpr);
        // The frame and the chart background outside it.
        EXPECT_TRUE(Near(at(r.left, (r.top + r.bottom) / 2), QColor(255, 0, 0)));
        EXPECT_TRUE(Near(at((r.left + r.right) / 2, r.bottom), QColor(255, 0, 0)));
        EXPECT_EQ(at(1, 1), QColor(255, 239, 222));
        // A point three quarters along is drawn in the upper half, right of the middle.
        const CurvePoint& late = m.FindSeries(s)->Points[45];
        EXPECT_LT(late.Y, (r.top + r.bottom) / 2);
        EXPECT_GT(late.X, (r.left + r.right) / 2);
        bool found = false;
        for (int dx = -1; dx <= 1 && !found; ++dx)
            for (int dy = -1; dy <= 1 && !found; ++dy) found = Near(at(late.X + dx, late.Y + dy), series);
        EXPECT_TRUE(found);
        // Inside the plot plenty of it; below and left of the plot none.
        int inside = 0, outside = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                if (!Near(image.pixelColor(x, y), series, 60)) continue;
                const int lx = int(x / dpr), ly = int(y / dpr);
                if (lx > r.left && lx < r.right && ly > r.top && ly < r.bottom) ++inside;
                else if (ly > r.top) ++outside;  // the legend box sits in the header
            }
        EXPECT_GT(inside, int(100 * dpr));
        EXPECT_EQ(outside, 0);
    }
}

class CurveViewTest : public AppTest {
protected:
    // Runs a command (or the bar's OK) and waits for its draw.
    static void Drawn(CFundCurveView& view, const std::function<void()>& action)
    {
        QSignalSpy spy(&view, &CFundCurveView::curveDrawn);
        action();
        if (spy.count() == 0) {
            ASSERT_TRUE(spy.wait(60000));
        }
    }
};

TEST_F(CurveViewTest, CurveCommandsDrawTheirSeriesFromTheService)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    CMainFrame& frame = *app->Frame();
    auto* view = qobject_cast<CFundCurveView*>(frame.HomeView()->Page(103));
    ASSERT_NE(view, nullptr);
    CMarketData& market = *app->Market();
    std::vector<std::string> funds;
    std::string money;
    for (const auto& [code, info] : market.Catalogue().Funds()) {
        if (info.CompanyID.empty()) continue;
        if (info.InvestTypeID == 4 && money.empty()) money = code;
        else if (info.InvestTypeID != 4 && funds.size() < 4) funds.push_back(code);
    }
    ASSERT_EQ(funds.size(), 4u);
    ASSERT_FALSE(money.empty());
    // The overlays draw the document's selected funds (the estimate's too).
    app->Document()->Settings().fundIdList = funds;
    const CCurveChartModel& chart = view->Chart()->Model();
    auto name = [&](const std::string& code) { return market.Catalogue().FindFund(code)->FundName; };

    // Daily overlay: the bar for the last 30 days, the index boxes off
    // while the statistic is the unit NAV; one series per fund, each point
    // a stored record of the range (the histories were downloaded first).
    Drawn(*view, [&] { frame.RunCommand(cmd::DailyOverlay); });
    CCurveBar& bar = *view->Bar();
    EXPECT_TRUE(bar.isVisibleTo(view));
    EXPECT_EQ(bar.start->date(), QDate(2024, 9, 9));
    EXPECT_FALSE(bar.shanghai->isEnabled());
    ASSERT_EQ(chart.Series().size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const CurveSeries& s = *chart.FindSeries(int(i));
        EXPECT_EQ(s.Name, name(funds[i]));
        std::vector<CFundValue> stored = market.History().LoadFundValues(funds[i], OleDate::FromParts(2024, 9, 9),
                                                                          OleDate::FromParts(2024, 10, 9, 23, 59));
        ASSERT_GT(stored.size(), 10u);
        EXPECT_EQ(s.Points.size(), stored.size());
        EXPECT_DOUBLE_EQ(s.Points.back().Value, stored.back().TodayValue);
    }

    // "涨跌幅" enables the index boxes, and the ticked one is drawn (its place: CurveServeTest).
    bar.statistic->setCurrentIndex(3);
    EXPECT_TRUE(bar.shanghai->isEnabled());
    bar.shanghai->setChecked(true);
    Drawn(*view, [&] { view->ApplyCurveBar(); });
    ASSERT_EQ(chart.Series().size(), 5u);
    EXPECT_EQ(chart.Unit(), "%");
    // Back to the unit NAV: the boxes are disabled and cleared.
    bar.statistic->setCurrentIndex(0);
    EXPECT_FALSE(bar.shanghai->isChecked());

    // Weekly overlay: computed by the service, 90 days back.
    Drawn(*view, [&] { frame.RunCommand(cmd::WeeklyOverlay); });
    EXPECT_EQ(bar.start->date(), QDate(2024, 7, 11));
    ASSERT_EQ(chart.Series().size(), 4u);
    EXPECT_GE(chart.FindSeries(0)->Points.size(), 12u);
    EXPECT_EQ(chart.Unit(), "%");

    // Moving average over 5 records: the day box is there and N is read from it.
    Drawn(*view, [&] { frame.RunCommand(cmd::MovingAverage); });
    EXPECT_TRUE(bar.days->isVisibleTo(view));
    EXPECT_FALSE(bar.shanghai->isVisibleTo(view));
    bar.days->setCurrentText(QStringLiteral("5"));
    Drawn(*view, [&] { view->ApplyCurveBar(); });
    EXPECT_EQ(chart.Title(), "5天移动平均线叠加");
    ASSERT_EQ(chart.Series().size(), 4u);

    // n-day return: the statistic box is disabled.
    Drawn(*view, [&] { frame.RunCommand(cmd::NDayReturn); });
    EXPECT_FALSE(bar.statistic->isEnabled());
    EXPECT_EQ(chart.Title(), "n个交易日回报走势叠加");

    // NAV trend of one fund on the single-fund bar: the fund's chart (its
    // series and range figures: CurveServeTest); a money-market fund's has
    // no range figures.
    view->SingleBar()->fund->setCurrentText(QString::fromStdString(funds[0]));
    Drawn(*view, [&] { frame.RunCommand(cmd::DailyTrend); });
    EXPECT_FALSE(bar.isVisibleTo(view));
    EXPECT_EQ(chart.Title(), name(funds[0]) + "净值走势图");
    ASSERT_EQ(chart.Series().size(), 2u);
    EXPECT_EQ(chart.FindSeries(0)->Name, "单位净值");
    view->SingleBar()->fund->setCurrentText(QString::fromStdString(money));
    Drawn(*view, [&] { view->ApplySingleFund(); });
    ASSERT_EQ(chart.Series().size(), 1u);
    EXPECT_TRUE(chart.RangeLines().empty());

    // Enter in the code box draws that fund; "F" picks one with the keyboard picker and draws it.
    frame.show();
    QApplication::setActiveWindow(&frame);
    QLineEdit* code = view->SingleBar()->fund->lineEdit();
    code->setFocus();
    Type(code, QString::fromStdString(funds[1]));
    Drawn(*view, [&] { QTest::keyClick(code, Qt::Key_Return); });
    EXPECT_EQ(chart.Series().size(), 2u);
    EXPECT_EQ(frame.Navigation().page, 103);
    {
        ModalDriver picker;
        picker.Next([&](QDialog* d) {
            auto* p = qobject_cast<CFundPicker*>(d);
            ASSERT_NE(p, nullptr);
            p->SearchEdit()->setText(QString::fromStdString(money));
            p->Results()->setCurrentRow(0);
            p->accept();
        });
        Type(code, QString::fromStdString(money));
        Drawn(*view, [&] { view->SingleBar()->keyboard->click(); });
        EXPECT_EQ(picker.seen, std::vector<std::string>{"键盘精灵"});
        EXPECT_EQ(view->SingleBar()->fund->currentText().toStdString(), money);
        EXPECT_EQ(chart.Series().size(), 1u);
    }

    // A fund without records: an empty chart without the title before.
    view->SingleBar()->fund->setCurrentText(QStringLiteral("999999"));
    Drawn(*view, [&] { view->ApplySingleFund(); });
    EXPECT_TRUE(chart.Series().empty());
    EXPECT_EQ(chart.Title(), "");
    view->SingleBar()->fund->setCurrentText(QString::fromStdString(money));
    Drawn(*view, [&] { view->ApplySingleFund(); });

    // The arrow keys move the current point of the first series.
    ASSERT_TRUE(chart.HasCurrentPoint());
    const size_t lastPoint = chart.CurrentPoint();
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QApplication::sendEvent(view->Chart(), &left);
    EXPECT_EQ(chart.CurrentPoint(), lastPoint - 1);
    EXPECT_EQ(view->Chart()->TipLines().value(0), QStringLiteral("日期:") + QString::fromStdString(
        chart.FindSeries(0)->Points[lastPoint - 1].Date.FormatWith("%Y-%m-%d")));

    // The point list follows the current point until told not to.
    view->ShowPointList();
    auto* list = view->findChild<CCurvePointsDialog*>();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->Points()->rowCount(), int(chart.FindSeries(0)->Points.size()));
    auto itemDate = [&] { return list->Items()->index(0, 1).data().toString().toStdString(); };
    EXPECT_EQ(list->Items()->index(0, 0).data().toString(), QStringLiteral("日期"));
    EXPECT_EQ(itemDate(), chart.FindSeries(0)->Points[lastPoint - 1].Date.FormatWith("%Y-%m-%d"));
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QApplication::sendEvent(view->Chart(), &right);
    EXPECT_EQ(itemDate(), chart.FindSeries(0)->Points[lastPoint].Date.FormatWith("%Y-%m-%d"));
    list->NoSync()->setChecked(true);
    QApplication::sendEvent(view->Chart(), &left);
    EXPECT_EQ(itemDate(), chart.FindSeries(0)->Points[lastPoint].Date.FormatWith("%Y-%m-%d"));

    // The fund selection: at most 12 funds for a VIP member.
    ShownPrompt prompt;
    std::vector<std::pair<std::string, std::string>> all;
    for (const auto& [code, info] : market.Catalogue().Funds()) all.emplace_back(code, info.FundName);
    app->Document()->SetPrompt(&prompt);
    CFundSelectDialog dialog(all, {}, prompt, [&](int n) { return app->Document()->CheckFundCount(n); });
    for (int i = 0; i < 12; ++i) {
        dialog.availableList->setCurrentRow(0);
        ASSERT_TRUE(dialog.AddHighlighted()) << i;
    }
    dialog.availableList->setCurrentRow(0);
    EXPECT_FALSE(dialog.AddHighlighted());
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0], LoadResString(str::OnlyTwelveFunds));
    EXPECT_EQ(dialog.Selected().size(), 12u);
}

// The account income curve of an account with one purchase: a point per
// NAV day from the purchase on, and on the last day the accumulated income
// that the account list shows.
TEST_F(CurveViewTest, AccountIncomeCurveEndsAtTheAccountsIncome)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    const int userId = app->Document()->User().UserID;
    std::string fund;
    for (const auto& [code, info] : app->Market()->Catalogue().Funds())
        if (!info.CompanyID.empty() && info.InvestTypeID != 4 && fund.empty()) fund = code;
    ASSERT_FALSE(fund.empty());
    app->Shutdown();
    {
        CAdoDatabase db;
        ASSERT_NO_FATAL_FAILURE(OpenHomeDatabase(db));
        ASSERT_TRUE(db.Execute(StrFormat("INSERT INTO T_Account_Info(UserID,AccountID,AccountName,CreateDate,FundCount) "
                                         "VALUES(%d,1,'主帐户',#2024-09-02 00:00:00#,1)",
                                         userId)));
        ASSERT_TRUE(db.Execute(StrFormat("INSERT INTO T_Fund_Trade(AccountID,FundID,BuyType,TotalCount,FreeCount,"
                                         "TradeValue,LastBonus,LastTrade) VALUES(1,'%s',0,1000,1000,1,"
                                         "#2024-10-09 00:00:00#,#2024-09-02 10:00:00#)",
                                         fund.c_str())));
        ASSERT_TRUE(db.Execute(StrFormat("INSERT INTO T_Trade_Info(TradeID,AccountID,FundID,TradeMoney,TradeCount,"
                                         "TradeType,TradeTime,DealTime,TradeState,BuyType,TradeValue) VALUES(1,1,'%s',"
                                         "1000,1000,0,#2024-09-02 10:00:00#,#2024-09-02 15:00:00#,1,0,1)",
                                         fund.c_str())));
    }
    ASSERT_NO_FATAL_FAILURE(Launch());
    auto* view = qobject_cast<CFundCurveView*>(app->Frame()->HomeView()->Page(103));
    ASSERT_NE(view, nullptr);
    // Through the account's own menu item, onto the curves page.
    Drawn(*view, [&] { app->Bookkeeping()->ShowAccountIncomeCurve(1); });
    EXPECT_EQ(app->Frame()->Navigation().page, 103);
    const CCurveChartModel& chart = view->Chart()->Model();
    EXPECT_EQ(chart.Title(), "基金帐户历史收益走势");
    EXPECT_EQ(chart.Unit(), "元");
    ASSERT_EQ(chart.Series().size(), 1u);
    const auto& points = chart.FindSeries(0)->Points;
    std::vector<CFundValue> navs = app->Market()->History().LoadFundValues(fund, OleDate::FromParts(2024, 9, 2),
                                                                          OleDate::FromParts(2024, 10, 9, 23));
    ASSERT_GT(navs.size(), 15u);
    ASSERT_EQ(points.size(), navs.size());
    EXPECT_EQ(points.front().Date, OleDate::FromParts(2024, 9, 2));
    EXPECT_NEAR(points.front().Value, Round2(1000 * navs.front().TodayValue - 1000), 1e-9);
    ASSERT_TRUE(app->Document()->Accounts().RefreshAccount(1));
    EXPECT_NEAR(points.back().Value, app->Document()->Accounts().FindAccount(1)->TotalIncome, 0.005);
}

// Sixteen curves at a narrow width: the legend wraps onto more rows, every
// name inside the window and above the plot, each curve its own colour.
TEST(CurveLegend, WrapsAndKeepsEveryName)
{
    CCurveChart chart;
    chart.resize(883, 500);
    CCurveChartModel& m = chart.Model();
    m.SetUnit("单位: 元");
    for (int i = 0; i < 16; ++i) {
        const int s = m.AddSeries();
        m.SetSeriesName(s, StrFormat("测试证券投资基金第%d号混合型", i + 1));
        m.AddPoint(s, CurvePoint{OleDate::FromParts(2024, 9, 2), 1.0 + i * 0.01});
        m.AddPoint(s, CurvePoint{OleDate::FromParts(2024, 9, 3), 1.1 + i * 0.01});
    }
    chart.RecalculateLayout();
    const std::vector<CCurveChart::LegendEntry> legend = chart.Legend();
    ASSERT_EQ(legend.size(), 17u);
    std::set<QRgb> colours;
    for (const auto& e : legend) {
        EXPECT_LE(e.rect.right(), 883) << e.text.toStdString();
        EXPECT_LT(e.rect.bottom(), m.PlotRect().top) << e.text.toStdString();
        if (e.box.isValid()) colours.insert(e.box.rgb());
    }
    EXPECT_GE(legend.back().rect.top(), legend.front().rect.top() + 3 * QFontMetrics(chart.font()).height());
    EXPECT_EQ(colours.size(), 16u);
}

// A real-time chart without the last NAV: plain value labels from the
// estimates, not an axis round 0 with every right-hand label "0.00%".
TEST(CurveLegend, RealTimeWithoutABaseNavHasNoZeroCentredAxis)
{
    CCurveChart chart;
    chart.resize(800, 400);
    CCurveChartModel& m = chart.Model();
    m.SetEstimateBase(true, 0.0);
    const int s = m.AddSeries();
    m.AddPoint(s, CurvePoint{OleDate::FromParts(2024, 9, 2, 9, 35), 1.2345});
    m.AddPoint(s, CurvePoint{OleDate::FromParts(2024, 9, 2, 10, 0), 1.2400});
    chart.RecalculateLayout();
    EXPECT_TRUE(m.MissingBaseNav());
    ASSERT_FALSE(m.ValueLabels().empty());
    for (const CurveValueLabel& l : m.ValueLabels()) {
        EXPECT_TRUE(l.RightText.empty()) << l.RightText;
        EXPECT_GT(l.Value, 1.0);
    }
}
