#pragma once
// Composes store files byte by byte for tests, the demo store and the benchmark stores.
// Page k of the file starts at byte 4096 * k; the store's own page numbers count from the second
// page (page number N is file page N + 1).
#include "io/format.h"

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace edbtest {

constexpr std::size_t kPage = edb::kPageSize;

class Page {
public:
    Page() : m_bytes(kPage, 0) {}
    std::vector<std::uint8_t>& bytes() { return m_bytes; }
    const std::vector<std::uint8_t>& bytes() const { return m_bytes; }

    Page& owner(std::uint32_t owner) { return u32le(edb::kPageOwnerAt, owner); }
    Page& previous(std::uint32_t pageNumber) { return u32le(edb::kPagePreviousAt, pageNumber); }
    Page& next(std::uint32_t pageNumber) { return u32le(edb::kPageNextAt, pageNumber); }

    Page& put(std::size_t at, std::initializer_list<std::uint8_t> b);
    Page& put(std::size_t at, const std::vector<std::uint8_t>& b);
    Page& ascii(std::size_t at, std::string_view s);    // single bytes
    Page& utf16(std::size_t at, std::u16string_view s); // UTF-16LE code units
    Page& u8(std::size_t at, std::uint8_t v) { return put(at, {v}); }
    Page& u16le(std::size_t at, std::uint16_t v);
    Page& u32le(std::size_t at, std::uint32_t v);
    Page& u32be(std::size_t at, std::uint32_t v);
    Page& u64le(std::size_t at, std::uint64_t v);
    // A 4-byte tag entry: column id (low byte, 0x01) and a 12-bit value offset.
    Page& tag(std::size_t at, std::uint16_t columnId, std::uint16_t valueOffset,
              std::uint8_t flags = 0);

private:
    std::vector<std::uint8_t> m_bytes;
};

class StoreBuilder {
public:
    // Page at file index k (created, zero-filled, as needed).
    Page& page(std::size_t k);
    // Appends a page with the given owner number; returns its file index.
    std::size_t addPage(std::uint32_t owner);
    [[nodiscard]] std::size_t pageCount() const { return m_base + m_pages.size(); }
    static std::uint64_t offsetOf(std::size_t k) { return k * kPage; }

    [[nodiscard]] std::vector<std::uint8_t> bytes() const;
    // Writes the store; `size` cuts or extends (sparse) it to that many bytes when given.
    void writeTo(const std::filesystem::path& path, std::uint64_t size = UINT64_MAX) const;

    // Streaming: appends the pages held so far to `out` and drops them; indexes go on from
    // there, and page(k) of a page already written throws. bytes() and writeTo() then cover
    // only the pages still held.
    void flushTo(std::ostream& out);

private:
    std::vector<Page> m_pages;
    std::size_t m_base = 0; // file index of m_pages[0]
};

// A unique file name in the temporary directory, removed when the object goes.
class TempFile {
public:
    explicit TempFile(std::string_view stem = "store", std::string_view ext = ".edb");
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
    [[nodiscard]] std::string str() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

// A fresh, empty temporary directory, removed with its content when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace edbtest
