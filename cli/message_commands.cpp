// `edb2eml find` (messages by sender, subject and date over every mailbox) and `edb2eml show`
// (one message as the .eml file Convert would write). Both read through the export engine's
// units that the window's Find and message viewer use.
#include "cli/cli_scan.h"
#include "cli/cli_views.h"
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "content/message_content.h"
#include "views/message_search.h"
#include "views/message_list.h"

#include <charconv>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <unordered_set>

namespace edbcli {
namespace {

using json = nlohmann::ordered_json;

struct FindArgs {
    std::string store;
    std::string from;
    std::string subject;
    std::string after;
    std::string before;
    bool json = false;
};

struct Found {
    edb::conv::SearchMatch match;
    std::string reference;
};

// References of the matched entries, in one walk of the list.
void nameMatches(const edb::StoreCatalog& catalog, std::vector<Found>& found) {
    std::unordered_map<const edb::MessageEntry*, std::size_t> wanted;
    for (std::size_t i = 0; i < found.size(); ++i) {
        wanted.emplace(found[i].match.entry, i);
    }
    std::unordered_map<std::uint64_t, std::size_t> seen;
    std::unordered_set<std::uint64_t> shared;
    for (const edb::MessageEntry& m : catalog.messages) {
        if (++seen[edb::IdKey(m.messageId)] > 1) {
            shared.insert(edb::IdKey(m.messageId));
        }
    }
    seen.clear();
    for (const edb::MessageEntry& m : catalog.messages) {
        const std::size_t k = ++seen[edb::IdKey(m.messageId)];
        if (const auto it = wanted.find(&m); it != wanted.end()) {
            std::string ref = edb::ToHex(m.messageId);
            if (shared.count(edb::IdKey(m.messageId)) != 0 && k > 1) {
                ref += '.' + std::to_string(k);
            }
            found[it->second].reference = std::move(ref);
        }
    }
}

// A day option: empty gives no bound; a text that is no date is an error naming the option.
bool dayArgument(const std::string& text, const char* option, std::optional<std::uint64_t>& out) {
    if (text.empty()) {
        return true;
    }
    out = edb::conv::LocalDayStart(text);
    if (!out) {
        std::cerr << "edb2eml: " << option << " expects a date as YYYY-MM-DD, got \""
                  << TerminalText(text) << "\"\n";
        g_exitStatus = 1;
        return false;
    }
    return true;
}

void runFind(const FindArgs& args) {
    edb::conv::SearchQuery query;
    query.from = args.from;
    query.subject = args.subject;
    if (!dayArgument(args.after, "--after", query.after) ||
        !dayArgument(args.before, "--before", query.before)) {
        return;
    }
    const auto s = scanAndBuild(args.store);
    if (s->result.outcome == edb::ScanOutcome::OpenFailed) {
        return; // said on stderr
    }
    edb::conv::FolderPaths paths(*s->catalog);
    std::vector<Found> found;
    (void)edb::conv::FindMessages(*s->catalog, paths, query, [&](edb::conv::SearchMatch&& m) {
        found.push_back(Found{std::move(m), {}});
        return true;
    });
    nameMatches(*s->catalog, found);
    if (args.json) {
        json out = json::array();
        for (const Found& f : found) {
            const auto& p = *f.match.folder;
            out.push_back({{"message", f.reference},
                           {"mailbox", p.attached ? p.names.front() : std::string()},
                           {"folder", p.treePath},
                           {"number", f.match.number},
                           {"from", f.match.sender},
                           {"subject", f.match.subject},
                           {"date", edb::views::ListDateText(f.match.filetime)}});
        }
        std::cout << out.dump(2) << '\n';
        static_cast<void>(reportIfStoreChanged(*s->catalog));
        return;
    }
    for (const Found& f : found) {
        std::cout << f.reference << "  " << TerminalText(f.match.folder->treePath) << f.match.number
                  << "  " << edb::views::ListDateText(f.match.filetime) << "  "
                  << TerminalText(f.match.sender) << "  " << TerminalText(f.match.subject) << '\n';
    }
    std::cout << found.size() << (found.size() == 1 ? " message" : " messages") << " found\n";
    static_cast<void>(reportIfStoreChanged(*s->catalog));
}

// MESSAGE as `find` prints it (message id, ".k" for a later entry of a shared id) or as `list`
// and `rows` give it: the folder path followed by the row number ("Ann\\Inbox\\3").
const edb::MessageEntry* resolveMessage(const Scanned& s, const std::string& wanted) {
    if (const edb::MessageEntry* m = edb::conv::FindMessageByReference(*s.catalog, wanted)) {
        return m;
    }
    const auto cut = wanted.find_last_of("\\/");
    if (cut == std::string::npos || cut + 1 >= wanted.size()) {
        return nullptr;
    }
    std::size_t number = 0;
    const std::string digits = wanted.substr(cut + 1);
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || number == 0) {
        return nullptr;
    }
    const auto items = findFolder(s.tree, wanted.substr(0, cut));
    if (items.empty()) {
        return nullptr;
    }
    const edb::views::MessageListing listing =
        edb::views::ListMessages(*s.catalog, s.tree.node(items.front()).folder);
    return number <= listing.rows.size() ? listing.rows[number - 1].entry : nullptr;
}

void runShow(const std::string& store, const std::string& message) {
    const auto s = scanAndBuild(store);
    if (s->result.outcome == edb::ScanOutcome::OpenFailed) {
        return; // said on stderr
    }
    const edb::MessageEntry* m = resolveMessage(*s, message);
    if (m == nullptr) {
        std::cerr << "edb2eml: no message \"" << TerminalText(message) << "\" in "
                  << TerminalText(store)
                  << ". MESSAGE is a message id as `find` prints it, or a folder path and row "
                     "number as `list` shows them (Mailbox\\Inbox\\3)\n";
        g_exitStatus = 1;
        return;
    }
    try {
        const std::string eml = edb::conv::RenderMessageEml(
            *s->catalog, *m, edb::conv::MessageFolderPath(*s->catalog, *m));
        std::cout.write(eml.data(), static_cast<std::streamsize>(eml.size())); // checked at the end
        static_cast<void>(reportIfStoreChanged(*s->catalog));
    } catch (const std::exception& e) {
        std::cerr << "edb2eml: cannot read the message from " << TerminalText(store) << ": "
                  << TerminalText(e.what()) << '\n';
        g_exitStatus = 1;
    }
}

} // namespace

