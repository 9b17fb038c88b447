// The estimate page: the refresh timer only estimates while the page is
// shown, a run's rows and colours, the published mark with its error
// history, the progress of each phase, and a cancel while quotes are still
// coming.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QTableView>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>

#include "common/Clock.h"
#include "db/DbTestUtil.h"
#include "estimate/EstimateErrors.h"
#include "estimate/RealtimeEstimates.h"
#include "ui/FundForecastView.h"

using namespace vextal;

namespace {

struct FakeMarket {
    std::atomic<int> holdingCalls{0};
    std::atomic<bool> blockQuotes{false};

    // Workers that outlive a cancelled run still hold the market.
    static EstimateSources Sources(const std::shared_ptr<FakeMarket>& market)
    {
        EstimateSources s;
        s.holdings = [market](const std::string& fund, std::vector<CFundInvestItem>& items) {
            ++market->holdingCalls;
            if (fund == "000001")
                items = {{"600000", "甲股份", 60.0f}, {"600001", "乙股份", 20.0f}, {"600002", "丙股份", 0.2f}};
            else items = {{"600001", "乙股份", 50.0f}};
            return true;
        };
        s.quote = [market](const std::string& stock, float& change, OleDate& day) {
            while (market->blockQuotes) QThread::msleep(5);
            change = stock == "600000" ? 2.5f : stock == "600002" ? 1.8f : -3.0f;
            day = OleDate::FromParts(2024, 10, 16);
            return true;
        };
        s.calc = [](const std::vector<std::pair<std::string, float>>& raws, std::vector<CFundInvestItem>& items) {
            for (const auto& [fund, raw] : raws) items.push_back({fund, "", raw});
            return true;
        };
        return s;
    }
};

ForecastViewContext Context(const std::shared_ptr<FakeMarket>& market)
{
    ForecastViewContext ctx;
    ctx.selectedFunds = [] { return std::vector<std::string>{"000001", "000002"}; };
    ctx.fundInfo = [](const std::string& fund) {
        ForecastFundInfo f;
        f.Name = fund == "000001" ? "甲基金" : "乙基金";
        f.HasNav = true;
        f.LatestNav = 1.5;
        // 000002 has published the day's NAV already.
        f.NavDate = OleDate::FromParts(2024, 10, fund == "000001" ? 15 : 16);
        f.NavGrowth = -1.25;
        return f;
    };
    ctx.sources = FakeMarket::Sources(market);
    return ctx;
}

QString Text(QAbstractItemModel* m, int row, int col) { return m->index(row, col).data().toString(); }
QColor Colour(QAbstractItemModel* m, int row, int col)
{
    return m->index(row, col).data(Qt::ForegroundRole).value<QColor>();
}

TEST(ForecastView, TimerTicksEstimateOnlyWhileThePageIsShown)
{
    auto market = std::make_shared<FakeMarket>();
    CTaskRunner runner;
    CFundForecastView view(runner, Context(market));
    view.SetAutoRefresh(true);
    EXPECT_TRUE(view.AutoRefreshActive());
    ASSERT_FALSE(view.isVisible());
    view.OnTimerTick(kAutoRefreshTimerId);
    EXPECT_FALSE(view.IsRunning());
    EXPECT_EQ(market->holdingCalls, 0);

    view.show();
    view.OnTimerTick(kAutoRefreshTimerId + 1);  // another timer
    EXPECT_FALSE(view.IsRunning());
    QSignalSpy finished(&view, &CFundForecastView::estimateFinished);
    view.OnTimerTick(kAutoRefreshTimerId);
    EXPECT_TRUE(view.IsRunning());
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(market->holdingCalls, 2);
    view.SetAutoRefresh(false);
    EXPECT_FALSE(view.AutoRefreshActive());
}

class ForecastViewDbTest : public test::TempDirTest {};

TEST_F(ForecastViewDbTest, ARunFillsBothListsAndRecordsThePublishedError)
{
    // 14:50 on the quotes' day: the intraday estimate is kept, and compared
    // at once for the fund whose NAV of the day is known.
    Clock::Fix(OleDate::FromParts(2024, 10, 16, 14, 50));
    struct Release {
        ~Release() { Clock::Release(); }
    } release;
    CAdoDatabase db;
    MakeDatabase(db);
    CEstimateErrors errors(db);
    CRealtimeEstimates realtime;
    auto market = std::make_shared<FakeMarket>();
    CTaskRunner runner;
    ForecastViewContext ctx = Context(market);
    ctx.errors = &errors;
    ctx.realtime = &realtime;
    CFundForecastView view(runner, ctx);
    QAbstractItemModelTester fundsTester(view.FundModel());
    QAbstractItemModelTester holdingsTester(view.HoldingModel());
    view.show();

    QSignalSpy finished(&view, &CFundForecastView::estimateFinished);
    ASSERT_TRUE(view.RunEstimate());
    EXPECT_EQ(view.StatusText(), QStringLiteral("正在取得基金持仓 0/2"));
    EXPECT_FALSE(view.RunEstimate());  // one run at a time
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_EQ(view.StatusText(),
              QStringLiteral("估算完成：2个基金，股票行情3/3（行情日期 2024-10-16，估算时间 14:50:00）"));
    EXPECT_EQ(finished.at(0).at(0).toInt(), static_cast<int>(EstimateStatus::Done));

    QAbstractItemModel* funds = view.FundModel();
    ASSERT_EQ(funds->rowCount(), 2);
    EXPECT_EQ(funds->headerData(3, Qt::Horizontal).toString(), QStringLiteral("估算值"));
    EXPECT_EQ(Text(funds, 0, 1), QStringLiteral("甲基金"));
    EXPECT_EQ(Text(funds, 0, 2), QStringLiteral("1.5000"));
    EXPECT_EQ(Text(funds, 0, 3), QStringLiteral("0.90%"));  // 60 × 2.5 % + 20 × −3 % + 0.2 × 1.8 %
    EXPECT_EQ(Colour(funds, 0, 3), QColor(255, 0, 0));
    EXPECT_EQ(Text(funds, 1, 3), QStringLiteral("-1.50%"));
    EXPECT_EQ(Colour(funds, 1, 3), QColor(0, 124, 0));
    EXPECT_EQ(Text(funds, 0, 4), QStringLiteral("3/3"));
    EXPECT_EQ(Text(funds, 1, 4), QStringLiteral("1/1"));
    EXPECT_EQ(Text(funds, 0, 5), QString());
    EXPECT_EQ(Text(funds, 1, 5), QStringLiteral("-1.25% 已公布"));
    EXPECT_EQ(Text(funds, 1, 6), QStringLiteral("0.25%"));  // |−1.50 − (−1.25)|
    EXPECT_EQ(Text(funds, 0, 6), QString());
    // The first fund's estimate waits for its NAV.
    EXPECT_EQ(errors.Waiting(OleDate::FromParts(2024, 10, 16, 21, 0)).count("000001"), 1u);

    // The first fund is selected: its holdings and the total row.
    QAbstractItemModel* holdings = view.HoldingModel();
    ASSERT_EQ(holdings->rowCount(), 4);
    EXPECT_EQ(Text(holdings, 1, 3), QStringLiteral("-3.00"));
    EXPECT_EQ(Colour(holdings, 1, 3), QColor(0, 124, 0));
    // A gain is red even where it shows as 0.00 (0.2 × 1.8 % = 0.0036).
    EXPECT_EQ(Text(holdings, 2, 4), QStringLiteral("0.00"));
    EXPECT_EQ(Colour(holdings, 2, 4), QColor(255, 0, 0));
    EXPECT_EQ(Text(holdings, 3, 0), QStringLiteral("合计"));
    EXPECT_EQ(Text(holdings, 3, 2), QStringLiteral("80.20%"));
    EXPECT_EQ(Text(holdings, 3, 4), QStringLiteral("0.90%"));

    // Only the fund still waiting for its NAV has a real-time value.
    LatestNav nav;
    ASSERT_TRUE(realtime.GetRealtimeEstimate("000001", nav));
    EXPECT_NEAR(nav.TodayValue, 1.5 * 1.009036, 1e-5);
    EXPECT_FALSE(realtime.GetRealtimeEstimate("000002", nav));

    // One fund only, then a cancel while its quotes do not come: the lists stay.
    view.SetAllFunds(false);
    market->blockQuotes = true;
    ASSERT_TRUE(view.RunEstimate());
    QElapsedTimer waited;
    waited.start();
    while (!view.StatusText().startsWith(QStringLiteral("正在取得股票行情")) && waited.elapsed() < 10000)
        QTest::qWait(20);
    EXPECT_EQ(view.StatusText(), QStringLiteral("正在取得股票行情 0/3"));
    view.CancelRun();
    EXPECT_FALSE(view.IsRunning());
    EXPECT_EQ(view.StatusText(), QStringLiteral("估算已取消"));
    market->blockQuotes = false;
    EXPECT_EQ(funds->rowCount(), 2);
}

// Under a dark desktop palette the lists and the error curve are dark as the
// program's other lists are, with signs in the shades legible there.
TEST(ForecastView, ListsAndCurveTakeADarkPalette)
{
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    struct Restore {
        QPalette palette;
        ~Restore() { QApplication::setPalette(palette); }
    } restore{light};

    auto market = std::make_shared<FakeMarket>();
    CTaskRunner runner;
    CFundForecastView view(runner, Context(market));
    view.resize(900, 700);
    view.show();
    QSignalSpy finished(&view, &CFundForecastView::estimateFinished);
    ASSERT_TRUE(view.RunEstimate());
    ASSERT_TRUE(finished.wait(10000));
    ASSERT_EQ(view.HoldingModel()->rowCount(), 4);
    EXPECT_EQ(Colour(view.HoldingModel(), 1, 3), QColor(72, 200, 72));
    EXPECT_EQ(Colour(view.HoldingModel(), 0, 1), QColor(230, 230, 230));

    for (QTableView* list : {view.FundList(), view.HoldingList()}) {
        const QImage image = list->viewport()->grab().toImage();
        // Inside the last row (not the selected one) beside its centred
        // text, and below the rows.
        const QRect cell = list->visualRect(list->model()->index(list->model()->rowCount() - 1, 1));
        EXPECT_LT(image.pixelColor(cell.left() + 3, cell.center().y()).lightness(), 100);
        EXPECT_LT(image.pixelColor(5, image.height() - 5).lightness(), 100);
    }
    const QImage curve = view.ErrorCurve()->grab().toImage();
    EXPECT_LT(curve.pixelColor(curve.width() / 2, curve.height() - 5).lightness(), 100);
}

}  // namespace
