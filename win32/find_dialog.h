#pragma once
// Find: messages across every mailbox by sender or subject text and a date range, searched on
// a worker while the results fill a virtual list; Enter, a double click or View Message opens
// the selected one in the viewer.
#include "catalog/catalog.h"
#include "io/cancel.h"
#include "session/session.h"
#include "win32/dialog.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace edbwin {

struct FoundRow {
    std::vector<std::string> cells; // mailbox, folder, from, subject, date
    const edb::MessageEntry* entry = nullptr;
};

class FindDialog : public Dialog {
public:
    using View = std::function<void(const edb::MessageEntry*)>;
    FindDialog(const edb::StoreCatalog& catalog, edb::session::Session& session, View view);
    ~FindDialog() override;

    void startSearch();
    [[nodiscard]] const std::vector<FoundRow>& results() const { return m_rows; }
    [[nodiscard]] bool searching() const { return m_searching; }

protected:
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void initialise();
    void stopSearch();
    void deliver(std::uint64_t generation, std::vector<FoundRow>&& rows, bool last);
    void viewSelected();
    // Enter or a double click on the results.
    void activateResult();
    INT_PTR notify(const NMHDR& header);

    const edb::StoreCatalog& m_catalog;
    edb::session::Session& m_session;
    View m_view;
    Inbox m_inbox;
    std::vector<FoundRow> m_rows;
    std::wstring m_cellText;
    std::uint64_t m_generation = 0;
    std::shared_ptr<edb::CancelToken> m_cancel;
    std::thread m_worker;
    bool m_searching = false;
};

} // namespace edbwin
