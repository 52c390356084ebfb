#include "export/imap_destination.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <new>
#include <set>
#include <unordered_set>

namespace edb::conv {
namespace {

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
            auto levels = MailboxLevels(m_settings.url.prefix, names, sep);
            m_display = join(levels, levels.size(), sep);
            for (std::size_t n = 1; n <= levels.size(); ++n) {
                settle(levels, n, sep);
            }
            m_display = join(levels, levels.size(), sep);
            m_mailbox = EncodeMailboxName(m_display);
            m_present.clear();
            if (m_known.count(m_mailbox) != 0) {
                // One request per folder tells which messages are there already.
                for (const std::string& h :
                     m_session->fetchHeaders(m_mailbox, "MESSAGE-ID X-EDB-MESSAGE-ID")) {
                    if (std::string key = MessageKey(h); !key.empty()) {
                        m_present.insert(std::move(key));
                    }
                }
            }
        } catch (const ImapError& e) {
            throw translate(e, "folder \"" + m_display + "\"");
        } catch (const std::bad_alloc&) {
            throw DestinationError("out of memory reading the server's answers", true);
        }
    }

    WriteResult write(const OutgoingMessage& m) override {
        if (!m.key.empty() && m_present.count(m.key) != 0) {
            return WriteResult::AlreadyPresent;
        }
        if (!m_dryRun) {
            try {
                m_session->append(m_mailbox, m.eml, m.time);
            } catch (const ImapError& e) {
                throw translate(e, "APPEND to \"" + m_display + "\"");
            }
        }
        if (!m.key.empty()) {
            m_present.insert(m.key);
        }
        return WriteResult::Written;
    }

    void closeFolder() override {}
    std::string folderLocation() const override { return m_display; }
    std::string lastWritten() const override { return m_display; }

private:
    // The name of level `n` (counted from 1) as the server takes it, found or created, in
    // levels[n - 1]. Names over our limits are shortened; a name the server refuses for its
    // length is shortened further, one refusing its characters gets only letters, digits,
    // spaces, '-' and '_'. Each step depends only on the names and the server's answers, so a
    // rerun arrives at the same mailbox, and finds it before asking the server anything.
    void settle(std::vector<std::string>& levels, std::size_t n, char sep) {
        const std::string parent = n > 1 ? join(levels, n - 1, sep) + sep : std::string();
        const std::size_t used = EncodeMailboxName(parent).size();
        const std::size_t room = used + 16 < kMaxPath ? kMaxPath - used : 16;
        const std::string variants[] = {levels[n - 1], plainName(levels[n - 1])};
        const auto candidate = [&](std::size_t v, std::size_t k) {
            return ShortenMailboxName(variants[v], std::min(kShorter[k], room));
        };
        const std::size_t lengths = std::size(kShorter);
        for (std::size_t v = 0; v < 2; ++v) {
            for (std::size_t k = 0; k < lengths; ++k) {
                if (const std::string c = candidate(v, k);
                    m_known.count(EncodeMailboxName(parent + c)) != 0) {
                    levels[n - 1] = c;
                    return;
                }
            }
        }
        levels[n - 1] = candidate(0, 0);
        if (m_dryRun) {
            return;
        }
        std::size_t v = 0;
        std::size_t k = 0;
        for (;;) {
            const std::string name = EncodeMailboxName(parent + candidate(v, k));
            try {
                m_session->create(name);
                m_known.insert(name);
                levels[n - 1] = candidate(v, k);
                return;
            } catch (const ImapError& e) {
                if (e.kind() != ImapError::Kind::Server) {
                    throw;
                }
                if (tooLong(e.what())) {
                    // The next length that gives another name, if any.
                    const std::string now = candidate(v, k);
                    while (++k < lengths && candidate(v, k) == now) {
                    }
                    if (k == lengths) {
                        throw;
                    }
                } else if (v == 0 && variants[1] != variants[0]) {
                    v = 1;
                } else {
                    throw;
                }
            }
        }
    }

    static bool tooLong(std::string text) {
        for (char& c : text) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return text.find("too long") != std::string::npos ||
               text.find("[limit]") != std::string::npos;
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
        for (std::string& name : m_session->listAll()) {
            m_known.insert(std::move(name));
        }
    }

    static DestinationError translate(const ImapError& e, const std::string& what) {
        switch (e.kind()) {
        case ImapError::Kind::Login:
            return DestinationError(std::string("login failed: ") + e.what(), true);
        case ImapError::Kind::Connection:
        case ImapError::Kind::Security:
            return DestinationError(std::string(e.what()), true);
        case ImapError::Kind::Server:
            break;
        }
        return DestinationError(what + ": the server answered: " + e.what(), false);
    }

    ImapSettings m_settings;
    bool m_dryRun;
    std::unique_ptr<ImapSession> m_session;
    std::set<std::string> m_known; // mailboxes on the server (modified UTF-7)
    std::string m_mailbox;         // the open folder, as sent
    std::string m_display;         // the open folder, UTF-8
    std::unordered_set<std::string> m_present;
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

std::unique_ptr<Destination> MakeImapDestination(const ImapSettings& settings, bool dryRun) {
    return std::make_unique<ImapDestination>(settings, dryRun);
}

} // namespace edb::conv
