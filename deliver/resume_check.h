#pragma once
// What a rerun accepts as already written. With a manifest: a file (or mbox range) whose hash is
// still the recorded one. Without (a folder an older version wrote): a message that reads as
// whole and whose size fits the message it stands for.
#include "deliver/manifest.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace edb::conv {

inline constexpr const char* kNoLongerMatches =
    "does not match the manifest (changed or cut since it was written)";
inline constexpr const char* kIncomplete = "not a whole message (cut short or damaged)";
inline constexpr const char* kWrongSize = "its size does not fit the message it holds";
inline constexpr const char* kInTheWay = "a file the export did not write has the message's name";

// The header block ends, something follows it, the text ends with a line end, and every
// multipart boundary the message declares is closed.
[[nodiscard]] bool LooksComplete(std::string_view message);

// Whether a message of `found` bytes can be the one that is `expected` bytes when written now
// (an older version wrote the same message a little differently).
[[nodiscard]] bool SizePlausible(std::uint64_t found, std::uint64_t expected);

// Whether the file at `root`/`f.path` still is what `f` records (hash and size).
[[nodiscard]] bool StillMatches(const std::filesystem::path& root, const ManifestFile& f);

// The saved entry of `manifest` whose first file is `path`; null when none.
[[nodiscard]] const ManifestEntry* SavedEntryFor(const Manifest& manifest, const std::string& path);

} // namespace edb::conv
