// The Maildir++ destination.
#include "deliver/mail_files.h"
#include "mime/mail_date.h"
#include "deliver/maildir_names.h"
#include "deliver/output_file.h"
#include "deliver/output_names.h"
#include "deliver/resume_check.h"
#include "deliver/sha256.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <set>

namespace edb::conv {
namespace fs = std::filesystem;
namespace {

// Maildir++: the mailbox folder is the Maildir root; its folders are `.A.B` directories beside
// cur, new and tmp (the Inbox's subfolders `.INBOX.A`). Messages go through tmp/ into cur/ with the
// seen flag, dated by mtime. File names come from the message's date and store id rather than
// the clock, so a rerun that completes an export gives the names a single run gives.
class MaildirDestination final : public Destination {
public:
    MaildirDestination(fs::path root, bool sync)
        : m_root(std::move(root)), m_output(m_root, sync),
          m_group(m_output), m_host(MaildirHostPart(MaildirHostName())) {}

    void noteInboxes(const std::vector<FolderPath>& inboxes) override {
        for (const FolderPath& f : inboxes) {
            if (f.attached && f.names.size() == 2) {
                m_inboxes.emplace(f.names[0], f.treePath);
            }
        }
    }

    void openFolder(const FolderPath& f) override {
        fs::create_directories(m_root);
        const std::vector<std::string> names = NamesBelowTop(f);
        const fs::path top = m_tops.of(names[0], !f.attached);
        makeMaildir(top);
        // The mailbox's Inbox is the Maildir's own INBOX (cur, new, tmp at the top) and its
        // subfolders are INBOX's: servers treat the name INBOX in any case as that folder.
        const bool inbox = isOwnInbox(names, f);
        if (names.size() == 1 || (inbox && names.size() == 2)) {
            m_dir = top;
            findPresent();
            return;
        }
        std::vector<std::string> levels;
        for (std::size_t i = 1; i < names.size(); ++i) {
            levels.push_back(i == 1 && inbox ? "INBOX" : MaildirLevelName(names[i], i == 1));
        }
        const std::size_t room = MaildirNameRoom(top.string().size());
        const std::string key = top.string() + '\0' + f.treePath;
        auto it = m_dirs.find(key);
        if (it == m_dirs.end()) {
            // Two store folders whose names clean up alike get separate Maildirs.
            std::string name = MaildirDirectoryName(levels, room);
            const std::string last = levels.back();
            for (int n = 2; !name.empty() && m_used.count(top.string() + '\0' + name) != 0; ++n) {
                levels.back() = last + " (" + std::to_string(n) + ")";
                name = MaildirDirectoryName(levels, room);
            }
            if (name.empty()) {
                FailOutput("output folder path too long for a Maildir folder", top, ENAMETOOLONG);
            }
            m_used.insert(top.string() + '\0' + name);
            it = m_dirs.emplace(key, top / Utf8Path(name)).first;
        }
        m_dir = it->second;
        if (!IsInside(m_root, m_dir)) {
            throw DestinationError("folder path leaves the output folder", false);
        }
        makeMaildir(m_dir);
        findPresent();
    }

    WriteResult write(const OutgoingMessage& m) override {
        const std::string body = ToLf(m.eml);
        if (auto where = takePresent(m.key, body.size())) {
            m_last = std::move(*where);
            m_lastFiles = {m_found[m_last].file};
            return WriteResult::AlreadyPresent;
        }
        CommitGroup::Files files;
        files.push_back(std::make_unique<OutputFile>(m_dir / "tmp"));
        files[0]->write(body);
        if (m.time) {
            files[0]->setTime(*m.time);
        }
        std::string unique =
            std::to_string(m.time.value_or(0)) + ".E" + ToHex(m.snapshot.messageId);
        if (m.snapshot.folderCopy != 0) {
            unique += "C" + std::to_string(m.snapshot.folderCopy);
        }
        // Moved into cur/ once on the disk (the delivery rule), with others in a group.
        m_group.add(std::move(files),
                    [this, dir = m_dir, unique = std::move(unique), size = body.size(),
                     hash = Sha256Hex(body), key = m.key](CommitGroup::Files& done,
                                                          std::vector<ManifestFile>& named) {
                        const std::string where = name(*done[0], dir, unique, size);
                        named = {{where, hash, size, std::nullopt}};
                        const auto it = m_damaged.find(key);
                        if (it != m_damaged.end() && !it->second.empty()) {
                            m_kept[it->second.front()].reason +=
                                "; the message written again as " + where;
                            it->second.pop_front();
                        }
                        return where;
                    });
        return WriteResult::Pending;
    }

