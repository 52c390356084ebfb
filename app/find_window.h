#pragma once
// Edit > Find: messages of every mailbox the scan found, by text in the subject or sender and an
// optional date range. The search runs on its own thread and hands results over in batches as
// it finds them; a new search (or closing the window) makes the running one stale.
#include "io/cancel.h"
#include "catalog/catalog.h"

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;

namespace edb::conv {
struct FolderPath;
}

namespace edbapp {

class ReportListView;

class FindWindow : public QDialog {
    Q_OBJECT
public:
    explicit FindWindow(const edb::StoreCatalog& catalog, QWidget* parent = nullptr);
    ~FindWindow() override;

    [[nodiscard]] QLineEdit* textEdit() const { return m_text; }
    [[nodiscard]] QCheckBox* fromCheck() const { return m_useFrom; }
    [[nodiscard]] QDateEdit* fromDate() const { return m_from; }
    [[nodiscard]] QCheckBox* toCheck() const { return m_useTo; }
    [[nodiscard]] QDateEdit* toDate() const { return m_to; }
    [[nodiscard]] QPushButton* findButton() const { return m_find; }
    [[nodiscard]] QPushButton* viewButton() const { return m_view; }
    [[nodiscard]] ReportListView* results() const { return m_results; }
    [[nodiscard]] QLabel* statusLabel() const { return m_status; }
    [[nodiscard]] bool searching() const { return m_searching; }

public slots:
    void startSearch();
    void viewSelected();

signals:
    // A result chosen for the viewer.
    void viewMessage(const edb::MessageEntry* message);
    // A search began under `token`, and one ran to its end; the owner keeps the running
    // search's token beside its other tasks, so ending the run stops it too. A search that a
    // newer one replaced reports no end of its own.
    void searchStarted(const std::shared_ptr<edb::CancelToken>& token);
    void searchEnded(const std::shared_ptr<edb::CancelToken>& token);

private:
    struct Batch;
    void stopSearch();
    void deliver(std::uint64_t generation, const std::shared_ptr<Batch>& batch);

    const edb::StoreCatalog& m_catalog;
    QLineEdit* m_text = nullptr;
    QCheckBox* m_useFrom = nullptr;
    QDateEdit* m_from = nullptr;
    QCheckBox* m_useTo = nullptr;
    QDateEdit* m_to = nullptr;
    QPushButton* m_find = nullptr;
    QPushButton* m_view = nullptr;
    ReportListView* m_results = nullptr;
    QLabel* m_status = nullptr;

    std::thread m_worker;
    std::shared_ptr<edb::CancelToken> m_cancel; // the running search's
    std::uint64_t m_generation = 0;             // window thread only
    bool m_searching = false;
    std::size_t m_found = 0;
};

} // namespace edbapp
