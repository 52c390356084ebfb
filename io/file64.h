#pragma once
// 64-bit, read-only, exclusive access to the store file. Errors are FileError exceptions that
// carry the operating system's error code; a read the disk fails is not one of them: its pages
// read as zeros and are noted as unreadable (io/unreadable.h).
#include "io/format.h"
#include "io/unreadable.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace edb {

class FileError : public std::runtime_error {
public:
    FileError(int code, std::string fileName, std::string what, std::uint64_t offset = 0);
    [[nodiscard]] int code() const { return m_code; }
    [[nodiscard]] const std::string& fileName() const { return m_fileName; }
    [[nodiscard]] std::uint64_t offset() const { return m_offset; }
    // The system's own words for the code, e.g. "Input/output error".
    [[nodiscard]] std::string reason() const;

private:
    int m_code;
    std::string m_fileName;
    std::uint64_t m_offset;
};

// The words for a system error code, the same on every system for the codes the store file
// raises (e.g. "Input/output error").
std::string SystemErrorText(int code);

// Error code of an Open refused because the path is no regular file (a FIFO, a device, a
// directory): reading one could block for ever or never end.
inline constexpr int kNotRegularFile = -1;

// What Open reports when it fails, instead of raising.
struct FileErrorRecord {
    int code = 0;
    std::string fileName;
    [[nodiscard]] std::string reason() const;
};

class CFile64 {
public:
    enum SeekOrigin { begin = 0, current = 1, end = 2 };

    CFile64() = default;
    ~CFile64();
    CFile64(const CFile64&) = delete;
    CFile64& operator=(const CFile64&) = delete;

    // Read-only, existing regular file, exclusive: a second Open of the same file from this or
    // another process fails (EBUSY) while this one holds it.
    [[nodiscard]] bool Open(const std::string& fileName, FileErrorRecord* error = nullptr);
    void Close();
    void Abort();
    [[nodiscard]] std::size_t Read(void* buffer, std::size_t count);
    std::uint64_t Seek(std::uint64_t distance, SeekOrigin origin, bool forward = true);
    [[nodiscard]] std::uint64_t GetLength() const;
    [[nodiscard]] std::uint64_t GetPosition() const;

    // Positional read that leaves the current position alone; reads until count or end of file.
    // Bytes the disk cannot give back are zeros, their pages noted in unreadable(); a read
    // that fails is tried again in smaller pieces down to one page, so only the failing pages
    // are lost, and a page once noted is not asked of the disk again. One system call when
    // nothing fails. Raises only for the program's own faults (a closed file).
    [[nodiscard]] std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const;

    [[nodiscard]] bool isOpen() const { return m_handle >= 0; }
    [[nodiscard]] const std::string& fileName() const { return m_fileName; }
    // What could not be read since the file was opened.
    [[nodiscard]] const UnreadableRanges& unreadable() const { return m_unreadable; }

private:
    [[noreturn]] void raise(int code, const char* what, std::uint64_t offset = 0) const;
    // The system's read: until count or end of file; throws FileError when it fails.
    std::size_t ReadRaw(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) const;
    std::size_t readAround(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) const;
    std::size_t readPieces(std::uint64_t offset, std::uint8_t* buffer, std::size_t count) const;

    int m_handle = -1;
    bool m_closeOnDelete = false;
    std::string m_fileName;
    mutable UnreadableRanges m_unreadable;
};

// The page-read rule every reader of store pages shares: 4096 bytes, or what is left of the
// file for the last page. Returns the page length n (0 when offset is at or past the end).
std::size_t ReadPage(const CFile64& file, std::uint64_t storeSize, std::uint64_t offset,
                     std::uint8_t* buffer, std::size_t bufferSize = kPageSize);

} // namespace edb
