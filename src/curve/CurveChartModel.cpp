#include "curve/CurveChartModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cctype>

#include "common/Format.h"

namespace vextal {

namespace {

constexpr double kFirstMinute = 9 * 60 + 30;
constexpr int kTradingMinutes = 240;
constexpr int kPickDistance = 2;
constexpr int kMarkTick = 5;

// Day number of the calendar date (OLE day 0 is a Saturday).
long long DayNumber(const OleDate& d) { return static_cast<long long>(std::floor(d.dt)); }

// Weekdays from a fixed Monday up to and including day n.
long long WeekdaysUpTo(long long n)
{
    long long m = n - 2;  // day 2 (1900-01-01) is a Monday
    long long q = m >= 0 ? m / 7 : -((-m + 6) / 7);
    long long r = m - q * 7;  // 0 Monday .. 6 Sunday
    return q * 5 + std::min<long long>(r + 1, 5);
}

// Two-digit year, as the date labels print it.
std::string LabelText(const OleDate& d, CurveDateLabelForm form)
{
    DateParts p = d.Parts();
    if (form == kLabelYearMonthDay) return StrFormat("%02d-%02d-%02d", p.year % 100, p.month, p.day);
    if (form == kLabelMonthDay) return StrFormat("%02d-%02d", p.month, p.day);
    return StrFormat("%02d", p.day);
}

bool SameDay(const OleDate& a, const OleDate& b) { return DayNumber(a) == DayNumber(b); }

// The point of a series at a date (calendar day; the exact time in real-time mode).
const CurvePoint* PointAt(const CurveSeries& s, const OleDate& date, bool exact)
{
    for (const CurvePoint& p : s.Points)
        if (exact ? p.Date == date : SameDay(p.Date, date)) return &p;
    return nullptr;
}

}  // namespace

int WeekdaysBetween(const OleDate& from, const OleDate& to)
{
    long long a = DayNumber(from), b = DayNumber(to);
    if (b <= a) return 0;
    return static_cast<int>(WeekdaysUpTo(b) - WeekdaysUpTo(a));
}

int DateLabelStep(size_t n)
{
    if (n < 36) return 1;
    if (n > 36 && n < 216) return static_cast<int>((n + 17) / 18);
    return static_cast<int>((n + 11) / 12);
}

int TradingMinute(const OleDate& time)
{
    DateParts p = time.Parts();
    int raw = p.hour * 60 + p.minute - static_cast<int>(kFirstMinute);
    // After 11:30 the break is cut out; a time inside the break sits at
    // its start rather than jumping back into the morning.
    int m = raw > 120 ? std::max(120, raw - 90) : raw;
    return std::clamp(m, 0, kTradingMinutes);
}

std::string FormatCurveNumber(const std::string& format, double value)
{
    // Exactly one floating conversion; anything else would read past the
    // arguments.
    int conversions = 0;
    bool ok = true;
    for (size_t i = 0; i < format.size() && ok; ++i) {
        if (format[i] != '%') continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < format.size() && std::strchr("-+ 0#", format[j])) ++j;
        while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j]))) ++j;
        if (j < format.size() && format[j] == '.') {
            ++j;
            while (j < format.size() && std::isdigit(static_cast<unsigned char>(format[j]))) ++j;
        }
        if (j >= format.size() || !std::strchr("fFeEgG", format[j])) ok = false;
        ++conversions;
        i = j;
    }
    const char* fmt = ok && conversions == 1 ? format.c_str() : "%0.4f";
    // Locale-free, as every number the program shows.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::string text = StrFormat(fmt, value);
#pragma GCC diagnostic pop
    if (text.size() > 511) text.resize(511);
    return text;
}

CCurveChartModel::CCurveChartModel() = default;

int CCurveChartModel::AddSeries()
{
    if (m_series.size() >= kSeriesLimit) return -1;
    int index = m_nextIndex++;
    CurveSeries& s = m_series[index];
    s.Index = index;
    s.Colour = m_display.SeriesColours[index % kSeriesLimit];
    return index;
}

