#pragma once
// Convert: the messages of chosen folders written as .eml files (contacts also as .vcf) under an
// output folder, one directory per folder path. Runs on any thread; the catalog may still be
// growing while it runs (it reads locators under the message list's lock).
#include "export/folder_paths.h"
#include "store/catalog.h"

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace edb::conv {

struct ConvertProgress {
    std::size_t done = 0;  // messages handled so far
    std::size_t total = 0; // messages in the chosen folders
    std::string folder;    // tree path of the folder being written
};

struct ConvertIssue {
    std::string folder; // tree path
    std::string item;   // message subject or file, may be empty
    std::string reason;
};

struct SavedFolder {
    std::string treePath; // what the window's saved-folders list keeps
    TreeItem treeItem = 0;
    std::filesystem::path directory;
    std::size_t messages = 0;
};

struct ConvertSummary {
    std::size_t saved = 0;   // messages written
    std::size_t skipped = 0; // messages not written (cancelled)
    std::size_t failed = 0;  // messages that could not be written
    std::size_t notes = 0;   // messages written with something missing (noted in the file)
    std::vector<ConvertIssue> failures;
    std::vector<SavedFolder> savedFolders; // folders written completely
    // export-log.txt when something was missing or a folder repeated another; empty otherwise.
    std::filesystem::path logPath;
    bool cancelled = false;
};

struct ConvertOptions {
    std::filesystem::path outDir;
    std::function<void(const ConvertProgress&)> progress; // may be empty
    const std::atomic<bool>* cancel = nullptr;            // checked between messages
};

// Writes the messages of `folders` under options.outDir. Never writes outside it; never
// replaces an existing file. A failure to create the output folder fails every message.
[[nodiscard]] ConvertSummary Convert(const StoreCatalog& catalog,
                                     const std::vector<FolderPath>& folders,
                                     const ConvertOptions& options);

} // namespace edb::conv
