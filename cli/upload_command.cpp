// `edb2eml upload STORE --url imap://USER@HOST[:PORT]/[PREFIX] [--folder PATH]... [--dry-run]`:
// the chosen folders appended to an IMAP server, skipping what the server already holds. The
// connection is encrypted (imaps:// or STARTTLS) unless --no-tls allows otherwise.
#include "cli/convert_run.h"
#include "deliver/imap_destination.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <memory>
#include <termios.h>
#include <unistd.h>

namespace edbcli {
namespace {

struct UploadArgs {
    std::string store;
    std::string url;
    std::vector<std::string> folders;
    std::string passwordFile;
    std::string caFile;
    int timeout = 60;
    bool dryRun = false;
    bool noTls = false;
};

// From the terminal, without echo. Empty when there is no terminal.
std::optional<std::string> askPassword(const std::string& prompt) {
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0 || ::isatty(STDIN_FILENO) == 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return std::nullopt;
    }
    (void)!::write(fd, prompt.data(), prompt.size());
    termios old{};
    const bool haveTermios = ::tcgetattr(fd, &old) == 0;
    if (haveTermios) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::string password;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n' && c != '\r') {
        password += c;
    }
    if (haveTermios) {
        ::tcsetattr(fd, TCSAFLUSH, &old);
    }
    (void)!::write(fd, "\n", 1);
    ::close(fd);
    return password;
}

// The password, from the environment, a file or the terminal; never from the command line.
std::optional<std::string> password(const UploadArgs& args, const edb::conv::ImapUrl& url) {
    if (!args.passwordFile.empty()) {
        std::ifstream in(args.passwordFile, std::ios::binary);
        std::string line;
        if (!in || !std::getline(in, line)) {
            std::cerr << "edb2eml: cannot read the password file " << args.passwordFile << '\n';
            return std::nullopt;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        return line;
    }
    if (const char* env = std::getenv("EDB2EML_IMAP_PASSWORD")) {
        return std::string(env);
    }
    if (auto typed = askPassword("Password for " + url.user + "@" + url.host + ": ")) {
        return typed;
    }
    std::cerr << "edb2eml: no password: set EDB2EML_IMAP_PASSWORD or give --password-file\n";
    return std::nullopt;
}

void runUpload(const UploadArgs& args) {
    g_exitStatus = 1;
    edb::conv::ImapSettings settings;
    try {
        settings.url = edb::conv::ParseImapUrl(args.url);
    } catch (const std::invalid_argument& e) {
        // Never the password, when the address holds one.
        const std::string shown = edb::conv::ImapUrlForDisplay(args.url);
        std::cerr << "edb2eml: --url " << shown << ": " << e.what()
                  << (shown != args.url ? " (EDB2EML_IMAP_PASSWORD, --password-file or the prompt)"
                                        : "")
                  << '\n';
        return;
    }
    settings.allowUnencrypted = args.noTls;
    settings.caFile = args.caFile;
    settings.timeout = std::chrono::seconds(args.timeout);
    const auto pass = password(args, settings.url);
    if (!pass) {
        return;
    }
    settings.password = *pass;
    // The login is tried before the scan, so a wrong password is told at once.
    try {
        edb::conv::ImapSession check(settings);
        if (!check.encrypted()) {
            std::cerr << "edb2eml: warning: the connection to " << settings.url.host
                      << " is not encrypted (--no-tls); the password and the mail travel as "
                         "plain text\n";
        }
    } catch (const edb::conv::ImapError& e) {
        const std::string what = e.what();
        std::cerr << "edb2eml: "
                  << (what.rfind("cannot connect to ", 0) == 0 ? "" : settings.url.host + ": ")
                  << (e.kind() == edb::conv::ImapError::Kind::Login ? "login failed: " : "") << what
                  << '\n';
        return;
    }
    auto catalog = std::make_unique<edb::StoreCatalog>();
    std::vector<edb::conv::FolderPath> chosen;
    if (!scanAndChoose(*catalog, args.store, args.folders, chosen)) {
        return;
    }
    const auto destination = edb::conv::MakeImapDestination(settings, args.dryRun);
    const auto summary =
        runConvert(*catalog, chosen, *destination, args.dryRun ? "Checking" : "Uploading");
    printFailures(summary);
    std::cout << "Folders: " << chosen.size() << '\n'
              << (args.dryRun ? "Messages to upload: " : "Messages uploaded: ") << summary.saved
              << '\n'
              << "Messages skipped as present: " << summary.present << '\n'
              << "Messages failed: " << summary.failed << '\n';
    if (summary.cancelled) {
        std::cout << "Interrupted: " << summary.skipped << " message(s) not tried\n";
    }
    if (summary.stopped) {
        std::cerr << "edb2eml: upload stopped; run the same command again to finish it\n";
    }
    g_exitStatus = convertExitStatus(summary);
}

} // namespace

bool UploadAvailable() {
    return true;
}

void addUploadCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "upload", "Scan STORE and append its folders to an IMAP server; messages the server "
                  "already holds (same Message-ID) are skipped, so a broken upload can be run "
                  "again. The password comes from EDB2EML_IMAP_PASSWORD, --password-file or "
                  "the terminal");
    auto args = std::make_shared<UploadArgs>();
    cmd->add_option("STORE", args->store, "the .edb file")->required();
    cmd->add_option("--url", args->url,
                    "imap://USER@HOST[:PORT]/[FOLDER] or imaps://...; the folders go under "
                    "FOLDER (the top level when none)")
        ->required();
    cmd->add_option("--folder,-f", args->folders,
                    "folder path as the tree shows it (\"Mailbox\\Inbox\"); the folder and "
                    "everything below it. Repeatable; all folders when none is given");
    cmd->add_flag("--dry-run", args->dryRun,
                  "log in and count what would be uploaded, without creating or appending");
    cmd->add_flag("--no-tls", args->noTls,
                  "allow an unencrypted connection: with imap:// to a server that offers no "
                  "STARTTLS, the password and the mail are sent as plain text (STARTTLS is "
                  "still used when offered). Without it the upload refuses such a server");
    cmd->add_option("--ca", args->caFile,
                    "trust the certificates in FILE (PEM), for a server with a private CA or "
                    "a self-signed certificate; SSL_CERT_FILE and SSL_CERT_DIR are honoured too")
        ->check(CLI::ExistingFile);
    cmd->add_option("--timeout", args->timeout,
                    "seconds to wait for the server before giving up (default 60); one "
                    "command may take at most four times as long, plus time to send its data")
        ->check(CLI::Range(1, 3600));
    cmd->add_option("--password-file", args->passwordFile,
                    "read the password from the first line of FILE");
    cmd->callback([args] { runUpload(*args); });
}

} // namespace edbcli
