// mbox (mboxrd) and Maildir++ destinations: the layouts mail clients and servers import.
#include "export/destination.h"
#include "export/maildir_names.h"
#include "export/output_names.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

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

// The folder's names from the top (mailbox, or the directory for folders that reach none).
std::vector<std::string> namesOf(const FolderPath& f) {
    std::vector<std::string> names = f.names;
    if (!f.attached) {
        names.insert(names.begin(), kUnattachedFolderName);
    }
    if (names.empty()) {
        names.emplace_back("_");
    }
    return names;
}

// A directory that is really one (never a symbolic link), made when missing.
void ensureDirectory(const fs::path& p) {
    if (::mkdir(p.c_str(), 0777) != 0 && errno != EEXIST) {
        fail("cannot create folder", p, errno);
    }
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        fail("not a folder", p, ENOTDIR);
    }
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

// One directory per mailbox under the output folder, made on first use with a name no other
// mailbox has taken.
class TopDirectories {
public:
    explicit TopDirectories(fs::path root) : m_root(std::move(root)) {}
    fs::path of(const std::string& mailbox) {
        const auto it = m_dirs.find(mailbox);
        if (it != m_dirs.end()) {
            return it->second;
        }
        const fs::path dir = MakeChildDirectory(m_root, mailbox, m_namer);
        m_dirs.emplace(mailbox, dir);
        return dir;
    }

private:
    fs::path m_root;
    UniqueNamer m_namer;
    std::map<std::string, fs::path> m_dirs;
};

// mboxrd: one file per folder, `Name.mbox`, subfolders in `Name.sbd/`. Each folder is written
// to a temporary file and gets its name when complete, so a crash leaves no half mbox.
class MboxDestination final : public Destination {
public:
    explicit MboxDestination(fs::path root) : m_root(std::move(root)) {}
    ~MboxDestination() override { discard(); }

    void openFolder(const FolderPath& f) override {
        discard();
        fs::create_directories(m_root);
        const std::vector<std::string> names = namesOf(f);
        fs::path dir = m_root;
        // The top level (the mailbox) is a plain folder, as clients keep one per account.
        if (names.size() > 1) {
            dir = m_tops.of(names[0]);
        }
        for (std::size_t i = names.size() > 1 ? 1 : 0; i + 1 < names.size(); ++i) {
            dir /= stemFor(dir, names[i]) + ".sbd";
            ensureDirectory(dir);
        }
        m_target = dir / (stemFor(dir, names.back()) + ".mbox");
        m_count = 0;
        if (!IsInside(m_root, m_target)) {
            throw DestinationError("folder path leaves the output folder", false);
        }
        std::string tmpl = (dir / ".edb2eml-XXXXXX").string();
        const int fd = ::mkstemp(tmpl.data());
        if (fd < 0) {
            fail("cannot create temporary file", dir, errno);
        }
        m_tmp = tmpl;
        m_file = ::fdopen(fd, "wb");
        if (m_file == nullptr) {
            const int err = errno;
            ::close(fd);
            fail("cannot open file", m_tmp, err);
        }
    }

    WriteResult write(const OutgoingMessage& m) override {
        const std::time_t t = static_cast<std::time_t>(m.time.value_or(0));
        std::tm tm{};
        gmtime_r(&t, &tm);
        char date[64];
        std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &tm);
        std::string out = "From " + envelopeSender(m.eml) + ' ' + date + '\n';
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
        if (std::fwrite(out.data(), 1, out.size(), m_file) != out.size()) {
            fail("cannot write file", m_tmp, errno);
        }
        ++m_count;
        return WriteResult::Written;
    }

    void closeFolder() override {
        if (m_file == nullptr) {
            return;
        }
        const bool ok = std::fflush(m_file) == 0 && ::fsync(::fileno(m_file)) == 0;
        const int err = errno;
        std::fclose(m_file);
        m_file = nullptr;
        if (!ok) {
            discard();
            fail("cannot write file", m_target, err);
        }
        if (!MoveNoReplace(m_tmp, m_target)) {
            const int e = errno;
            discard();
            fail("cannot name file", m_target, e);
        }
        m_tmp.clear();
    }

    std::string folderLocation() const override { return m_target.string(); }
    std::string lastWritten() const override {
        return m_target.lexically_relative(m_root).generic_string() + ", message " +
               std::to_string(m_count);
    }
    std::optional<fs::path> logDirectory() const override { return m_root; }

