// Pictures of every curve kind in the screenshot mode: the NAV chart of a
// fund with dividends, the overlays of four funds (the daily one with an
// index), the moving average, the n-day return and the real-time estimate.
#include <QDir>
#include <QTimer>
#include <memory>

#include "app/MarketData.h"
#include "curve/CurveBuilders.h"
#include "ui/CurveChart.h"
#include "ui/CurvePointsDialog.h"
#include "ui/FundCurveView.h"
#include "ui/MainFrame.h"

namespace vextal {

namespace {

struct CurveShot {
    const char* name;
    std::function<void(CMainFrame&, CFundCurveView&)> action;
};

struct CurveShotRun {
    CMainFrame& frame;
    CFundCurveView& view;
    QString dir;
    std::vector<CurveShot> shots;
    std::function<void(bool)> done;
    std::vector<std::string> candidates;  // funds tried for dividends
    size_t next = 0;
    size_t tries = 0;
    bool ok = true;
};

void NextCurveShot(const std::shared_ptr<CurveShotRun>& run);

// After the action's draw (now, or when its fetch has ended).
void AfterDraw(const std::shared_ptr<CurveShotRun>& run, std::function<void()> then)
{
    if (!run->view.IsLoading()) {
        QTimer::singleShot(0, &run->view, then);
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&run->view, &CFundCurveView::curveDrawn, &run->view, [connection, then] {
        QObject::disconnect(*connection);
        QTimer::singleShot(0, then);
    });
}

void Save(const std::shared_ptr<CurveShotRun>& run, const char* name)
{
    run->ok = run->frame.grab().save(QDir(run->dir).filePath(QString::fromUtf8(name) + ".png")) && run->ok;
}

void NextCurveShot(const std::shared_ptr<CurveShotRun>& run)
{
    if (run->next == run->shots.size()) {
        run->done(run->ok);
        return;
    }
    const CurveShot& shot = run->shots[run->next];
    shot.action(run->frame, run->view);
    AfterDraw(run, [run, name = shot.name] {
        // The NAV chart wants a fund that paid dividends in the range.
        if (std::string(name) == "curve-nav" && !run->view.Chart()->Model().HasDividendMarks() &&
            ++run->tries < run->candidates.size()) {
            NextCurveShot(run);
            return;
        }
        Save(run, name);
        // The points of the overlay, in their own window.
        if (std::string(name) == "curve-daily-overlay") {
            CCurvePointsDialog points(*run->view.Chart(), &run->view);
            points.Refill();
            points.show();
            run->ok = points.grab().save(QDir(run->dir).filePath(QStringLiteral("dialog-curve-points.png"))) && run->ok;
        }
        ++run->next;
        NextCurveShot(run);
    });
}

}  // namespace

void SaveCurveScreenshots(CMainFrame& frame, const QString& dir, std::function<void(bool)> done)
{
    auto* view = qobject_cast<CFundCurveView*>(frame.HomeView()->Page(103));
    if (!view) {
        done(false);
        return;
    }
    auto run = std::make_shared<CurveShotRun>(CurveShotRun{frame, *view, dir, {}, std::move(done), {}});
    std::vector<std::string> funds, sixteen;
    for (const auto& [code, info] : view->Market().Catalogue().Funds())
        if (!info.CompanyID.empty() && info.InvestTypeID != 4) {
            if (funds.size() < 4) funds.push_back(code);
            if (sixteen.size() < 16) sixteen.push_back(code);
            if (run->candidates.size() < 12) run->candidates.push_back(code);
        }
    view->SetSelectedFunds(funds);
    auto command = [](int id) { return [id](CMainFrame& f, CFundCurveView&) { f.RunCommand(id); }; };
    std::weak_ptr<CurveShotRun> weak = run;
    run->shots = {
        {"curve-nav",
         [weak](CMainFrame& f, CFundCurveView& v) {
             auto r = weak.lock();
             if (!r || r->candidates.empty()) return;
             v.SingleBar()->fund->setCurrentText(QString::fromStdString(r->candidates[r->tries]));
             v.SingleBar()->start->setDate(v.SingleBar()->end->date().addYears(-2));
             f.RunCommand(cmd::DailyTrend);
         }},
        {"curve-daily-overlay",
         [](CMainFrame& f, CFundCurveView& v) {
             f.RunCommand(cmd::DailyOverlay);
             v.Bar()->statistic->setCurrentIndex(3);
             v.Bar()->shanghai->setChecked(true);
             v.ApplyCurveBar();
         }},
        {"curve-weekly-overlay", command(cmd::WeeklyOverlay)},
        {"curve-monthly-overlay", command(cmd::MonthlyOverlay)},
        {"curve-growth-overlay", command(cmd::GrowthTrend)},
        {"curve-range-overlay", command(cmd::RangeOverlay)},
        {"curve-band-overlay", command(cmd::BandOverlay)},
        {"curve-moving-average", command(cmd::MovingAverage)},
        {"curve-nday-return", command(cmd::NDayReturn)},
        {"curve-realtime",
         [funds](CMainFrame& f, CFundCurveView& v) {
             if (!funds.empty()) v.SingleBar()->fund->setCurrentText(QString::fromStdString(funds[0]));
             f.RunCommand(cmd::RealtimeCurve);
         }},
        // As many funds as a chart takes: the legend wraps, every name shown.
        {"curve-legend-16",
         [sixteen](CMainFrame& f, CFundCurveView& v) {
             v.SetSelectedFunds(sixteen);
             f.RunCommand(cmd::DailyOverlay);
         }},
    };
    NextCurveShot(run);
}

}  // namespace vextal
