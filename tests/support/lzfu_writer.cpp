#include "tests/support/lzfu_writer.h"

#include <array>

namespace edbtest {

namespace {
constexpr std::uint32_t kPrefixLength = 207; // the dictionary's preset text
constexpr std::uint32_t kDictionary = 4096;

void putU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
} // namespace

std::uint32_t lzfuCrc(const std::uint8_t* data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return crc;
}

std::vector<std::uint8_t> lzfuLiteralStream(std::string_view rtf) {
    std::vector<std::uint8_t> out(16, 0);
    const std::size_t tokens = rtf.size() + 1; // the literals and the end reference
    for (std::size_t run = 0; run < tokens; run += 8) {
        const std::size_t controlAt = out.size();
        out.push_back(0);
        for (std::size_t t = run; t < run + 8 && t < tokens; ++t) {
            if (t < rtf.size()) {
                out.push_back(static_cast<std::uint8_t>(rtf[t]));
            } else {
                const std::uint32_t end = (kPrefixLength + rtf.size()) % kDictionary;
                out[controlAt] |= static_cast<std::uint8_t>(1U << (t - run));
                out.push_back(static_cast<std::uint8_t>(end >> 4));
                out.push_back(static_cast<std::uint8_t>((end & 0x0F) << 4));
            }
        }
    }
    putU32(out, 0, static_cast<std::uint32_t>(out.size() - 4)); // contents + 12
    putU32(out, 4, static_cast<std::uint32_t>(rtf.size()));
    out[8] = 'L';
    out[9] = 'Z';
    out[10] = 'F';
    out[11] = 'u';
    putU32(out, 12, lzfuCrc(out.data() + 16, out.size() - 16));
    return out;
}

} // namespace edbtest
