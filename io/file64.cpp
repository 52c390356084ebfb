// The store file's parts that are the same on every system; the system calls are in
// file64_posix.cpp and file64_win.cpp.
#include "io/file64.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace edb {

namespace {
// Failures of the program rather than of the disk: they are raised, never noted as damage.
bool programFault(int code) {
    return code == EBADF || code == EINVAL || code == ENOMEM;
}

std::uint64_t pageStart(std::uint64_t at) {
    return at / kPageSize * kPageSize;
}
} // namespace

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

std::string UnreadableRange::reason() const {
    return SystemErrorText(code);
}

std::size_t CFile64::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    if (m_handle < 0) {
        raise(EBADF, "read on a closed file", offset);
    }
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (!m_unreadable.any()) {
        try {
            return ReadRaw(offset, out, count);
        } catch (const FileError& e) {
            if (programFault(e.code())) {
                throw;
            }
        }
    }
    return readAround(offset, out, count);
}

// Known unreadable bytes are zeros without asking the disk again (a bad sector can take
// seconds to fail); what lies between them is read in pieces.
std::size_t CFile64::readAround(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t at = offset + done;
        const std::size_t left = count - done;
        const auto bad = m_unreadable.firstWithin(at, left);
        if (!bad) {
            return done + readPieces(at, out + done, left);
        }
        if (bad->offset <= at) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, bad->end() - at));
            std::memset(out + done, 0, n);
            done += n;
            continue;
        }
        const auto before = static_cast<std::size_t>(bad->offset - at);
        const std::size_t got = readPieces(at, out + done, before);
        done += got;
        if (got < before) {
            return done; // the end of the file
        }
    }
    return done;
}

// A failed read is halved at a page boundary until the piece lies in one page; that page is
// noted unreadable (clipped to the file's end) and given as zeros.
std::size_t CFile64::readPieces(std::uint64_t offset, std::uint8_t* out, std::size_t count) const {
    if (count == 0) {
        return 0;
    }
    try {
        return ReadRaw(offset, out, count);
    } catch (const FileError& e) {
        if (programFault(e.code())) {
            throw;
        }
        const std::uint64_t first = pageStart(offset);
        if (offset + count <= first + kPageSize) {
            const std::uint64_t end = std::min(first + kPageSize, GetLength());
            if (end <= offset) {
                return 0; // the file shrank below the read
            }
            m_unreadable.add(first, end - first, e.code());
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, end - offset));
            std::memset(out, 0, n);
            return n;
        }
        std::uint64_t mid = pageStart(offset + count / 2);
        if (mid <= offset) {
            mid = first + kPageSize;
        }
        const auto head = static_cast<std::size_t>(mid - offset);
        const std::size_t got = readPieces(offset, out, head);
        if (got < head) {
            return got;
        }
        return head + readPieces(mid, out + head, count - head);
    }
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
