// The mbox (mboxrd) destination.
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
        const std::vector<std::string> names = NamesBelowTop(f);
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

    void useManifest(const Manifest* manifest) override { m_manifest = manifest; }

    WriteResult write(const OutgoingMessage& m) override {
        const std::string where = RelativeName(m_root, m_target);
        if (auto at = takePresent(m)) {
            m_last = where + ", message " + std::to_string(*at + 1);
            m_lastFiles = {m_found.at(*at)};
            return WriteResult::AlreadyPresent;
        }
        const std::string out = mboxrdMessage(m);
        const std::uint64_t before = m_file->size();
        m_lastFiles = {{where, Sha256Hex(out), out.size(), before}};
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
        if (const auto it = m_damaged.find(m.key); it != m_damaged.end() && !it->second.empty()) {
            m_kept[it->second.front()].reason +=
                "; the message written again at byte " + std::to_string(before);
            it->second.pop_front();
        }
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
    std::vector<ManifestFile> lastFiles() const override { return m_lastFiles; }
    bool placedAtClose() const override { return true; }
    std::string formatName() const override { return "mbox"; }
    std::vector<KeptFile> takeKept() override {
        std::vector<KeptFile> out;
        out.swap(m_kept);
        m_damaged.clear();
        return out;
    }

private:
    // The next message of the key that can be it; one whose size cannot be is kept.
    std::optional<std::size_t> takePresent(const OutgoingMessage& m) {
        while (auto at = m_present.take(m.key)) {
            const std::size_t i = std::stoul(*at);
            if (m_recorded[i] || SizePlausible(m_found[i].size, mboxrdMessage(m).size())) {
                return i;
            }
            keepRange(m_found[i], kWrongSize, m.key);
        }
        return std::nullopt;
    }

    void keepRange(const ManifestFile& f, const char* reason, const std::string& key) {
        m_kept.push_back({f.path, f.offset, f.size, reason});
        m_damaged[key].push_back(m_kept.size() - 1);
    }

    // The file an earlier run left, copied first: the messages in it that still match the
    // manifest (or, without one, read as whole) count as present; the others are kept where
    // they are and written again at the end. Only a torn last write is left out.
    void resume() {
        std::string text;
        if (!ReadFileStart(m_target, std::numeric_limits<std::size_t>::max(), text)) {
            throw fs::filesystem_error("cannot read the existing file", m_target,
                                       std::make_error_code(std::errc::io_error));
        }
        std::vector<std::size_t> starts = MboxStarts(text);
        if (!starts.empty() && !text.ends_with("\n\n")) {
            // A write torn off (a version that wrote in place): the part goes, the message is
            // written again whole.
            text.resize(starts.back());
            starts.pop_back();
        }
        const std::string where = RelativeName(m_root, m_target);
        const bool recorded = m_manifest != nullptr && m_manifest->recorded();
        std::map<std::uint64_t, const ManifestEntry*> byOffset;
        if (recorded) {
            for (const ManifestEntry* e : m_manifest->entriesFor(where)) {
                if (e->saved() && e->files.front().path == where && e->files.front().offset) {
                    byOffset[*e->files.front().offset] = e;
                }
            }
        }
        m_found.clear();
        m_recorded.clear();
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
            const std::string_view range(text.data() + starts[i], end - starts[i]);
            m_found.push_back({where, Sha256Hex(range), range.size(), starts[i]});
            m_recorded.push_back(byOffset.count(starts[i]) != 0);
            const std::size_t from = range.find('\n') + 1;
            const std::string_view message = range.substr(std::min(from, range.size()));
            const auto it = byOffset.find(starts[i]);
            if (it != byOffset.end() || (recorded && m_manifest->complete())) {
                if (it != byOffset.end() && it->second->files.front().sha256 ==
                                                m_found.back().sha256) {
                    m_found.back() = it->second->files.front();
                    m_present.add(it->second->key, std::to_string(i));
                } else {
                    keepRange(m_found.back(), kNoLongerMatches,
                              it != byOffset.end() ? it->second->key : MessageKey(message));
                }
            } else if (LooksComplete(message)) {
                m_present.add(MessageKey(message), std::to_string(i));
            } else {
                keepRange(m_found.back(), kIncomplete, MessageKey(message));
            }
        }
        m_count = starts.size();
        m_file->write(text);
    }

    static std::string mboxrdMessage(const OutgoingMessage& m) {
        std::string out =
            "From " + EnvelopeSender(m.eml) + ' ' + FormatMboxDate(m.time.value_or(0)) + '\n';
        const std::string body = ToLf(m.eml);
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
        FailOutput("no free file name", dir, EEXIST);
    }

    fs::path m_root;
    OutputRoot m_output;
    fs::path m_target;
    std::unique_ptr<OutputFile> m_file;
    bool m_existing = false; // m_target was there before and is being extended
    OutputFile::Identity m_replaced;
    PresentMessages m_present;
    const Manifest* m_manifest = nullptr;
    std::vector<ManifestFile> m_found; // the messages of the existing file, in order
    std::vector<bool> m_recorded;      // of them, those the manifest vouches for
    std::vector<KeptFile> m_kept;      // since takeKept
    std::map<std::string, std::deque<std::size_t>> m_damaged; // key -> m_kept index
    std::vector<ManifestFile> m_lastFiles;
    std::size_t m_count = 0;   // messages in the open mbox
    std::size_t m_written = 0; // of them added by this run
    std::size_t m_failed = 0;
    std::string m_last;
    TopDirectories m_tops{m_root};
    std::map<std::string, UniqueNamer> m_namers;
    std::map<std::string, std::string> m_stems;
};

} // namespace

std::unique_ptr<Destination> MakeMboxDestination(const fs::path& root, bool sync) {
    return std::make_unique<MboxDestination>(root, sync);
}

} // namespace edb::conv
