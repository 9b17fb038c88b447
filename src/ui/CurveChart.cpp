#include "ui/CurveChart.h"

#include <QCursor>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <climits>

#include "app/Settings.h"
#include "common/Clock.h"

namespace vextal {

namespace {

constexpr int kTick = 4;
constexpr int kLegendBox = 8;
const QColor kBlue(0, 0, 255);
const QColor kNegative(0, 124, 0);

QColor Qc(const CurveRgb& c) { return QColor(c.r, c.g, c.b); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

CurveRgb Unpacked(uint32_t v)
{
    return {static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>((v >> 16) & 0xFF)};
}

}  // namespace

QPen CurveSeriesPen(const QColor& colour)
{
    // One device pixel, antialiased: the raster engine's fast line path (a
    // wider pen goes through the stroker, hundreds of times slower on
    // thousands of points).
    QPen pen(colour, 1.0);
    pen.setCosmetic(true);
    return pen;
}

CurveDisplayParams ReadCurveDisplay(const std::string& iniPath)
{
    // The keys the curve colour dialog of the options writes.
    const CCurveColours c = ReadCurveColours(iniPath);
    CurveDisplayParams d;
    d.AxisColour = Unpacked(c.axis);
    d.DateTextColour = Unpacked(c.text);
    d.PlotBackground = Unpacked(c.plot);
    d.ChartBackground = Unpacked(c.background);
    d.GridColour = Unpacked(c.grid);
    for (int i = 0; i < CCurveChartModel::kSeriesLimit && i < ini::kCurveCount; ++i)
        d.SeriesColours[i] = Unpacked(c.series[i]);
    return d;
}

CCurveChart::CCurveChart(QWidget* parent) : QWidget(parent), m_tip(new QLabel(this))
{
    // The CJK font the machine has, at the size of the classic 9-point face.
    m_font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
                        QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Sans Serif")});
    m_font.setPointSize(9);
    setFont(m_font);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 200);
    m_tip->setObjectName(QStringLiteral("curveTip"));
    m_tip->setFont(m_font);
    m_tip->setStyleSheet(
        QStringLiteral("QLabel { background: #FFFFE1; color: black; border: 1px solid #808080; padding: 3px; }"));
    m_tip->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_tip->hide();
    SetDisplay(CurveDisplayParams());
}

void CCurveChart::SetDisplay(const CurveDisplayParams& display)
{
    CurveDisplayParams d = display;
    // The header holds two lines (title; unit and legend) in the chart's font.
    const int line = QFontMetrics(m_font).height();
    d.TopMargin = std::max(d.TopMargin, 2 * line + 6);
    m_headerTop = d.TopMargin;
    m_model.SetDisplayParams(d);
    RecalculateLayout();
}

int CCurveChart::TextWidth(const std::string& text) const
{
    return QFontMetrics(m_font).horizontalAdvance(Q(text));
}

int CCurveChart::TextHeight(const std::string&) const { return QFontMetrics(m_font).height(); }

void CCurveChart::RecalculateLayout()
{
    HideTip();
    m_model.RecalculateLayout(*this, width(), height(), Clock::Now());
    // The legend takes the rows it needs; the plot shrinks by the extra ones.
    const std::vector<LegendEntry> legend = PlaceLegend(m_model.PlotRect().left, m_model.PlotRect().right);
    const int below = legend.empty() ? 0 : legend.back().rect.bottom() + 1 - m_model.Display().OuterMargin + 2;
    const int top = std::max(m_headerTop, below);
    if (top != m_model.Display().TopMargin) {
        CurveDisplayParams d = m_model.Display();
        d.TopMargin = top;
        m_model.SetDisplayParams(d);
        m_model.RecalculateLayout(*this, width(), height(), Clock::Now());
    }
    update();
}

std::vector<CCurveChart::LegendEntry> CCurveChart::Legend() const
{
    return PlaceLegend(m_model.PlotRect().left, m_model.PlotRect().right);
}

std::vector<CCurveChart::LegendEntry> CCurveChart::PlaceLegend(int left, int right) const
{
    const CCurveChartModel& m = m_model;
    const QFontMetrics fm(m_font);
    const int lineH = fm.height();
    std::vector<LegendEntry> entries;
    if (!m.UnitText().empty()) entries.push_back({Q(m.UnitText()), QColor(), false, {}});
    for (const auto& [index, s] : m.Series())
        if (s.Visible) entries.push_back({Q(s.Name), Qc(s.Colour), false, {}});
    if (m.HasDividendMarks()) entries.push_back({QStringLiteral("单位分红"), QColor(), true, {}});
    QStringList range;
    for (const std::string& line : m.RangeLines()) range << Q(line);
    if (!range.isEmpty()) entries.push_back({range.join(QStringLiteral("  ")), QColor(), false, {}});
    // Entries run left to right and wrap; one wider than the row gets a row of its own.
    int x = left, y = m.Display().OuterMargin + 2 + lineH + 2;
    for (LegendEntry& e : entries) {
        const int lead = e.box.isValid() ? kLegendBox + 3 : e.dividendMark ? 6 : 0;
        const int w = lead + fm.horizontalAdvance(e.text);
        if (x > left && x + w > right) {
            x = left;
            y += lineH + 2;
        }
        e.rect = QRect(x, y, w, lineH);
        x += w + (e.box.isValid() || e.dividendMark ? 10 : 12);
    }
    return entries;
}

void CCurveChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    RecalculateLayout();
}

