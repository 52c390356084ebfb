// Output files on Windows: CreateFileW(CREATE_NEW) of a hidden temporary name, never through a
// reparse point (a symbolic link or junction; the folders on the way are checked and held by
// output_tree_win.cpp), flushed, then MoveFileExW without REPLACE_EXISTING to name it.
// Windows error codes become the errno values the POSIX build reports, so messages read alike.
#include "deliver/output_file.h"
#include "deliver/output_tree.h"
#include "io/wide_names.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>
#include <system_error>
#include <windows.h>

namespace edb::conv {
namespace fs = std::filesystem;

int tree::ErrnoFrom(unsigned long code) {
    switch (code) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return EINVAL;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    default:
        return EIO;
    }
}

namespace {

int errnoFrom(DWORD code) {
    return tree::ErrnoFrom(code);
}

[[noreturn]] void fail(const char* what, const fs::path& p, int err) {
    throw fs::filesystem_error(what, p, std::error_code(err, std::generic_category()));
}

[[noreturn]] void failLast(const char* what, const fs::path& p) {
    fail(what, p, errnoFrom(GetLastError()));
}

} // namespace

// A path as the system calls take it. From 240 characters on (a folder may not pass 248, a file
// 260) it is given in the \\?\ form, which lifts that limit but takes only a full path with
// backslashes; shorter paths go as they are.
std::wstring tree::WidePath(const fs::path& p) {
    if ((p.is_absolute() && p.native().size() < 240) || p.native().starts_with(L"\\\\?\\")) {
        return p.native();
    }
    std::error_code ec;
    const fs::path full = fs::absolute(p, ec);
    if (ec || full.native().size() < 240) {
        return p.native();
    }
    std::wstring s = full.lexically_normal().make_preferred().native();
    if (s.starts_with(L"\\\\")) {
        return L"\\\\?\\UNC\\" + s.substr(2); // \\server\share\...
    }
    return L"\\\\?\\" + s;
}

namespace {

std::wstring wide(const fs::path& p) {
    return tree::WidePath(p);
}

// Hidden names that no store name can produce (sanitised names never start with a dot).
std::string tempName() {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    char name[64];
    std::snprintf(name, sizeof name, ".edb2eml-%lu-%x-%u",
                  static_cast<unsigned long>(GetCurrentProcessId()), salt, counter.fetch_add(1));
    return name;
}

// Attributes of `p` itself (a reparse point is not followed); false when it cannot be read.
bool attributesOf(const fs::path& p, DWORD& attributes) {
    attributes = GetFileAttributesW(wide(p).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}

// Kernel handles fit in 32 bits (HandleToLong), and -1 is no handle in both spellings, so the
// handle lives in the member the POSIX build keeps its descriptor in.
HANDLE asHandle(int fd) {
    return LongToHandle(fd);
}

} // namespace

OutputFile::OutputFile(const fs::path& dir) : m_dir(tree::Open(dir)) {
    RemoveStaleTemporaries(dir);
    const tree::Hold hold = tree::Check(*m_dir);
    for (int tries = 0; tries < 100; ++tries) {
        m_tmp = dir / tempName();
        // No sharing: nothing else opens the file before it is complete.
        HANDLE h = CreateFileW(wide(m_tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            m_fd = HandleToLong(h);
            return;
        }
        const DWORD err = GetLastError();
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) {
            fail("cannot create a file", dir, errnoFrom(err));
        }
    }
    fail("cannot create a file", dir, EEXIST);
}

void OutputFile::write(std::string_view bytes) {
    m_synced = false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        // At most 1 GiB a call: WriteFile counts in a DWORD.
        const DWORD piece =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1U << 30));
        DWORD n = 0;
        const bool ok = WriteFile(asHandle(m_fd), bytes.data() + done, piece, &n, nullptr) != 0;
        if (!ok || n == 0) {
            const int err = ok ? ENOSPC : errnoFrom(GetLastError());
            m_size += done;
            fail("cannot write", m_tmp, err);
        }
        done += n;
    }
    m_size += done;
}

void OutputFile::truncate(std::uint64_t size) {
    m_synced = false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(size);
    if (SetFilePointerEx(asHandle(m_fd), to, nullptr, FILE_BEGIN) == 0 ||
        SetEndOfFile(asHandle(m_fd)) == 0) {
        failLast("cannot write", m_tmp);
    }
    m_size = size;
}

void OutputFile::sync() {
    if (m_fd != -1 && tree::Syncs(*m_dir) && FlushFileBuffers(asHandle(m_fd)) == 0) {
        failLast("cannot write", m_tmp);
    }
    m_synced = true;
}

std::vector<std::string> OutputFile::syncTogether(const std::vector<OutputFile*>& files) {
    // Windows flushes file by file (a whole volume only with an administrator's rights).
    std::vector<std::string> errors(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        try {
            files[i]->sync();
        } catch (const fs::filesystem_error& e) {
            errors[i] = e.what();
        }
    }
    return errors;
}

void OutputFile::startSync() {
    // Windows starts no write-out without waiting for it: FlushFileBuffers at sync() does all.
}

void OutputFile::setTime(std::int64_t seconds) {
    m_synced = false;
    // FILETIME counts 100 ns from 1601: a time outside it is given its nearest end.
    constexpr std::int64_t kFrom1601 = 11644473600;
    const std::int64_t ticks =
        (std::clamp<std::int64_t>(seconds, -kFrom1601, INT64_MAX / 10000000 - kFrom1601) +
         kFrom1601) *
        10000000;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFU);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    if (SetFileTime(asHandle(m_fd), nullptr, &ft, &ft) == 0) {
        failLast("cannot set the file time", m_tmp);
    }
}

