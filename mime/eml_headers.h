#pragma once
// The headers a reader shows (From, To, Date, Subject), read back from a written .eml file by
// the MIME parser, so what the viewer shows is what the file says.
#include <string>

namespace edb::conv {

struct EmlHeaders {
    std::string from;    // decoded, "Name <address>" or the group's display name
    std::string to;      // decoded; empty when the file has none
    std::string date;    // as written
    std::string subject; // decoded
};

[[nodiscard]] EmlHeaders ReadEmlHeaders(const std::string& eml);

} // namespace edb::conv
