#include "tests/support/store_builder.h"

#include <atomic>
#include <fstream>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace edbtest {

Page& Page::put(std::size_t at, std::initializer_list<std::uint8_t> b) {
    return put(at, std::vector<std::uint8_t>(b));
}

Page& Page::put(std::size_t at, const std::vector<std::uint8_t>& b) {
    if (at > m_bytes.size() || b.size() > m_bytes.size() - at) {
        throw std::out_of_range("Page::put past the page end");
    }
    std::copy(b.begin(), b.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return *this;
}

Page& Page::ascii(std::size_t at, std::string_view s) {
    return put(at, std::vector<std::uint8_t>(s.begin(), s.end()));
}

Page& Page::utf16(std::size_t at, std::u16string_view s) {
    std::vector<std::uint8_t> b;
    for (const char16_t c : s) {
        b.push_back(static_cast<std::uint8_t>(c & 0xFF));
        b.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return put(at, b);
}

Page& Page::u16le(std::size_t at, std::uint16_t v) {
    return put(at, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
}

Page& Page::u32le(std::size_t at, std::uint32_t v) {
    return put(at, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                    static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

Page& Page::u32be(std::size_t at, std::uint32_t v) {
    return put(at, {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                    static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
}

Page& Page::u64le(std::size_t at, std::uint64_t v) {
    u32le(at, static_cast<std::uint32_t>(v));
    return u32le(at + 4, static_cast<std::uint32_t>(v >> 32));
}

Page& Page::tag(std::size_t at, std::uint16_t columnId, std::uint16_t valueOffset,
                std::uint8_t flags) {
    return put(at, {static_cast<std::uint8_t>(columnId), static_cast<std::uint8_t>(columnId >> 8),
                    static_cast<std::uint8_t>(valueOffset & 0xFF),
                    static_cast<std::uint8_t>(((valueOffset >> 8) & 0x0F) | (flags << 4))});
}

Page& StoreBuilder::page(std::size_t k) {
    if (k < m_base) {
        throw std::out_of_range("StoreBuilder::page of a page already written");
    }
    if (k - m_base >= m_pages.size()) {
        m_pages.resize(k - m_base + 1);
    }
    return m_pages[k - m_base];
}

std::size_t StoreBuilder::addPage(std::uint32_t owner) {
    m_pages.emplace_back();
    m_pages.back().owner(owner);
    return m_base + m_pages.size() - 1;
}

void StoreBuilder::flushTo(std::ostream& out) {
    for (const auto& p : m_pages) {
        out.write(reinterpret_cast<const char*>(p.bytes().data()),
                  static_cast<std::streamsize>(p.bytes().size()));
    }
    if (!out) {
        throw std::runtime_error("write failed");
    }
    m_base += m_pages.size();
    m_pages.clear();
}

std::vector<std::uint8_t> StoreBuilder::bytes() const {
    std::vector<std::uint8_t> out;
    out.reserve(m_pages.size() * kPage);
    for (const auto& p : m_pages) {
        out.insert(out.end(), p.bytes().begin(), p.bytes().end());
    }
    return out;
}

void StoreBuilder::writeTo(const std::filesystem::path& path, std::uint64_t size) const {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out) {
            throw std::runtime_error("cannot write " + path.string());
        }
        for (const auto& p : m_pages) {
            out.write(reinterpret_cast<const char*>(p.bytes().data()),
                      static_cast<std::streamsize>(p.bytes().size()));
        }
    }
    if (size != UINT64_MAX) {
        std::filesystem::resize_file(path, size);
    }
}

namespace {
std::string uniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    return std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
           std::to_string(rd());
}
} // namespace

TempFile::TempFile(std::string_view stem, std::string_view ext)
    : m_path(std::filesystem::temp_directory_path() /
             (std::string(stem) + "-" + uniqueSuffix() + std::string(ext))) {}

TempFile::~TempFile() {
    std::error_code ec;
    std::filesystem::remove(m_path, ec);
}

TempDir::TempDir()
    : m_path(std::filesystem::temp_directory_path() / ("edbtest-" + uniqueSuffix())) {
    std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

} // namespace edbtest
