// The views on the command line: `edb2eml STORE` (summary and folder tree), `tree`, `rows` and
// `list`. Trees and rows come from the same code as the window's views.
#include "catalog/tree_build.h"
#include "cli/cli_scan.h"
#include "cli/cli_views.h"
#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "frontend/scan_texts.h"
#include "frontend/unreadable_texts.h"
#include "io/text.h"
#include "views/message_list.h"
#include "views/texts.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <vector>

namespace edbcli {
namespace {

using json = nlohmann::ordered_json;

json treeJson(const CliTree& tree, edb::TreeItem item) {
    const auto& n = tree.node(item);
    json children = json::array();
    for (const auto c : n.children) {
        children.push_back(treeJson(tree, c));
    }
    return json{{"text", n.text},
                {"image", edb::views::FolderImageIndex(n.icon)},
                {"path", n.path},
                {"children", children}};
}

json listingJson(const edb::StoreCatalog& catalog, const CliTree& tree, edb::TreeItem item) {
    const edb::views::MessageListing listing = edb::views::ListMessages(catalog, tree.node(item).folder);
    json columns = nullptr;
    if (listing.folderFound) {
        columns = json::array();
        for (const auto& c : listing.columns) {
            columns.push_back({{"text", c.heading}, {"width", c.width}});
        }
    }
    json rows = json::array();
    for (const auto& r : listing.rows) {
        rows.push_back({{"image", edb::views::RowImageIndex(r.kind)}, {"cells", r.cells}});
    }
    return json{{"path", tree.node(item).path}, {"columns", columns}, {"rows", rows}};
}

// ---- human output ----

std::size_t displayWidth(std::string_view s) {
    std::size_t n = 0;
    for (const char c : s) {
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return n;
}

// Cut to `width` characters, marking the cut with "...".
std::string fitCell(const std::string& s, std::size_t width) {
    if (displayWidth(s) <= width) {
        return s;
    }
    std::string out;
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool lead = (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
        if (lead && ++n > width - 3) {
            break;
        }
        out.push_back(s[i]);
    }
    return out + "...";
}

std::string padded(const std::string& s, std::size_t width) {
    return s + std::string(width - std::min(width, displayWidth(s)), ' ');
}

std::string groupDigits(std::uint64_t v) {
    std::string s = std::to_string(v);
    for (std::size_t i = s.size(); i > 3; i -= 3) {
        s.insert(i - 3, ",");
    }
    return s;
}

std::string sizeText(std::uint64_t bytes) {
    char buf[64];
    if (bytes >= 1024ULL * 1024 * 1024) {
        std::snprintf(buf, sizeof buf, "%.1f GB", static_cast<double>(bytes) / (1 << 30));
    } else if (bytes >= 1024ULL * 1024) {
        std::snprintf(buf, sizeof buf, "%.1f MB", static_cast<double>(bytes) / (1 << 20));
    } else {
        std::snprintf(buf, sizeof buf, "%.1f KB", static_cast<double>(bytes) / 1024);
    }
    return buf;
}

// Messages per tree item: each item counts the messages of the folder it shows, the folder
// the message view would list.
std::unordered_map<edb::TreeItem, std::size_t> messageCounts(const edb::StoreCatalog& catalog,
                                                             const CliTree& tree) {
    std::unordered_map<std::uint64_t, std::size_t> byFolder;
    for (const auto& m : catalog.messages) {
        ++byFolder[edb::IdKey(m.folderId)];
    }
    std::vector<const edb::FolderNode*> folders;
    for (const auto& f : catalog.folderList) {
        folders.push_back(&f);
    }
    std::unordered_map<edb::TreeItem, std::size_t> out;
    for (edb::TreeItem item = 1; item <= tree.size(); ++item) {
        const std::size_t f = tree.node(item).folder;
        if (f < folders.size()) {
            const auto it = byFolder.find(edb::IdKey(folders[f]->id));
            out[item] = it == byFolder.end() ? 0 : it->second;
        }
    }
    return out;
}

void printTree(const CliTree& tree, const std::unordered_map<edb::TreeItem, std::size_t>& counts,
               edb::TreeItem item, const std::string& indent, bool last, bool root) {
    const auto& n = tree.node(item);
    std::cout << indent << (root ? "" : last ? "└── " : "├── ") << TerminalText(n.text);
    if (const auto it = counts.find(item); it != counts.end()) {
        std::cout << "  (" << edb::views::MessageCountText(it->second) << ')';
    }
    std::cout << '\n';
    const std::string childIndent = root ? indent : indent + (last ? "    " : "│   ");
    for (std::size_t i = 0; i < n.children.size(); ++i) {
        printTree(tree, counts, n.children[i], childIndent, i + 1 == n.children.size(), false);
    }
}

void printSummary(const std::string& path, const Scanned& s) {
    const auto& cat = *s.catalog;
    std::size_t attachments = 0;
    cat.messages.readFields([&] {
        for (const auto& m : cat.messages) {
            attachments += m.attachments.size();
        }
    });
    const std::uint64_t pages = (cat.storeSize + 4095) / 4096;
    std::cout << "Store        " << TerminalText(path) << '\n'
              << "Size         " << sizeText(cat.storeSize) << " (" << groupDigits(cat.storeSize)
              << " bytes), " << groupDigits(pages) << " pages of 4096 bytes\n"
              << "Mailboxes    " << groupDigits(cat.mailboxList.size()) << '\n'
              << "Folders      " << groupDigits(cat.folderList.size()) << '\n'
              << "Messages     " << groupDigits(cat.messages.size()) << '\n'
              << "Attachments  " << groupDigits(attachments) << '\n';
    if (!s.result.unreadable.empty()) {
        std::cout << "Unreadable   " << edb::UnreadableSummaryText(s.result.unreadable)
                  << "; what they held is missing\n";
        for (const edb::UnreadableRange& r : s.result.unreadable) {
            std::cout << "             " << edb::UnreadableRangeText(r) << '\n';
        }
    }
    if (s.result.outcome != edb::ScanOutcome::Complete) {
        // A store that changed did let the scan finish, but over two states of the file.
        std::cout << "Scan         " << (s.result.fileChanged ? "" : "did not finish: ")
                  << TerminalText(edb::ScanEndText(s.result)) << '\n';
    }
    if (s.tree.roots().empty()) {
        return;
    }
    std::cout << "\nFolder tree (one root per mailbox):\n\n";
    const auto counts = messageCounts(cat, s.tree);
    for (const auto root : s.tree.roots()) {
        printTree(s.tree, counts, root, "", true, true);
        std::cout << '\n';
    }
    const auto& first = s.tree.node(s.tree.roots().front());
    std::string example = first.path;
    if (!first.children.empty()) {
        example = s.tree.node(first.children.front()).path;
    }
    std::cout << "To see a folder's messages:  edb2eml list '" << TerminalText(path) << "' '"
              << TerminalText(example) << "'\n";
}

void printListing(const edb::views::MessageListing& listing) {
    constexpr std::size_t kMaxWidth = 40;
    std::vector<std::string> headings;
    for (const auto& c : listing.columns) {
        headings.push_back(c.heading);
    }
    headings.insert(headings.begin() + 1, "Kind");
    std::vector<std::vector<std::string>> table;
    for (const auto& r : listing.rows) {
        std::vector<std::string> cells(headings.size());
        for (std::size_t i = 0; i < r.cells.size() && i + 1 < cells.size(); ++i) {
            cells[i == 0 ? 0 : i + 1] = fitCell(TerminalText(r.cells[i]), kMaxWidth);
        }
        cells[1] = edb::views::RowKindText(r.kind);
        table.push_back(std::move(cells));
    }
    std::vector<std::size_t> widths;
    for (const auto& h : headings) {
        widths.push_back(displayWidth(h));
    }
    for (const auto& row : table) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], displayWidth(row[i]));
        }
    }
    auto printRow = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            line += (i + 1 == cells.size() ? cells[i] : padded(cells[i], widths[i]) + "  ");
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        std::cout << line << '\n';
    };
    printRow(headings);
    std::vector<std::string> rules;
    for (const auto w : widths) {
        rules.emplace_back(w, '-');
    }
    printRow(rules);
    for (const auto& row : table) {
        printRow(row);
    }
}

