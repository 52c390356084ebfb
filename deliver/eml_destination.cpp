// The .eml folder destination: one directory per folder path, one .eml per message, contacts
// also as .vcf.
#include "deliver/destination.h"

#include "deliver/output_file.h"
#include "deliver/output_names.h"
#include "deliver/resume_check.h"
#include "deliver/sha256.h"
#include "mime/vcard_writer.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <set>

namespace edb::conv {
namespace fs = std::filesystem;
namespace {

// What a rerun found of one message an earlier run wrote.
struct Found {
    ManifestFile file;              // as recorded, or as it is now (no manifest)
    std::vector<ManifestFile> cards; // its vCards as recorded
    bool recorded = false;
};

// What Convert has always written. A rerun finds the messages already there (see
// resume_check.h) and hands out the same names in the same order, so it completes the folder
// as one run would have made it; a file in the way is kept and named.
class EmlFolderDestination final : public Destination {
public:
    EmlFolderDestination(fs::path root, bool sync)
        : m_root(std::move(root)), m_output(m_root, sync) {}

    void useManifest(const Manifest* manifest) override { m_manifest = manifest; }

    void noteFolders(const std::vector<FolderPath>& all) override {
        for (const FolderPath& f : all) {
            std::size_t first = 0;
            std::string parent = f.attached ? "+" : "-";
            if (f.attached && !f.names.empty()) {
                parent += f.names[0];
                first = 1;
            }
            for (std::size_t i = first; i < f.names.size(); ++i) {
                m_plan.add(parent, f.names[i]);
                parent += '\0' + f.names[i];
            }
        }
    }