private:
    // One stem per store folder and parent: `stem.mbox` and `stem.sbd` belong together, and a
    // stem taken by an earlier run is not reused.
    std::string stemFor(const fs::path& dir, const std::string& name) {
        const std::string key = dir.string() + '\0' + name;
        if (const auto it = m_stems.find(key); it != m_stems.end()) {
            return it->second;
        }
        UniqueNamer& namer = m_namers[dir.string()];
        const std::string base = SanitizeName(name);
        for (int tries = 0; tries < 10000; ++tries) {
            std::string stem = namer.next(base, "");
            std::error_code ec;
            if (!fs::exists(fs::symlink_status(dir / (stem + ".mbox"), ec)) &&
                !fs::exists(fs::symlink_status(dir / (stem + ".sbd"), ec))) {
                m_stems.emplace(key, stem);
                return stem;
            }
        }
        fail("no free file name", dir, EEXIST);
    }

    void discard() {
        if (m_file != nullptr) {
            std::fclose(m_file);
            m_file = nullptr;
        }
        if (!m_tmp.empty()) {
            ::unlink(m_tmp.c_str());
            m_tmp.clear();
        }
    }

    fs::path m_root;
    fs::path m_target;
    fs::path m_tmp;
    std::FILE* m_file = nullptr;
    std::size_t m_count = 0; // messages in the open mbox
    TopDirectories m_tops{m_root};
    std::map<std::string, UniqueNamer> m_namers;
    std::map<std::string, std::string> m_stems;
};

// Maildir++: the mailbox folder is the Maildir root; its folders are `.A.B` directories beside
// cur, new and tmp (the Inbox's subfolders `.INBOX.A`). Messages go through tmp/ into cur/ with the
// seen flag, dated by mtime.
class MaildirDestination final : public Destination {
public:
    explicit MaildirDestination(fs::path root) : m_root(std::move(root)) {
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        m_host = MaildirHostPart(host);
    }

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
        const fs::path top = m_tops.of(names[0]);
        makeMaildir(top);
        // The mailbox's Inbox is the Maildir's own INBOX (cur, new, tmp at the top) and its
        // subfolders are INBOX's: servers treat the name INBOX in any case as that folder.
        const bool inbox = isOwnInbox(names, f);
        if (names.size() == 1 || (inbox && names.size() == 2)) {
            m_dir = top;
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
            it = m_dirs.emplace(key, top / name).first;
        }
        m_dir = it->second;
        if (!IsInside(m_root, m_dir)) {
            throw DestinationError("folder path leaves the output folder", false);
        }
        makeMaildir(m_dir);
    }

    WriteResult write(const OutgoingMessage& m) override {
        const std::string body = toLf(m.eml);
        const std::int64_t when = m.time.value_or(0);
        // Delivery time, process and a counter, as Maildir writers make names unique.
        timeval now{};
        ::gettimeofday(&now, nullptr);
        const std::string unique = std::to_string(now.tv_sec) + ".M" + std::to_string(now.tv_usec) +
                                   "P" + std::to_string(::getpid()) + "Q" +
                                   std::to_string(++m_counter) + "." + m_host;
        const fs::path tmp = m_dir / "tmp" / unique;
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            fail("cannot create file", tmp, errno);
        }
        std::size_t done = 0;
        while (done < body.size()) {
            const ssize_t n = ::write(fd, body.data() + done, body.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                const int err = errno;
                ::close(fd);
                ::unlink(tmp.c_str());
                fail("cannot write file", tmp, err);
            }
            done += static_cast<std::size_t>(n);
        }
        const timespec times[2] = {{static_cast<time_t>(when), 0}, {static_cast<time_t>(when), 0}};
        if (m.time && ::futimens(fd, times) != 0) {
            const int err = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            fail("cannot set the file time", tmp, err);
        }
        if (::close(fd) != 0) {
            const int err = errno;
            ::unlink(tmp.c_str());
            fail("cannot write file", tmp, err);
        }
        const fs::path target =
            m_dir / "cur" / (unique + ",S=" + std::to_string(body.size()) + ":2,S");
        if (!MoveNoReplace(tmp, target)) {
            const int err = errno;
            ::unlink(tmp.c_str());
            fail("cannot name file", target, err);
        }
        m_last = target.lexically_relative(m_root).generic_string();
        return WriteResult::Written;
    }

    void closeFolder() override {}
    std::string folderLocation() const override { return m_dir.string(); }
    std::string lastWritten() const override { return m_last; }
    std::optional<fs::path> logDirectory() const override { return m_root; }

private:
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
        ensureDirectory(dir);
        for (const char* sub : {"cur", "new", "tmp"}) {
            ensureDirectory(dir / sub);
        }
    }

    fs::path m_root;
    fs::path m_dir;
    std::string m_last;
    std::string m_host;
    std::uint64_t m_counter = 0;
    TopDirectories m_tops{m_root};
    std::map<std::string, fs::path> m_dirs; // (top, tree path) -> Maildir
    std::set<std::string> m_used;
    std::map<std::string, std::string> m_inboxes; // mailbox -> tree path of its Inbox
};

} // namespace

std::unique_ptr<Destination> MakeMboxDestination(const fs::path& root) {
    return std::make_unique<MboxDestination>(root);
}

std::unique_ptr<Destination> MakeMaildirDestination(const fs::path& root) {
    return std::make_unique<MaildirDestination>(root);
}

} // namespace edb::conv