int listFolder(const std::string& store, const std::string& folder) {
    const auto s = scanAndBuild(store);
    if (s->tree.size() == 0) {
        std::cerr << "edb2eml: no folder tree: the store shows no mailbox\n";
        return g_exitStatus != 0 ? g_exitStatus : 1;
    }
    const auto found = findFolder(s->tree, folder);
    if (found.empty()) {
        std::cerr << "edb2eml: no folder '" << TerminalText(folder) << "' in "
                  << TerminalText(store)
                  << ". Folder paths are mailbox\\folder\\...; these exist:\n";
        for (edb::TreeItem item = 1; item <= s->tree.size(); ++item) {
            std::cerr << "  " << TerminalText(s->tree.node(item).path) << '\n';
        }
        return 1;
    }
    const edb::TreeItem item = found.front();
    const auto& node = s->tree.node(item);
    const edb::views::MessageListing listing = edb::views::ListMessages(*s->catalog, node.folder);
    if (!listing.folderFound) {
        std::cout << TerminalText(node.path) << " is a mailbox; its folders are:\n";
        for (const auto c : node.children) {
            std::cout << "  " << TerminalText(s->tree.node(c).path) << '\n';
        }
        return g_exitStatus;
    }
    std::cout << TerminalText(node.path) << "  (" << edb::views::MessageCountText(listing.rows.size());
    if (found.size() > 1) {
        std::cout << "; " << found.size() - 1 << " more folder(s) share this path, first shown";
    }
    std::cout << ")\n\n";
    printListing(listing);
    return g_exitStatus;
}

} // namespace

