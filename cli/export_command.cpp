// `edb2eml export STORE --out DIR [--format eml|mbox|maildir|pst] [--folder PATH]...`: the chosen
// folders (all when none is named) written under DIR.
#include "cli/cli_scan.h"
#include "cli/commands.h"
#include "cli/convert_run.h"
#include "cli/interrupt.h"
#include "cli/progress_bar.h"
#include "cli/terminal_text.h"
#include "deliver/output_file.h"
#include "deliver/output_names.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>

namespace edbcli {
namespace {

std::atomic<bool> g_cancel{false};

struct ExportArgs {
    std::string store;
    std::string out;
    std::string format = "eml";
    std::vector<std::string> folders;
    bool fresh = false;
    bool noSync = false;
};

// --fresh: the export must not meet an earlier one, so the folder has to be new or empty.
bool freshFolder(const std::string& out) {
    std::error_code ec;
    const std::filesystem::path dir = edb::conv::Utf8Path(out);
    const auto st = std::filesystem::symlink_status(dir, ec);
    if (!std::filesystem::exists(st)) {
        return true;
    }
    if (std::filesystem::is_directory(st) && std::filesystem::is_empty(dir, ec) && !ec) {
        return true;
    }
    std::cerr << "edb2eml: " << out
              << ": not an empty folder; --fresh needs a new one (without --fresh, an export "
                 "into it writes only the messages it does not hold yet)\n";
    return false;
}

void runExport(const ExportArgs& args) {
    // Refused before the scan: the user should not wait to learn it.
    if (const std::string why = edb::conv::MaildirUnavailableReason();
        args.format == "maildir" && !why.empty()) {
        std::cerr << "edb2eml: " << why << "; use --format eml or --format mbox\n";
        g_exitStatus = 1;
        return;
    }
    if (args.fresh && !freshFolder(args.out)) {
        g_exitStatus = 1;
        return;
    }
    auto catalog = std::make_unique<edb::StoreCatalog>();
    std::vector<edb::conv::FolderPath> chosen;
    if (!scanAndChoose(*catalog, args.store, args.folders, chosen)) {
        return;
    }
    const auto format = args.format == "mbox"      ? edb::conv::FileFormat::Mbox
                        : args.format == "maildir" ? edb::conv::FileFormat::Maildir
                        : args.format == "pst"     ? edb::conv::FileFormat::Pst
                                                   : edb::conv::FileFormat::Eml;
    const auto destination =
        edb::conv::MakeFileDestination(format, edb::conv::Utf8Path(args.out), !args.noSync);
    std::vector<std::pair<std::string, std::string>> options = {{"command", "export"}};
    if (args.fresh) {
        options.emplace_back("fresh", "yes");
    }
    if (args.noSync) {
        options.emplace_back("no-sync", "yes");
    }
    for (const std::string& f : args.folders) {
        options.emplace_back("folder", f);
    }
    const edb::conv::ConvertSummary summary =
        runConvert(*catalog, chosen, *destination, "Writing", std::move(options));
    printFailures(summary);
    for (const std::string& r : summary.remarks) {
        std::cout << r << '\n';
    }
    std::cout << "Folders: " << chosen.size()
              << ", saved completely: " << summary.savedFolders.size() << '\n'
              << "Messages saved: " << summary.saved
              << " (with missing parts noted: " << summary.notes << ")\n"
              << "Messages already in the output folder: " << summary.present << '\n'
              << "Messages skipped: " << summary.skipped
              << (summary.cancelled ? " (interrupted)" : "") << '\n'
              << "Messages failed: " << summary.failed << '\n'
              << "Output folder: " << args.out << '\n';
    if (summary.cancelled) {
        std::cout << "Interrupted in " << summary.interruptedIn
                  << "; the same command again writes the rest\n";
    }
    printKept(summary);
    if (!summary.manifestPath.empty()) {
        std::cout << "Manifest: " << summary.manifestPath.string() << '\n';
    }
    if (!summary.logPath.empty()) {
        std::cout << "Export log: " << summary.logPath.string() << '\n';
    }
    if (summary.logFailed) {
        std::cerr << "edb2eml: the export log was not written; it says:\n" << summary.logText;
    }
    g_exitStatus = summary.logFailed || summary.manifestFailed
                       ? std::max(1, convertExitStatus(summary))
                       : convertExitStatus(summary);
}

} // namespace

bool scanAndChoose(edb::StoreCatalog& catalog, const std::string& store,
                   const std::vector<std::string>& folders,
                   std::vector<edb::conv::FolderPath>& chosen) {
    const edb::ScanResult result = scanStore(catalog, store, true);
    if (result.outcome != edb::ScanOutcome::Complete) {
        g_exitStatus = exitStatusFor(result);
        return false;
    }
    const auto all = edb::conv::ListFolders(catalog);
    chosen = all;
    if (!folders.empty()) {
        std::vector<std::string> unknown;
        chosen = edb::conv::SelectFolders(all, folders, &unknown);
        for (const std::string& u : unknown) {
            std::cerr << "edb2eml: no folder \"" << TerminalText(u) << "\" in the store\n";
        }
        if (!unknown.empty()) {
            g_exitStatus = 1;
            return false;
        }
    }
    return true;
}

edb::conv::ConvertSummary runConvert(const edb::StoreCatalog& catalog,
                                     const std::vector<edb::conv::FolderPath>& chosen,
                                     edb::conv::Destination& destination,
                                     const std::string& label,
                                     std::vector<std::pair<std::string, std::string>> runOptions) {
    ProgressBar bar(label, true);
    edb::conv::ConvertOptions options;
    options.program = "edb2eml";
    options.runOptions = std::move(runOptions);
    options.destination = &destination;
    options.cancel = &g_cancel;
    const auto start = std::chrono::steady_clock::now();
    options.progress = [&](const edb::conv::ConvertProgress& p) {
        if (p.total == 0) {
            return;
        }
        const double secs =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char detail[96];
        std::snprintf(detail, sizeof detail, "%zu/%zu messages, %.1f/s", p.done, p.total,
                      secs > 0 ? static_cast<double>(p.done) / secs : 0.0);
        bar.show(static_cast<int>(p.done * 100 / p.total), detail);
    };
    g_cancel.store(false);
    edb::conv::ConvertSummary summary;
    {
        const InterruptGuard guard(g_cancel);
        summary = edb::conv::Convert(catalog, chosen, options);
    }
    bar.finish();
    static_cast<void>(reportIfStoreChanged(catalog));
    // Pages the scan read well may fail when Convert reads them again.
    if (!g_storeIncomplete) {
        noteUnreadable(catalog.storeFile.fileName(), catalog.storeFile.unreadable().list());
    }
    return summary;
}

int convertExitStatus(const edb::conv::ConvertSummary& summary) {
    // Stopped by a signal: the status a shell gives a program the signal ended (130, 143).
    if (summary.cancelled) {
        return std::max(1, InterruptGuard::exitStatus());
    }
    return summary.failed > 0 ? 1 : 0;
}

void printKept(const edb::conv::ConvertSummary& summary) {
    if (summary.kept.empty()) {
        return;
    }
    std::cout << summary.kept.size()
              << " file(s) in the output folder do not match the manifest or an export: kept as "
                 "they are, and their messages written again:\n";
    for (const edb::conv::KeptFile& k : summary.kept) {
        std::cout << "  " << TerminalText(k.path);
        if (k.offset) {
            std::cout << " (message at byte " << *k.offset << ")";
        }
        std::cout << ": " << TerminalText(k.reason) << '\n';
    }
}

void printFailures(const edb::conv::ConvertSummary& summary) {
    for (const auto& f : summary.failures) {
        std::cerr << "edb2eml: " << TerminalText(f.folder);
        if (!f.item.empty()) {
            std::cerr << " \"" << TerminalText(f.item) << "\"";
        }
        std::cerr << ": " << TerminalText(f.reason) << '\n';
    }
}

bool MaildirAvailable() {
    return edb::conv::MaildirUnavailableReason().empty();
}

void addExportCommand(CLI::App& app) {
    // The help names only the formats this build writes; "maildir" is still taken where it is
    // missing, so the refusal can say why.
    const bool maildir = MaildirAvailable();
    auto* cmd = app.add_subcommand(
        "export", maildir ? "Scan STORE and write its folders as .eml files (contacts also as "
                            ".vcf), mbox files, a Maildir or PST files"
                          : "Scan STORE and write its folders as .eml files (contacts also as "
                            ".vcf), mbox files or PST files");
    auto args = std::make_shared<ExportArgs>();
    cmd->add_option("STORE", args->store, "the .edb file")->required();
    cmd->add_option("--out,-o", args->out, "output folder (created when missing)")->required();
    auto* format = cmd->add_option(
        "--format", args->format,
        maildir ? "eml (default): one .eml per message, one directory per folder; mbox: "
                  "DIR/Mailbox/Inbox.mbox, subfolders in Inbox.sbd/ (mboxrd); maildir: a "
                  "Maildir++ tree per mailbox (DIR/Mailbox/.Inbox.Projects/cur); pst: one "
                  "Outlook data file per mailbox (DIR/Mailbox.pst)"
                : "eml (default): one .eml per message, one directory per folder; mbox: "
                  "DIR/Mailbox/Inbox.mbox, subfolders in Inbox.sbd/ (mboxrd); pst: one "
                  "Outlook data file per mailbox (DIR/Mailbox.pst)");
    if (maildir) {
        format->check(CLI::IsMember({"eml", "mbox", "maildir", "pst"}));
    } else {
        format->check(CLI::Validator(
            [](std::string& value) -> std::string {
                return value == "eml" || value == "mbox" || value == "maildir" || value == "pst"
                           ? std::string()
                           : value + " not in {eml,mbox,pst}";
            },
            "{eml,mbox,pst}"));
    }
    cmd->add_flag("--fresh", args->fresh,
                  "refuse an output folder that is not empty; without it, an export into a "
                  "folder an earlier export wrote adds only the messages it lacks");
    cmd->add_flag("--no-sync", args->noSync,
                  "do not flush files and folders to the disk as they are written (faster; for "
                  "a scratch disk: a power cut can leave named files empty)");
    cmd->add_option("--folder,-f", args->folders,
                    "folder path as the tree shows it, names joined by \\ (for example "
                    "\"Mailbox\\Inbox\"); the folder and everything below it. Repeatable; "
                    "all folders when none is given");
    cmd->callback([args] { runExport(*args); });
    addUploadCommand(app);
    addVerifyCommand(app);
}

} // namespace edbcli
