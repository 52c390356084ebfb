// The .eml folder destination and what every destination reads from a rendered message.
#include "deliver/destination.h"

#include "charset/header_chars.h"
#include "deliver/commit_group.h"
#include "deliver/output_file.h"
#include "mime/mail_date.h"
#include "deliver/output_names.h"
#include "mime/vcard_writer.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace edb::conv {
namespace fs = std::filesystem;

std::unique_ptr<Destination> MakeMboxDestination(const fs::path& root, bool sync);
std::unique_ptr<Destination> MakeMaildirDestination(const fs::path& root, bool sync);

namespace {

std::string trim(std::string s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// One directory per folder path, one .eml per message, contacts also as .vcf: what Convert
// has always written. A rerun finds the messages already there by their key and hands out the
// same names in the same order, so it completes the folder as one run would have made it.
class EmlFolderDestination final : public Destination {
public:
    EmlFolderDestination(fs::path root, bool sync)
        : m_root(std::move(root)), m_output(m_root, sync) {}

    void openFolder(const FolderPath& f) override {
        fs::create_directories(m_root);
        fs::path dir = m_root;
        std::size_t first = 0;
        if (!f.attached || !f.names.empty()) {
            dir = m_tops.of(f.attached ? f.names[0] : std::string(), !f.attached);
            first = f.attached ? 1 : 0;
        }
        for (std::size_t i = first; i < f.names.size(); ++i) {
            const std::string key = dir.string() + '\0' + f.names[i];
            const auto it = m_dirs.find(key);
            if (it != m_dirs.end()) {
                dir = it->second;
                continue;
            }
            const fs::path child = MakeChildDirectory(dir, f.names[i], m_namers[dir.string()]);
            m_dirs.emplace(key, child);
            dir = child;
        }
        if (!IsInside(m_root, dir)) {
            throw DestinationError("folder path leaves the output folder", false);
        }
        m_dir = dir;
        if (m_scanned.insert(dir.string()).second) {
            findPresent(dir);
        }
    }

    WriteResult write(const OutgoingMessage& m) override {
        UniqueNamer& namer = m_namers[m_dir.string()];
        const std::string stem = SanitizeName(m.snapshot.subject, "(no subject)");
        if (auto where = m_present[m_dir.string()].take(m.key)) {
            // Its names are taken as the run that wrote it took them.
            (void)namer.next(stem, ".eml");
            if (m.contact) {
                for (const ContactEntry& c : m.snapshot.contacts) {
                    (void)namer.next(SanitizeName(contactName(m, c), "(no name)"), ".vcf");
                }
            }
            m_last = std::move(*where);
            return WriteResult::AlreadyPresent;
        }
        // Every name is taken before the writes, so a message that fails keeps its place in
        // the order and a rerun that writes it gives every file the name a single run gives.
        std::vector<Part> parts{{stem, ".eml", namer.next(stem, ".eml")}};
        CommitGroup::Files files;
        files.push_back(writeTemporary(m.eml));
        for (std::size_t i = 0; m.contact && i < m.snapshot.contacts.size(); ++i) {
            std::string card = SanitizeName(contactName(m, m.snapshot.contacts[i]), "(no name)");
            std::string name = namer.next(card, ".vcf");
            parts.push_back({std::move(card), ".vcf", std::move(name)});
        }
        for (std::size_t i = 0; m.contact && i < m.snapshot.contacts.size(); ++i) {
            files.push_back(writeTemporary(WriteVCard(m.snapshot.contacts[i])));
        }
        m_group.add(std::move(files), [this, dir = m_dir, parts = std::move(parts),
                                       &namer](CommitGroup::Files& done) {
            // A message is named whole or not at all, so a rerun finds it complete.
            std::vector<fs::path> named;
            try {
                for (std::size_t i = 0; i < parts.size(); ++i) {
                    named.push_back(NameNewFile(*done[i], dir, parts[i].name, parts[i].stem,
                                                parts[i].ext, namer));
                }
            } catch (...) {
                for (const fs::path& p : named) {
                    std::error_code ec;
                    fs::remove(p, ec);
                }
                throw;
            }
            return named.front().lexically_relative(m_root).generic_string();
        });
        return WriteResult::Pending;
    }

    std::vector<Settled> settle(bool all) override { return m_group.settle(all); }
    void closeFolder() override {
        m_group.commit();
        m_output.flush();
    }
    std::string folderLocation() const override { return m_dir.string(); }
    std::string lastWritten() const override { return m_last; }
    std::optional<fs::path> logDirectory() const override { return m_root; }

private:
    struct Part {
        std::string stem;
        std::string ext;
        std::string name;
    };

    std::unique_ptr<OutputFile> writeTemporary(std::string_view bytes) const {
        auto file = std::make_unique<OutputFile>(m_dir);
        file->write(bytes);
        return file;
    }

    static std::string contactName(const OutgoingMessage& m, const ContactEntry& c) {
        return c.fullName.empty() ? m.snapshot.subject : c.fullName;
    }

    // The .eml files an earlier run left in `dir`, in name order so that copies of one
    // message are matched the same way on every run.
    void findPresent(const fs::path& dir) {
        std::vector<fs::path> files;
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path& p = it->path();
            const std::string name = p.filename().string();
            if (p.extension() == ".eml" && !name.starts_with(".") &&
                KindOf(p) == EntryKind::Regular) {
                files.push_back(p);
            }
        }
        std::sort(files.begin(), files.end());
        PresentMessages& present = m_present[dir.string()];
        for (const fs::path& p : files) {
            present.add(MessageKeyOfFile(p), p.lexically_relative(m_root).generic_string());
        }
    }

    fs::path m_root;
    OutputRoot m_output;
    CommitGroup m_group{m_output};
    fs::path m_dir;
    std::string m_last;
    TopDirectories m_tops{m_root};
    std::map<std::string, UniqueNamer> m_namers;      // per directory
    std::map<std::string, fs::path> m_dirs;           // (parent, store name) -> directory made
    std::map<std::string, PresentMessages> m_present; // per directory
    std::set<std::string> m_scanned;
};

} // namespace

std::unique_ptr<Destination> MakeFileDestination(FileFormat format, const fs::path& root,
                                                 bool sync) {
    switch (format) {
    case FileFormat::Mbox:
        return MakeMboxDestination(root, sync);
    case FileFormat::Maildir:
        return MakeMaildirDestination(root, sync);
    case FileFormat::Pst:
        return MakePstDestination(root, sync);
    case FileFormat::Eml:
        break;
    }
    return std::make_unique<EmlFolderDestination>(root, sync);
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
        if (colon != std::string_view::npos && header::EqualsNoCase(line.substr(0, colon), name)) {
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

std::string MessageKeyOfFile(const fs::path& p) {
    // Our headers fit the first read; a message with a huge header block gets a second.
    for (const std::size_t limit : {std::size_t{64} * 1024, std::size_t{4} * 1024 * 1024}) {
        std::string head;
        if (!ReadFileStart(p, limit, head)) {
            return {};
        }
        if (head.size() < limit || head.find("\n\r\n") != std::string::npos ||
            head.find("\n\n") != std::string::npos) {
            return MessageKey(head);
        }
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