// Folder paths end with "\"; people type them with or without it, often with "/", and in any
// letter case. The first spelling that matches anything wins.
std::vector<edb::TreeItem> findFolder(const CliTree& tree, const std::string& wanted) {
    auto withBackslash = [](std::string p) {
        if (p.empty() || p.back() != '\\') {
            p.push_back('\\');
        }
        return p;
    };
    const std::string exact = withBackslash(wanted);
    std::string slashed = wanted;
    std::replace(slashed.begin(), slashed.end(), '/', '\\');
    slashed = withBackslash(slashed);
    const std::string upper = edb::AsciiUpper(slashed);
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<edb::TreeItem> found;
        for (edb::TreeItem item = 1; item <= tree.size(); ++item) {
            const std::string& p = tree.node(item).path;
            if ((pass == 0 && p == exact) || (pass == 1 && p == slashed) ||
                (pass == 2 && edb::AsciiUpper(p) == upper)) {
                found.push_back(item);
            }
        }
        if (!found.empty()) {
            return found;
        }
    }
    return {};
}

void buildAllTrees(edb::StoreCatalog& catalog, CliTree& tree) {
    for (const edb::FolderNode& mailbox : catalog.mailboxList) {
        (void)edb::BuildFolderTree(catalog, mailbox, tree);
    }
}

std::unique_ptr<Scanned> scanAndBuild(const std::string& path) {
    auto s = std::make_unique<Scanned>();
    s->result = scanStore(*s->catalog, path, true);
    g_exitStatus = exitStatusFor(s->result);
    buildAllTrees(*s->catalog, s->tree);
    return s;
}

void addViewCommands(CLI::App& app) {
    auto summaryStore = std::make_shared<std::string>();
    app.add_option("STORE", *summaryStore,
                   "the .edb file: prints a summary and the folder tree of every mailbox");
    app.callback([&app, summaryStore] {
        if (!app.get_subcommands().empty()) {
            return;
        }
        if (summaryStore->empty()) {
            std::cout << app.help();
            return;
        }
        auto s = scanAndBuild(*summaryStore);
        if (s->result.outcome != edb::ScanOutcome::OpenFailed) { // already said on stderr
            printSummary(*summaryStore, *s);
        }
        keepUntilExit(std::move(s));
    });

    auto* tree = app.add_subcommand(
        "tree", "Folder tree of every mailbox, as the window shows it after picking each in turn");
    auto treeStore = std::make_shared<std::string>();
    auto treeJsonFlag = std::make_shared<bool>(false);
    tree->add_option("STORE", *treeStore, "the .edb file")->required();
    tree->add_flag("--json", *treeJsonFlag,
                   "JSON: [{text, image, path, children}], one root per mailbox");
    tree->callback([treeStore, treeJsonFlag] {
        const auto s = scanAndBuild(*treeStore);
        if (!*treeJsonFlag) {
            const auto counts = messageCounts(*s->catalog, s->tree);
            for (const auto root : s->tree.roots()) {
                printTree(s->tree, counts, root, "", true, true);
            }
            return;
        }
        json out = json::array();
        for (const auto root : s->tree.roots()) {
            out.push_back(treeJson(s->tree, root));
        }
        std::cout << out.dump(2) << '\n';
    });

    auto* rows = app.add_subcommand(
        "rows", "The message list of every folder in that tree (JSON), depth first");
    auto rowsStore = std::make_shared<std::string>();
    auto rowsJsonFlag = std::make_shared<bool>(false);
    rows->add_option("STORE", *rowsStore, "the .edb file")->required();
    rows->add_flag("--json", *rowsJsonFlag,
                   "JSON (the only output): [{path, columns: [{text, width}] | null, "
                   "rows: [{image, cells}]}]");
    // The flag's storage must outlive parsing: the callback keeps it alive.
    rows->callback([rowsStore, rowsJsonFlag] {
        const auto s = scanAndBuild(*rowsStore);
        json out = json::array();
        for (edb::TreeItem item = 1; item <= s->tree.size(); ++item) {
            if (s->tree.node(item).parent != 0) {
                out.push_back(listingJson(*s->catalog, s->tree, item));
            }
        }
        std::cout << out.dump(2) << '\n';
    });

    auto* list = app.add_subcommand("list", "One folder's messages as a table");
    auto listStore = std::make_shared<std::string>();
    auto listFolderPath = std::make_shared<std::string>();
    list->add_option("STORE", *listStore, "the .edb file")->required();
    list->add_option("FOLDER-PATH", *listFolderPath,
                     "mailbox\\folder\\... as the tree shows it ('/' works too)")
        ->required();
    list->callback(
        [listStore, listFolderPath] { g_exitStatus = listFolder(*listStore, *listFolderPath); });
}

} // namespace edbcli