bool CCurveChartModel::SetSeriesName(int series, const std::string& name)
{
    auto it = m_series.find(series);
    if (it == m_series.end()) return false;
    it->second.Name = name;
    return true;
}

bool CCurveChartModel::SetSeriesFormats(int series, const std::string& valueFormat, const std::string& infoFormat)
{
    auto it = m_series.find(series);
    if (it == m_series.end()) return false;
    it->second.ValueFormat = valueFormat;
    it->second.InfoFormat = infoFormat;
    return true;
}

void CCurveChartModel::AddPoint(int series, const CurvePoint& point)
{
    auto it = m_series.find(series);
    if (it == m_series.end()) return;
    it->second.Points.push_back(point);
    if (series == 0) m_current = static_cast<long>(it->second.Points.size()) - 1;
}

bool CCurveChartModel::SetCurrentPoint(size_t point)
{
    const CurveSeries* first = FindSeries(0);
    if (!first || point >= first->Points.size()) return false;
    m_current = static_cast<long>(point);
    return true;
}

bool CCurveChartModel::MoveCurrentPoint(int step)
{
    if (m_current < 0) return false;
    long next = m_current + step;
    if (next < 0) return false;
    return SetCurrentPoint(static_cast<size_t>(next));
}

void CCurveChartModel::AddMarker(int series, const CurvePoint& point, int type)
{
    auto it = m_series.find(series);
    if (it == m_series.end()) return;
    CurveMarker m;
    m.Point = point;
    m.Type = type;
    it->second.Markers.push_back(m);
}

void CCurveChartModel::RemoveAllSeries()
{
    m_series.clear();
    m_nextIndex = 0;
    m_current = -1;
    m_dateLabels.clear();
    m_rangeLines.clear();
}

void CCurveChartModel::SetDisplayParams(const CurveDisplayParams& params)
{
    m_display = params;
    for (auto& [index, s] : m_series) s.Colour = m_display.SeriesColours[index % kSeriesLimit];
}

const CurveSeries* CCurveChartModel::FindSeries(int series) const
{
    auto it = m_series.find(series);
    return it == m_series.end() ? nullptr : &it->second;
}

bool CCurveChartModel::HasDividendMarks() const
{
    for (const auto& [index, s] : m_series)
        for (const CurveMarker& m : s.Markers)
            if (m.Type == kMarkDividend) return true;
    return false;
}

void CCurveChartModel::RecalculateLayout(const ICurveMeasure& measure, int clientWidth, int clientHeight,
                                         const OleDate& today)
{
    LayoutDateRange(today);
    LayoutValueRange();
    LayoutGrid();
    LayoutMargins(measure, clientWidth, clientHeight);
    LayoutPoints(measure);
    LayoutValueLabels();
    LayoutDateLabels();
}

void CCurveChartModel::LayoutDateRange(const OleDate& today)
{
    bool any = false;
    OleDate first, last;
    for (const auto& [index, s] : m_series)
        for (const CurvePoint& p : s.Points) {
            if (!any || p.Date < first) first = p.Date;
            if (!any || p.Date > last) last = p.Date;
            any = true;
        }
    if (!any) {
        first = today.DateOnly().AddDays(-30);
        last = today.DateOnly();
    }
    m_start = first.DateOnly();
    m_end = last.DateOnly();
    int w = m_start.DayOfWeek();
    if (w == 6) m_start = m_start.AddDays(2);
    else if (w == 0) m_start = m_start.AddDays(1);
    w = m_end.DayOfWeek();
    if (w == 6) m_end = m_end.AddDays(-1);
    else if (w == 0) m_end = m_end.AddDays(-2);
    m_tradingDays = std::max(1, WeekdaysBetween(m_start, m_end));
}

