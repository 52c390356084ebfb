#pragma once
// The demo store: a few mailboxes with nested folders, messages with inline and long-value
// bodies, HTML and RTF bodies, attachments and contacts. Used by scripts/run and by tests.
#include "tests/support/store_builder.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace edbtest {

struct DemoOptions {
    std::uint32_t seed = 1;
    int messagesPerFolder = 24;
    // Adds folders whose names break naive exporters: separators, "..", quotes, wildcards,
    // control characters, non-Latin scripts and a second "Inbox" in another case.
    bool hostileNames = false;
    // Adds, to the second mailbox, folders that Maildir++ servers refuse or hide when written
    // as they stand: an "INBOX" listed before the real Inbox, a second "inbox", "~", dots,
    // non-Latin scripts and names and paths longer than a file name may be.
    bool serverNames = false;
    // More folders under the first mailbox's Inbox, named as given (text a terminal must not
    // take as controls, for example).
    std::vector<std::u16string> extraInboxFolders{};
    // Adds nested folders whose names run to 250 characters, Latin and Cyrillic, two of them
    // alike in their first 240: more than many servers and file systems take.
    bool longNames = false;
    // Adds mailboxes named like the files and folders an export makes of its own
    // ("export-log.txt", "Unattached folders").
    bool ownNames = false;
    // Adds to the first mailbox's Inbox two rows that carry the id and time of a message already
    // there under another subject (as carving finds a message's row twice after an edit): two
    // messages of one store id and date in one folder.
    bool duplicateIds = false;
};

void buildDemoStore(StoreBuilder& store, const DemoOptions& options = {});
void writeDemoStore(const std::filesystem::path& path, const DemoOptions& options = {});

} // namespace edbtest
