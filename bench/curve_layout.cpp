// The chart of 16 series of 5,000 daily points for a 1920x1080 window: the
// layout alone (date and value range, grid, margins, every pixel position
// and the axis labels), then layout and paint into one image against the
// same polylines drawn raw with QPainter in the same run.
#include <cmath>
#include <cstdio>

#include "BenchUtil.h"
#include "curve/CurveChartModel.h"

#ifdef VEXTAL_CURVE_PAINT
#include <QApplication>
#include <QImage>
#include <QPainter>

#include "ui/CurveChart.h"
#endif

using namespace vextal;

namespace {

struct FixedMeasure : ICurveMeasure {
    int TextWidth(const std::string& t) const override { return 7 * static_cast<int>(t.size()); }
    int TextHeight(const std::string&) const override { return 12; }
};

void Fill(CCurveChartModel& chart)
{
    for (int s = 0; s < 16; ++s) {
        int index = chart.AddSeries();
        OleDate d = OleDate::FromParts(2006, 1, 2);
        double v = 1.0 + 0.1 * s;
        for (int i = 0; i < 5000; ++i) {
            CurvePoint p;
            p.Date = d;
            v *= 1.0 + 0.01 * std::sin(i * 0.37 + s);
            p.Value = v;
            chart.AddPoint(index, p);
            d = d.AddDays(d.DayOfWeek() == 5 ? 3 : 1);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    CCurveChartModel chart;
    Fill(chart);
    FixedMeasure measure;
    const OleDate today = OleDate::FromParts(2026, 1, 1);
    long long checksum = 0;
    double ms = bench::BestMs(20, [&](int run) {
        chart.RecalculateLayout(measure, 1920 - run % 2, 1080, today);
        checksum += chart.FindSeries(15)->Points.back().X + static_cast<long long>(chart.DateLabels().size());
    });
    if (checksum == 0) std::fprintf(stderr, "curve_layout: nothing laid out\n");
    // One frame at 60 Hz.
    bench::ReportTarget("curve_layout_16x5000", ms, "ms", 16.7);

#ifdef VEXTAL_CURVE_PAINT
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    CCurveChart widget;
    widget.resize(1920, 1080);
    Fill(widget.Model());
    QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    // Layout and paint, as a resize of the window does.
    double chartMs = bench::BestMs(10, [&](int) {
        widget.RecalculateLayout();
        widget.Render(image);
    });
    // The same points drawn as they are, with the same pen.
    std::vector<QPolygon> lines;
    for (const auto& [index, s] : widget.Model().Series()) {
        QPolygon line;
        for (const CurvePoint& p : s.Points) line << QPoint(p.X, p.Y);
        lines.push_back(line);
    }
    double rawMs = bench::BestMs(10, [&](int) {
        image.fill(Qt::white);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        int c = 0;
        for (const QPolygon& line : lines) {
            p.setPen(CurveSeriesPen(QColor::fromHsv(c++ * 22, 255, 200)));
            p.drawPolyline(line);
        }
    });
    bench::Report("curve_layout_paint_16x5000", chartMs, "ms", rawMs, 3);
    // Painting thousands of antialiased segments against plain arithmetic.
    bench::Report("curve_paint_vs_layout_16x5000", chartMs, "ms", ms, 20);
#else
    (void)argc;
    (void)argv;
#endif
    return 0;
}
