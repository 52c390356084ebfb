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
    // Adds nested folders whose names run to 250 characters, Latin and Cyrillic, two of them
    // alike in their first 240: more than many servers and file systems take.
    bool longNames = false;
};

void buildDemoStore(StoreBuilder& store, const DemoOptions& options = {});
void writeDemoStore(const std::filesystem::path& path, const DemoOptions& options = {});

} // namespace edbtest
