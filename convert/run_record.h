#pragma once
// What Convert tells the manifest: the run (store, program, options, folders), every message's
// files and state, and the files it found in the way. The store's SHA-256 is computed on a
// thread of its own while the messages are written.
#include "convert/convert_summary.h"
#include "deliver/manifest.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace edb::conv {

class RunRecord {
public:
    // Records nothing for a destination without a folder of its own (an upload).
    RunRecord(const StoreCatalog& catalog, Destination& destination, const ConvertOptions& options,
              const std::vector<const FolderPath*>& folders, ConvertSummary& summary);
    ~RunRecord();
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    // A message written or found, in `files` (the destination's lastFiles(), or what it
    // settled).
    void written(const FolderPath& f, const FolderId& messageId, std::uint64_t row,
                 const std::string& key, const std::vector<std::string>& missing,
                 std::vector<ManifestFile> files);
    void notWritten(const FolderPath& f, const FolderId& messageId, std::uint64_t row,
                    const std::string& key, EntryState state, const std::string& reason);
    // The open folder was closed: what waited for it is recorded (or failed with `error`).
    void folderClosed(const std::string& error);
    // Completes manifest.json once the destination completed its outputs (`done`: the PST
    // files and their hashes); what cannot be written is a failure in the summary.
    void finish(const FinishResult& done);
    // The export log's heading for this run, and its notes on earlier runs that never ended.
    [[nodiscard]] const std::string& logHeading() const { return m_heading; }
    [[nodiscard]] std::vector<std::string> killedRunNotes() const;

private:
    ManifestEntry entry(const FolderPath& f, const FolderId& messageId, std::uint64_t row,
                        const std::string& key) const;
    void add(ManifestEntry e);
    void hashStore();

    const StoreCatalog& m_catalog;
    Destination& m_dest;
    ConvertSummary& m_summary;
    std::unique_ptr<Manifest> m_manifest;
    std::vector<ManifestEntry> m_held;  // waiting for their folder to close
    std::vector<ManifestEntry> m_atEnd; // waiting for the run's end (a PST)
    std::atomic<bool> m_stopHash{false};
    std::string m_storeHash; // set by the hashing thread before it ends
    std::thread m_hasher;
    std::string m_heading;
};

} // namespace edb::conv
