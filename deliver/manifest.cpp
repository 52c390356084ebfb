#include "deliver/manifest.h"

#include "deliver/export_log.h"
#include "deliver/output_file.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <ctime>
#include <fstream>
#include <limits>
#include <set>
#include <system_error>

#ifndef EDB_VERSION
#define EDB_VERSION "unknown"
#endif

namespace edb::conv {
namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
namespace {

constexpr int kManifestVersion = 1;

// Store names are UTF-8 as decoded, but a damaged store may still hand over a stray byte.
std::string text(const json& j, int indent = -1) {
    return j.dump(indent, ' ', false, json::error_handler_t::replace);
}

EntryState stateOf(const std::string& name) {
    if (name == "saved with missing parts noted") {
        return EntryState::SavedWithMissingParts;
    }
    if (name == "failed") {
        return EntryState::Failed;
    }
    if (name == "skipped") {
        return EntryState::Skipped;
    }
    return EntryState::Saved;
}

json fileJson(const ManifestFile& f) {
    json j = {{"file", f.path}, {"sha256", f.sha256}, {"size", f.size}};
    if (f.offset) {
        j["offset"] = *f.offset;
    }
    return j;
}

ManifestFile fileOf(const json& j) {
    ManifestFile f;
    f.path = j.at("file").get<std::string>();
    f.sha256 = j.at("sha256").get<std::string>();
    f.size = j.at("size").get<std::uint64_t>();
    if (j.contains("offset")) {
        f.offset = j.at("offset").get<std::uint64_t>();
    }
    return f;
}

json entryJson(const ManifestEntry& e) {
    json j = json::object();
    if (!e.files.empty()) {
        j = fileJson(e.files.front());
        if (e.files.size() > 1) {
            json cards = json::array();
            for (std::size_t i = 1; i < e.files.size(); ++i) {
                cards.push_back(fileJson(e.files[i]));
            }
            j["vcards"] = std::move(cards);
        }
    }
    j["source"] = {{"mailbox", e.mailbox},
                   {"folder", e.folder},
                   {"row", e.row},
                   {"messageId", e.messageId}};
    j["key"] = e.key;
    j["state"] = StateName(e.state);
    if (!e.reason.empty()) {
        j["reason"] = e.reason;
    }
    j["run"] = e.run;
    return j;
}

ManifestEntry entryOf(const json& j) {
    ManifestEntry e;
    if (j.contains("file")) {
        e.files.push_back(fileOf(j));
    }
    if (j.contains("vcards")) {
        for (const json& c : j.at("vcards")) {
            e.files.push_back(fileOf(c));
        }
    }
    const json& s = j.at("source");
    e.mailbox = s.at("mailbox").get<std::string>();
    e.folder = s.at("folder").get<std::string>();
    e.row = s.at("row").get<std::uint64_t>();
    e.messageId = s.at("messageId").get<std::string>();
    e.key = j.value("key", std::string());
    e.state = stateOf(j.at("state").get<std::string>());
    e.reason = j.value("reason", std::string());
    e.run = j.value("run", std::uint64_t{0});
    return e;
}

json keptJson(const KeptFile& k) {
    json j = {{"file", k.path}, {"size", k.size}, {"reason", k.reason}};
    if (k.offset) {
        j["offset"] = *k.offset;
    }
    return j;
}

KeptFile keptOf(const json& j) {
    KeptFile k;
    k.path = j.at("file").get<std::string>();
    k.size = j.value("size", std::uint64_t{0});
    k.reason = j.value("reason", std::string());
    if (j.contains("offset")) {
        k.offset = j.at("offset").get<std::uint64_t>();
    }
    return k;
}

bool readAll(const fs::path& p, std::string& out) {
    return KindOf(p) == EntryKind::Regular &&
           ReadFileStart(p, std::numeric_limits<std::size_t>::max(), out);
}

} // namespace

std::string UtcText(std::time_t t) {
    std::tm tm{};
#ifdef _WIN32
    gmtime_s(&tm, &t);
#else
    gmtime_r(&t, &tm);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

std::string UtcNow() {
    return UtcText(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

const char* StateName(EntryState s) {
    switch (s) {
    case EntryState::Saved:
        return "saved";
    case EntryState::SavedWithMissingParts:
        return "saved with missing parts noted";
    case EntryState::Failed:
        return "failed";
    case EntryState::Skipped:
        return "skipped";
    }
    return "saved";
}

std::string ManifestEntry::identity() const {
    return folder + '\0' + std::to_string(row) + '\0' + messageId;
}

struct Manifest::Pending {
    json run;
    std::vector<ManifestEntry> entries;
    std::vector<KeptFile> kept;
    std::ofstream journal;
};

Manifest::Manifest(fs::path dir) : m_dir(std::move(dir)) {
    std::string content;
    if (readAll(m_dir / kManifestName, content)) {
        try {
            const json j = json::parse(content);
            for (const json& r : j.at("runs")) {
                m_runs.push_back(text(r));
                m_run = std::max(m_run, r.value("run", std::uint64_t{0}));
            }
            for (const json& e : j.at("messages")) {
                m_entries.push_back(entryOf(e));
            }
            for (const json& k : j.value("kept", json::array())) {
                m_kept.push_back(keptOf(k));
            }
            m_recorded = true;
            m_complete = true;
        } catch (const json::exception& e) {
            m_problem = std::string(kManifestName) + " cannot be read (" + e.what() +
                        "); the output folder is checked as one without it";
            m_runs.clear();
            m_entries.clear();
            m_kept.clear();
        }
    }
    readJournal();
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        for (const ManifestFile& f : m_entries[i].files) {
            m_byPath.emplace(f.path, i);
        }
    }
}

Manifest::~Manifest() = default;

// A killed run's journal: its lines up to the last whole one count as that run's record.
void Manifest::readJournal() {
    std::string content;
    if (!readAll(m_dir / kManifestJournalName, content)) {
        return;
    }
    Pending run;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const std::size_t end = content.find('\n', pos);
        if (end == std::string::npos) {
            break; // the line the kill cut
        }
        try {
            const json line = json::parse(content.substr(pos, end - pos));
            if (line.contains("run")) {
                if (!run.run.is_null()) {
                    fold(run, true);
                    run = Pending();
                }
                run.run = line.at("run");
                m_killed.push_back(run.run.value("started", std::string()));
            } else if (line.contains("message")) {
                run.entries.push_back(entryOf(line.at("message")));
            } else if (line.contains("kept")) {
                run.kept.push_back(keptOf(line.at("kept")));
            } else if (line.contains("store") && run.run.is_object()) {
                run.run["store"]["sha256"] = line.at("store").at("sha256");
            }
        } catch (const json::exception&) {
            // A line the kill garbled: the rest stays usable.
        }
        pos = end + 1;
    }
    if (run.run.is_object()) {
        fold(run, true);
        m_recorded = true;
        m_complete = false;
    }
}

// Earlier runs with `run`: its entries replace those of the same messages, those whose files
// it found changed, and those of a whole file it wrote anew (a PST); everything else earlier
// runs recorded stays.
void Manifest::fold(Pending& run, bool interrupted) {
    std::set<std::string> replaced;
    std::map<std::string, std::string> wholeFiles; // path -> this run's hash
    for (const ManifestEntry& e : run.entries) {
        replaced.insert(e.identity());
        for (const ManifestFile& f : e.files) {
            if (!f.offset) {
                wholeFiles[f.path] = f.sha256;
            }
        }
    }
    std::set<std::string> changed;
    for (const KeptFile& k : run.kept) {
        changed.insert(k.path + '\0' + std::to_string(k.offset.value_or(UINT64_MAX)));
    }
    std::vector<ManifestEntry> entries;
    for (ManifestEntry& e : m_entries) {
        bool gone = replaced.count(e.identity()) != 0;
        for (const ManifestFile& f : e.files) {
            gone = gone ||
                   changed.count(f.path + '\0' + std::to_string(f.offset.value_or(UINT64_MAX)));
            const auto again = wholeFiles.find(f.path);
            gone = gone || (!f.offset && again != wholeFiles.end() && again->second != f.sha256);
        }
        if (!gone) {
            entries.push_back(std::move(e));
        }
    }
    for (ManifestEntry& e : run.entries) {
        entries.push_back(std::move(e));
    }
    m_entries = std::move(entries);
    std::set<std::string> seen;
    std::vector<KeptFile> kept;
    for (KeptFile& k : run.kept) {
        seen.insert(k.path + '\0' + std::to_string(k.offset.value_or(UINT64_MAX)));
        kept.push_back(std::move(k));
    }
    for (KeptFile& k : m_kept) {
        // Still there and not noted again: it stays noted.
        if (!seen.count(k.path + '\0' + std::to_string(k.offset.value_or(UINT64_MAX))) &&
            KindOf(m_dir / fs::path(std::u8string(k.path.begin(), k.path.end()))) !=
                EntryKind::Missing) {
            kept.push_back(std::move(k));
        }
    }
    m_kept = std::move(kept);
    run.run["interrupted"] = interrupted;
    if (!interrupted) {
        run.run["finished"] = UtcNow();
    }
    m_run = std::max(m_run, run.run.value("run", std::uint64_t{0}));
    m_runs.push_back(text(run.run));
}

std::vector<const ManifestEntry*> Manifest::entriesFor(const std::string& path) const {
    std::vector<const ManifestEntry*> out;
    const auto [from, to] = m_byPath.equal_range(path);
    for (auto it = from; it != to; ++it) {
        out.push_back(&m_entries[it->second]);
    }
    return out;
}

void Manifest::begin(const RunInfo& info) {
    m_pending = std::make_unique<Pending>();
    Pending& p = *m_pending;
    ++m_run;
    p.run = {{"run", m_run},
             {"started", UtcNow()},
             {"program", {{"name", info.program}, {"version", EDB_VERSION}}},
             {"store",
              {{"path", info.storePath},
               {"size", info.storeSize},
               {"modified", info.storeModified}}}};
    json options = json::object();
    for (const auto& [name, value] : info.options) {
        options[name] = value;
    }
    p.run["options"] = std::move(options);
    p.run["folders"] = info.folders;
    const fs::path path = m_dir / kManifestJournalName;
    if (KindOf(path) != EntryKind::Missing && KindOf(path) != EntryKind::Regular) {
        throw fs::filesystem_error("cannot write the manifest journal: a folder, link or special "
                                   "file has its name",
                                   path, std::make_error_code(std::errc::file_exists));
    }
    // What an earlier journal held is folded in above and written out at the end.
    p.journal.open(path, std::ios::binary | std::ios::trunc);
    if (!p.journal) {
        throw fs::filesystem_error("cannot write the manifest journal", path,
                                   std::make_error_code(std::errc::io_error));
    }
    p.journal << text(json{{"run", p.run}}) << '\n' << std::flush;
}

void Manifest::add(ManifestEntry entry) {
    if (!m_pending) {
        return;
    }
    entry.run = m_run;
    m_pending->journal << text(json{{"message", entryJson(entry)}}) << '\n' << std::flush;
    m_journalFailed = m_journalFailed || !m_pending->journal;
    m_pending->entries.push_back(std::move(entry));
}

void Manifest::keep(const KeptFile& file) {
    if (!m_pending) {
        return;
    }
    m_pending->journal << text(json{{"kept", keptJson(file)}}) << '\n' << std::flush;
    m_journalFailed = m_journalFailed || !m_pending->journal;
    m_pending->kept.push_back(file);
}

void Manifest::setStoreHash(const std::string& sha256) {
    if (!m_pending) {
        return;
    }
    m_pending->run["store"]["sha256"] = sha256;
    m_pending->journal << text(json{{"store", {{"sha256", sha256}}}}) << '\n' << std::flush;
}

fs::path Manifest::finish(bool interrupted) {
    if (!m_pending) {
        return {};
    }
    m_pending->journal.close();
    fold(*m_pending, interrupted);
    m_pending.reset();
    json out = {{"manifest", kManifestVersion}};
    out["runs"] = json::array();
    for (const std::string& r : m_runs) {
        out["runs"].push_back(json::parse(r));
    }
    out["messages"] = json::array();
    for (const ManifestEntry& e : m_entries) {
        out["messages"].push_back(entryJson(e));
    }
    out["kept"] = json::array();
    for (const KeptFile& k : m_kept) {
        out["kept"].push_back(keptJson(k));
    }
    const fs::path path =
        WriteOwnFile(m_dir, kManifestName, text(out, 1) + "\n", "cannot write the manifest");
    std::error_code ec;
    fs::remove(m_dir / kManifestJournalName, ec);
    return path;
}

} // namespace edb::conv
