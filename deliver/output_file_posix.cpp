// Output files on POSIX systems: openat(O_EXCL | O_NOFOLLOW) in the directory's descriptor with
// mode 0666 so the umask decides the permissions, fsync, then renameat without replacing
// (renameat2, else a hard link), all relative to the directories' descriptors (output_tree).
#include "deliver/output_file.h"
#include "deliver/output_tree.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <random>
#include <signal.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace edb::conv {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void fail(const char* what, const fs::path& p, int err) {
    throw fs::filesystem_error(what, p, std::error_code(err, std::generic_category()));
}

// Hidden names that no store name can produce (sanitised names never start with a dot).
std::string tempName() {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    char name[64];
    std::snprintf(name, sizeof name, ".edb2eml-%ld-%x-%u", static_cast<long>(::getpid()), salt,
                  counter.fetch_add(1));
    return name;
}

} // namespace

OutputFile::OutputFile(const fs::path& dir) : m_dir(tree::Open(dir)) {
    RemoveStaleTemporaries(dir);
    const tree::Hold hold = tree::Check(*m_dir);
    for (int tries = 0; tries < 100; ++tries) {
        const std::string name = tempName();
        m_tmp = dir / name;
        m_fd = ::openat(tree::Descriptor(*m_dir), name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            return;
        }
        if (errno != EEXIST) {
            fail("cannot create a file", dir, errno);
        }
    }
    fail("cannot create a file", dir, EEXIST);
}

void OutputFile::write(std::string_view bytes) {
    m_synced = false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            m_size += done;
            fail("cannot write", m_tmp, err);
        }
        done += static_cast<std::size_t>(n);
    }
    m_size += done;
}

void OutputFile::truncate(std::uint64_t size) {
    m_synced = false;
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0 ||
        ::lseek(m_fd, static_cast<off_t>(size), SEEK_SET) < 0) {
        fail("cannot write", m_tmp, errno);
    }
    m_size = size;
}

void OutputFile::sync() {
    if (m_fd >= 0 && tree::Syncs(*m_dir) && ::fsync(m_fd) != 0 && errno != EINVAL) {
        fail("cannot write", m_tmp, errno);
    }
    m_synced = true;
}

std::vector<std::string> OutputFile::syncTogether(const std::vector<OutputFile*>& files) {
    std::vector<std::string> errors(files.size());
    // One flush of each file system the files are on writes out their data and commits the
    // journal once for all of them (and whatever else is waiting there). It reports a write
    // failure of any file there since the descriptor it is called on was opened: the group's
    // oldest on that file system.
    std::map<dev_t, std::vector<std::size_t>> byDevice;
    for (std::size_t i = 0; i < files.size(); ++i) {
        OutputFile& f = *files[i];
        struct stat st {};
        if (f.m_fd < 0 || !tree::Syncs(*f.m_dir) || f.m_synced) {
            continue;
        }
        if (::fstat(f.m_fd, &st) != 0) {
            errors[i] = fs::filesystem_error("cannot write", f.m_tmp,
                                             std::error_code(errno, std::generic_category()))
                            .what();
            continue;
        }
        byDevice[st.st_dev].push_back(i);
    }
    for (const auto& [device, indexes] : byDevice) {
        const int err = ::syncfs(files[indexes.front()]->m_fd) == 0 ? 0 : errno;
        for (const std::size_t i : indexes) {
            if (err == 0) {
                files[i]->m_synced = true;
                continue;
            }
            errors[i] = fs::filesystem_error("cannot write", files[i]->m_tmp,
                                             std::error_code(err, std::generic_category()))
                            .what();
        }
    }
    return errors;
}

void OutputFile::startSync() {
#ifdef SYNC_FILE_RANGE_WRITE
    if (m_fd >= 0 && tree::Syncs(*m_dir)) {
        // Errors show at sync(), which waits for this writing.
        (void)::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    }
#endif
}

void OutputFile::setTime(std::int64_t seconds) {
    m_synced = false;
    const timespec times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    if (::futimens(m_fd, times) != 0) {
        fail("cannot set the file time", m_tmp, errno);
    }
}