    void openFolder(const FolderPath& f) override {
        fs::create_directories(m_root);
        fs::path dir = m_root;
        std::size_t first = 0;
        if (!f.attached || !f.names.empty()) {
            dir = m_tops.of(f.attached ? f.names[0] : std::string(), !f.attached);
            first = f.attached ? 1 : 0;
        }
        std::string parent = f.attached ? "+" : "-";
        if (f.attached && !f.names.empty()) {
            parent += f.names[0];
        }
        for (std::size_t i = first; i < f.names.size(); ++i) {
            const std::string key = dir.string() + '\0' + f.names[i];
            const auto it = m_dirs.find(key);
            if (it != m_dirs.end()) {
                dir = it->second;
            } else {
                const fs::path child =
                    m_plan.makeDirectory(dir, parent, f.names[i], m_namers[dir.string()]);
                m_dirs.emplace(key, child);
                dir = child;
            }
            parent += '\0' + f.names[i];
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
        m_lastFiles.clear();
        if (auto where = takePresent(m)) {
            // Its names are taken as the run that wrote it took them.
            (void)namer.next(stem, ".eml");
            const Found& found = m_found[*where];
            m_last = *where;
            m_lastFiles.push_back(found.file);
            if (m.contact) {
                completeCards(m, namer, found.cards);
            }
            return WriteResult::AlreadyPresent;
        }
        // Every name is taken before the writes, so a message that fails keeps its place in
        // the order and a rerun that writes it gives every file the name a single run gives.
        std::vector<Part> parts{{stem, ".eml", namer.next(stem, ".eml"), Sha256Hex(m.eml),
                                 m.eml.size()}};
        std::vector<std::string> cards;
        for (std::size_t i = 0; m.contact && i < m.snapshot.contacts.size(); ++i) {
            const ContactEntry& c = m.snapshot.contacts[i];
            std::string card = cardStem(m, c);
            std::string name = namer.next(card, ".vcf");
            cards.push_back(WriteVCard(c));
            parts.push_back({std::move(card), ".vcf", std::move(name), Sha256Hex(cards.back()),
                             cards.back().size()});
        }
        CommitGroup::Files files;
        files.push_back(writeTemporary(m.eml));
        for (const std::string& card : cards) {
            files.push_back(writeTemporary(card));
        }
        m_group.add(std::move(files), [this, dir = m_dir, parts = std::move(parts), &namer,
                                       key = m.key](CommitGroup::Files& done,
                                                    std::vector<ManifestFile>& recorded) {
            // A message is named whole or not at all, so a rerun finds it complete.
            std::vector<fs::path> named;
            std::vector<std::vector<fs::path>> passed(parts.size());
            try {
                for (std::size_t i = 0; i < parts.size(); ++i) {
                    named.push_back(NameNewFile(*done[i], dir, parts[i].name, parts[i].stem,
                                                parts[i].ext, namer, &passed[i]));
                }
            } catch (...) {
                for (const fs::path& p : named) {
                    std::error_code ec;
                    fs::remove(p, ec);
                }
                throw;
            }
            for (std::size_t i = 0; i < parts.size(); ++i) {
                const std::string rel = RelativeName(m_root, named[i]);
                recorded.push_back({rel, parts[i].sha256, parts[i].size, std::nullopt});
                noteInTheWay(passed[i], rel);
            }
            noteWrittenAgain(key, recorded.front().path);
            return recorded.front().path;
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
    std::vector<ManifestFile> lastFiles() const override { return m_lastFiles; }
    std::string formatName() const override { return "eml"; }
    std::vector<KeptFile> takeKept() override {
        std::vector<KeptFile> out;
        out.swap(m_kept);
        m_damaged.clear();
        return out;
    }

private:
    struct Part {
        std::string stem;
        std::string ext;
        std::string name;
        std::string sha256;
        std::uint64_t size = 0;
    };

    std::unique_ptr<OutputFile> writeTemporary(std::string_view bytes) const {
        auto file = std::make_unique<OutputFile>(m_dir);
        file->write(bytes);
        return file;
    }

    static std::string cardStem(const OutgoingMessage& m, const ContactEntry& c) {
        return SanitizeName(c.fullName.empty() ? m.snapshot.subject : c.fullName, "(no name)");
    }

    ManifestFile fileWritten(const fs::path& p, std::string_view bytes) const {
        return {RelativeName(m_root, p), Sha256Hex(bytes), bytes.size(), std::nullopt};
    }

    void keep(const std::string& path, std::string reason) {
        m_kept.push_back({path, std::nullopt, 0, std::move(reason)});
        std::error_code ec;
        m_kept.back().size = fs::file_size(m_root / Utf8Path(path), ec);
    }

    void noteInTheWay(const std::vector<fs::path>& passed, const std::string& writtenAs) {
        for (const fs::path& p : passed) {
            // Our own files (found whole, or already kept as changed) are not in the way.
            const std::string rel = RelativeName(m_root, p);
            const bool known = m_found.count(rel) != 0 ||
                               std::any_of(m_kept.begin(), m_kept.end(),
                                           [&](const KeptFile& k) { return k.path == rel; });
            if (!known) {
                keep(rel, std::string(kInTheWay) + "; written as " + writtenAs);
            }
        }
    }

    void noteWrittenAgain(const std::string& key, const std::string& writtenAs) {
        const auto it = m_damaged.find(key);
        if (it != m_damaged.end() && !it->second.empty()) {
            m_kept[it->second.front()].reason += "; the message written again as " + writtenAs;
            it->second.pop_front();
        }
    }

    // The next file of the message's key that can be it; a file whose size cannot be is kept.
    std::optional<std::string> takePresent(const OutgoingMessage& m) {
        PresentMessages& present = m_present[m_dir.string()];
        while (auto where = present.take(m.key)) {
            const Found& found = m_found[*where];
            if (found.recorded || SizePlausible(found.file.size, m.eml.size())) {
                return where;
            }
            keep(*where, kWrongSize);
            m_damaged[m.key].push_back(m_kept.size() - 1);
        }
        return std::nullopt;
    }

    // A message found whole: each of its vCards is checked too, and written where it is
    // missing (a run killed between the two) or no longer what was written.
    void completeCards(const OutgoingMessage& m, UniqueNamer& namer,
                       const std::vector<ManifestFile>& recorded) {
        for (std::size_t i = 0; i < m.snapshot.contacts.size(); ++i) {
            const ContactEntry& c = m.snapshot.contacts[i];
            const std::string card = WriteVCard(c);
            const std::string stem = cardStem(m, c);
            const std::string name = namer.next(stem, ".vcf");
            const fs::path p = i < recorded.size() ? m_root / Utf8Path(recorded[i].path)
                                                   : m_dir / Utf8Path(name);
            const std::string rel = RelativeName(m_root, p);
            const EntryKind kind = KindOf(p);
            if (i < recorded.size() && StillMatches(m_root, recorded[i])) {
                m_lastFiles.push_back(recorded[i]);
                continue;
            }
            std::string held;
            if (i >= recorded.size() && kind == EntryKind::Regular &&
                ReadFileStart(p, card.size() + 1, held) && held == card) {
                m_lastFiles.push_back(fileWritten(p, card));
                continue;
            }
            if (kind == EntryKind::Missing) {
                OutputFile file(m_dir);
                file.write(card);
                if (file.commit(p)) {
                    m_lastFiles.push_back(fileWritten(p, card));
                    continue;
                }
            }
            std::vector<fs::path> passed;
            const fs::path again = WriteNewFile(m_dir, stem, ".vcf", card, namer, &passed);
            const std::string againRel = RelativeName(m_root, again);
            if (kind != EntryKind::Missing) {
                keep(rel, std::string(i < recorded.size() ? kNoLongerMatches : kInTheWay) +
                              "; the card written again as " + againRel);
            }
            noteInTheWay(passed, againRel);
            m_lastFiles.push_back(fileWritten(again, card));
        }
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
        const bool recorded = m_manifest != nullptr && m_manifest->recorded();
        for (const fs::path& p : files) {
            const std::string rel = RelativeName(m_root, p);
            const ManifestEntry* e = nullptr;
            if (recorded) {
                // Only what the manifest records and still hashes to its value counts; a file
                // it does not record is not ours and counts for nothing.
                e = SavedEntryFor(*m_manifest, rel);
                if (e == nullptr && m_manifest->complete()) {
                    continue;
                }
            }
            if (recorded && e != nullptr) {
                if (StillMatches(m_root, e->files.front())) {
                    present.add(e->key, rel);
                    m_found[rel] = {e->files.front(),
                                    std::vector<ManifestFile>(e->files.begin() + 1, e->files.end()),
                                    true};
                } else {
                    keep(rel, kNoLongerMatches);
                    m_damaged[e->key].push_back(m_kept.size() - 1);
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
                m_found[rel] = {fileWritten(p, text), {}, false};
            } else {
                keep(rel, kIncomplete);
                m_damaged[key].push_back(m_kept.size() - 1);
            }
        }
    }

    fs::path m_root;
    OutputRoot m_output;
    CommitGroup m_group{m_output};
    fs::path m_dir;
    std::string m_last;
    std::vector<ManifestFile> m_lastFiles;
    const Manifest* m_manifest = nullptr;
    TopDirectories m_tops{m_root};
    FolderNamePlan m_plan;
    std::map<std::string, UniqueNamer> m_namers;      // per directory
    std::map<std::string, fs::path> m_dirs;           // (parent, store name) -> directory made
    std::map<std::string, PresentMessages> m_present; // per directory
    std::map<std::string, Found> m_found;             // by file
    std::vector<KeptFile> m_kept;                     // since takeKept
    std::map<std::string, std::deque<std::size_t>> m_damaged; // key -> m_kept index
    std::set<std::string> m_scanned;
};

} // namespace

std::unique_ptr<Destination> MakeEmlDestination(const fs::path& root, bool sync) {
    return std::make_unique<EmlFolderDestination>(root, sync);
}

} // namespace edb::conv
