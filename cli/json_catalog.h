#pragma once
#include <nlohmann/json.hpp>

#include "store/scan.h"

namespace edbcli {

nlohmann::ordered_json catalogToJson(const edb::StoreCatalog& catalog, const edb::ScanResult& result);
std::string kindText(char kind); // "a", "c" or ""

} // namespace edbcli
