// mbox (mboxrd) and Maildir++ destinations: the layouts mail clients and servers import.
#include "deliver/commit_group.h"
#include "deliver/destination.h"
#include "mime/mail_date.h"
#include "deliver/maildir_names.h"
#include "deliver/output_file.h"
#include "deliver/output_names.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>
#include <map>
#include <memory>
#include <set>

namespace edb::conv {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const fs::path& p, int err) {
    throw fs::filesystem_error(what, p, std::error_code(err, std::generic_category()));
}

// CRLF to LF, as both formats keep messages on disk.
std::string toLf(std::string_view eml) {
    std::string out;
    out.reserve(eml.size());
    for (std::size_t i = 0; i < eml.size(); ++i) {
        if (eml[i] == '\r' && i + 1 < eml.size() && eml[i + 1] == '\n') {
            continue;
        }
        out += eml[i];
    }
    if (out.empty() || out.back() != '\n') {
        out += '\n';
    }
    return out;
}

// The folder's names below the top (the mailbox, or the folders that reach none).
std::vector<std::string> namesOf(const FolderPath& f) {
    std::vector<std::string> names = f.names;
    if (!f.attached || names.empty()) {
        names.insert(names.begin(), f.attached ? "_" : kUnattachedFolderName);
    }
    return names;
}

// The envelope sender of the "From " line: the From address when it is a plain address.
std::string envelopeSender(std::string_view eml) {
    std::string from = HeaderField(eml, "From").value_or("");
    const auto lt = from.rfind('<');
    const auto gt = from.rfind('>');
    if (lt != std::string::npos && gt != std::string::npos && gt > lt) {
        from = from.substr(lt + 1, gt - lt - 1);
    }
    const bool plain =
        !from.empty() && from.find('@') != std::string::npos &&
        from.find_first_of(" \t\"<>()") == std::string::npos &&
        std::all_of(from.begin(), from.end(), [](char c) {
            return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7f;
        });
    return plain ? from : "MAILER-DAEMON";
}

// The messages of an mbox file: where each starts, and whether the last one is complete (ours
// end with an empty line; a file cut short by an older version may not).
std::vector<std::size_t> mboxStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t pos = 0; pos < text.size();) {
        if (text.substr(pos, 5) == "From ") {
            starts.push_back(pos);
        }
        const std::size_t end = text.find('\n', pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
    }
    return starts;
}

// mboxrd: one file per folder, `Name.mbox`, subfolders in `Name.sbd/`. Each folder is written
// to a temporary file and gets its name when complete, so a crash leaves no half mbox. A rerun
// copies the messages of the existing file, adds those it lacks and puts the result in its
// place: the old file is replaced only by one that holds it whole.
class MboxDestination final : public Destination {
public:
    MboxDestination(fs::path root, bool sync) : m_root(std::move(root)), m_output(m_root, sync) {}

    void openFolder(const FolderPath& f) override {
        m_file.reset();
        fs::create_directories(m_root);
        const std::vector<std::string> names = namesOf(f);
        fs::path dir = m_root;
        // The top level (the mailbox) is a plain folder, as clients keep one per account.
        if (names.size() > 1) {
            dir = m_tops.of(names[0], !f.attached);
        }
        for (std::size_t i = names.size() > 1 ? 1 : 0; i + 1 < names.size(); ++i) {
            dir /= Utf8Path(stemFor(dir, names[i]) + ".sbd");
            EnsureDirectory(dir);
        }
        m_target = dir / Utf8Path(stemFor(dir, names.back()) + ".mbox");
        if (!IsInside(m_root, m_target)) {
            throw DestinationError("folder path leaves the output folder", false);
        }
        m_count = 0;
        m_written = 0;
        m_failed = 0;
        m_present = PresentMessages();
        m_file = std::make_unique<OutputFile>(dir);
        m_existing = RegularFileIdentity(m_target, m_replaced);
        if (m_existing) {
            resume();
        }
    }

