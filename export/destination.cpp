// The .eml folder destination and what every destination reads from a rendered message.
#include "export/destination.h"

#include "export/mail_date.h"
#include "export/output_names.h"
#include "export/vcard_writer.h"

#include <cctype>
#include <map>

namespace edb::conv {
namespace fs = std::filesystem;

std::unique_ptr<Destination> MakeMboxDestination(const fs::path& root);
std::unique_ptr<Destination> MakeMaildirDestination(const fs::path& root);

namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string trim(std::string s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// One directory per folder path, one .eml per message, contacts also as .vcf: what Convert
// has always written.
class EmlFolderDestination final : public Destination {
public:
    explicit EmlFolderDestination(fs::path root) : m_root(std::move(root)) {}

    void openFolder(const FolderPath& f) override {
        fs::create_directories(m_root);
        fs::path dir = m_root;
        std::vector<std::string> names = f.names;
        if (!f.attached) {
            names.insert(names.begin(), kUnattachedFolderName);
        }
        for (const std::string& name : names) {
            const std::string key = dir.string() + '\0' + name;
            const auto it = m_dirs.find(key);
            if (it != m_dirs.end()) {
                dir = it->second;
                continue;
            }
            const fs::path child = MakeChildDirectory(dir, name, m_namers[dir.string()]);
            m_dirs.emplace(key, child);
            dir = child;
        }
        if (!IsInside(m_root, dir)) {
            throw DestinationError("folder path leaves the output folder", false);
        }
        m_dir = dir;
    }

    WriteResult write(const OutgoingMessage& m) override {
        UniqueNamer& namer = m_namers[m_dir.string()];
        const fs::path written = WriteNewFile(
            m_dir, SanitizeName(m.snapshot.subject, "(no subject)"), ".eml", m.eml, namer);
        m_last = written.lexically_relative(m_root).generic_string();
        if (m.contact) {
            for (const ContactEntry& c : m.snapshot.contacts) {
                const std::string name = c.fullName.empty() ? m.snapshot.subject : c.fullName;
                (void)WriteNewFile(m_dir, SanitizeName(name, "(no name)"), ".vcf", WriteVCard(c),
                                   namer);
            }
        }
        return WriteResult::Written;
    }

    void closeFolder() override {}
    std::string folderLocation() const override { return m_dir.string(); }
    std::string lastWritten() const override { return m_last; }
    std::optional<fs::path> logDirectory() const override { return m_root; }

private:
    fs::path m_root;
    fs::path m_dir;
    std::string m_last;
    std::map<std::string, UniqueNamer> m_namers; // per directory
    std::map<std::string, fs::path> m_dirs;      // (parent, store name) -> directory made
};

} // namespace

std::unique_ptr<Destination> MakeFileDestination(FileFormat format, const fs::path& root) {
    switch (format) {
    case FileFormat::Mbox:
        return MakeMboxDestination(root);
    case FileFormat::Maildir:
        return MakeMaildirDestination(root);
    case FileFormat::Eml:
        break;
    }
    return std::make_unique<EmlFolderDestination>(root);
}

std::optional<std::string> HeaderField(std::string_view message, std::string_view name) {
    std::size_t pos = 0;
    while (pos < message.size()) {
        std::size_t end = message.find('\n', pos);
        if (end == std::string_view::npos) {
            end = message.size();
        }
        std::string_view line = message.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            return std::nullopt; // end of the header block
        }
        const auto colon = line.find(':');
        if (colon != std::string_view::npos && equalsNoCase(line.substr(0, colon), name)) {
            std::string value(line.substr(colon + 1));
            // Continuation lines begin with white space.
            std::size_t next = end + 1;
            while (next < message.size() && (message[next] == ' ' || message[next] == '\t')) {
                std::size_t e = message.find('\n', next);
                if (e == std::string_view::npos) {
                    e = message.size();
                }
                std::string_view more = message.substr(next, e - next);
                if (!more.empty() && more.back() == '\r') {
                    more.remove_suffix(1);
                }
                value += more;
                next = e + 1;
            }
            return trim(std::move(value));
        }
        pos = end + 1;
    }
    return std::nullopt;
}

std::string MessageKey(std::string_view headers) {
    if (auto id = HeaderField(headers, "Message-ID"); id && !id->empty()) {
        return *id;
    }
    if (auto id = HeaderField(headers, "X-Edb-Message-Id"); id && !id->empty()) {
        return "store:" + *id;
    }
    return {};
}

std::optional<std::int64_t> MessageTime(std::string_view eml, std::uint64_t filetime) {
    if (const auto date = HeaderField(eml, "Date")) {
        if (const auto secs = ParseMailDate(*date); secs && *secs > 0) {
            return secs;
        }
    }
    return FiletimeToUnix(filetime);
}

} // namespace edb::conv
