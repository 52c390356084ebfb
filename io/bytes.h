#pragma once
// Bounds-checked views over untrusted store bytes. Every read goes through inside(); a read
// that does not fit yields nothing, and the carving code says what that means at each place.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>

namespace edb {

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
    [[nodiscard]] std::optional<std::uint32_t> readU32Be(std::int64_t at) const {
        if (!inside(at, 4)) {
            return std::nullopt;
        }
        const std::uint8_t* p = m_data + at;
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
               (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
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

} // namespace edb
