#pragma once
#include "scan/scan.h"

#include <ostream>
#include <string>

namespace edbcli {

// The whole catalog as one JSON document (two-space indentation, a newline at the end), written
// as it goes: the messages are serialized batch by batch, so memory does not grow with their count.
void writeCatalogJson(std::ostream& out, const edb::StoreCatalog& catalog,
                      const edb::ScanResult& result);
// The same text as a string, for tests and fuzzing.
[[nodiscard]] std::string catalogJsonText(const edb::StoreCatalog& catalog,
                                          const edb::ScanResult& result);
std::string kindText(char kind); // "a", "c" or ""

} // namespace edbcli
