#pragma once
// export-log.txt in the output folder: what a user should know about an export that the files
// alone do not say. One line per message with a missing part, and one per folder that repeats
// another folder's id (carving can find one folder record twice; both are written). Each run
// adds a block of its own, headed by its time, options and folders and ending with how the run
// ended; the blocks of earlier runs into the folder stay as they were.
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
    // The block's first lines: the run's time, program, options and folders.
    void setHeading(const std::string& heading);
    // How the run ended ("complete", "interrupted in ..."), said at the end of its block.
    void setOutcome(const std::string& outcome);
    [[nodiscard]] bool empty() const;

    // This run's block.
    [[nodiscard]] std::string text() const;

    // Adds this run's block to the log in `outDir`, written as every output is written: the
    // earlier runs' blocks are copied and the whole replaces only a regular file of its name.
    // Returns its path; throws std::filesystem::filesystem_error naming the file and the reason.
    std::filesystem::path write(const std::filesystem::path& outDir) const;

private:
    mutable std::mutex m_mutex; // destinations may write messages from several threads
    std::string m_heading;
    std::string m_outcome;
    std::vector<std::string> m_folders;
    std::vector<std::string> m_messages;
};

} // namespace edb::conv