void CCurveChartModel::LayoutValueRange()
{
    bool any = false;
    double lo = 100.0, hi = 0.0;
    for (const auto& [index, s] : m_series)
        for (const CurvePoint& p : s.Points) {
            lo = std::min(lo, p.Value);
            hi = std::max(hi, p.Value);
            any = true;
        }
    // Without a base NAV a real-time chart is laid out as any other: the
    // range of its points, plain value labels (the window says why).
    const bool centred = m_realTime && !MissingBaseNav();
    if (!any) {
        // The default range; in real time (before the first estimate) the
        // range around the base NAV.
        lo = 0.0;
        hi = centred ? 0.0 : 1.1;
    }
    if (lo == hi || centred) {
        const double base = centred ? m_baseNav : 0.0;
        if (lo == 0) lo = 0.98 * base;
        double d = std::max(std::fabs(base - lo), std::fabs(base - hi));
        if (d == 0) d = 0.01 * base;
        lo = base - d;
        hi = base + d;
    }
    m_min = lo;
    m_max = hi;
    m_span = hi - lo;
    if (m_span == 0) m_span = 1.0;
}

void CCurveChartModel::LayoutGrid()
{
    int e = static_cast<int>(std::log10(m_span));  // truncated toward zero
    if (m_span <= 1.0) --e;
    m_unit_ = std::pow(10.0, e);
    const double units = m_realTime ? 4 : 8;
    while (m_span < units * m_unit_) m_unit_ /= 2;
}

void CCurveChartModel::LayoutMargins(const ICurveMeasure& measure, int clientWidth, int clientHeight)
{
    // The labels print with the decimal count, which a curve may set apart
    // from the value format (an empty chart after a percentage curve): the
    // margin holds the wider of both, so no label is cut.
    const std::string labels = StrFormat("%%0.%df", m_decimals);
    int wide = 0;
    for (const std::string* fmt : {static_cast<const std::string*>(&m_valueFormat), &labels})
        for (double v : {m_min, m_max}) wide = std::max(wide, measure.TextWidth(FormatCurveNumber(*fmt, v)));
    m_leftMargin = 3 + wide + 2;
    m_bottomMargin = 3 + measure.TextHeight("日期区间") + 2;
    const int outer = m_display.OuterMargin;
    const int extra = m_realTime ? m_leftMargin / 2 : m_display.ExtraRightMargin;
    m_plot.left = outer + m_leftMargin;
    m_plot.top = outer + m_display.TopMargin;
    m_plot.right = std::max(m_plot.left + 1, clientWidth - outer - m_display.RightMargin - extra);
    m_plot.bottom = std::max(m_plot.top + 1, clientHeight - outer - m_bottomMargin);
}

int CCurveChartModel::XOfDate(const OleDate& date) const
{
    if (m_realTime)
        return m_plot.left + TradingMinute(date) * m_plot.Width() / kTradingMinutes;
    long long t = WeekdaysBetween(m_start, date);
    return m_plot.left + static_cast<int>(static_cast<long long>(m_plot.Width()) * t / m_tradingDays);
}

int CCurveChartModel::YOfValue(double value) const
{
    return m_plot.bottom - static_cast<int>((m_plot.Height() * (value - m_min) + m_span / 2) / m_span);
}

void CCurveChartModel::LayoutPoints(const ICurveMeasure& measure)
{
    for (auto& [index, s] : m_series) {
        for (CurvePoint& p : s.Points) {
            p.X = XOfDate(p.Date);
            p.Y = YOfValue(p.Value);
        }
        for (CurveMarker& m : s.Markers) {
            // The tick sits on the curve at the mark's date (the next point
            // when that day has none).
            const CurvePoint* at = nullptr;
            for (const CurvePoint& p : s.Points)
                if (DayNumber(p.Date) >= DayNumber(m.Point.Date)) {
                    at = &p;
                    break;
                }
            if (!at && !s.Points.empty()) at = &s.Points.back();
            m.Point.X = at ? at->X : XOfDate(m.Point.Date);
            m.Point.Y = at ? at->Y : m_plot.bottom;
            if (m.Type == kMarkSplit) {
                m.Label = "拆分";
            } else {
                m.Label = StrFormat("%0.4f", m.Point.Value);
                while (!m.Label.empty() && m.Label.back() == '0') m.Label.pop_back();
                if (!m.Label.empty() && m.Label.back() == '.') m.Label.pop_back();
            }
            int h = measure.TextHeight(m.Label);
            m.LabelTop = m.Point.Y + kMarkTick;
            if (m.LabelTop + h > m_plot.bottom) m.LabelTop = m_plot.bottom - h;
        }
    }
}

