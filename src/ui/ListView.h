#pragma once
// The shared list machinery: a table model over a row source with display
// text, a sort value and sign colours per cell, and a table view that builds
// its columns from a catalogue, keeps its widths in Vextal.ini and sorts by
// the values behind the cells when a header is clicked.
#include <QAbstractTableModel>
#include <QColor>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <functional>

#include "ui/ColumnCatalogue.h"

namespace vextal {

struct ListCell {
    QString text;
    QVariant sortKey;  // number, date or text; empty: the text
};

class CListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int SortRole = Qt::UserRole + 1;
    static constexpr int ColumnIdRole = Qt::UserRole + 2;

    explicit CListModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void SetColumns(int catalogueId, std::vector<ColumnSpec> columns);
    // Cells come from the source on demand, so large lists cost nothing until
    // shown. The last `pinned` rows (合计, 平均) stay last under every sort.
    void SetSource(int rowCount, std::function<ListCell(int row, int columnId)> cell, int pinned = 0);
    int PinnedRows() const { return m_pinned; }
    void SetRowBackground(std::function<QColor(int row)> background) { m_background = std::move(background); }
    // Columns coloured by sign besides the catalogue's (lists with fixed columns).
    void SetSignedColumns(std::vector<int> ids) { m_signed = std::move(ids); }
    const std::vector<ColumnSpec>& Columns() const { return m_columns; }
    int CatalogueId() const { return m_catalogue; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    int m_catalogue = 0;
    std::vector<ColumnSpec> m_columns;
    int m_rows = 0;
    int m_pinned = 0;
    std::function<ListCell(int, int)> m_cell;
    std::function<QColor(int)> m_background;
    std::vector<int> m_signed;
};

// Order of two sort values (negative, 0, positive): numbers and dates by
// value, texts in pinyin order as Chinese readers expect fund names.
int CompareListValues(const QVariant& a, const QVariant& b);

// The number behind a cell: its sort value when that is a number, else its
// text read as the number it shows. Never the text through the C library,
// whose locale may read "1.0878" as 1.
double CellNumberOf(const QVariant& sortValue, const QString& text);
SignColour CellSign(const ListCell& cell);

// Colours of the cells; on a dark desktop palette (a dark base) lighter
// shades, and texts that only stand aside (hints) a lighter grey.
bool IsDarkPalette();
QColor SignQColor(SignColour c);
QColor HintQColor();
inline const QColor kFundNameBlue(49, 121, 189);

class CListView : public QTableView {
    Q_OBJECT

public:
    explicit CListView(QWidget* parent = nullptr);

    CListModel* Model() const { return m_model; }
    QSortFilterProxyModel* Proxy() const { return m_proxy; }

    // Columns from the visible-columns key (its default written back when
    // empty), optionally with the stored widths, then the list style.
    void BuildColumns(const ConfigurableList& list, bool loadWidths, int listItemSize, const std::string& iniPath);
    // Fixed columns: titles and widths given by the page.
    void BuildFixedColumns(const std::vector<ColumnSpec>& columns, int listItemSize);
    void LoadColumnWidths(const std::string& listName, const std::string& iniPath);
    void SaveColumnWidths(const std::string& listName, const std::string& iniPath) const;
    // 1: compact 20-pixel rows in the default font; 0: 24-pixel rows, 10-point font.
    void ApplyListStyle(int listItemSize);
    std::vector<int> ColumnWidths() const;

private:
    void OnHeaderClicked(int section);

    CListModel* m_model;
    QSortFilterProxyModel* m_proxy;
    int m_sortSection = -1;
    bool m_descending = true;  // flipped before each sort: the first click sorts ascending
};

}  // namespace vextal
