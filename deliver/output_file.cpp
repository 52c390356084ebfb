// The parts of an output file that are the same on every system: the naming rules around the
// system calls of output_file_posix.cpp and output_file_win.cpp.
#include "deliver/output_file.h"

#include <cerrno>
#include <system_error>

namespace edb::conv {
namespace fs = std::filesystem;

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::commit(const fs::path& target) {
    closeForCommit();
    if (MoveNoReplace(m_tmp, target)) {
        m_done = true;
        return true;
    }
    if (errno != EEXIST) {
        throw fs::filesystem_error("cannot name the file", target,
                                   std::error_code(errno, std::generic_category()));
    }
    return false;
}

void OutputFile::replace(const fs::path& target, const Identity& replaced) {
    closeForCommit();
    Identity now;
    if (!RegularFileIdentity(target, now) || now.device != replaced.device ||
        now.inode != replaced.inode || now.size != replaced.size) {
        throw fs::filesystem_error("changed while it was extended", target,
                                   std::error_code(EBUSY, std::generic_category()));
    }
    renameOver(target);
    m_done = true;
}

} // namespace edb::conv