    std::vector<Settled> settle(bool all) override { return m_group.settle(all); }

    // The names moved into cur/ reach the disk once per group and folder.
    void closeFolder() override {
        m_group.commit();
        m_output.flush();
    }
    std::string folderLocation() const override { return m_dir.string(); }
    std::string lastWritten() const override { return m_last; }
    std::optional<fs::path> logDirectory() const override { return m_root; }
    std::vector<ManifestFile> lastFiles() const override { return m_lastFiles; }
    std::string formatName() const override { return "maildir"; }
    void useManifest(const Manifest* manifest) override { m_manifest = manifest; }
    std::vector<KeptFile> takeKept() override {
        std::vector<KeptFile> out;
        out.swap(m_kept);
        m_damaged.clear();
        return out;
    }

private:
    // Moves the flushed message file into cur/ of `dir` under the first name free where readers
    // compare names; returns it relative to the output folder.
    std::string name(OutputFile& file, const fs::path& dir, const std::string& unique,
                     std::size_t size) {
        // Readers tell messages apart by the name before the size and flags: two messages with
        // one id and date must differ there, not only in ",S=".
        std::set<std::string>& taken = m_uniqueParts[dir.string()];
        for (unsigned n = 1; n < 100000; ++n) {
            const std::string base =
                (n == 1 ? unique : unique + "Q" + std::to_string(n)) + "." + m_host;
            if (taken.count(base) != 0) {
                continue;
            }
            const fs::path target =
                dir / "cur" / Utf8Path(base + ",S=" + std::to_string(size) + ":2,S");
            if (file.commit(target)) {
                taken.insert(base);
                return RelativeName(m_root, target);
            }
        }
        FailOutput("no free file name", dir / "cur", EEXIST);
    }

    struct Found {
        ManifestFile file;
        bool recorded = false;
    };

    // A Maildir message as servers keep it: its folder and the name before ":2," (a server
    // moves it from new/ to cur/ and changes its flags, never its text).
    static std::string unique(const std::string& relative) {
        const auto text = [](const fs::path& p) {
            const std::u8string u = p.generic_u8string();
            return std::string(u.begin(), u.end());
        };
        const fs::path p = Utf8Path(relative);
        const std::string name = text(p.filename());
        return text(p.parent_path().parent_path()) + '/' + name.substr(0, name.find(':'));
    }

    void keep(const std::string& rel, const char* reason, const std::string& key) {
        std::error_code ec;
        const std::uint64_t size = fs::file_size(m_root / Utf8Path(rel), ec);
        m_kept.push_back({rel, std::nullopt, size, reason});
        m_damaged[key].push_back(m_kept.size() - 1);
    }

    std::optional<std::string> takePresent(const std::string& key, std::size_t size) {
        while (auto where = m_present[m_dir.string()].take(key)) {
            const Found& found = m_found[*where];
            if (found.recorded || SizePlausible(found.file.size, size)) {
                return where;
            }
            keep(*where, kWrongSize, key);
        }
        return std::nullopt;
    }

    const ManifestEntry* recordedEntry(const std::string& rel) {
        if (const ManifestEntry* e = SavedEntryFor(*m_manifest, rel)) {
            return e;
        }
        if (m_byUnique.empty()) {
            for (const ManifestEntry& e : m_manifest->entries()) {
                if (e.saved() && !e.files.empty()) {
                    m_byUnique.emplace(unique(e.files.front().path), &e);
                }
            }
        }
        const auto it = m_byUnique.find(unique(rel));
        return it == m_byUnique.end() ? nullptr : it->second;
    }

