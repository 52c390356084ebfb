// `edb2eml export STORE --out DIR [--folder PATH]...`: the chosen folders (all when none is
// named) written as .eml files under DIR.
#include "cli/cli_scan.h"
#include "cli/commands.h"
#include "cli/progress_bar.h"
#include "export/convert.h"
#include "store/cancel.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace edbcli {
namespace {

edb::CancelToken g_cancel;

extern "C" void onInterrupt(int) {
    g_cancel.cancel(edb::StopReason::Interrupted);
}

struct ExportArgs {
    std::string store;
    std::string out;
    std::vector<std::string> folders;
};

void runExport(const ExportArgs& args) {
    auto catalog = std::make_unique<edb::StoreCatalog>();
    const edb::ScanResult result = scanStore(*catalog, args.store, true);
    if (result.outcome != edb::ScanOutcome::Complete) {
        g_exitStatus = exitStatusFor(result);
        return;
    }
    const auto all = edb::conv::ListFolders(*catalog);
    std::vector<edb::conv::FolderPath> chosen = all;
    if (!args.folders.empty()) {
        std::vector<std::string> unknown;
        chosen = edb::conv::SelectFolders(all, args.folders, &unknown);
        for (const std::string& u : unknown) {
            std::cerr << "edb2eml: no folder \"" << u << "\" in the store\n";
        }
        if (!unknown.empty()) {
            g_exitStatus = 1;
            return;
        }
    }

    ProgressBar bar("Writing", true);
    edb::conv::ConvertOptions options;
    options.outDir = args.out;
    options.cancel = g_cancel.flag();
    options.progress = [&bar](const edb::conv::ConvertProgress& p) {
        if (p.total != 0) {
            bar.show(static_cast<int>(p.done * 100 / p.total));
        }
    };
    auto previous = std::signal(SIGINT, onInterrupt);
    const edb::conv::ConvertSummary summary = edb::conv::Convert(*catalog, chosen, options);
    std::signal(SIGINT, previous);
    bar.finish();

    for (const auto& f : summary.failures) {
        std::cerr << "edb2eml: " << f.folder;
        if (!f.item.empty()) {
            std::cerr << " \"" << f.item << "\"";
        }
        std::cerr << ": " << f.reason << '\n';
    }
    std::cout << "Folders: " << chosen.size()
              << ", saved completely: " << summary.savedFolders.size() << '\n'
              << "Messages saved: " << summary.saved
              << " (with missing parts noted: " << summary.notes << ")\n"
              << "Messages skipped: " << summary.skipped
              << (summary.cancelled ? " (interrupted)" : "") << '\n'
              << "Messages failed: " << summary.failed << '\n'
              << "Output folder: " << args.out << '\n';
    if (!summary.logPath.empty()) {
        std::cout << "Export log: " << summary.logPath.string() << '\n';
    }
    g_exitStatus = (summary.failed > 0 || summary.cancelled) ? 1 : 0;
}

} // namespace

void addExportCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "export", "Scan STORE and write its folders as .eml files (contacts also as .vcf)");
    auto args = std::make_shared<ExportArgs>();
    cmd->add_option("STORE", args->store, "the .edb file")->required();
    cmd->add_option("--out,-o", args->out, "output folder (created when missing)")->required();
    cmd->add_option("--folder,-f", args->folders,
                    "folder path as the tree shows it, names joined by \\ (for example "
                    "\"Mailbox\\Inbox\"); the folder and everything below it. Repeatable; "
                    "all folders when none is given");
    cmd->callback([args] { runExport(*args); });
}

} // namespace edbcli
