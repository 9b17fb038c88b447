#pragma once
// What a curve chart holds and where everything goes on it: the series of
// dated points, the axes, the margins and every pixel position. The chart
// widget only paints what this computes, so every scale rule is testable
// without a window. Text sizes come through ICurveMeasure, which the widget
// implements with its font.
#include <map>
#include <string>
#include <vector>

#include "common/OleDate.h"

namespace vextal {

struct CurvePoint {
    OleDate Date;  // OleDate carries the validity status
    double Value = 0;
    double Info1 = 0;
    double Info2 = 0;
    int X = 0, Y = 0;  // filled by the layout
};

enum CurveMarkerType { kMarkDividend = 0, kMarkSplit = 1 };

struct CurveMarker {
    CurvePoint Point;  // date; value = the dividend per unit (0 for a split)
    int Type = kMarkDividend;
    // Layout: the tick sits on the series at the mark's date; the label's top.
    int LabelTop = 0;
    std::string Label;
};

struct CurveRgb {
    int r = 0, g = 0, b = 0;
    friend bool operator==(const CurveRgb&, const CurveRgb&) = default;
};

struct CurveSeries {
    int Index = 0;
    std::string Name;
    std::string ValueFormat;
    std::string InfoFormat;
    CurveRgb Colour;
    bool Visible = true;
    std::vector<CurvePoint> Points;  // insertion order
    std::vector<CurveMarker> Markers;
};

// Colours and margins of the chart, changeable through the options.
struct CurveDisplayParams {
    CurveRgb AxisColour{255, 0, 0};
    CurveRgb GridColour{192, 192, 192};
    CurveRgb PlotBackground{255, 255, 255};
    CurveRgb ChartBackground{255, 239, 222};
    CurveRgb DateTextColour{0, 0, 0};
    CurveRgb ValueTextColour{255, 0, 0};
    int TopMargin = 20;
    int RightMargin = 20;
    int ExtraRightMargin = 65;
    int OuterMargin = 2;
    CurveRgb SeriesColours[16] = {{255, 0, 0},   {0, 0, 255},     {0, 255, 0},    {0, 80, 0},
                                  {0, 0, 0},     {0, 207, 206},   {156, 48, 206}, {255, 0, 255},
                                  {99, 154, 0},  {128, 128, 0},   {0, 80, 80},    {0, 255, 255},
                                  {0, 0, 80},    {80, 0, 80},     {255, 128, 0},  {80, 0, 0}};
};

// Text extents in pixels, in the chart's font.
class ICurveMeasure {
public:
    virtual ~ICurveMeasure() = default;
    virtual int TextWidth(const std::string& text) const = 0;
    virtual int TextHeight(const std::string& text) const = 0;
};

struct CurveRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// Label colours of the value axis.
enum CurveLabelSign { kLabelPositive, kLabelZero, kLabelNegative };

struct CurveValueLabel {
    double Value = 0;
    int Y = 0;
    std::string Text;       // left of the plot
    std::string RightText;  // real-time mode: change against the base NAV
    CurveLabelSign Sign = kLabelZero;
};

enum CurveDateLabelForm { kLabelYearMonthDay, kLabelMonthDay, kLabelDay };

struct CurveDateLabel {
    size_t PointIndex = 0;  // in the reference series (time labels: none)
    int X = 0;
    std::string Text;
    CurveDateLabelForm Form = kLabelYearMonthDay;  // the two long forms are blue
};

class CCurveChartModel {
public:
    static constexpr int kSeriesLimit = 16;

    CCurveChartModel();

    // -1 when the chart is full.
    int AddSeries();
    bool SetSeriesName(int series, const std::string& name);
    bool SetSeriesFormats(int series, const std::string& valueFormat, const std::string& infoFormat);
    // Dropped when no series has the index.
    void AddPoint(int series, const CurvePoint& point);
    void AddMarker(int series, const CurvePoint& point, int type);
    void RemoveAllSeries();

    void SetTitle(const std::string& title, const std::string& subtitle)
    {
        m_title = title;
        m_subtitle = subtitle;
    }
    void SetUnit(const std::string& unit) { m_unit = unit; }
    void SetValueFormat(const std::string& format) { m_valueFormat = format; }
    void SetDecimals(int decimals) { m_decimals = decimals; }
    void SetInfoFormat(const std::string& format) { m_infoFormat = format; }
    void SetChartMode(int mode) { m_chartMode = mode; }
    void SetTracking(bool on) { m_tracking = on; }
    void SetEstimateBase(bool realTime, double baseNav)
    {
        m_realTime = realTime;
        m_baseNav = baseNav;
    }
    void SetDisplayParams(const CurveDisplayParams& params);
    // Extra header lines (the risk figures of a single-fund NAV chart);
    // cleared with the series.
    void SetRangeLines(const std::vector<std::string>& lines) { m_rangeLines = lines; }
    const std::vector<std::string>& RangeLines() const { return m_rangeLines; }

