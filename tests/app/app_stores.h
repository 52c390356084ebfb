#pragma once
// Stores and window drivers shared by the application tests.
#include "app/main_dialog.h"
#ifdef EDB_APP_HAS_DESTINATIONS
#include "app/destination_dialog.h"
#endif
#include "tests/platform/fake_platform.h"
#include "tests/support/discovery_records.h"
#include "tests/support/store_builder.h"

#include <QPushButton>
#include <QString>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <string>
#include <vector>

namespace apptest {

struct FolderSpec {
    std::uint64_t id;
    std::uint64_t parent;
    std::u16string name;
};

// A store with the mailboxes (ids 1, 2, ... in order) and the folders.
void writeStore(const std::filesystem::path& path, const std::vector<std::u16string>& mailboxes,
                const std::vector<FolderSpec>& folders);

// Runs the event loop until pred holds (checked every few milliseconds) or ms have passed.
// Unlike a sleep-and-poll wait, a blocked event loop serves each worker request as it comes.
bool waitUntil(const std::function<bool()>& pred, int ms = 20000);

// One window with its own catalog and the fake platform answering for the desktop.
struct Window {
    edb::FakePlatform fake;
    edb::ScopedPlatform use{fake};
    edb::StoreCatalog catalog;
    edbapp::MainDialog dialog{catalog};
#ifdef EDB_APP_HAS_DESTINATIONS
    // What Convert's destination chooser answers: this kind, the folder from the fake chooser.
    edbapp::ConvertDestination::Kind destinationKind = edbapp::ConvertDestination::Kind::EmlFolder;
#endif

    Window() {
#ifdef EDB_APP_HAS_DESTINATIONS
        edbapp::DestinationDialog::setDestinationChooser(
            [this](QWidget* owner) -> std::optional<edbapp::ConvertDestination> {
                edbapp::ConvertDestination d;
                d.kind = destinationKind;
                d.folder = edb::platform().chooseDirectory(owner, "Select Output Folder");
                if (d.folder.isEmpty()) {
                    return std::nullopt;
                }
                return d;
            });
#endif
        dialog.show();
    }
#ifdef EDB_APP_HAS_DESTINATIONS
    ~Window() {
        edbapp::DestinationDialog::setDestinationChooser({});
    }
#endif

    // Browse with the chooser answering `path`; waits until the scan has ended, or with
    // `held` until the mailbox rows are shown and the scan waits there.
    void browse(const std::string& path, bool held = false);
    bool waitIdle(int ms = 10000);
    void clickMailboxRow(int row);
    void clickMailboxEmptyArea();
    QTreeWidgetItem* treeItem(const QString& path) const; // "Ann/Inbox/Sub"
    // Browse to `store`, pick the first mailbox, Next, and click its Inbox; false on a step
    // that did not come through.
    bool openFirstInbox(const std::string& store);
};

} // namespace apptest