    // The store's own Inbox as Convert named it, else the first root folder of that name.
    bool isOwnInbox(const std::vector<std::string>& names, const FolderPath& f) {
        if (!f.attached || names.size() < 2) {
            return false;
        }
        auto it = m_inboxes.find(names[0]);
        if (it == m_inboxes.end()) {
            if (names.size() != 2 || !IsInboxName(names[1])) {
                return false;
            }
            it = m_inboxes.emplace(names[0], f.treePath).first;
        }
        return f.treePath.starts_with(it->second);
    }

    static void makeMaildir(const fs::path& dir) {
        EnsureDirectory(dir);
        for (const char* sub : {"cur", "new", "tmp"}) {
            EnsureDirectory(dir / sub);
        }
    }

    // The messages an earlier run (or a mail server since) left in cur/ and new/, in name order.
    void findPresent() {
        if (!m_scanned.insert(m_dir.string()).second) {
            return;
        }
        std::vector<fs::path> files;
        std::set<std::string>& taken = m_uniqueParts[m_dir.string()];
        for (const char* sub : {"cur", "new"}) {
            std::error_code ec;
            for (fs::directory_iterator it(m_dir / sub, ec), end; !ec && it != end;
                 it.increment(ec)) {
                const std::string name = it->path().filename().string();
                taken.emplace(MaildirUniquePart(name));
                if (!name.starts_with(".") && KindOf(it->path()) == EntryKind::Regular) {
                    files.push_back(it->path());
                }
            }
        }
        std::sort(files.begin(), files.end());
        PresentMessages& present = m_present[m_dir.string()];
        const bool recorded = m_manifest != nullptr && m_manifest->recorded();
        for (const fs::path& p : files) {
            const std::string rel = RelativeName(m_root, p);
            // Only what the manifest records and still hashes to its value counts; after a run
            // that did not finish, a file it does not list is judged by what it holds.
            const ManifestEntry* e = recorded ? recordedEntry(rel) : nullptr;
            if (recorded && e == nullptr && m_manifest->complete()) {
                continue;
            }
            if (e != nullptr) {
                ManifestFile now = e->files.front();
                now.path = rel;
                if (StillMatches(m_root, now)) {
                    present.add(e->key, rel);
                    m_found[rel] = {now, true};
                } else {
                    keep(rel, kNoLongerMatches, e->key);
                }
                continue;
            }
            std::string text;
            if (!ReadFileStart(p, std::numeric_limits<std::size_t>::max(), text)) {
                continue;
            }
            const std::string key = MessageKey(text);
            if (key.empty()) {
                continue;
            }
            if (LooksComplete(text)) {
                present.add(key, rel);
                m_found[rel] = {{rel, Sha256Hex(text), text.size(), std::nullopt}, false};
            } else {
                keep(rel, kIncomplete, key);
            }
        }
    }

    fs::path m_root;
    OutputRoot m_output;
    CommitGroup m_group;
    fs::path m_dir;
    std::string m_last;
    std::vector<ManifestFile> m_lastFiles;
    std::string m_host;
    std::map<std::string, PresentMessages> m_present; // per Maildir
    // Per Maildir: the names in cur/ and new/ as readers compare them (MaildirUniquePart).
    std::map<std::string, std::set<std::string>> m_uniqueParts;
    const Manifest* m_manifest = nullptr;
    std::map<std::string, const ManifestEntry*> m_byUnique;
    std::map<std::string, Found> m_found; // by file
    std::vector<KeptFile> m_kept;         // since takeKept
    std::map<std::string, std::deque<std::size_t>> m_damaged; // key -> m_kept index
    std::set<std::string> m_scanned;
    TopDirectories m_tops{m_root};
    std::map<std::string, fs::path> m_dirs; // (top, tree path) -> Maildir
    std::set<std::string> m_used;
    std::map<std::string, std::string> m_inboxes; // mailbox -> tree path of its Inbox
};

} // namespace

std::unique_ptr<Destination> MakeMaildirDestination(const fs::path& root, bool sync) {
    return std::make_unique<MaildirDestination>(root, sync);
}

} // namespace edb::conv
