#include "views/message_search.h"

#include <charconv>
#include <ctime>

namespace edb::conv {

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isContact(const MessageEntry& m) {
    return m.kind == kKindContact;
}

// Matches are taken under the field lock in runs, not one lock per message.
constexpr std::size_t kLockRun = 4096;

} // namespace

const FolderPath* FolderPaths::find(const FolderId& id) {
    const std::uint64_t key = IdKey(id);
    if (const auto it = m_paths.find(key); it != m_paths.end()) {
        return it->second ? &*it->second : nullptr;
    }
    // Folders the scan appended since the last look are indexed first.
    std::size_t i = 0;
    for (const FolderNode& n : m_catalog.folderList) {
        if (i++ < m_nodesSeen) {
            continue;
        }
        m_nodes.emplace(IdKey(n.id), &n);
    }
    m_nodesSeen = i;
    const auto node = m_nodes.find(key);
    if (node == m_nodes.end()) {
        return nullptr; // not cached: the folder may still be found later
    }
    auto& slot = m_paths[key];
    slot = PathOf(m_catalog, *node->second);
    return &*slot;
}

std::size_t FindMessages(const StoreCatalog& catalog, FolderPaths& paths, const SearchQuery& query,
                         const std::function<bool(SearchMatch&&)>& onMatch,
                         const std::atomic<bool>* cancel) {
    // Row numbers as the listing counts them: per folder id, every message of it.
    std::unordered_map<std::uint64_t, std::size_t> numbers;
    std::vector<SearchMatch> run;
    std::size_t looked = 0;
    // Each needle is folded once; the texts are folded as they are compared.
    const views::TextMatcher text(query.text);
    const views::TextMatcher from(query.from);
    const views::TextMatcher subject(query.subject);
    auto it = catalog.messages.begin();
    const auto end = catalog.messages.end();
    while (it != end) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
            return looked;
        }
        run.clear();
        catalog.messages.readFields([&] {
            // Sender and FILETIME may still change under the scan.
            for (std::size_t n = 0; n < kLockRun && it != end; ++n, ++it) {
                const MessageEntry& m = *it;
                ++looked;
                const std::size_t number = ++numbers[IdKey(m.folderId)];
                if (isContact(m)) {
                    continue;
                }
                if ((query.after && m.filetime < *query.after) ||
                    (query.before && m.filetime >= *query.before) ||
                    !from.foundIn(m.sender) || !subject.foundIn(m.subject) ||
                    (!text.foundIn(m.sender) && !text.foundIn(m.subject))) {
                    continue;
                }
                SearchMatch match;
                match.entry = &m;
                match.number = number;
                match.sender = m.sender;
                match.subject = m.subject;
                match.filetime = m.filetime;
                run.push_back(std::move(match));
            }
        });
        for (SearchMatch& match : run) {
            match.folder = paths.find(match.entry->folderId);
            if (match.folder == nullptr) {
                continue;
            }
            if (!onMatch(std::move(match))) {
                return looked;
            }
        }
    }
    return looked;
}

views::ListRow FindResultRow(const SearchMatch& match, std::uint64_t number) {
    views::ListRow row;
    row.kind = views::RowKind::Mail;
    row.number = number;
    row.filetime = match.filetime;
    row.entry = match.entry;
    const FolderPath* folder = match.folder;
    std::string mailbox;
    std::string path;
    if (folder != nullptr) {
        mailbox = folder->attached ? folder->names.front() : std::string();
        path = folder->treePath;
        if (!path.empty()) {
            path.pop_back();
        }
    }
    row.cells = {std::move(mailbox), std::move(path), match.sender, match.subject,
                 views::ListDateText(match.filetime)};
    return row;
}

std::optional<std::uint64_t> LocalDayStart(std::string_view date) {
    int year = 0;
    int month = 0;
    int day = 0;
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') {
        return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t len, int& out) {
        const char* first = date.data() + at;
        const auto r = std::from_chars(first, first + len, out);
        return r.ec == std::errc() && r.ptr == first + len;
    };
    if (!number(0, 4, year) || !number(5, 2, month) || !number(8, 2, day) || year < 1601 ||
        month < 1 || month > 12 || day < 1 || day > 31) {
        return std::nullopt;
    }
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_isdst = -1;
    const std::time_t local = std::mktime(&t);
    if (local == static_cast<std::time_t>(-1) || t.tm_mday != day) {
        return std::nullopt; // 31 April and the like roll over: refused
    }
    constexpr std::int64_t kSeconds1601To1970 = 11'644'473'600;
    const std::int64_t seconds = static_cast<std::int64_t>(local) + kSeconds1601To1970;
    if (seconds < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(seconds) * 10'000'000ULL;
}

FolderPath MessageFolderPath(const StoreCatalog& catalog, const MessageEntry& m) {
    for (const FolderNode& n : catalog.folderList) {
        if (n.id == m.folderId) {
            return PathOf(catalog, n);
        }
    }
    return {};
}

std::string MessageReference(const StoreCatalog& catalog, const MessageEntry& m) {
    std::size_t k = 0;
    for (const MessageEntry& other : catalog.messages) {
        if (other.messageId == m.messageId) {
            ++k;
        }
        if (&other == &m) {
            break;
        }
    }
    std::string ref = ToHex(m.messageId);
    if (k > 1) {
        ref += '.' + std::to_string(k);
    }
    return ref;
}

const MessageEntry* FindMessageByReference(const StoreCatalog& catalog,
                                           std::string_view reference) {
    std::string_view hex = reference;
    std::size_t k = 1;
    if (const auto dot = reference.find('.'); dot != std::string_view::npos) {
        hex = reference.substr(0, dot);
        const std::string_view rest = reference.substr(dot + 1);
        const auto r = std::from_chars(rest.data(), rest.data() + rest.size(), k);
        if (r.ec != std::errc() || r.ptr != rest.data() + rest.size() || k == 0) {
            return nullptr;
        }
    }
    if (hex.size() != 16) {
        return nullptr;
    }
    std::string lower(hex);
    for (char& c : lower) {
        c = lowerAscii(c);
    }
    for (const MessageEntry& m : catalog.messages) {
        if (ToHex(m.messageId) == lower && --k == 0) {
            return &m;
        }
    }
    return nullptr;
}

} // namespace edb::conv
