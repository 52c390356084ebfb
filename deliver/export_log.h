#pragma once
// export-log.txt in the output folder: what a user should know about an export that the files
// alone do not say. One line per message with a missing part, and one per folder that repeats
// another folder's id (carving can find one folder record twice; both are written).
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

inline constexpr const char* kExportLogName = "export-log.txt";

// Writes `text` as `dir`/`name` the way every output is written, replacing only a regular file of
// that name (our own file of an earlier run, which this one carries on). Returns its path;
// throws std::filesystem::filesystem_error whose text begins with `what`.
std::filesystem::path WriteOwnFile(const std::filesystem::path& dir, const char* name,
                                   std::string_view text, const std::string& what);

class ExportLog {
public:
    // `file` relative to the output folder; `missing` one entry per part.
    void addMessage(const std::string& file, const std::string& messageId,
                    const std::vector<std::string>& missing);
    void addRepeatedFolder(const std::string& folder, const std::string& repeats,
                           const std::string& folderId);
    // A note about the whole run (the store read incompletely), put before the messages; an
    // empty text adds nothing.
    void addNote(std::string text);
    [[nodiscard]] bool empty() const;

    // The log's text.
    [[nodiscard]] std::string text() const;

    // Writes the log in `outDir` as every output is written, replacing only a regular file of
    // its name (the log of an earlier run into the same folder, which this one covers). Returns
    // its path; throws std::filesystem::filesystem_error naming the file and the reason.
    std::filesystem::path write(const std::filesystem::path& outDir) const;

private:
    mutable std::mutex m_mutex; // destinations may write messages from several threads
    std::vector<std::string> m_folders;
    std::vector<std::string> m_messages;
};

} // namespace edb::conv
