#pragma once
// The demo store: a few mailboxes with nested folders, messages with inline and long-value
// bodies, HTML and RTF bodies, attachments and contacts. Used by scripts/run and by tests.
#include "tests/support/store_builder.h"

#include <cstdint>
#include <filesystem>

namespace edbtest {

struct DemoOptions {
    std::uint32_t seed = 1;
    int messagesPerFolder = 24;
    // Adds folders whose names break naive exporters: separators, "..", quotes, wildcards,
    // control characters, non-Latin scripts and a second "Inbox" in another case.
    bool hostileNames = false;
    // Adds mailboxes named like the files and folders an export makes of its own
    // ("export-log.txt", "Unattached folders").
    bool ownNames = false;
};

void buildDemoStore(StoreBuilder& store, const DemoOptions& options = {});
void writeDemoStore(const std::filesystem::path& path, const DemoOptions& options = {});

} // namespace edbtest
