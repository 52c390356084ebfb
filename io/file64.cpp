// The store file's parts that are the same on every system; the system calls are in
// file64_posix.cpp and file64_win.cpp.
#include "io/file64.h"

#include <cerrno>
#include <cstring>

namespace edb {

FileError::FileError(int code, std::string fileName, std::string what, std::uint64_t offset)
    : std::runtime_error(fileName + ": " + what + ": " + SystemErrorText(code)), m_code(code),
      m_fileName(std::move(fileName)), m_offset(offset) {}

std::string FileError::reason() const {
    return SystemErrorText(m_code);
}

std::string FileErrorRecord::reason() const {
    // The only way Open meets EBUSY is the lock (or the unshared open) of another opener.
    return code == EBUSY ? "another edb2eml or the window has this store open"
                         : SystemErrorText(code);
}

CFile64::~CFile64() {
    Abort();
}

void CFile64::Abort() {
    if (m_handle >= 0 && m_closeOnDelete) {
        try {
            Close();
        } catch (const FileError&) {
            // Abort never raises; the handle is gone either way.
        }
        return;
    }
    m_handle = -1;
    m_closeOnDelete = false;
    m_fileName.clear();
}

void CFile64::raise(int code, const char* what, std::uint64_t offset) const {
    throw FileError(code, m_fileName, what, offset);
}

std::size_t ReadPage(const CFile64& file, std::uint64_t storeSize, std::uint64_t offset,
                     std::uint8_t* buffer, std::size_t bufferSize) {
    if (offset >= storeSize) {
        return 0;
    }
    const std::uint64_t left = storeSize - offset;
    std::size_t n = left > kPageSize ? kPageSize : static_cast<std::size_t>(left);
    if (n > bufferSize) {
        n = bufferSize;
    }
    const std::size_t got = file.ReadAt(offset, buffer, n);
    // The page is n bytes whatever the read returned; a file that shrank leaves zeros.
    if (got < n) {
        std::memset(buffer + got, 0, n - got);
    }
    return n;
}

} // namespace edb
