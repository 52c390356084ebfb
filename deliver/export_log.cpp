#include "deliver/export_log.h"

#include "deliver/output_file.h"

#include <limits>
#include <system_error>

namespace edb::conv {
namespace fs = std::filesystem;

void ExportLog::addMessage(const std::string& file, const std::string& messageId,
                           const std::vector<std::string>& missing) {
    std::string line = file + "\tmessage " + messageId + "\t";
    for (std::size_t i = 0; i < missing.size(); ++i) {
        line += (i ? "; " : "") + missing[i];
    }
    const std::lock_guard lock(m_mutex);
    m_messages.push_back(std::move(line));
}

void ExportLog::addRepeatedFolder(const std::string& folder, const std::string& repeats,
                                  const std::string& folderId) {
    const std::lock_guard lock(m_mutex);
    m_folders.push_back("folder " + folder + " repeats folder " + repeats + " (same folder id " +
                        folderId + "): the store holds its record twice, so its messages are " +
                        "written in both");
}

void ExportLog::addNote(std::string text) {
    if (text.empty()) {
        return;
    }
    const std::lock_guard lock(m_mutex);
    m_folders.push_back(std::move(text));
}

void ExportLog::setHeading(const std::string& heading) {
    const std::lock_guard lock(m_mutex);
    m_heading = heading;
}

void ExportLog::setOutcome(const std::string& outcome) {
    const std::lock_guard lock(m_mutex);
    m_outcome = outcome;
}

bool ExportLog::empty() const {
    const std::lock_guard lock(m_mutex);
    return m_folders.empty() && m_messages.empty();
}

std::string ExportLog::text() const {
    std::string text;
    const std::lock_guard lock(m_mutex);
    text += m_heading.empty() ? std::string("=== Run\n") : m_heading;
    for (const std::string& l : m_folders) {
        text += l + "\n";
    }
    if (m_messages.empty()) {
        text += "Every message was written with all of its parts.\n";
    } else {
        text += "Messages written with a part missing (file, message id, what is missing):\n";
    }
    for (const std::string& l : m_messages) {
        text += l + "\n";
    }
    if (!m_outcome.empty()) {
        text += "Run " + m_outcome + ".\n";
    }
    return text;
}

namespace {

[[noreturn]] void refuse(const fs::path& path, const std::string& what, const char* why,
                         std::errc code) {
    throw fs::filesystem_error(what + ": " + why, path, std::make_error_code(code));
}

} // namespace

fs::path WriteOwnFile(const fs::path& dir, const char* name, std::string_view text,
                      const std::string& what) {
    const fs::path path = dir / name;
    OutputFile file(dir);
    file.write(text);
    file.sync();
    for (int tries = 0; tries < 3; ++tries) {
        switch (KindOf(path)) {
        case EntryKind::Missing:
            if (file.commit(path)) {
                return path;
            }
            break; // made meanwhile: look again
        case EntryKind::Regular: {
            OutputFile::Identity old;
            if (RegularFileIdentity(path, old)) {
                file.replace(path, old);
                return path;
            }
            break;
        }
        case EntryKind::Directory:
            refuse(path, what, "a folder has its name", std::errc::is_a_directory);
        case EntryKind::Other:
            refuse(path, what, "a link or special file has its name; it is left as it is",
                   std::errc::file_exists);
        }
    }
    refuse(path, what, "its name keeps changing", std::errc::device_or_resource_busy);
}

fs::path ExportLog::write(const fs::path& outDir) const {
    // What earlier runs wrote stays; a log that cannot be read is not replaced (the write below
    // refuses anything but a regular file, and a regular file we cannot read is left alone).
    std::string log;
    const fs::path path = outDir / kExportLogName;
    if (KindOf(path) == EntryKind::Regular &&
        !ReadFileStart(path, std::numeric_limits<std::size_t>::max(), log)) {
        refuse(path, "cannot write the export log", "the earlier runs' log cannot be read",
               std::errc::io_error);
    }
    if (!log.empty()) {
        log += log.ends_with("\n") ? "\n" : "\n\n";
    }
    return WriteOwnFile(outDir, kExportLogName, log + text(), "cannot write the export log");
}

} // namespace edb::conv
