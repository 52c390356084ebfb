#include "deliver/imap_destination.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iterator>
#include <new>
#include <optional>
#include <set>
#include <unordered_map>

namespace edb::conv {
namespace {

// What is kept between answers (mailbox names, the open folder's Message-IDs); the rest of the
// budget is for the answer being read: a line, a literal and the receive buffer.
constexpr std::size_t kKeptBudget = kUploadMemoryBudget - (std::size_t{16} << 20);
// What keeping one name costs beyond its bytes: string, node and hash bucket.
constexpr std::size_t kEntryCost = 64;

// Our own limits on a mailbox name's modified UTF-7 form: one level and the whole path.
constexpr std::size_t kMaxPath = 1000;
// One level, then shorter for a server that still refuses the name for its length.
constexpr std::size_t kShorter[] = {200, 120, 60, 30, 16};

std::string join(const std::vector<std::string>& levels, std::size_t count, char sep) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) {
            out.push_back(sep);
        }
        out.append(levels[i]);
    }
    return out;
}

class ImapDestination final : public Destination {
public:
    ImapDestination(ImapSettings settings, bool dryRun)
        : m_settings(std::move(settings)), m_dryRun(dryRun) {}

    void openFolder(const FolderPath& f) override {
        std::vector<std::string> names = f.names;
        if (!f.attached) {
            names.insert(names.begin(), kUnattachedFolderName);
        }
        try {
            connect();
            const char sep = m_session->separator();
            auto levels = m_namer.unique(names, MailboxLevels(m_settings.url.prefix, names, sep),
                                         m_settings.url.prefix.size());
            m_display = join(levels, levels.size(), sep);
            levels = resolve(levels, sep);
            m_display = join(levels, levels.size(), sep);
            m_mailbox = EncodeMailboxName(m_display);
            m_present = {};
            m_presentBytes = 0;
            if (m_known.count(m_mailbox) != 0) {
                findPresent();
            }
        } catch (const ImapError& e) {
            throw translate(e, "folder \"" + m_display + "\"");
        } catch (const std::bad_alloc&) {
            throw DestinationError("out of memory reading the server's answers", true);
        }
    }

    WriteResult write(const OutgoingMessage& m) override {
        // One copy on the server stands for one message: two messages with one Message-ID
        // both arrive.
        if (const auto it = m.key.empty() ? m_present.end() : m_present.find(m.key);
            it != m_present.end() && it->second > 0) {
            --it->second;
            return WriteResult::AlreadyPresent;
        }
        if (!m_dryRun) {
            try {
                m_session->append(m_mailbox, m.eml, m.time);
            } catch (const ImapError& e) {
                throw translate(e, "APPEND to \"" + m_display + "\"");
            } catch (const std::bad_alloc&) {
                throw DestinationError("out of memory sending the message", false);
            }
        }
        return WriteResult::Written;
    }

    void closeFolder() override {}
    std::string folderLocation() const override { return m_display; }
    std::string lastWritten() const override { return m_display; }

private:
    using Levels = std::vector<std::string>;

    // The messages the open folder holds, by key, counted; one request per batch of them.
    // They are kept within the budget: a folder that needs more fails, with nothing sent to it.
    void findPresent() {
        bool over = false;
        m_session->fetchHeaders(m_mailbox, "MESSAGE-ID X-EDB-MESSAGE-ID", [&](std::string&& h) {
            std::string key = MessageKey(h);
            if (key.empty()) {
                return true;
            }
            const auto [it, added] = m_present.try_emplace(std::move(key), 0);
            ++it->second;
            if (added) {
                m_presentBytes += it->first.size() + kEntryCost;
            }
            over = m_namesBytes + m_presentBytes > kKeptBudget;
            return !over;
        });
        if (over) {
            const std::size_t read = m_present.size();
            m_present = {};
            m_presentBytes = 0;
            throw DestinationError("folder \"" + m_display +
                                       "\": the Message-IDs it holds on the server need more "
                                       "than the upload's memory budget of " +
                                       std::to_string(kUploadMemoryBudget >> 20) + " MiB (" +
                                       std::to_string(read) + " read); nothing was uploaded to it",
                                   false);
        }
    }

