#pragma once
// "基金曲线点信息": the figures of the chart's current point (item and
// value) and every point of one curve, following the chart's current point
// unless "不同步更新曲线点" is ticked.
#include <QAbstractTableModel>
#include <QDialog>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QTableView;

namespace vextal {

class CCurveChart;

// A read-only table of texts with fixed columns.
class CTextTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit CTextTableModel(QStringList headers, QObject* parent = nullptr)
        : QAbstractTableModel(parent), m_headers(std::move(headers))
    {
    }
    void SetRows(std::vector<QStringList> rows);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QStringList m_headers;
    std::vector<QStringList> m_rows;
};

class CCurveChartModel;

// Every point of the chart as a table: the date (the time in real-time
// mode), then one column per curve with its value where it has a point.
// Null when the chart has no points (nothing to export).
std::shared_ptr<CTextTableModel> CurvePointsTable(const CCurveChartModel& chart);
// "导出表格到Excel" on `page` exports the points of `chart`, and is offered
// only while it has curves.
void SetCurvePointsExport(QWidget* page, const CCurveChart* chart, const QString& sheetName);

class CCurvePointsDialog : public QDialog {
    Q_OBJECT

public:
    explicit CCurvePointsDialog(CCurveChart& chart, QWidget* parent = nullptr);
    // Reads the chart's series and current point again.
    void Refill();
    CTextTableModel* Items() const { return m_items; }
    CTextTableModel* Points() const { return m_points; }
    QComboBox* Curve() const { return m_curve; }
    QCheckBox* NoSync() const { return m_noSync; }

private:
    void ShowPoint(int series, int point);
    void FillPoints();

    CCurveChart& m_chart;
    QComboBox* m_curve;
    QLabel* m_unit;
    QCheckBox* m_noSync;
    CTextTableModel* m_items;
    CTextTableModel* m_points;
    QTableView* m_pointView;
};

}  // namespace vextal
