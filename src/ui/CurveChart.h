#pragma once
// The curve chart window: paints what CCurveChartModel laid out (axes,
// grid, labels, header and legend, polylines, dividend and split marks, the
// cross-hair of the current point) through one off-screen image, and
// tracks the mouse and the arrow keys with a small tip window of the
// point's figures. No fund arithmetic here.
#include <QFont>
#include <QImage>
#include <QPen>
#include <QWidget>

#include "curve/CurveChartModel.h"

class QLabel;

namespace vextal {

class CCurveChart : public QWidget, private ICurveMeasure {
    Q_OBJECT

public:
    explicit CCurveChart(QWidget* parent = nullptr);

    CCurveChartModel& Model() { return m_model; }
    const CCurveChartModel& Model() const { return m_model; }
    // Colours (and margins) of the options; series take their colours anew.
    void SetDisplay(const CurveDisplayParams& display);
    // Lays the model out for the window's size and repaints.
    void RecalculateLayout();
    // The whole chart as painted, into `image` (its size in device pixels
    // over its device pixel ratio is the size laid out for).
    void Render(QImage& image) const;

    // The header's second line onwards: the unit, one entry per visible
    // curve (its colour box and name), the dividend mark and the range
    // figures, wrapped onto as many rows as the width needs; the plot starts
    // below the last row.
    struct LegendEntry {
        QString text;
        QColor box;          // invalid: no box
        bool dividendMark = false;
        QRect rect;          // where it is painted
    };
    std::vector<LegendEntry> Legend() const;

    // The tip window's lines while it is shown (empty when hidden).
    QStringList TipLines() const;

signals:
    // The current point moved (click or arrow key).
    void currentPointChanged();
    // A double click: the list of the points.
    void pointListRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int TextWidth(const std::string& text) const override;
    int TextHeight(const std::string& text) const override;
    void ShowTip(const std::vector<std::string>& lines, QPoint near);
    void HideTip();
    void ChoosePoint(size_t point);

    std::vector<LegendEntry> PlaceLegend(int left, int right) const;

    CCurveChartModel m_model;
    int m_headerTop = 0;  // the top margin for a one-row legend
    QFont m_font;
    QLabel* m_tip;
    mutable QImage m_buffer;
};

// The pen of a series' polyline.
QPen CurveSeriesPen(const QColor& colour);

// The 16 series colours and the display colours from the settings file
// (missing keys keep the defaults).
CurveDisplayParams ReadCurveDisplay(const std::string& iniPath);

}  // namespace vextal