    // The folder's levels as the server has them, found or created. Names over our limits
    // are shortened; a name the server refuses (for its length, its characters or a path too
    // long for its disk) is tried shorter and with only plain characters, level by level
    // under the parents already settled, then with every level shorter. Each step depends only
    // on the names and the server's answers, so a rerun arrives at the same mailbox, and finds
    // it without asking the server anything.
    Levels resolve(const Levels& levels, char sep) {
        if (auto found = findKnown(levels, sep)) {
            return *found;
        }
        Levels out;
        if (m_dryRun) {
            for (const std::string& name : levels) {
                out.push_back(candidates(out, name, sep).front());
            }
            return out;
        }
        std::optional<ImapError> refusal;
        m_shortestRefused = SIZE_MAX;
        for (const std::string& name : levels) {
            auto settled = settleLevel(out, name, sep, refusal);
            if (!settled) {
                break;
            }
            out.push_back(std::move(*settled));
        }
        if (out.size() == levels.size()) {
            return out;
        }
        for (std::size_t k = 1; k < std::size(kShorter); ++k) {
            const Levels plan = shortened(levels, k, sep);
            // A path as long as one refused above would fail the same way, after leaving its
            // new parents behind as empty folders.
            if (EncodeMailboxName(join(plan, plan.size(), sep)).size() >= m_shortestRefused) {
                continue;
            }
            if (createPath(plan, sep, refusal)) {
                return plan;
            }
        }
        throw refusal ? *refusal : ImapError(ImapError::Kind::Server, "cannot create it");
    }

    std::optional<Levels> findKnown(const Levels& levels, char sep) const {
        Levels out;
        for (const std::string& name : levels) {
            const Levels tries = candidates(out, name, sep);
            const auto hit = std::find_if(tries.begin(), tries.end(),
                                          [&](const std::string& c) { return known(out, c, sep); });
            if (hit == tries.end()) {
                break;
            }
            out.push_back(*hit);
        }
        if (out.size() == levels.size()) {
            return out;
        }
        for (std::size_t k = 1; k < std::size(kShorter); ++k) {
            Levels plan = shortened(levels, k, sep);
            const std::string last = plan.back();
            plan.pop_back();
            if (known(plan, last, sep)) {
                plan.push_back(last);
                return plan;
            }
        }
        return std::nullopt;
    }

    // One level under parents that exist: the first of its candidates the server has or takes.
    std::optional<std::string> settleLevel(const Levels& parents, const std::string& name, char sep,
                                      std::optional<ImapError>& refusal) {
        const Levels tries = candidates(parents, name, sep);
        for (const std::string& c : tries) {
            if (known(parents, c, sep)) {
                return c;
            }
        }
        for (const std::string& c : tries) {
            if (create(parents, c, sep, refusal)) {
                return c;
            }
        }
        return std::nullopt;
    }

    bool createPath(const Levels& plan, char sep, std::optional<ImapError>& refusal) {
        Levels parents;
        for (const std::string& name : plan) {
            if (!known(parents, name, sep) && !create(parents, name, sep, refusal)) {
                return false;
            }
            parents.push_back(name);
        }
        return true;
    }

    bool create(const Levels& parents, const std::string& name, char sep,
                std::optional<ImapError>& refusal) {
        const std::string mailbox = encoded(parents, name, sep);
        try {
            m_session->create(mailbox);
        } catch (const ImapError& e) {
            if (e.kind() != ImapError::Kind::Server) {
                throw;
            }
            refusal = e;
            m_shortestRefused = std::min(m_shortestRefused, mailbox.size());
            return false;
        }
        m_known.insert(mailbox);
        return true;
    }

    // A level's names to try, in order: shorter and shorter, then with plain characters.
    static Levels candidates(const Levels& parents, const std::string& name, char sep) {
        const std::size_t room = roomAfter(parents, sep);
        Levels out;
        for (const std::string& variant : {name, plainName(name)}) {
            for (const std::size_t limit : kShorter) {
                std::string c = ShortenMailboxName(variant, std::min(limit, room));
                if (std::find(out.begin(), out.end(), c) == out.end()) {
                    out.push_back(std::move(c));
                }
            }
        }
        return out;
    }

    // Every level cut to the k-th of our lengths.
    static Levels shortened(const Levels& levels, std::size_t k, char sep) {
        Levels out;
        for (const std::string& name : levels) {
            out.push_back(ShortenMailboxName(name, std::min(kShorter[k], roomAfter(out, sep))));
        }
        return out;
    }

    static std::size_t roomAfter(const Levels& parents, char sep) {
        const std::size_t used = parents.empty() ? 0 : encoded(parents, {}, sep).size();
        return used + 16 < kMaxPath ? kMaxPath - used : 16;
    }