void CCurveChartModel::LayoutValueLabels()
{
    m_valueLabels.clear();
    const std::string fmt = StrFormat("%%0.%df", m_decimals);
    auto label = [&](double v) {
        CurveValueLabel l;
        l.Value = v;
        l.Y = YOfValue(v);
        l.Text = FormatCurveNumber(fmt, v);
        // "-0.0000" reads back as 0: printed from exactly 0, without a sign.
        if (NumberOr(l.Text, 0) == 0) {
            l.Text = FormatCurveNumber(fmt, 0.0);
            l.Sign = kLabelZero;
        } else {
            l.Sign = v > 0 ? kLabelPositive : kLabelNegative;
        }
        return l;
    };
    const double eps = m_unit_ * 1e-9;
    if (!m_realTime || MissingBaseNav()) {
        for (int i = 0; i < 1000; ++i) {
            double v = m_min + i * m_unit_;
            if (v > m_max + eps) break;
            m_valueLabels.push_back(label(v));
        }
        return;
    }
    const double base = m_baseNav, half = m_unit_ / 2;
    int below = static_cast<int>(std::floor((base - m_min) / half + 1e-9));
    int above = static_cast<int>(std::floor((m_max - base) / half + 1e-9));
    for (int k = -std::min(below, 500); k <= std::min(above, 500); ++k) {
        CurveValueLabel l = label(base + k * half);
        l.Sign = k > 0 ? kLabelPositive : k < 0 ? kLabelNegative : kLabelZero;
        l.RightText = k == 0 || base == 0 ? "0.00%" : StrFormat("%0.2f%%", k * m_unit_ * 50 / base);
        m_valueLabels.push_back(l);
    }
}

void CCurveChartModel::LayoutDateLabels()
{
    m_dateLabels.clear();
    m_labelStep = 1;
    if (m_realTime) {
        static const int kMarks[][2] = {{9, 30}, {10, 30}, {11, 30}, {14, 0}, {15, 0}};
        for (const auto& hm : kMarks) {
            CurveDateLabel l;
            l.X = XOfDate(OleDate::FromParts(2000, 1, 3, hm[0], hm[1]));
            l.Text = StrFormat("%02d:%02d", hm[0], hm[1]);
            l.Form = kLabelDay;
            m_dateLabels.push_back(l);
        }
        return;
    }
    const CurveSeries* ref = nullptr;
    for (const auto& [index, s] : m_series)
        if (s.Visible && (!ref || s.Points.size() > ref->Points.size())) ref = &s;
    if (!ref || ref->Points.empty()) return;
    const size_t n = ref->Points.size();
    m_labelStep = DateLabelStep(n);
    auto add = [&](size_t i, CurveDateLabelForm form) {
        CurveDateLabel l;
        l.PointIndex = i;
        l.X = ref->Points[i].X;
        l.Form = form;
        l.Text = LabelText(ref->Points[i].Date, form);
        m_dateLabels.push_back(l);
    };
    add(0, kLabelYearMonthDay);
    OleDate prev = ref->Points[0].Date;
    for (size_t i = static_cast<size_t>(m_labelStep); i < n; i += static_cast<size_t>(m_labelStep)) {
        DateParts a = prev.Parts(), b = ref->Points[i].Date.Parts();
        CurveDateLabelForm form = a.year != b.year    ? kLabelYearMonthDay
                                  : a.month != b.month ? kLabelMonthDay
                                                       : kLabelDay;
        add(i, form);
        prev = ref->Points[i].Date;
    }
}

