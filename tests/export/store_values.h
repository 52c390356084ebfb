#pragma once
// Value layouts for hand-built test stores (as export/value_reader.h documents them) and small
// helpers for the expectations that tests hand to the Python checker.
#include "catalog/catalog.h"
#include "tests/support/store_builder.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace edbtest {
using edb::FolderId;

inline FolderId id(std::uint8_t n) {
    return FolderId{0x01, 0, 0, 0, 0, 0, 0x10, n};
}

inline std::vector<std::uint8_t> bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

inline void putChunk(Page& p, std::size_t at, std::uint16_t ref, std::uint32_t offset,
                     const std::vector<std::uint8_t>& data) {
    p.u16le(at, ref).u32be(at + 2, offset).u16le(at + 6, static_cast<std::uint16_t>(data.size()));
    p.put(at + 8, data);
}

// Marker, u32 LE count, text: how a plain body value is laid out.
inline std::vector<std::uint8_t> plainValue(std::string_view text, std::uint8_t marker) {
    std::vector<std::uint8_t> v{marker, 0x04};
    const auto n = static_cast<std::uint32_t>(text.size());
    for (int i = 0; i < 4; ++i) {
        v.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    }
    v.insert(v.end(), text.begin(), text.end());
    return v;
}

// A header byte and a stored ("MELA") RTF stream.
inline std::vector<std::uint8_t> storedRtfValue(std::string_view rtf) {
    std::vector<std::uint8_t> v{0x00};
    const auto le = [&](std::uint32_t x) {
        for (int i = 0; i < 4; ++i) {
            v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
        }
    };
    le(static_cast<std::uint32_t>(rtf.size() + 12));
    le(static_cast<std::uint32_t>(rtf.size()));
    v.insert(v.end(), {'M', 'E', 'L', 'A', 0, 0, 0, 0});
    v.insert(v.end(), rtf.begin(), rtf.end());
    return v;
}

inline std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", b);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

inline std::string hexOf(const std::vector<std::uint8_t>& b) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (const auto x : b) {
        s += d[x >> 4];
        s += d[x & 15];
    }
    return s;
}

} // namespace edbtest
