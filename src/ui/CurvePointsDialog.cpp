#include "ui/CurvePointsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>
#include <map>

#include "ui/CurveChart.h"
#include "ui/ExcelExport.h"

namespace vextal {

void CTextTableModel::SetRows(std::vector<QStringList> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int CTextTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CTextTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_headers.size(); }

QVariant CTextTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= rowCount()) return {};
    return m_rows[static_cast<size_t>(index.row())].value(index.column());
}

QVariant CTextTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return m_headers.value(section);
}

namespace {

// Columns as wide as their texts (a date, a fund's full name), at any font
// size or scale; the last one takes what is left.
QTableView* Table(QAbstractItemModel* model, QWidget* parent)
{
    auto* view = new QTableView(parent);
    view->setModel(model);
    view->verticalHeader()->hide();
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

}  // namespace

CCurvePointsDialog::CCurvePointsDialog(CCurveChart& chart, QWidget* parent)
    : QDialog(parent), m_chart(chart), m_curve(new QComboBox(this)), m_unit(new QLabel(this)),
      m_noSync(new QCheckBox(QStringLiteral("不同步更新曲线点"), this)),
      m_items(new CTextTableModel({QStringLiteral("项"), QStringLiteral("数值")}, this)),
      m_points(new CTextTableModel({QStringLiteral("序号"), QStringLiteral("日期"), QStringLiteral("数值")}, this))
{
    setWindowTitle(QStringLiteral("基金曲线点信息"));
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("曲线:"), this));
    top->addWidget(m_curve, 1);
    top->addWidget(m_unit);
    auto* lists = new QHBoxLayout;
    lists->addWidget(Table(m_items, this), 3);
    m_pointView = Table(m_points, this);
    lists->addWidget(m_pointView, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_noSync);
    layout->addLayout(lists, 1);
    resize(fontMetrics().horizontalAdvance(QString(48, QChar(0x4E2D))), 420);

    connect(m_curve, &QComboBox::currentIndexChanged, this, [this] { FillPoints(); });
    connect(m_pointView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& row) {
                if (row.isValid()) ShowPoint(m_curve->currentData().toInt(), row.row());
            });
    connect(&chart, &CCurveChart::currentPointChanged, this, [this] {
        if (m_noSync->isChecked()) return;
        const CCurveChartModel& m = m_chart.Model();
        if (m.HasCurrentPoint()) ShowPoint(0, static_cast<int>(m.CurrentPoint()));
    });
    Refill();
}

std::shared_ptr<CTextTableModel> CurvePointsTable(const CCurveChartModel& m)
{
    // One row per moment any curve has a point, in time order.
    std::map<double, QStringList> rows;
    QStringList headers{m.RealTime() ? QStringLiteral("时间") : QStringLiteral("日期")};
    const int columns = static_cast<int>(m.Series().size());
    int column = 0;
    for (const auto& [index, s] : m.Series()) {
        headers << QString::fromStdString(s.Name);
        const std::string& format = s.ValueFormat.empty() ? m.ValueFormat() : s.ValueFormat;
        for (const CurvePoint& p : s.Points) {
            QStringList& row = rows[p.Date.dt];
            if (row.isEmpty()) {
                row << QString::fromStdString(p.Date.FormatWith(m.RealTime() ? "%Y-%m-%d %H:%M" : "%Y-%m-%d"));
                for (int c = 0; c < columns; ++c) row << QString();
            }
            row[column + 1] = QString::fromStdString(FormatCurveNumber(format, p.Value));
        }
        ++column;
    }
    if (rows.empty()) return nullptr;
    auto table = std::make_shared<CTextTableModel>(headers);
    std::vector<QStringList> ordered;
    for (auto& [when, row] : rows) ordered.push_back(std::move(row));
    table->SetRows(std::move(ordered));
    return table;
}

void CCurvePointsDialog::Refill()
{
    const CCurveChartModel& m = m_chart.Model();
    QSignalBlocker block(m_curve);
    m_curve->clear();
    for (const auto& [index, s] : m.Series()) m_curve->addItem(QString::fromStdString(s.Name), index);
    m_unit->setText(QString::fromStdString(m.UnitText()));
    FillPoints();
    if (m.HasCurrentPoint()) ShowPoint(0, static_cast<int>(m.CurrentPoint()));
}

void CCurvePointsDialog::FillPoints()
{
    const CCurveChartModel& m = m_chart.Model();
    std::vector<QStringList> rows;
    if (const CurveSeries* s = m.FindSeries(m_curve->currentData().toInt())) {
        const std::string& format = s->ValueFormat.empty() ? m.ValueFormat() : s->ValueFormat;
        int n = 0;
        for (const CurvePoint& p : s->Points)
            rows.push_back({QString::number(++n),
                            QString::fromStdString(p.Date.FormatWith(m.RealTime() ? "%H:%M" : "%Y-%m-%d")),
                            QString::fromStdString(FormatCurveNumber(format, p.Value))});
    }
    m_points->SetRows(std::move(rows));
}

void CCurvePointsDialog::ShowPoint(int series, int point)
{
    // Each line of the point's information as item and value.
    std::vector<QStringList> rows;
    for (const std::string& line : m_chart.Model().PointInfoLines(series, static_cast<size_t>(point))) {
        QString text = QString::fromStdString(line);
        int colon = text.indexOf(QLatin1Char(':'));
        if (colon < 0) colon = text.indexOf(QLatin1Char(' '));
        rows.push_back(colon < 0 ? QStringList{text, QString()} : QStringList{text.left(colon), text.mid(colon + 1)});
    }
    m_items->SetRows(std::move(rows));
}

void SetCurvePointsExport(QWidget* page, const CCurveChart* chart, const QString& sheetName)
{
    SetExportSource(page, [chart, sheetName] {
        ExportSource source;
        source.model = CurvePointsTable(chart->Model());
        source.kind = kExportCurvePoints;
        source.sheetName = sheetName;
        return source;
    }, [chart] { return !chart->Model().Series().empty(); });
}

}  // namespace vextal
