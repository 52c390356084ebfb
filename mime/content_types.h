#pragma once
// MIME types for attachments: from the file name's extension where it is a known one, else from
// the first bytes (signatures of common formats), else text/plain for plain ASCII text, else
// application/octet-stream.
#include <cstdint>
#include <string>
#include <vector>

namespace edb::conv {

[[nodiscard]] std::string GuessContentType(const std::string& name,
                                           const std::vector<std::uint8_t>& bytes);

} // namespace edb::conv
