#pragma once
// manifest.json beside the export log: what an export wrote and from where, with a SHA-256 of
// every file (of every message's range in an mbox), so that the output can be checked later and
// a rerun trusts only what still hashes to its recorded value. While a run goes, what it does
// is appended to a journal and flushed message by message; the run's end folds the journal into
// manifest.json, which is replaced whole. A run that was killed leaves its journal, and the
// next run folds it in first, so nothing it recorded is lost.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace edb::conv {

inline constexpr const char* kManifestName = "manifest.json";
inline constexpr const char* kManifestJournalName = "manifest-journal.jsonl";

// One file a message went to: the .eml (or Maildir file, or its range of an mbox), or a vCard.
struct ManifestFile {
    std::string path; // relative to the output folder, '/' between names
    std::string sha256;
    std::uint64_t size = 0;              // of the file, or of the range
    std::optional<std::uint64_t> offset; // where the range starts (mbox)
};

enum class EntryState { Saved, SavedWithMissingParts, Failed, Skipped };

[[nodiscard]] const char* StateName(EntryState s);

// A time as UTC in ISO 8601 ("2004-05-06T07:08:09Z"), and the time now.
[[nodiscard]] std::string UtcText(std::time_t t);
[[nodiscard]] std::string UtcNow();

struct ManifestEntry {
    std::vector<ManifestFile> files; // the message first, then its vCards
    std::string mailbox;
    std::string folder; // tree path
    std::uint64_t row = 0;
    std::string messageId; // the store's, hex
    std::string key;       // Message-ID or the store id (MessageKey)
    EntryState state = EntryState::Saved;
    std::string reason; // why failed or skipped; the missing parts when noted
    std::uint64_t run = 0;

    [[nodiscard]] bool saved() const {
        return state == EntryState::Saved || state == EntryState::SavedWithMissingParts;
    }
    // The same message of the same folder in another run.
    [[nodiscard]] std::string identity() const;
};

// A file (or mbox range) in the output folder that did not match what the manifest recorded
// or that nothing recorded, left where it was.
struct KeptFile {
    std::string path;
    std::optional<std::uint64_t> offset;
    std::uint64_t size = 0;
    std::string reason;
};

// What a run says about itself: store, program, options. Ordered pairs as written.
struct RunInfo {
    std::string program;
    std::string storePath;
    std::uint64_t storeSize = 0;
    std::string storeModified; // UTC, ISO 8601
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> folders;
};

class Manifest {
public:
    // Reads manifest.json and a journal a killed run left in `dir`; neither need be there.
    // A manifest that cannot be read is set aside (loadProblem says why): the folder is then
    // treated as one without a manifest.
    explicit Manifest(std::filesystem::path dir);
    ~Manifest();
    Manifest(const Manifest&) = delete;
    Manifest& operator=(const Manifest&) = delete;

    [[nodiscard]] bool recorded() const { return m_recorded; }
    // The last run ended and wrote manifest.json: a file it does not list is not the export's.
    // After a run that was killed (or could not write its journal) a file may be missing from
    // the record, so such a file is judged by what it holds.
    [[nodiscard]] bool complete() const { return m_complete; }
    [[nodiscard]] const std::string& loadProblem() const { return m_problem; }
    // What earlier runs recorded, by output file.
    [[nodiscard]] std::vector<const ManifestEntry*> entriesFor(const std::string& path) const;
    [[nodiscard]] const std::vector<ManifestEntry>& entries() const { return m_entries; }
    [[nodiscard]] const std::vector<KeptFile>& kept() const { return m_kept; }

    // Starts this run's journal. Throws std::filesystem::filesystem_error.
    void begin(const RunInfo& info);
    void add(ManifestEntry entry);
    void keep(const KeptFile& file);
    void setStoreHash(const std::string& sha256);
    // Writes manifest.json (earlier runs with this one) and removes the journal. Throws
    // std::filesystem::filesystem_error naming the file; the journal then stays.
    std::filesystem::path finish(bool interrupted);

    [[nodiscard]] std::uint64_t run() const { return m_run; }
    // When the runs that were killed before they ended (found in a journal) started.
    [[nodiscard]] const std::vector<std::string>& killedRuns() const { return m_killed; }
    // A line of this run's journal could not be written (a full disk).
    [[nodiscard]] bool journalFailed() const { return m_journalFailed; }

private:
    struct Pending; // this run's journal and entries
    void fold(Pending& run, bool interrupted);
    void readJournal();

    std::filesystem::path m_dir;
    bool m_recorded = false;
    bool m_complete = false;
    bool m_journalFailed = false;
    std::string m_problem;
    std::vector<std::string> m_runs;  // each run's JSON text
    std::vector<std::string> m_killed;
    std::vector<ManifestEntry> m_entries;
    std::vector<KeptFile> m_kept;
    std::multimap<std::string, std::size_t> m_byPath;
    std::uint64_t m_run = 0;
    std::unique_ptr<Pending> m_pending;
};

} // namespace edb::conv
