// The parts of an output file that are the same on every system: the naming rules around the
// system calls of output_file_posix.cpp and output_file_win.cpp.
#include "deliver/output_file.h"

#include <cerrno>
#include <charconv>
#include <mutex>
#include <set>
#include <string>
#include <system_error>

namespace edb::conv {
namespace fs = std::filesystem;

void RemoveStaleTemporaries(const fs::path& dir) {
    static std::mutex lock;
    static std::set<fs::path> looked;
    {
        const std::lock_guard<std::mutex> guard(lock);
        if (!looked.insert(dir).second) {
            return;
        }
    }
    // Temporary names are ".edb2eml-PID-SALT-N" (see tempName in the platform files).
    constexpr std::string_view kPrefix = ".edb2eml-";
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(kPrefix)) {
            continue;
        }
        unsigned long pid = 0;
        const char* first = name.data() + kPrefix.size();
        const char* last = name.data() + name.size();
        const auto [next, err] = std::from_chars(first, last, pid);
        if (err != std::errc() || next == first || next == last || *next != '-' ||
            ProcessIsRunning(pid) || KindOf(it->path()) != EntryKind::Regular) {
            continue;
        }
        std::error_code ignored; // what cannot be removed stays, as it was
        fs::remove(it->path(), ignored);
    }
}

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::commit(const fs::path& target) {
    closeForCommit();
    if (moveTo(target, false)) {
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
    (void)moveTo(target, true);
    m_done = true;
}

} // namespace edb::conv
