#include "ui/ListView.h"

#include <QApplication>
#include <QPalette>

#include <QCollator>
#include <QFontMetrics>
#include <QHeaderView>
#include <algorithm>

#include "app/Settings.h"

namespace vextal {

void CListModel::SetColumns(int catalogueId, std::vector<ColumnSpec> columns)
{
    beginResetModel();
    m_catalogue = catalogueId;
    m_columns = std::move(columns);
    endResetModel();
}

void CListModel::SetSource(int rowCount, std::function<ListCell(int, int)> cell, int pinned)
{
    beginResetModel();
    m_rows = rowCount;
    m_pinned = std::clamp(pinned, 0, rowCount);
    m_cell = std::move(cell);
    endResetModel();
}

int CompareListValues(const QVariant& a, const QVariant& b)
{
    if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString) {
        static const QCollator chinese(QLocale(QLocale::Chinese, QLocale::China));
        return chinese.compare(a.toString(), b.toString());
    }
    const QPartialOrdering order = QVariant::compare(a, b);
    if (order == QPartialOrdering::Less) return -1;
    if (order == QPartialOrdering::Greater) return 1;
    return 0;
}

namespace {

// Header-click sorting by the values behind the cells.
class CListSortProxy : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        // The totals rows stay under the others in both directions, in their
        // own order; a descending sort asks lessThan(right, left).
        const auto* model = static_cast<const CListModel*>(sourceModel());
        const int first = model->rowCount() - model->PinnedRows();
        const bool l = left.row() >= first, r = right.row() >= first;
        const bool ascending = sortOrder() == Qt::AscendingOrder;
        if (l || r) return l && r ? (left.row() < right.row()) == ascending : ascending ? r : l;
        return CompareListValues(left.data(sortRole()), right.data(sortRole())) < 0;
    }
};

}  // namespace

int CListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }

int CListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

double CellNumberOf(const QVariant& sortValue, const QString& text)
{
    switch (sortValue.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return sortValue.toDouble();
    default: return ShownNumber(text.toStdString());
    }
}

SignColour CellSign(const ListCell& cell)
{
    return SignColourOf(CellNumberOf(cell.sortKey, cell.text), cell.text.toStdString());
}

bool IsDarkPalette() { return QApplication::palette().color(QPalette::Base).lightness() < 128; }

QColor HintQColor() { return IsDarkPalette() ? QColor(160, 160, 160) : QColor(96, 96, 96); }

QColor SignQColor(SignColour c)
{
    // On a dark desktop palette the same signs in shades that stay legible.
    const QPalette palette = QApplication::palette();
    const bool dark = IsDarkPalette();
    switch (c) {
    case SignColour::Red: return dark ? QColor(255, 96, 96) : QColor(255, 0, 0);
    case SignColour::Green: return dark ? QColor(72, 200, 72) : QColor(0, 124, 0);
    case SignColour::Black: break;
    }
    return dark ? palette.color(QPalette::Text) : QColor(0, 0, 0);
}

QVariant CListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || index.column() >= columnCount() || !m_cell) return {};
    const int columnId = m_columns[static_cast<size_t>(index.column())].id;
    switch (role) {
    case Qt::DisplayRole: return m_cell(index.row(), columnId).text;
    case SortRole: {
        ListCell c = m_cell(index.row(), columnId);
        return c.sortKey.isValid() ? c.sortKey : QVariant(c.text);
    }
    case ColumnIdRole: return columnId;
    case Qt::ForegroundRole:
        if (m_catalogue == 59177 && columnId == 12) return kFundNameBlue;
        if (IsSignedColumn(m_catalogue, columnId) || std::count(m_signed.begin(), m_signed.end(), columnId))
            return SignQColor(CellSign(m_cell(index.row(), columnId)));
        return SignQColor(SignColour::Black);
    case Qt::BackgroundRole:
        if (m_background) {
            QColor c = m_background(index.row());
            if (c.isValid()) return c;
        }
        return {};
    case Qt::TextAlignmentRole: return int(Qt::AlignCenter);
    default: return {};
    }
}

QVariant CListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    if (role == Qt::DisplayRole) return QString::fromStdString(m_columns[static_cast<size_t>(section)].title);
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    return {};
}

CListView::CListView(QWidget* parent) : QTableView(parent), m_model(new CListModel(this)), m_proxy(new CListSortProxy(this))
{
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(CListModel::SortRole);
    setModel(m_proxy);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    horizontalHeader()->setSortIndicatorShown(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CListView::OnHeaderClicked);
}

// Catalogue widths were chosen for a small dialog font; with a wider font
// they grow in proportion, so a date or a NAV is not cut off.
static double WidthScale(const QFont& font)
{
    double w = QFontMetrics(font).horizontalAdvance(QStringLiteral("2026-12-04"));
    return std::clamp(w / 56.0, 1.0, 2.0);
}

void CListView::BuildColumns(const ConfigurableList& list, bool loadWidths, int listItemSize,
                             const std::string& iniPath)
{
    std::string visible = ReadVisibleColumns(list.key, list.defaultColumns, iniPath);
    std::vector<ColumnSpec> specs = VisibleColumnSpecs(list.catalogueId, visible);
    // Nothing readable in the file: the list's default columns, not a list without any.
    if (specs.empty()) specs = VisibleColumnSpecs(list.catalogueId, list.defaultColumns);
    m_model->SetColumns(list.catalogueId, specs);
    ApplyListStyle(listItemSize);
    const double scale = WidthScale(font());
    for (size_t i = 0; i < specs.size(); ++i) setColumnWidth(static_cast<int>(i), static_cast<int>(specs[i].width * scale));
    if (loadWidths) LoadColumnWidths(list.listName, iniPath);
}

void CListView::BuildFixedColumns(const std::vector<ColumnSpec>& columns, int listItemSize)
{
    m_model->SetColumns(0, columns);
    ApplyListStyle(listItemSize);
    const double scale = WidthScale(font());
    for (size_t i = 0; i < columns.size(); ++i)
        setColumnWidth(static_cast<int>(i), static_cast<int>(columns[i].width * scale));
}

void CListView::LoadColumnWidths(const std::string& listName, const std::string& iniPath)
{
    std::vector<int> widths = ReadColumnWidths(listName, iniPath);
    const int n = std::min(static_cast<int>(widths.size()), m_model->columnCount());
    for (int i = 0; i < n; ++i)
        if (widths[static_cast<size_t>(i)] >= 1 && widths[static_cast<size_t>(i)] <= 1024)
            setColumnWidth(i, widths[static_cast<size_t>(i)]);
}

std::vector<int> CListView::ColumnWidths() const
{
    std::vector<int> widths;
    for (int i = 0; i < m_model->columnCount(); ++i) widths.push_back(columnWidth(i));
    return widths;
}

void CListView::SaveColumnWidths(const std::string& listName, const std::string& iniPath) const
{
    WriteColumnWidths(listName, ColumnWidths(), iniPath);
}

void CListView::ApplyListStyle(int listItemSize)
{
    QFont f = font();
    if (listItemSize == 0) f.setPointSize(10);
    else f = QFont();
    setFont(f);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(listItemSize == 0 ? 24 : 20);
}

void CListView::OnHeaderClicked(int section)
{
    m_sortSection = section;
    m_descending = !m_descending;
    m_proxy->sort(section, m_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

}  // namespace vextal
