// `edb2eml dump STORE`: the whole catalog as one JSON document.
#include "cli/cli_scan.h"
#include "cli/commands.h"
#include "cli/json_catalog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

namespace edbcli {

void addDumpCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand("dump", "Scan STORE and print everything found as JSON");
    auto store = std::make_shared<std::string>();
    auto noJson = std::make_shared<bool>(false);
    cmd->add_option("STORE", *store, "the .edb file")->required();
    cmd->add_flag("--no-json", *noJson,
                  "scan only and print nothing (the scan's own time, for benchmarks)");
    cmd->callback([store, noJson] {
        auto catalog = std::make_unique<edb::StoreCatalog>();
        const edb::ScanResult result = scanStore(*catalog, *store, true);
        std::cout.flush();
        g_exitStatus = exitStatusFor(result);
        if (*noJson) {
            keepUntilExit(std::move(catalog));
            return;
        }
        const auto started = std::chrono::steady_clock::now();
        writeCatalogJson(std::cout, *catalog, result);
        std::cout.flush();
        // With the scan's own stage times, the benchmark also sees what the output costs.
        if (const char* env = std::getenv("EDB_STAGE_TIMES"); env != nullptr && env[0] == '1') {
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
            std::fprintf(stderr, "stage %-16s %9.3f s\n", "json-output", took.count());
        }
        keepUntilExit(std::move(catalog));
    });
}

} // namespace edbcli
