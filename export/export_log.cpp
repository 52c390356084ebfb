#include "export/export_log.h"

#include <fstream>
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

bool ExportLog::empty() const {
    const std::lock_guard lock(m_mutex);
    return m_folders.empty() && m_messages.empty();
}

fs::path ExportLog::write(const fs::path& outDir) const {
    const fs::path path = outDir / kExportLogName;
    std::string text;
    {
        const std::lock_guard lock(m_mutex);
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
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        throw fs::filesystem_error("cannot write the export log", path,
                                   std::make_error_code(std::errc::io_error));
    }
    return path;
}

} // namespace edb::conv
