#include "io/file64.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace edb {

std::string SystemErrorText(int code) {
    return code == kNotRegularFile ? "not a regular file" : std::strerror(code);
}

bool CFile64::Open(const std::string& fileName, FileErrorRecord* error) {
    Abort();
    m_unreadable.clear(); // a new file, or the same one read afresh
    int code = 0;
    int fd = -1;
    // A FIFO or a device could block the open itself or answer reads for ever: they are
    // refused by a look at the path first, and (should the path change in between) the open
    // does not wait and the opened file is looked at again.
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        code = kNotRegularFile;
    } else if (fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
               fd < 0) {
        code = errno;
    } else if (::fstat(fd, &st) != 0) {
        code = errno;
    } else if (!S_ISREG(st.st_mode)) {
        code = kNotRegularFile;
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Another holder (this process or another) has the store: share mode none.
        code = errno == EWOULDBLOCK ? EBUSY : errno;
    }
    if (code != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
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
    if (m_handle >= 0 && ::close(m_handle) != 0) {
        code = errno;
    }
    const std::string name = m_fileName;
    m_handle = -1;
    m_closeOnDelete = false;
    m_fileName.clear();
    if (code != 0 && code != EINTR) {
        throw FileError(code, name, "close failed");
    }
}

std::size_t CFile64::Read(void* buffer, std::size_t count) {
    const std::uint64_t at = GetPosition();
    const std::size_t got = ReadAt(at, buffer, count);
    if (::lseek(m_handle, static_cast<off_t>(at + got), SEEK_SET) < 0) {
        raise(errno, "seek failed", at + got);
    }
    return got;
}

std::size_t CFile64::ReadRaw(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t r = ::pread(m_handle, out + done, count - done,
                                  static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            raise(errno, "read failed", offset + done);
        }
        if (r == 0) {
            break;
        }
        done += static_cast<std::size_t>(r);
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
    if (::lseek(m_handle, static_cast<off_t>(target), SEEK_SET) < 0) {
        raise(errno, "seek failed", target);
    }
    return target;
}

std::uint64_t CFile64::GetLength() const {
    struct stat st {};
    if (::fstat(m_handle, &st) != 0) {
        raise(errno, "size query failed");
    }
    return static_cast<std::uint64_t>(st.st_size);
}

std::uint64_t CFile64::GetPosition() const {
    const off_t pos = ::lseek(m_handle, 0, SEEK_CUR);
    if (pos < 0) {
        raise(errno, "position query failed");
    }
    return static_cast<std::uint64_t>(pos);
}

} // namespace edb
