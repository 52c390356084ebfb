#pragma once
// A list view in report style (the mailbox and message lists). Its selection mark is the row a
// click last selected; a click anywhere in the view, rows or empty area, is reported.
#include <QTableWidget>
#include <utility>
#include <vector>

namespace edbapp {

class ReportListView : public QTableWidget {
    Q_OBJECT
public:
    explicit ReportListView(QWidget* parent = nullptr);
    // Replaces the columns (heading, width in pixels) and deletes every row.
    void setColumns(const std::vector<std::pair<QString, int>>& columns);
    void appendRow(const QStringList& cells);
    [[nodiscard]] int selectionMark() const { return m_selectionMark; }

signals:
    void listClicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    int m_selectionMark = -1;
    bool m_afterDoubleClick = false;
};

} // namespace edbapp