    const std::map<int, CurveSeries>& Series() const { return m_series; }
    const CurveSeries* FindSeries(int series) const;
    int ChartMode() const { return m_chartMode; }
    const std::string& Title() const { return m_title; }
    const std::string& Subtitle() const { return m_subtitle; }
    const std::string& Unit() const { return m_unit; }
    const std::string& ValueFormat() const { return m_valueFormat; }
    const std::string& InfoFormat() const { return m_infoFormat; }
    int Decimals() const { return m_decimals; }
    bool Tracking() const { return m_tracking; }
    bool RealTime() const { return m_realTime; }
    double BaseNav() const { return m_baseNav; }
    // A real-time chart without the last NAV: no axis to centre the estimate on.
    bool MissingBaseNav() const { return m_realTime && !(m_baseNav > 0); }
    const CurveDisplayParams& Display() const { return m_display; }

    // The whole layout for a client area of the given size; `today` is the
    // default date range's end when the chart is empty.
    void RecalculateLayout(const ICurveMeasure& measure, int clientWidth, int clientHeight, const OleDate& today);

    // Results of the last layout.
    double MinValue() const { return m_min; }
    double MaxValue() const { return m_max; }
    double Span() const { return m_span; }
    double GridUnit() const { return m_unit_; }
    OleDate StartDate() const { return m_start; }
    OleDate EndDate() const { return m_end; }
    int TradingDays() const { return m_tradingDays; }
    int LeftMargin() const { return m_leftMargin; }
    int BottomMargin() const { return m_bottomMargin; }
    const CurveRect& PlotRect() const { return m_plot; }
    const std::vector<CurveValueLabel>& ValueLabels() const { return m_valueLabels; }
    const std::vector<CurveDateLabel>& DateLabels() const { return m_dateLabels; }
    int LabelStep() const { return m_labelStep; }
    // "日期区间:... - title - subtitle" and "单位:...".
    std::string HeaderText() const;
    std::string UnitText() const;
    bool HasDividendMarks() const;

    // Pointing: the series and point within 2 pixels of (x, y); false when none.
    bool FindPointNear(int x, int y, int& series, size_t& point) const;
    // The point of the first series at the click's horizontal position (the
    // nearest by x); false when the first series has no points.
    bool FindFirstSeriesPointAt(int x, size_t& point) const;
    // The current point: a point of the first series (index 0), its last
    // one after loading; moved by clicks and the arrow keys.
    bool HasCurrentPoint() const { return m_current >= 0; }
    size_t CurrentPoint() const { return static_cast<size_t>(m_current); }
    bool SetCurrentPoint(size_t point);
    // One point left (-1) or right (+1); false at either end.
    bool MoveCurrentPoint(int step);
    // The lines of the tip window for one point; `hover` gives the text
    // shown while the pointer rests on it (the NAV chart adds the day's
    // change, real time shows the estimate and its growth).
    std::vector<std::string> PointInfoLines(int series, size_t point, bool hover = false) const;

private:
    void LayoutDateRange(const OleDate& today);
    void LayoutValueRange();
    void LayoutGrid();
    void LayoutMargins(const ICurveMeasure& measure, int clientWidth, int clientHeight);
    void LayoutPoints(const ICurveMeasure& measure);
    void LayoutValueLabels();
    void LayoutDateLabels();
    int XOfDate(const OleDate& date) const;
    int YOfValue(double value) const;

    std::map<int, CurveSeries> m_series;
    int m_nextIndex = 0;
    int m_chartMode = 0;
    std::string m_title, m_subtitle, m_infoFormat, m_unit;
    std::string m_valueFormat = "%0.4f";
    int m_decimals = 4;
    bool m_tracking = true;
    bool m_realTime = false;
    double m_baseNav = 0;
    CurveDisplayParams m_display;

    double m_min = 0.0, m_max = 1.1, m_span = 1.1, m_unit_ = 0.01;
    OleDate m_start, m_end;
    int m_tradingDays = 1;
    int m_leftMargin = 50, m_bottomMargin = 20;
    CurveRect m_plot;
    std::vector<CurveValueLabel> m_valueLabels;
    std::vector<CurveDateLabel> m_dateLabels;
    int m_labelStep = 1;
    long m_current = -1;
    std::vector<std::string> m_rangeLines;
};

// The pieces of the layout as plain functions.

// Weekdays d with from < d <= to (calendar dates; 0 when to <= from).
int WeekdaysBetween(const OleDate& from, const OleDate& to);
// Every point when n < 36; ceil(n / 18) when 36 < n < 216; ceil(n / 12) at 36 and from 216.
int DateLabelStep(size_t pointCount);
// Minutes of the trading day from 9:30, the midday break from 11:30 to 13:00 cut out.
int TradingMinute(const OleDate& time);
// One number through a printf format with a single floating conversion; a
// format that is not one falls back to "%0.4f".
std::string FormatCurveNumber(const std::string& format, double value);

}  // namespace vextal
