#pragma once
// Bounds-checked views over untrusted store bytes. Every read goes through inside(); a read
// that does not fit yields nothing, and the carving code says what that means at each place.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

namespace edb {

// The 8-byte ids of folders, messages and attachments, in stored byte order.
using StoreId = std::array<std::uint8_t, 8>;

class ByteView {
public:
    ByteView() = default;
    ByteView(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    explicit ByteView(std::span<const std::uint8_t> s) : m_data(s.data()), m_size(s.size()) {}

    [[nodiscard]] std::size_t size() const { return m_size; }
    [[nodiscard]] const std::uint8_t* data() const { return m_data; }

    // Positions are signed so that "p - 23" before the start is simply outside.
    [[nodiscard]] bool inside(std::int64_t at, std::size_t len) const {
        if (at < 0) {
            return false;
        }
        const auto off = static_cast<std::uint64_t>(at);
        return off <= m_size && len <= m_size - off;
    }

    [[nodiscard]] std::optional<std::uint8_t> u8(std::int64_t at) const {
        if (!inside(at, 1)) {
            return std::nullopt;
        }
        return m_data[at];
    }
    // A byte outside the view counts as 0 where the rules say so.
    [[nodiscard]] std::uint8_t byteOr0(std::int64_t at) const {
        return inside(at, 1) ? m_data[at] : 0;
    }
    [[nodiscard]] std::optional<std::uint16_t> readU16Le(std::int64_t at) const {
        return readLe<std::uint16_t>(at);
    }
    [[nodiscard]] std::optional<std::int16_t> readI16Le(std::int64_t at) const {
        auto v = readLe<std::uint16_t>(at);
        if (!v) {
            return std::nullopt;
        }
        return static_cast<std::int16_t>(*v);
    }
    [[nodiscard]] std::optional<std::uint32_t> readU32Le(std::int64_t at) const {
        return readLe<std::uint32_t>(at);
    }
    [[nodiscard]] std::optional<std::uint64_t> readU64Le(std::int64_t at) const {
        return readLe<std::uint64_t>(at);
    }
    [[nodiscard]] std::optional<std::uint16_t> readU16Be(std::int64_t at) const {
        return readBe<std::uint16_t>(at);
    }
    [[nodiscard]] std::optional<std::uint32_t> readU32Be(std::int64_t at) const {
        return readBe<std::uint32_t>(at);
    }
    [[nodiscard]] std::optional<StoreId> readId(std::int64_t at) const {
        if (!inside(at, 8)) {
            return std::nullopt;
        }
        StoreId id;
        std::memcpy(id.data(), m_data + at, id.size());
        return id;
    }

    // Where the carving rules read a byte outside the page as 0, a value that runs out of the
    // view keeps its bytes inside and has 0 for the rest.
    [[nodiscard]] std::uint16_t u16LeOr0(std::int64_t at) const { return leOr0<std::uint16_t>(at); }
    [[nodiscard]] std::uint16_t u16BeOr0(std::int64_t at) const {
        return static_cast<std::uint16_t>((byteOr0(at) << 8) | byteOr0(at + 1));
    }
    [[nodiscard]] std::uint32_t u32LeOr0(std::int64_t at) const { return leOr0<std::uint32_t>(at); }
    [[nodiscard]] std::uint64_t u64LeOr0(std::int64_t at) const { return leOr0<std::uint64_t>(at); }
    [[nodiscard]] StoreId idOr0(std::int64_t at) const {
        StoreId id{};
        for (std::size_t i = 0; i < id.size(); ++i) {
            id[i] = byteOr0(at + static_cast<std::int64_t>(i));
        }
        return id;
    }

    // First position in [from, to) holding `byte`, searched within the view only.
    [[nodiscard]] std::optional<std::int64_t> find(std::uint8_t byte, std::int64_t from,
                                                   std::int64_t to) const {
        clip(from, to, 1);
        if (from >= to) {
            return std::nullopt;
        }
        const void* hit = std::memchr(m_data + from, byte, static_cast<std::size_t>(to - from));
        if (hit == nullptr) {
            return std::nullopt;
        }
        return static_cast<const std::uint8_t*>(hit) - m_data;
    }
    // First position in [from, to) where the whole of `pattern` lies in the view and matches.
    [[nodiscard]] std::optional<std::int64_t> find(std::span<const std::uint8_t> pattern,
                                                   std::int64_t from, std::int64_t to) const {
        if (pattern.empty()) {
            return std::nullopt;
        }
        clip(from, to, pattern.size());
        if (from >= to) {
            return std::nullopt;
        }
        // memchr for the first byte, then the rest compared: store patterns are a few bytes
        // with a rare first byte, where this is several times faster than memmem.
        while (from < to) {
            const void* hit =
                std::memchr(m_data + from, pattern[0], static_cast<std::size_t>(to - from));
            if (hit == nullptr) {
                return std::nullopt;
            }
            const std::int64_t at = static_cast<const std::uint8_t*>(hit) - m_data;
            if (std::memcmp(m_data + at + 1, pattern.data() + 1, pattern.size() - 1) == 0) {
                return at;
            }
            from = at + 1;
        }
        return std::nullopt;
    }
    // Single-byte text of `len` bytes at `at`; empty when it does not fit.
    [[nodiscard]] std::string_view chars(std::int64_t at, std::size_t len) const {
        if (!inside(at, len) || len == 0) {
            return {};
        }
        return {reinterpret_cast<const char*>(m_data + at), len};
    }
    // True when the bytes at `at` equal `pattern`; false when they differ or do not fit.
    [[nodiscard]] bool matches(std::int64_t at, std::span<const std::uint8_t> pattern) const {
        return inside(at, pattern.size()) &&
               (pattern.empty() || std::memcmp(m_data + at, pattern.data(), pattern.size()) == 0);
    }
    [[nodiscard]] bool matches(std::int64_t at, std::initializer_list<std::uint8_t> pattern) const {
        return matches(at, std::span<const std::uint8_t>(pattern.begin(), pattern.size()));
    }
    // A narrower view; empty when the range does not fit.
    [[nodiscard]] ByteView sub(std::int64_t at, std::size_t len) const {
        if (!inside(at, len)) {
            return {};
        }
        return {m_data + at, len};
    }

private:
    // Narrows [from, to) to the positions where `len` bytes fit in the view.
    void clip(std::int64_t& from, std::int64_t& to, std::size_t len) const {
        if (from < 0) {
            from = 0;
        }
        const auto last = static_cast<std::int64_t>(m_size) - static_cast<std::int64_t>(len) + 1;
        if (to > last) {
            to = last;
        }
    }
    template <class T> [[nodiscard]] T leOr0(std::int64_t at) const {
        T v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            v |= static_cast<T>(T{byteOr0(at + static_cast<std::int64_t>(i))} << (8 * i));
        }
        return v;
    }
    template <class T> [[nodiscard]] std::optional<T> readBe(std::int64_t at) const {
        if (!inside(at, sizeof(T))) {
            return std::nullopt;
        }
        T v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            v = static_cast<T>((v << 8) | m_data[at + static_cast<std::int64_t>(i)]);
        }
        return v;
    }
    template <class T> [[nodiscard]] std::optional<T> readLe(std::int64_t at) const {
        if (!inside(at, sizeof(T))) {
            return std::nullopt;
        }
        T v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            v |= static_cast<T>(T{m_data[at + static_cast<std::int64_t>(i)]} << (8 * i));
        }
        return v;
    }

    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