void CCurveChart::paintEvent(QPaintEvent*)
{
    // One image per paint, copied in one block: no flicker.
    const qreal dpr = devicePixelRatioF();
    const QSize size = this->size() * dpr;
    if (m_buffer.size() != size) m_buffer = QImage(size, QImage::Format_ARGB32_Premultiplied);
    m_buffer.setDevicePixelRatio(dpr);
    Render(m_buffer);
    QPainter p(this);
    p.drawImage(0, 0, m_buffer);
}

void CCurveChart::Render(QImage& image) const
{
    const CCurveChartModel& m = m_model;
    const CurveDisplayParams& d = m.Display();
    const CurveRect& r = m.PlotRect();
    const QRect plot(r.left, r.top, r.Width(), r.Height());
    const int outer = d.OuterMargin;
    const qreal dpr = image.devicePixelRatio();
    const int w = qRound(image.width() / dpr);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setFont(m_font);
    const QFontMetrics fm(m_font);
    const int lineH = fm.height();

    // Background, plot area and its frame.
    p.fillRect(QRect(0, 0, w, qRound(image.height() / dpr)), Qc(d.ChartBackground));
    p.fillRect(plot, Qc(d.PlotBackground));

    // Value axis: grid lines and labels centred on them.
    p.setPen(QPen(Qc(d.GridColour), 0));
    for (const CurveValueLabel& l : m.ValueLabels())
        if (l.Y > r.top && l.Y < r.bottom) p.drawLine(r.left + 1, l.Y, r.right - 1, l.Y);
    auto signColour = [&](CurveLabelSign s) {
        return s == kLabelPositive ? Qc(d.ValueTextColour) : s == kLabelNegative ? kNegative : QColor(Qt::black);
    };
    for (const CurveValueLabel& l : m.ValueLabels()) {
        p.setPen(signColour(l.Sign));
        // Centred on the grid line; the lowest stays clear of the date labels.
        const int top = std::min(l.Y - lineH / 2, r.bottom + 2 - lineH);
        QRect left(outer, top, r.left - outer - 3, lineH);
        p.drawText(left, Qt::AlignRight | Qt::AlignVCenter, Q(l.Text));
        if (!l.RightText.empty())
            p.drawText(QRect(r.right + 3, top, w - r.right - 3, lineH), Qt::AlignLeft | Qt::AlignVCenter,
                       Q(l.RightText));
    }

    // Date or time axis: ticks and labels centred under their points.
    for (const CurveDateLabel& l : m.DateLabels()) {
        const bool blue = !m.RealTime() && l.Form != kLabelDay;
        p.setPen(QPen(Qc(d.AxisColour), 0));
        p.drawLine(l.X, r.bottom, l.X, r.bottom + kTick);
        p.setPen(blue ? kBlue : Qc(d.DateTextColour));
        const int tw = fm.horizontalAdvance(Q(l.Text)) + 2;
        // Centred under the point, but whole inside the window.
        const int left = std::clamp(l.X - tw / 2, outer, std::max(outer, w - outer - tw));
        p.drawText(QRect(left, r.bottom + 3, tw, lineH), Qt::AlignCenter, Q(l.Text));
    }

    // Header: date range, title and subtitle; then unit, legend and the
    // range figures of a single-fund chart.
    p.setPen(Qc(d.DateTextColour));
    const int row1 = outer + 2;
    p.drawText(QRect(r.left, row1, r.Width(), lineH), Qt::AlignHCenter | Qt::AlignVCenter, Q(m.HeaderText()));
    for (const LegendEntry& e : PlaceLegend(r.left, r.right)) {
        int x = e.rect.left();
        if (e.box.isValid()) {
            p.fillRect(QRect(x, e.rect.top() + (lineH - kLegendBox) / 2, kLegendBox, kLegendBox), e.box);
            x += kLegendBox + 3;
        } else if (e.dividendMark) {
            p.setPen(QPen(kBlue, 0));
            p.drawLine(x + 2, e.rect.top() + 2, x + 2, e.rect.bottom() - 1);
            x += 6;
        }
        p.setPen(Qc(d.DateTextColour));
        p.drawText(QRect(x, e.rect.top(), e.rect.right() - x + 1, lineH), Qt::AlignLeft | Qt::AlignVCenter, e.text);
    }
    if (m.MissingBaseNav()) {
        // An estimate needs the last NAV: without one there is no axis to centre on.
        p.setPen(Qc(d.DateTextColour));
        p.drawText(plot, Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("没有该基金上一交易日的净值，无法按涨跌幅画出实时估值曲线"));
    }

    // Series: nothing leaves the plot area.
    p.save();
    p.setClipRect(plot.adjusted(1, 1, 0, 0));
    p.setRenderHint(QPainter::Antialiasing, true);
    QPolygon line;
    for (const auto& [index, s] : m.Series()) {
        if (!s.Visible || s.Points.empty()) continue;
        line.clear();
        line.reserve(static_cast<int>(s.Points.size()));
        int lastX = INT_MIN;
        for (const CurvePoint& pt : s.Points) {
            if (pt.X == lastX) continue;  // the same column adds no segment
            line << QPoint(pt.X, pt.Y);
            lastX = pt.X;
        }
        p.setPen(CurveSeriesPen(Qc(s.Colour)));
        if (line.size() == 1) {
            p.drawPoint(line.front());
            continue;
        }
        p.drawPolyline(line);
        // On a dense screen a one-device-pixel line is a hair: a second
        // pass one device pixel off gives it body at twice the cost (a
        // wide pen would cost forty times).
        if (dpr >= 1.5) {
            p.translate(1.0 / dpr, 1.0 / dpr);
            p.drawPolyline(line);
            p.translate(-1.0 / dpr, -1.0 / dpr);
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    // Marks: a blue tick on the curve and the dividend (or "拆分") under it.
    for (const auto& [index, s] : m.Series())
        for (const CurveMarker& mk : s.Markers) {
            p.setPen(QPen(kBlue, 0));
            p.drawLine(mk.Point.X, mk.Point.Y, mk.Point.X, mk.Point.Y + kTick);
            const int tw = fm.horizontalAdvance(Q(mk.Label));
            p.drawText(QRect(mk.Point.X - tw / 2 - 1, mk.LabelTop, tw + 2, lineH), Qt::AlignCenter, Q(mk.Label));
        }
    p.restore();

    p.setPen(QPen(Qc(d.AxisColour), 0));
    p.drawRect(plot);

    // The cross-hair of the current point, XOR so that it reads on any colour.
    if (m.Tracking() && m.HasCurrentPoint()) {
        if (const CurveSeries* first = m.FindSeries(0); first && m.CurrentPoint() < first->Points.size()) {
            const CurvePoint& c = first->Points[m.CurrentPoint()];
            p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            p.setPen(QPen(QColor(0x80, 0x80, 0x80), 0, Qt::SolidLine));
            p.drawLine(r.left + 1, c.Y, r.right - 1, c.Y);
            p.drawLine(c.X, r.top + 1, c.X, r.bottom - 1);
        }
    }
}

QStringList CCurveChart::TipLines() const
{
    if (m_tip->isHidden()) return {};
    return m_tip->text().split(QLatin1Char('\n'));
}

void CCurveChart::ShowTip(const std::vector<std::string>& lines, QPoint near)
{
    if (lines.empty()) {
        HideTip();
        return;
    }
    QStringList text;
    for (const std::string& l : lines) text << Q(l);
    m_tip->setText(text.join(QLatin1Char('\n')));
    m_tip->adjustSize();
    // Beside the point, kept inside the window.
    QPoint pos = near + QPoint(12, 12);
    if (pos.x() + m_tip->width() > width()) pos.setX(near.x() - 12 - m_tip->width());
    if (pos.y() + m_tip->height() > height()) pos.setY(near.y() - 12 - m_tip->height());
    m_tip->move(std::max(0, pos.x()), std::max(0, pos.y()));
    m_tip->show();
    m_tip->raise();
}

void CCurveChart::HideTip() { m_tip->hide(); }

void CCurveChart::ChoosePoint(size_t point)
{
    if (!m_model.SetCurrentPoint(point)) return;
    const CurvePoint& c = m_model.FindSeries(0)->Points[point];
    // The pointer follows the point horizontally.
    QCursor::setPos(mapToGlobal(QPoint(c.X, mapFromGlobal(QCursor::pos()).y())));
    ShowTip(m_model.PointInfoLines(0, point), QPoint(c.X, c.Y));
    update();
    emit currentPointChanged();
}

void CCurveChart::mousePressEvent(QMouseEvent* event)
{
    setFocus();
    if (event->button() != Qt::LeftButton || !m_model.Tracking()) return;
    size_t point = 0;
    if (m_model.FindFirstSeriesPointAt(event->position().toPoint().x(), point)) ChoosePoint(point);
}

void CCurveChart::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
    if (event->button() == Qt::LeftButton) emit pointListRequested();
}

void CCurveChart::mouseMoveEvent(QMouseEvent* event)
{
    int series = 0;
    size_t point = 0;
    const QPoint at = event->position().toPoint();
    if (m_model.FindPointNear(at.x(), at.y(), series, point)) {
        const CurvePoint& c = m_model.FindSeries(series)->Points[point];
        ShowTip(m_model.PointInfoLines(series, point, true), QPoint(c.X, c.Y));
    } else {
        HideTip();
    }
}

void CCurveChart::leaveEvent(QEvent*) { HideTip(); }

void CCurveChart::keyPressEvent(QKeyEvent* event)
{
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (step == 0 || !m_model.HasCurrentPoint()) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (m_model.MoveCurrentPoint(step)) ChoosePoint(m_model.CurrentPoint());
}

}  // namespace vextal
