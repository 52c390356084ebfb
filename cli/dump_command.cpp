// `edb2eml dump STORE`: the whole catalog as one JSON document.
#include "cli/cli_scan.h"
#include "cli/commands.h"
#include "cli/json_catalog.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

namespace edbcli {

void addDumpCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand("dump", "Scan STORE and print everything found as JSON");
    auto store = std::make_shared<std::string>();
    cmd->add_option("STORE", *store, "the .edb file")->required();
    cmd->callback([store] {
        auto catalog = std::make_unique<edb::StoreCatalog>();
        const edb::ScanResult result = scanStore(*catalog, *store, true);
        std::cout.flush();
        writeCatalogJson(stdout, *catalog, result);
        std::fflush(stdout);
        g_exitStatus = exitStatusFor(result);
        // The process ends right after this: freeing hundreds of thousands of entries one by one
        // only delays the exit, so the catalog is kept (reachable, for leak checkers) until the
        // system takes the memory back.
        static edb::StoreCatalog* const kept = catalog.release();
        static_cast<void>(kept);
    });
}

} // namespace edbcli