    WriteResult write(const OutgoingMessage& m) override {
        const std::string where = m_target.lexically_relative(m_root).generic_string();
        if (auto at = m_present.take(m.key)) {
            m_last = where + ", message " + *at;
            return WriteResult::AlreadyPresent;
        }
        const std::string out = mboxrdMessage(m);
        const std::uint64_t before = m_file->size();
        try {
            m_file->write(out);
        } catch (const fs::filesystem_error& e) {
            // The messages before this one stay as they were.
            ++m_failed;
            try {
                m_file->truncate(before);
            } catch (const fs::filesystem_error&) {
                throw DestinationError(m_target.string() + ": " + e.code().message() +
                                           "; the file cannot be cut back",
                                       true);
            }
            throw fs::filesystem_error("cannot write", m_target, e.code());
        }
        ++m_count;
        ++m_written;
        m_last = where + ", message " + std::to_string(m_count);
        return WriteResult::Written;
    }

    void closeFolder() override {
        if (!m_file) {
            return;
        }
        const std::unique_ptr<OutputFile> file = std::move(m_file);
        // Nothing new, or nothing at all of a folder whose every message failed: leave the
        // disk as it was.
        if (m_written == 0 && (m_existing || m_failed > 0)) {
            return;
        }
        if (m_existing) {
            file->replace(m_target, m_replaced);
        } else if (!file->commit(m_target)) {
            throw fs::filesystem_error("the name was taken while the file was written", m_target,
                                       std::make_error_code(std::errc::file_exists));
        }
        m_output.flush();
    }

    std::string folderLocation() const override { return m_target.string(); }
    std::string lastWritten() const override { return m_last; }
    std::optional<fs::path> logDirectory() const override { return m_root; }

private:
    // The file an earlier run left: its messages are copied first and noted as present.
    void resume() {
        std::string text;
        if (!ReadFileStart(m_target, std::numeric_limits<std::size_t>::max(), text)) {
            throw fs::filesystem_error("cannot read the existing file", m_target,
                                       std::make_error_code(std::errc::io_error));
        }
        std::vector<std::size_t> starts = mboxStarts(text);
        if (!starts.empty() && !text.ends_with("\n\n")) {
            text.resize(starts.back()); // a message cut short is written again
            starts.pop_back();
        }
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const std::size_t from = text.find('\n', starts[i]) + 1;
            const std::string_view headers(text.data() + from, text.size() - from);
            m_present.add(MessageKey(headers), std::to_string(i + 1));
        }
        m_count = starts.size();
        m_file->write(text);
    }

    static std::string mboxrdMessage(const OutgoingMessage& m) {
        std::string out =
            "From " + envelopeSender(m.eml) + ' ' + FormatMboxDate(m.time.value_or(0)) + '\n';
        const std::string body = toLf(m.eml);
        // mboxrd: a line that reads "From " after any number of '>' gets one more.
        std::size_t pos = 0;
        while (pos < body.size()) {
            const std::size_t end = body.find('\n', pos);
            const std::string_view line(body.data() + pos, end - pos + 1);
            const std::size_t quotes = line.find_first_not_of('>');
            if (quotes != std::string_view::npos && line.substr(quotes, 5) == "From ") {
                out += '>';
            }
            out += line;
            pos = end + 1;
        }
        out += '\n';
        return out;
    }

    // One stem per store folder and parent: `stem.mbox` and `stem.sbd` belong together. The
    // stems follow the run's order alone, so a rerun finds the files of the first run; only a
    // name held by something else (a link, a file where a folder belongs) is passed over.
    std::string stemFor(const fs::path& dir, const std::string& name) {
        const std::string key = dir.string() + '\0' + name;
        if (const auto it = m_stems.find(key); it != m_stems.end()) {
            return it->second;
        }
        UniqueNamer& namer = m_namers[dir.string()];
        const std::string base = SanitizeName(name);
        for (int tries = 0; tries < 10000; ++tries) {
            std::string stem = namer.next(base, "");
            const EntryKind mbox = KindOf(dir / Utf8Path(stem + ".mbox"));
            const EntryKind sbd = KindOf(dir / Utf8Path(stem + ".sbd"));
            if ((mbox == EntryKind::Missing || mbox == EntryKind::Regular) &&
                (sbd == EntryKind::Missing || sbd == EntryKind::Directory)) {
                m_stems.emplace(key, stem);
                return stem;
            }
        }
        fail("no free file name", dir, EEXIST);
    }

    fs::path m_root;
    OutputRoot m_output;
    fs::path m_target;
    std::unique_ptr<OutputFile> m_file;
    bool m_existing = false; // m_target was there before and is being extended
    OutputFile::Identity m_replaced;
    PresentMessages m_present;
    std::size_t m_count = 0;   // messages in the open mbox
    std::size_t m_written = 0; // of them added by this run
    std::size_t m_failed = 0;
    std::string m_last;
    TopDirectories m_tops{m_root};
    std::map<std::string, UniqueNamer> m_namers;
    std::map<std::string, std::string> m_stems;
};

