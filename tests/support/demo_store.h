#pragma once
// The demo store: a few mailboxes with nested folders, messages with inline and long-value
// bodies, HTML and RTF bodies, attachments and contacts. Used by scripts/run and by tests.
#include <cstdint>
#include <filesystem>

#include "tests/support/store_builder.h"

namespace edbtest {

struct DemoOptions {
    std::uint32_t seed = 1;
    int messagesPerFolder = 24;
};

void buildDemoStore(StoreBuilder& store, const DemoOptions& options = {});
void writeDemoStore(const std::filesystem::path& path, const DemoOptions& options = {});

} // namespace edbtest
