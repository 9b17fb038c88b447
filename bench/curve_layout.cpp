// The chart layout of 16 series of 5,000 daily points for a 1920x1080
// window: date and value range, grid, margins, every pixel position and the
// axis labels. Painting is measured with the widget.
#include <cmath>
#include <cstdio>

#include "BenchUtil.h"
#include "curve/CurveChartModel.h"

using namespace vextal;

namespace {

struct FixedMeasure : ICurveMeasure {
    int TextWidth(const std::string& t) const override { return 7 * static_cast<int>(t.size()); }
    int TextHeight(const std::string&) const override { return 12; }
};

}  // namespace

int main()
{
    CCurveChartModel chart;
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
    return 0;
}
