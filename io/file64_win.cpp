// The store file on Windows: a wide-name CreateFileW with no sharing (the same exclusivity the
// POSIX build gets from flock), opened for overlapped reads so that the read-ahead threads'
// positional reads run side by side and never move the handle's own position. Windows error
// codes are reported as the errno values the rest of the program and its messages know.
#include "io/file64.h"
#include "io/wide_names.h"

#include <cerrno>
#include <cstring>

#include <io.h>
#include <windows.h>

namespace edb {

namespace {

int errnoFromWindows(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NEGATIVE_SEEK:
        return EINVAL;
    default:
        return EIO;
    }
}

HANDLE osHandle(int fd) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// One event per reading thread, for the overlapped reads' completion.
class ThreadEvent {
public:
    ThreadEvent() : m_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~ThreadEvent() {
        if (m_event != nullptr) {
            ::CloseHandle(m_event);
        }
    }
    ThreadEvent(const ThreadEvent&) = delete;
    ThreadEvent& operator=(const ThreadEvent&) = delete;
    [[nodiscard]] HANDLE get() const { return m_event; }

private:
    HANDLE m_event;
};

} // namespace

// The same words the POSIX build prints for the codes this file raises, so a message reads
// alike on both systems; the C runtime's text for anything else.
std::string SystemErrorText(int code) {
    switch (code) {
    case kNotRegularFile: return "not a regular file";
    case ENOENT: return "No such file or directory";
    case EACCES: return "Permission denied";
    case EBUSY: return "Device or resource busy";
    case EISDIR: return "Is a directory";
    case EIO: return "Input/output error";
    case ENOMEM: return "Cannot allocate memory";
    case EBADF: return "Bad file descriptor";
    case EINVAL: return "Invalid argument";
    default: return std::strerror(code);
    }
}

bool CFile64::Open(const std::string& fileName, FileErrorRecord* error) {
    Abort();
    m_unreadable.clear(); // a new file, or the same one read afresh
    const std::wstring wide = WideFromUtf8(fileName);
    int code = 0;
    int fd = -1;
    // Directories and devices are refused before the open: a device's reads might never end.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) {
        code = kNotRegularFile;
    } else {
        // No read or write sharing: a second open of the store, here or in another process, is
        // refused and nobody can change it meanwhile. Its name may still be removed, as on POSIX;
        // the open file stays readable until it is closed.
        const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            code = errnoFromWindows(::GetLastError());
        } else if (::GetFileType(h) != FILE_TYPE_DISK) {
            // A named pipe or console (the path changed, or names one): no pages to seek to.
            code = kNotRegularFile;
            ::CloseHandle(h);
        } else {
            fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), 0);
            if (fd < 0) {
                code = EMFILE;
                ::CloseHandle(h);
            }
        }
    }
    if (code != 0) {
        if (error != nullptr) {
            error->code = code;
            error->fileName = fileName;
        }
        return false;
    }
    m_handle = fd;
    m_closeOnDelete = true;
    m_fileName = fileName;
    return true;
}

void CFile64::Close() {
    int code = 0;
    if (m_handle >= 0 && ::_close(m_handle) != 0) {
        code = errno;
    }
    const std::string name = m_fileName;
    m_handle = -1;
    m_closeOnDelete = false;
    m_fileName.clear();
    if (code != 0) {
        throw FileError(code, name, "close failed");
    }
}

std::size_t CFile64::Read(void* buffer, std::size_t count) {
    const std::uint64_t at = GetPosition();
    const std::size_t got = ReadAt(at, buffer, count);
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(at + got);
    if (!::SetFilePointerEx(osHandle(m_handle), to, nullptr, FILE_BEGIN)) {
        raise(errnoFromWindows(::GetLastError()), "seek failed", at + got);
    }
    return got;
}

std::size_t CFile64::ReadRaw(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
    thread_local ThreadEvent event;
    if (event.get() == nullptr) {
        raise(ENOMEM, "read failed", offset);
    }
    const HANDLE h = osHandle(m_handle);
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t at = offset + done;
        const std::size_t left = count - done;
        const DWORD want = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        OVERLAPPED ov{};
        ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        ov.OffsetHigh = static_cast<DWORD>(at >> 32);
        ov.hEvent = event.get();
        DWORD got = 0;
        if (!::ReadFile(h, out + done, want, nullptr, &ov)) {
            const DWORD err = ::GetLastError();
            if (err == ERROR_HANDLE_EOF) {
                break;
            }
            if (err != ERROR_IO_PENDING) {
                raise(errnoFromWindows(err), "read failed", at);
            }
        }
        if (!::GetOverlappedResult(h, &ov, &got, TRUE)) {
            const DWORD err = ::GetLastError();
            if (err == ERROR_HANDLE_EOF) {
                break;
            }
            raise(errnoFromWindows(err), "read failed", at);
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

std::uint64_t CFile64::Seek(std::uint64_t distance, SeekOrigin origin, bool forward) {
    std::uint64_t base = 0;
    if (origin == current) {
        base = GetPosition();
    } else if (origin == end) {
        base = GetLength();
    }
    const std::uint64_t target =
        origin == begin ? distance : (forward ? base + distance : base - distance);
    if (target > static_cast<std::uint64_t>(INT64_MAX)) {
        raise(EINVAL, "seek failed", target);
    }
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(target);
    if (!::SetFilePointerEx(osHandle(m_handle), to, nullptr, FILE_BEGIN)) {
        raise(errnoFromWindows(::GetLastError()), "seek failed", target);
    }
    return target;
}

std::uint64_t CFile64::GetLength() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(osHandle(m_handle), &size)) {
        raise(errnoFromWindows(::GetLastError()), "size query failed");
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::uint64_t CFile64::GetPosition() const {
    LARGE_INTEGER zero{};
    LARGE_INTEGER pos{};
    if (!::SetFilePointerEx(osHandle(m_handle), zero, &pos, FILE_CURRENT)) {
        raise(errnoFromWindows(::GetLastError()), "position query failed");
    }
    return static_cast<std::uint64_t>(pos.QuadPart);
}

} // namespace edb