void OutputFile::closeForCommit() {
    if (m_fd != -1) {
        if (!m_synced) {
            sync(); // a name that survives a power cut must not come before its data
        }
        // The final name is an ordinary file: the temporary one was hidden.
        FILE_BASIC_INFO info{};
        info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        const bool shown =
            SetFileInformationByHandle(asHandle(m_fd), FileBasicInfo, &info, sizeof info) != 0;
        const DWORD err = GetLastError();
        const HANDLE h = asHandle(m_fd);
        m_fd = -1;
        if (CloseHandle(h) == 0) {
            failLast("cannot write", m_tmp);
        }
        if (!shown && SetFileAttributesW(wide(m_tmp).c_str(), FILE_ATTRIBUTE_NORMAL) == 0) {
            fail("cannot write", m_tmp, errnoFrom(err));
        }
    }
}

bool OutputFile::moveTo(const fs::path& target, bool over) {
    const tree::DirRef to = tree::Open(target.parent_path());
    const tree::Hold holdFrom = tree::Check(*m_dir);
    const tree::Hold holdTo = tree::Check(*to);
    // Without MOVEFILE_REPLACE_EXISTING the check and the move are one step.
    const DWORD flags = (over ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(wide(m_tmp).c_str(), wide(target).c_str(), flags) != 0) {
        return true;
    }
    if (over) {
        failLast("cannot name the file", target);
    }
    errno = errnoFrom(GetLastError());
    return false;
}

void OutputFile::discard() noexcept {
    if (m_fd != -1) {
        CloseHandle(asHandle(m_fd));
        m_fd = -1;
    }
    if (!m_done && !m_tmp.empty()) {
        DeleteFileW(wide(m_tmp).c_str());
        m_done = true;
    }
}

EntryKind KindOf(const fs::path& p) {
    DWORD a = 0;
    if (!attributesOf(p, a)) {
        const DWORD err = GetLastError();
        return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? EntryKind::Missing
                                                                          : EntryKind::Other;
    }
    if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return EntryKind::Other; // a link or junction is never entered or replaced
    }
    return (a & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Directory : EntryKind::Regular;
}

bool RegularFileIdentity(const fs::path& p, OutputFile::Identity& out) {
    HANDLE h =
        CreateFileW(wide(p).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok =
        GetFileInformationByHandle(h, &info) != 0 &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    CloseHandle(h);
    if (!ok) {
        return false;
    }
    out = {info.dwVolumeSerialNumber,
           (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
           (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow};
    return true;
}

void EnsureDirectory(const fs::path& p) {
    (void)tree::MakeDirectory(p);
    if (KindOf(p) != EntryKind::Directory) {
        fail("cannot use the folder", p, ENOTDIR);
    }
    (void)tree::Open(p);
}

bool MakeNewDirectory(const fs::path& p) {
    return tree::MakeDirectory(p);
}

bool ReadFileStart(const fs::path& p, std::size_t limit, std::string& out) {
    out.clear();
    HANDLE h = CreateFileW(wide(p).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    bool ok =
        GetFileInformationByHandle(h, &info) != 0 &&
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    char buf[65536];
    while (ok && out.size() < limit) {
        DWORD n = 0;
        const auto want = static_cast<DWORD>(std::min(sizeof buf, limit - out.size()));
        if (ReadFile(h, buf, want, &n, nullptr) == 0) {
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        out.append(buf, n);
    }
    CloseHandle(h);
    return ok;
}

void FlushToDisk(const fs::path& p) {
    // A folder's names are on the disk once MoveFileEx(MOVEFILE_WRITE_THROUGH) returns.
    if (fs::is_directory(p)) {
        return;
    }
    HANDLE h = CreateFileW(wide(p).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        failLast("cannot be opened to flush it", p);
    }
    const BOOL ok = FlushFileBuffers(h);
    const DWORD err = GetLastError();
    CloseHandle(h);
    if (ok == 0) {
        fail("cannot be flushed to the disk", p, errnoFrom(err));
    }
}

bool MoveNoReplace(const fs::path& from, const fs::path& to) {
    // Without MOVEFILE_REPLACE_EXISTING the check and the move are one step.
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0) {
        return true;
    }
    errno = errnoFrom(GetLastError());
    return false;
}

std::string MaildirHostName() {
    wchar_t host[256] = {};
    DWORD size = 255;
    std::string name;
    if (GetComputerNameExW(ComputerNameDnsHostname, host, &size) != 0) {
        name = Utf8FromWide(std::wstring_view(host, size));
    }
    for (char& c : name) {
        if (c == '/' || c == ':' || c == ',') {
            c = '_';
        }
    }
    return name.empty() ? "localhost" : name;
}

std::string MaildirUnavailableReason() {
    return "Maildir is not available on Windows: its file names (':2,S') are not legal there";
}

bool ProcessIsRunning(unsigned long pid) {
    if (pid == 0 || pid > 0xFFFFFFFFUL) {
        return true; // not a process number: leave the file alone
    }
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) {
        // No such process; any other refusal (another user's process) counts as running.
        return GetLastError() != ERROR_INVALID_PARAMETER;
    }
    DWORD code = 0;
    const bool running = GetExitCodeProcess(h, &code) == 0 || code == STILL_ACTIVE;
    CloseHandle(h);
    return running;
}

} // namespace edb::conv