// Walks a record front to back: each read takes its bytes at the position and moves past them;
// a read that does not fit yields nothing and moves nothing.
class ByteCursor {
public:
    ByteCursor(const ByteView& view, std::int64_t at) : m_view(view), m_at(at) {}

    [[nodiscard]] std::int64_t position() const { return m_at; }
    void skip(std::int64_t n) { m_at += n; }

    std::optional<std::uint8_t> u8() { return take(m_view.u8(m_at), 1); }
    std::optional<std::uint16_t> u16Le() { return take(m_view.readU16Le(m_at), 2); }
    std::optional<std::uint16_t> u16Be() { return take(m_view.readU16Be(m_at), 2); }
    std::optional<std::uint32_t> u32Le() { return take(m_view.readU32Le(m_at), 4); }
    std::optional<std::uint32_t> u32Be() { return take(m_view.readU32Be(m_at), 4); }
    std::optional<std::uint64_t> u64Le() { return take(m_view.readU64Le(m_at), 8); }
    std::optional<StoreId> id() { return take(m_view.readId(m_at), 8); }

private:
    template <class T> std::optional<T> take(std::optional<T> v, std::int64_t width) {
        if (v) {
            m_at += width;
        }
        return v;
    }

    ByteView m_view;
    std::int64_t m_at;
};

} // namespace edb
