#pragma once
// A list view in report style (the mailbox and message lists). Its selection mark is the row a
// click last selected; a click anywhere in the view, rows or empty area, is reported, and so is
// a row reached with the keyboard. Enter on a row (and a double click, where allowed) activates
// it; Enter never leaves the list, so it cannot end the dialog. A click on a heading sorts by
// that column (the first column, the row number, puts the list order back); a cell cut short by
// its column shows its whole text as a tooltip.
#include "views/message_list.h"

#include <QTableWidget>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace edbapp {

// One row as the listing hands it over: the cells, and what sorting and the menus need.
struct ReportRow {
    QStringList cells;
    std::uint64_t number = 0; // list order, the first cell's value
    // Per cell, what it sorts by where not by its text (a number, a FILETIME); the first
    // cell always sorts by `number`.
    std::vector<std::optional<std::uint64_t>> keys;
    quintptr tag = 0; // what the row stands for (a message entry)
};

class ReportListView : public QTableWidget {
    Q_OBJECT
public:
    explicit ReportListView(QWidget* parent = nullptr);
    // Replaces the columns (heading, width in pixels), deletes every row and any sort.
    void setColumns(const std::vector<std::pair<QString, int>>& columns);
    void setColumns(const std::vector<edb::views::ListColumn>& columns);
    void appendRow(const QStringList& cells);
    // Appends rows, keeping the order the user chose by a heading.
    void appendRows(const std::vector<ReportRow>& rows);
    [[nodiscard]] int selectionMark() const { return m_selectionMark; }
    // The row the user sees highlighted: the current row while it is selected, else the
    // selection mark.
    [[nodiscard]] int highlightedRow() const;
    // The tag of `row` (0 when none).
    [[nodiscard]] quintptr rowTag(int row) const;
    // Sorts by `column` the way a click on its heading does.
    void sortByColumn(int column);
    // The sort column chosen by a heading click, -1 for list order.
    [[nodiscard]] int sortColumn() const { return m_sortColumn; }
    // Off by default: the window's list views give a double click no effect of its own.
    void setDoubleClickActivates(bool on) { m_doubleClickActivates = on; }
    // The whole text of a cell that its column cuts short, else empty.
    [[nodiscard]] QString cutCellText(int row, int column) const;

signals:
    void listClicked();
    // A right click on a row (the row is selected first); `global` is where the menu goes.
    void rowMenuRequested(int row, const QPoint& global);
    // Enter on a row, or a double click where setDoubleClickActivates allows it.
    void rowActivated(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void applySort();

    int m_selectionMark = -1;
    bool m_afterDoubleClick = false;
    bool m_doubleClickActivates = false;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

} // namespace edbapp