std::string CCurveChartModel::HeaderText() const
{
    std::string text = "日期区间:" + m_start.FormatWith("%Y/%m/%d") + " - " + m_end.FormatWith("%Y/%m/%d");
    if (!m_title.empty()) text += " - " + m_title;
    if (!m_subtitle.empty()) text += " - " + m_subtitle;
    return text;
}

std::string CCurveChartModel::UnitText() const { return "单位:" + m_unit; }

bool CCurveChartModel::FindPointNear(int x, int y, int& series, size_t& point) const
{
    for (const auto& [index, s] : m_series) {
        if (!s.Visible) continue;
        for (size_t i = 0; i < s.Points.size(); ++i)
            if (std::abs(s.Points[i].X - x) <= kPickDistance && std::abs(s.Points[i].Y - y) <= kPickDistance) {
                series = index;
                point = i;
                return true;
            }
    }
    return false;
}

bool CCurveChartModel::FindFirstSeriesPointAt(int x, size_t& point) const
{
    auto it = m_series.find(0);
    if (it == m_series.end() || it->second.Points.empty()) return false;
    const auto& pts = it->second.Points;
    point = 0;
    for (size_t i = 1; i < pts.size(); ++i)
        if (std::abs(pts[i].X - x) < std::abs(pts[point].X - x)) point = i;
    return true;
}

std::vector<std::string> CCurveChartModel::PointInfoLines(int series, size_t point, bool hover) const
{
    std::vector<std::string> lines;
    const CurveSeries* s = FindSeries(series);
    if (!s || point >= s->Points.size()) return lines;
    const CurvePoint& p = s->Points[point];
    const std::string date = "日期:" + p.Date.FormatWith("%Y-%m-%d");
    if (m_chartMode == 0) {
        lines = {date, StrFormat("万份日收益:%0.4f元", p.Value), StrFormat("7天年收益率:%0.3f", p.Info1)};
    } else if (m_chartMode == 1) {
        const CurveSeries* unit = FindSeries(0);
        const CurveSeries* total = FindSeries(1);
        const CurvePoint* u = unit ? PointAt(*unit, p.Date, false) : nullptr;
        const CurvePoint* t = total ? PointAt(*total, p.Date, false) : nullptr;
        lines = {date, StrFormat("单位净值:%0.4f元", u ? u->Value : 0.0),
                 StrFormat("累计净值:%0.4f元", t ? t->Value : 0.0), StrFormat("日增长率:%0.2f%%", p.Info1)};
        if (hover) lines.push_back(StrFormat("日增长值:%0.4f", p.Info2));
    } else if (m_chartMode == 5) {
        lines = {"累计增长率", date};
        for (const auto& [index, other] : m_series)
            if (const CurvePoint* q = PointAt(other, p.Date, false))
                lines.push_back(other.Name + ":" + StrFormat("%0.2f%%", q->Value));
    } else {
        if (m_realTime) lines = {"实时净值估算", "时间:" + p.Date.FormatWith("%H:%M")};
        else lines = {date};
        if (m_realTime && hover) {
            double growth = m_baseNav == 0 ? 0 : (p.Value - m_baseNav) * 100 / m_baseNav;
            lines.push_back(StrFormat("单位净值:%0.4f", p.Value));
            lines.push_back(StrFormat("估算增长:%0.2f%%", growth));
            return lines;
        }
        for (const auto& [index, other] : m_series)
            if (const CurvePoint* q = PointAt(other, p.Date, m_realTime)) {
                std::string line = other.Name;
                if (!other.ValueFormat.empty()) line += " " + FormatCurveNumber(other.ValueFormat, q->Value);
                if (!other.InfoFormat.empty()) line += " " + FormatCurveNumber(other.InfoFormat, q->Info1);
                lines.push_back(line);
            }
    }
    return lines;
}

}  // namespace vextal