void OutputFile::closeForCommit() {
    if (m_fd >= 0) {
        // A name that survives a power cut must not come before its data.
        if (!m_synced) {
            sync();
        }
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0 && errno != EINTR) {
            fail("cannot write", m_tmp, errno);
        }
    }
}

bool OutputFile::moveTo(const fs::path& target, bool over) {
    const tree::DirRef to = tree::Open(target.parent_path());
    const tree::Hold holdFrom = tree::Check(*m_dir);
    const tree::Hold holdTo = tree::Check(*to);
    const int fromFd = tree::Descriptor(*m_dir);
    const int toFd = tree::Descriptor(*to);
    const std::string from = m_tmp.filename().string();
    const std::string name = target.filename().string();
    bool moved = false;
    if (over) {
        if (::renameat(fromFd, from.c_str(), toFd, name.c_str()) != 0) {
            fail("cannot name the file", target, errno);
        }
        moved = true;
    }
#ifdef RENAME_NOREPLACE
    if (!moved &&
        ::renameat2(fromFd, from.c_str(), toFd, name.c_str(), RENAME_NOREPLACE) == 0) {
        moved = true;
    } else if (!moved && errno != EINVAL && errno != ENOSYS) {
        return false;
    }
#endif
    if (!moved) {
        // A hard link fails when the name is taken, which makes the check and the move one step.
        if (::linkat(fromFd, from.c_str(), toFd, name.c_str(), 0) == 0) {
            ::unlinkat(fromFd, from.c_str(), 0);
        } else if (errno == EEXIST) {
            return false;
        } else {
            // File systems without hard links: check, then move.
            struct stat st {};
            if (::fstatat(toFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
                errno = EEXIST;
                return false;
            }
            if (::renameat(fromFd, from.c_str(), toFd, name.c_str()) != 0) {
                return false;
            }
        }
    }
    tree::Changed(to);
    return true;
}

void OutputFile::discard() noexcept {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_done && !m_tmp.empty() && m_dir) {
        ::unlinkat(tree::Descriptor(*m_dir), m_tmp.filename().c_str(), 0);
        m_done = true;
    }
}

EntryKind KindOf(const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
        return errno == ENOENT ? EntryKind::Missing : EntryKind::Other;
    }
    if (S_ISREG(st.st_mode)) {
        return EntryKind::Regular;
    }
    return S_ISDIR(st.st_mode) ? EntryKind::Directory : EntryKind::Other;
}

bool RegularFileIdentity(const fs::path& p, OutputFile::Identity& out) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    out = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
           static_cast<std::uint64_t>(st.st_size)};
    return true;
}

void EnsureDirectory(const fs::path& p) {
    (void)tree::MakeDirectory(p);
    (void)tree::Open(p);
}

bool MakeNewDirectory(const fs::path& p) {
    return tree::MakeDirectory(p);
}

bool ReadFileStart(const fs::path& p, std::size_t limit, std::string& out) {
    out.clear();
    const int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buf[65536];
    while (ok && out.size() < limit) {
        const ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit - out.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

void FlushToDisk(const fs::path& p) {
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        fail("cannot be opened to flush it", p, errno);
    }
    if (::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        fail("cannot be flushed to the disk", p, err);
    }
    ::close(fd);
}

bool MoveNoReplace(const fs::path& from, const fs::path& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
#endif
    // A hard link fails when the name is taken, which makes the check and the move one step.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    // File systems without hard links: check, then move.
    if (KindOf(to) != EntryKind::Missing) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::string MaildirHostName() {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    for (char* c = host; *c != 0; ++c) {
        if (*c == '/' || *c == ':' || *c == ',') {
            *c = '_';
        }
    }
    return host[0] != 0 ? host : "localhost";
}

std::string MaildirUnavailableReason() {
    return {};
}

bool ProcessIsRunning(unsigned long pid) {
    const auto id = static_cast<pid_t>(pid);
    if (pid == 0 || static_cast<unsigned long>(id) != pid || id < 0) {
        return true; // not a process number: leave the file alone
    }
    return ::kill(id, 0) == 0 || errno != ESRCH;
}

} // namespace edb::conv
