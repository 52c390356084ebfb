#pragma once
// Compressed-RTF streams for test stores: every byte a literal, then the end reference. Valid
// "LZFu" streams with a correct CRC, without any compression.
#include <cstdint>
#include <string_view>
#include <vector>

namespace edbtest {

std::vector<std::uint8_t> lzfuLiteralStream(std::string_view rtf);
std::uint32_t lzfuCrc(const std::uint8_t* data, std::size_t size);

} // namespace edbtest
