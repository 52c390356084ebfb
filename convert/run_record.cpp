#include "convert/run_record.h"

#include "deliver/output_names.h"
#include "deliver/sha256.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

namespace edb::conv {
namespace fs = std::filesystem;
namespace {

std::string modifiedUtc(const std::string& path) {
    std::error_code ec;
    const auto when = fs::last_write_time(Utf8Path(path), ec);
    if (ec) {
        return {};
    }
    return UtcText(std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(when)));
}

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(Utf8Path(path), ec);
    if (ec) {
        return path;
    }
    const std::u8string u = p.lexically_normal().u8string();
    return std::string(u.begin(), u.end());
}

} // namespace

RunRecord::RunRecord(const StoreCatalog& catalog, Destination& destination,
                     const ConvertOptions& options, const std::vector<const FolderPath*>& folders,
                     ConvertSummary& summary)
    : m_catalog(catalog), m_dest(destination), m_summary(summary) {
    const auto dir = destination.logDirectory();
    if (!dir) {
        return;
    }
    RunInfo info;
    info.program = options.program.empty() ? "Exchange To Eml" : options.program;
    info.storePath = absolutePath(catalog.storeFile.fileName());
    info.storeSize = catalog.storeSize;
    info.storeModified = modifiedUtc(catalog.storeFile.fileName());
    info.options.emplace_back("format", destination.formatName());
    for (const auto& o : options.runOptions) {
        info.options.push_back(o);
    }
    m_heading = "=== Run started " + UtcNow() + " by " + info.program + "\nStore: " +
                info.storePath + "\nOptions:";
    for (const auto& [name, value] : info.options) {
        m_heading += " " + name + "=" + value;
    }
    m_heading += "\nFolders (" + std::to_string(folders.size()) + "):";
    for (const FolderPath* f : folders) {
        info.folders.push_back(f->treePath);
        m_heading += " " + f->treePath;
    }
    m_heading += "\n";
    try {
        fs::create_directories(*dir);
        m_manifest = std::make_unique<Manifest>(*dir);
        if (!m_manifest->loadProblem().empty()) {
            m_summary.failures.push_back({"", kManifestName, m_manifest->loadProblem()});
        }
        m_dest.useManifest(m_manifest.get());
        m_manifest->begin(info);
    } catch (const std::exception& e) {
        // The export goes on; that it has no manifest is said.
        m_summary.failures.push_back({"", kManifestName, e.what()});
        m_summary.manifestFailed = true;
        m_manifest.reset();
        m_dest.useManifest(nullptr);
        return;
    }
    m_hasher = std::thread([this] { hashStore(); });
}

RunRecord::~RunRecord() {
    m_stopHash = true;
    if (m_hasher.joinable()) {
        m_hasher.join();
    }
}

// One more pass over the store, beside the writing: the scan's pass is long over, and most of
// the store is still in the system's cache when the store fits in memory.
void RunRecord::hashStore() {
    Sha256 h;
    std::vector<std::uint8_t> buf(std::size_t{4} << 20);
    std::uint64_t pos = 0;
    try {
        while (pos < m_catalog.storeSize) {
            if (m_stopHash.load(std::memory_order_relaxed)) {
                return;
            }
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(buf.size(), m_catalog.storeSize - pos));
            const std::size_t got = m_catalog.storeFile.ReadAt(pos, buf.data(), want);
            if (got == 0) {
                return;
            }
            h.update(buf.data(), got);
            pos += got;
        }
    } catch (const std::exception&) {
        return; // no hash; the manifest says so by leaving it out
    }
    m_storeHash = h.hex();
}

ManifestEntry RunRecord::entry(const FolderPath& f, const FolderId& messageId, std::uint64_t row,
                               const std::string& key) const {
    ManifestEntry e;
    e.mailbox = f.attached && !f.names.empty() ? f.names[0] : std::string();
    e.folder = f.treePath;
    e.row = row;
    e.messageId = ToHex(messageId);
    e.key = key;
    return e;
}

void RunRecord::add(ManifestEntry e) {
    if (m_dest.placedAtFinish() && e.saved()) {
        m_atEnd.push_back(std::move(e));
    } else if (m_dest.placedAtClose() && e.saved()) {
        m_held.push_back(std::move(e));
    } else {
        m_manifest->add(std::move(e));
    }
}

void RunRecord::written(const FolderPath& f, const FolderId& messageId, std::uint64_t row,
                        const std::string& key, const std::vector<std::string>& missing,
                        std::vector<ManifestFile> files) {
    if (!m_manifest) {
        return;
    }
    ManifestEntry e = entry(f, messageId, row, key);
    e.files = std::move(files);
    e.state = missing.empty() ? EntryState::Saved : EntryState::SavedWithMissingParts;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        e.reason += (i ? "; " : "") + missing[i];
    }
    add(std::move(e));
}

void RunRecord::notWritten(const FolderPath& f, const FolderId& messageId, std::uint64_t row,
                           const std::string& key, EntryState state, const std::string& reason) {
    if (!m_manifest) {
        return;
    }
    ManifestEntry e = entry(f, messageId, row, key);
    e.state = state;
    e.reason = reason;
    add(std::move(e));
}

void RunRecord::folderClosed(const std::string& error) {
    if (!m_manifest) {
        return;
    }
    for (ManifestEntry& e : m_held) {
        if (!error.empty()) {
            e.files.clear();
            e.state = EntryState::Failed;
            e.reason = error;
        }
        m_manifest->add(std::move(e));
    }
    m_held.clear();
    for (const KeptFile& k : m_dest.takeKept()) {
        m_manifest->keep(k);
        m_summary.kept.push_back(k);
    }
}

std::vector<std::string> RunRecord::killedRunNotes() const {
    std::vector<std::string> notes;
    if (m_manifest) {
        for (const std::string& started : m_manifest->killedRuns()) {
            notes.push_back("The run started " + started +
                            " ended before it could finish (killed, or the system stopped); what "
                            "it wrote is recorded in " + kManifestName + ".");
        }
    }
    return notes;
}

void RunRecord::finish(const FinishResult& done) {
    if (!m_manifest) {
        return;
    }
    folderClosed({});
    for (ManifestEntry& e : m_atEnd) {
        const std::string path = e.files.empty() ? std::string() : e.files.front().path;
        const auto it = std::find_if(done.files.begin(), done.files.end(),
                                     [&](const ManifestFile& f) { return f.path == path; });
        if (it != done.files.end()) {
            e.files = {*it};
        } else {
            e.files.clear();
            e.state = EntryState::Failed;
            e.reason = "its file could not be completed";
            for (const UnfinishedOutput& u : done.failed) {
                if (path.empty() || u.location.empty() || u.location.ends_with(path)) {
                    e.reason += ": " + u.reason;
                    break;
                }
            }
        }
        m_manifest->add(std::move(e));
    }
    m_atEnd.clear();
    if (m_summary.cancelled || m_summary.stopped) {
        m_stopHash = true; // the user wants the run to end now
    }
    if (m_hasher.joinable()) {
        m_hasher.join();
    }
    if (!m_storeHash.empty()) {
        m_manifest->setStoreHash(m_storeHash);
    }
    if (m_manifest->journalFailed()) {
        m_summary.failures.push_back(
            {"", kManifestJournalName, "a line could not be written (the disk may be full)"});
    }
    try {
        m_summary.manifestPath = m_manifest->finish(m_summary.cancelled);
    } catch (const std::exception& e) {
        m_summary.failures.push_back({"", kManifestName, e.what()});
        m_summary.manifestFailed = true;
    }
}

} // namespace edb::conv
