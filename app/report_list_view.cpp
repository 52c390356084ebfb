#include "app/report_list_view.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace edbapp {

ReportListView::ReportListView(QWidget* parent) : QTableWidget(parent) {
    verticalHeader()->hide();
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
}

void ReportListView::setColumns(const std::vector<std::pair<QString, int>>& columns) {
    setRowCount(0);
    setColumnCount(static_cast<int>(columns.size()));
    QStringList headings;
    for (const auto& c : columns) {
        headings << c.first;
    }
    setHorizontalHeaderLabels(headings);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        setColumnWidth(i, columns[static_cast<std::size_t>(i)].second);
    }
}

void ReportListView::appendRow(const QStringList& cells) {
    const int row = rowCount();
    insertRow(row);
    for (int c = 0; c < cells.size() && c < columnCount(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(row, c, item);
    }
}

void ReportListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const int row = rowAt(event->position().toPoint().y());
        if (row >= 0) {
            m_selectionMark = row;
        }
    }
    QTableWidget::mousePressEvent(event);
}

void ReportListView::mouseReleaseEvent(QMouseEvent* event) {
    QTableWidget::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) {
        return;
    }
    if (m_afterDoubleClick) {
        m_afterDoubleClick = false; // a double click is one click, not two
        return;
    }
    emit listClicked();
}

void ReportListView::mouseDoubleClickEvent(QMouseEvent* event) {
    m_afterDoubleClick = true;
    event->accept();
}

} // namespace edbapp