void addMessageCommands(CLI::App& app) {
    auto* show = app.add_subcommand(
        "show", "One message written to standard output as the .eml file `export` would make");
    auto showStore = std::make_shared<std::string>();
    auto showMessage = std::make_shared<std::string>();
    show->add_option("STORE", *showStore, "the .edb file")->required();
    show->add_option("MESSAGE", *showMessage,
                     "the message id as `find` prints it (16 hex digits, \".2\" for a second "
                     "entry of the same id), or a folder path and the row number `list` shows, "
                     "e.g. \"Mailbox\\Inbox\\3\"")
        ->required();
    show->callback([showStore, showMessage] { runShow(*showStore, *showMessage); });

    auto* find = app.add_subcommand(
        "find", "Messages of every mailbox whose sender, subject and date match; each line "
                "names the message (for `show`), its folder path and row number, date, sender "
                "and subject");
    auto args = std::make_shared<FindArgs>();
    find->add_option("STORE", args->store, "the .edb file")->required();
    find->add_option("--from", args->from, "text in the sender (letter case ignored)");
    find->add_option("--subject", args->subject, "text in the subject (letter case ignored)");
    find->add_option("--after", args->after, "sent on or after this day, YYYY-MM-DD (local time)");
    find->add_option("--before", args->before, "sent before this day, YYYY-MM-DD (local time)");
    find->add_flag("--json", args->json,
                   "JSON: [{message, mailbox, folder, number, from, subject, date}]");
    find->callback([args] { runFind(*args); });
}

} // namespace edbcli