    static std::string encoded(const Levels& parents, const std::string& name, char sep) {
        return EncodeMailboxName(parents.empty() ? name
                                                 : join(parents, parents.size(), sep) + sep + name);
    }

    bool known(const Levels& parents, const std::string& name, char sep) const {
        return m_known.count(encoded(parents, name, sep)) != 0;
    }

    static std::string plainName(std::string name) {
        for (char& c : name) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x80 && !std::isalnum(b) && c != ' ' && c != '-' && c != '_') {
                c = '_';
            }
        }
        return name;
    }

    void connect() {
        if (m_session) {
            return;
        }
        m_session = std::make_unique<ImapSession>(m_settings);
        for (std::string& name : m_session->listAll(kKeptBudget)) {
            m_namesBytes += name.size() + kEntryCost;
            m_known.insert(std::move(name));
        }
    }

    DestinationError translate(const ImapError& e, const std::string& what) const {
        const std::string host = m_settings.url.host + ": ";
        switch (e.kind()) {
        case ImapError::Kind::Login:
            return DestinationError(host + "login failed: " + e.what(), true);
        case ImapError::Kind::Connection:
        case ImapError::Kind::Security:
            return DestinationError(host + e.what(), true);
        case ImapError::Kind::Server:
            break;
        }
        return DestinationError(what + ": the server answered: " + e.what(), false);
    }

    ImapSettings m_settings;
    bool m_dryRun;
    std::unique_ptr<ImapSession> m_session;
    std::set<std::string> m_known;            // mailboxes on the server (modified UTF-7)
    std::size_t m_shortestRefused = SIZE_MAX; // while one folder is resolved
    std::string m_mailbox;                    // the open folder, as sent
    std::string m_display;                    // the open folder, UTF-8
    MailboxNamer m_namer;
    // The open folder's messages on the server: how many copies of each key.
    std::unordered_map<std::string, std::size_t> m_present;
    std::size_t m_presentBytes = 0; // what m_present costs, counted against the budget
    std::size_t m_namesBytes = 0;   // the same for m_known's names from the server
};

} // namespace

std::vector<std::string> MailboxLevels(const std::vector<std::string>& prefix,
                                       const std::vector<std::string>& names, char separator) {
    std::vector<std::string> levels;
    for (const auto* list : {&prefix, &names}) {
        for (std::string name : *list) {
            for (char& c : name) {
                const auto b = static_cast<unsigned char>(c);
                if (c == separator || c == '/' || c == '*' || c == '%' || b < 0x20 || b == 0x7f) {
                    c = '_';
                }
            }
            while (!name.empty() && name.back() == ' ') {
                name.pop_back();
            }
            name.erase(0, name.find_first_not_of(' ') == std::string::npos
                              ? name.size()
                              : name.find_first_not_of(' '));
            if (name.empty() || name == "." || name == "..") {
                name.assign(1, '_');
            }
            levels.push_back(std::move(name));
        }
    }
    return levels;
}

std::vector<std::string> MailboxNamer::unique(const std::vector<std::string>& names,
                                              std::vector<std::string> levels,
                                              std::size_t prefixCount) {
    // Store paths as keys: each name with its length, so no name can pose as two.
    std::string path;
    for (std::size_t i = 0; i < names.size() && prefixCount + i < levels.size(); ++i) {
        const std::string parent = path;
        path += std::to_string(names[i].size()) + ':' + names[i];
        std::string& level = levels[prefixCount + i];
        if (const auto given = m_given.find(path); given != m_given.end()) {
            level = given->second;
            continue;
        }
        // Servers take INBOX in any case as the one INBOX; every other name as it is written.
        const bool top = prefixCount + i == 0;
        const auto taken = [&](const std::string& name) {
            std::string key = name;
            if (top) {
                std::string lower = name;
                for (char& c : lower) {
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
                key = lower == "inbox" ? "INBOX" : name;
            }
            return !m_taken.insert(parent + '\0' + key).second;
        };
        const std::string base = level;
        for (int n = 2; taken(level); ++n) {
            level = base + " (" + std::to_string(n) + ")";
        }
        m_given.emplace(path, level);
    }
    return levels;
}

std::unique_ptr<Destination> MakeImapDestination(const ImapSettings& settings, bool dryRun) {
    return std::make_unique<ImapDestination>(settings, dryRun);
}

} // namespace edb::conv
