#pragma once
// Convert: the messages of chosen folders rendered as .eml and handed to a destination: by
// default .eml files (contacts also as .vcf) under an output folder, one directory per folder
// path. Runs on any thread; the catalog may still be growing while it runs (it reads locators
// under the message list's lock).
#include "convert/convert_summary.h"
#include "deliver/destination.h"
#include "frontend/folder_paths.h"
#include "catalog/catalog.h"

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace edb::conv {

// Writes the messages of `folders` to options.destination (or as .eml files under
// options.outDir). A folder the destination cannot open fails its messages; a fatal
// destination error fails the message and every one after it.
[[nodiscard]] ConvertSummary Convert(const StoreCatalog& catalog,
                                     const std::vector<FolderPath>& folders,
                                     const ConvertOptions& options);

// The end of a run for outputs that span it (a PST per mailbox): the destination completes
// them, and one it cannot complete takes back the messages counted as saved in it. Returns what
// the destination said, the completed files with their hashes among it.
FinishResult FinishOutputs(Destination& destination, ConvertSummary& summary);

} // namespace edb::conv
