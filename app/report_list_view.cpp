#include "app/report_list_view.h"

#include "views/text_fold.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QToolTip>

namespace edbapp {

namespace {

// Sort key of a cell, beside its text: numbers and times sort by value, not as text; texts by
// their folded form, kept so a sort does not fold again at every comparison.
constexpr int kSortKeyRole = Qt::UserRole;
constexpr int kTagRole = Qt::UserRole + 1;
constexpr int kFoldedRole = Qt::UserRole + 2;

std::optional<std::uint64_t> keyOf(const QTableWidgetItem& item) {
    const QVariant v = item.data(kSortKeyRole);
    return v.isValid() ? std::optional<std::uint64_t>(v.toULongLong()) : std::nullopt;
}

class ReportItem : public QTableWidgetItem {
public:
    using QTableWidgetItem::QTableWidgetItem;
    bool operator<(const QTableWidgetItem& other) const override {
        // The rule both windows sort by; the texts go in already folded.
        const QByteArray a = data(kFoldedRole).toByteArray();
        const QByteArray b = other.data(kFoldedRole).toByteArray();
        return edb::views::CellLess(keyOf(*this), std::string_view(a.constData(), a.size()),
                                    keyOf(other), std::string_view(b.constData(), b.size()));
    }
};

// Text margins of a cell in the default style, so "cut" matches what the eye sees.
constexpr int kCellMargin = 8;

} // namespace

ReportListView::ReportListView(QWidget* parent) : QTableWidget(parent) {
    verticalHeader()->hide();
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionsClickable(true);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &ReportListView::sortByColumn);
}

void ReportListView::setColumns(const std::vector<std::pair<QString, int>>& columns) {
    setRowCount(0);
    m_sortColumn = -1;
    m_sortOrder = Qt::AscendingOrder;
    horizontalHeader()->setSortIndicatorShown(false);
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

void ReportListView::setColumns(const std::vector<edb::views::ListColumn>& columns) {
    std::vector<std::pair<QString, int>> pairs;
    for (const edb::views::ListColumn& c : columns) {
        pairs.emplace_back(QString::fromStdString(c.heading), c.width);
    }
    setColumns(pairs);
}

void ReportListView::appendRow(const QStringList& cells) {
    ReportRow row;
    row.cells = cells;
    row.number = static_cast<std::uint64_t>(rowCount()) + 1;
    appendRows({row});
}

void ReportListView::appendRows(const std::vector<ReportRow>& rows) {
    int row = rowCount();
    setRowCount(row + static_cast<int>(rows.size()));
    for (const ReportRow& r : rows) {
        for (int c = 0; c < r.cells.size() && c < columnCount(); ++c) {
            auto* item = new ReportItem(r.cells[c]);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            const auto at = static_cast<std::size_t>(c);
            if (c == 0) {
                item->setData(kSortKeyRole, QVariant::fromValue<qulonglong>(r.number));
                item->setData(kTagRole, QVariant::fromValue<qulonglong>(r.tag));
            } else if (at < r.keys.size() && r.keys[at].has_value()) {
                item->setData(kSortKeyRole, QVariant::fromValue<qulonglong>(*r.keys[at]));
            } else {
                item->setData(kFoldedRole, QByteArray::fromStdString(edb::views::FoldCase(
                                               r.cells[c].toStdString())));
            }
            setItem(row, c, item);
        }
        ++row;
    }
    if (m_sortColumn >= 0) {
        applySort();
    }
}

quintptr ReportListView::rowTag(int row) const {
    const QTableWidgetItem* cell = item(row, 0);
    return cell != nullptr ? static_cast<quintptr>(cell->data(kTagRole).toULongLong()) : 0;
}

void ReportListView::sortByColumn(int column) {
    if (column < 0 || column >= columnCount()) {
        return;
    }
    if (column == 0) {
        // The row number is the list order: back to it, and new rows follow it.
        m_sortColumn = -1;
        horizontalHeader()->setSortIndicatorShown(false);
        sortItems(0, Qt::AscendingOrder);
        return;
    }
    m_sortOrder = column == m_sortColumn && m_sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder
                                                                              : Qt::AscendingOrder;
    m_sortColumn = column;
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, m_sortOrder);
    applySort();
}

void ReportListView::applySort() {
    // The selection mark follows its row, not its place.
    QTableWidgetItem* marked = m_selectionMark >= 0 ? item(m_selectionMark, 0) : nullptr;
    sortItems(m_sortColumn, m_sortOrder);
    if (marked != nullptr) {
        m_selectionMark = marked->row();
    }
}

QString ReportListView::cutCellText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    if (cell == nullptr) {
        return {};
    }
    const QString text = cell->text();
    const int needed = QFontMetrics(cell->font()).horizontalAdvance(text) + kCellMargin;
    return needed > columnWidth(column) ? text : QString();
}

bool ReportListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString text = index.isValid() ? cutCellText(index.row(), index.column()) : QString();
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, viewport(), visualRect(index));
        }
        return true;
    }
    return QTableWidget::viewportEvent(event);
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
    const int row = rowAt(event->position().toPoint().y());
    if (m_doubleClickActivates && row >= 0) {
        emit rowActivated(row);
    }
}

int ReportListView::highlightedRow() const {
    const int row = currentRow();
    if (row >= 0 && item(row, 0) != nullptr && item(row, 0)->isSelected()) {
        return row;
    }
    return m_selectionMark;
}

void ReportListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        const int row = currentRow();
        if (row >= 0 && row < rowCount()) {
            emit rowActivated(row);
        }
        event->accept();
        return;
    }
    const int before = currentRow();
    QTableWidget::keyPressEvent(event);
    // A row reached with the arrow keys (or Home, End, Page Down) counts as a click on it.
    const int now = currentRow();
    if (now >= 0 && now != before) {
        m_selectionMark = now;
        emit listClicked();
    }
}

void ReportListView::contextMenuEvent(QContextMenuEvent* event) {
    const int row = rowAt(event->pos().y()); // viewport coordinates
    if (row < 0) {
        return;
    }
    selectRow(row);
    emit rowMenuRequested(row, event->globalPos());
}

} // namespace edbapp
