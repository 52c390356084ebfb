#include "export/imap_destination.h"

#include <cctype>
#include <set>
#include <unordered_set>

namespace edb::conv {
namespace {

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
            m_mailbox = EncodeMailboxName(m_display);
            m_present.clear();
            bool exists = m_known.count(m_mailbox) != 0;
            if (!m_dryRun) {
                for (std::size_t n = 1; n <= levels.size(); ++n) {
                    create(levels, n, sep);
                }
                m_display = join(levels, levels.size(), sep);
                m_mailbox = EncodeMailboxName(m_display);
                exists = true;
            }
            if (exists) {
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
    // Creates the first `n` levels. A server that refuses the name (some refuse '.', '\\' or
    // '&' inside a name) gets the level again with only letters, digits, spaces, '-' and '_';
    // the same names give the same result on every run, so a rerun finds the folder.
    void create(std::vector<std::string>& levels, std::size_t n, char sep) {
        std::string name = EncodeMailboxName(join(levels, n, sep));
        if (m_known.count(name) != 0) {
            return;
        }
        try {
            m_session->create(name);
        } catch (const ImapError& e) {
            std::string safer = levels[n - 1];
            for (char& c : safer) {
                const auto b = static_cast<unsigned char>(c);
                if (b < 0x80 && !std::isalnum(b) && c != ' ' && c != '-' && c != '_') {
                    c = '_';
                }
            }
            if (e.kind() != ImapError::Kind::Server || safer == levels[n - 1]) {
                throw;
            }
            levels[n - 1] = safer;
            name = EncodeMailboxName(join(levels, n, sep));
            if (m_known.count(name) == 0) {
                m_session->create(name);
            }
        }
        m_known.insert(name);
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
