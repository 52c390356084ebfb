#pragma once
#include "store/scan.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace edbcli {

nlohmann::ordered_json catalogToJson(const edb::StoreCatalog& catalog,
                                     const edb::ScanResult& result);
// The same document as catalogToJson(...).dump(2) followed by a newline, written as it goes:
// the messages are serialized one by one, so memory does not grow with the message count.
void writeCatalogJson(std::FILE* out, const edb::StoreCatalog& catalog,
                      const edb::ScanResult& result);
std::string kindText(char kind); // "a", "c" or ""

} // namespace edbcli