// Maildir++: the mailbox folder is the Maildir root; its folders are `.A.B` directories beside
// cur, new and tmp (the Inbox's subfolders `.INBOX.A`). Messages go through tmp/ into cur/ with the
// seen flag, dated by mtime. File names come from the message's date and store id rather than
// the clock, so a rerun that completes an export gives the names a single run gives.
class MaildirDestination final : public Destination {
public:
    MaildirDestination(fs::path root, bool sync)
        : m_root(std::move(root)), m_output(m_root, sync), m_group(m_output),
          m_host(MaildirHostPart(MaildirHostName())) {}

    void noteInboxes(const std::vector<FolderPath>& inboxes) override {
        for (const FolderPath& f : inboxes) {
            if (f.attached && f.names.size() == 2) {
                m_inboxes.emplace(f.names[0], f.treePath);
            }
        }
    }

    void openFolder(const FolderPath& f) override {
        fs::create_directories(m_root);
        const std::vector<std::string> names = namesOf(f);
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
                fail("output folder path too long for a Maildir folder", top, ENAMETOOLONG);
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
        if (auto where = m_present[m_dir.string()].take(m.key)) {
            m_last = std::move(*where);
            return WriteResult::AlreadyPresent;
        }
        const std::string body = toLf(m.eml);
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
        m_group.add(std::move(files), [this, dir = m_dir, unique = std::move(unique),
                                       size = body.size()](CommitGroup::Files& done) {
            return name(*done[0], dir, unique, size);
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
                return target.lexically_relative(m_root).generic_string();
            }
        }
        fail("no free file name", dir / "cur", EEXIST);
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
        for (const fs::path& p : files) {
            present.add(MessageKeyOfFile(p), p.lexically_relative(m_root).generic_string());
        }
    }

    fs::path m_root;
    OutputRoot m_output;
    CommitGroup m_group;
    fs::path m_dir;
    std::string m_last;
    std::string m_host;
    std::map<std::string, PresentMessages> m_present; // per Maildir
    // Per Maildir: the names in cur/ and new/ as readers compare them (MaildirUniquePart).
    std::map<std::string, std::set<std::string>> m_uniqueParts;
    std::set<std::string> m_scanned;
    TopDirectories m_tops{m_root};
    std::map<std::string, fs::path> m_dirs; // (top, tree path) -> Maildir
    std::set<std::string> m_used;
    std::map<std::string, std::string> m_inboxes; // mailbox -> tree path of its Inbox
};

} // namespace

std::unique_ptr<Destination> MakeMboxDestination(const fs::path& root, bool sync) {
    return std::make_unique<MboxDestination>(root, sync);
}

std::unique_ptr<Destination> MakeMaildirDestination(const fs::path& root, bool sync) {
    return std::make_unique<MaildirDestination>(root, sync);
}

} // namespace edb::conv
