#pragma once
// Message files waiting for their names. Each is written under a temporary name and starts on
// its way to the disk at once; a group of them is then flushed in one pass, named, and the
// folders that got names flushed once each. An export so pays the disk's flush latency once a
// group rather than once a message, and still no name comes before its file's data is on the
// disk, nor is a message reported written before its name is.
#include "deliver/manifest.h"
#include "deliver/output_file.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace edb::conv {

// A message Destination::write() left pending, settled: under its names and on the disk
// (`error` empty; `location` as Destination::lastWritten() gives it), or failed for `error`
// (nothing of it named).
struct Settled {
    std::string location;
    std::string error;
    std::vector<ManifestFile> files; // for the manifest: what it was named, with their hashes
};

class CommitGroup {
public:
    using Files = std::vector<std::unique_ptr<OutputFile>>;
    // Gives a message's files (flushed) their names and returns where the message went, as
    // Destination::lastWritten() says it, with the files named for the manifest in `named`.
    // Throws std::filesystem::filesystem_error and leaves none of the files named then.
    using Namer = std::function<std::string(Files&, std::vector<ManifestFile>& named)>;

    explicit CommitGroup(OutputRoot& root) : m_root(root) {}

    // One message's files, complete.
    void add(Files files, Namer namer);
    // What Destination::settle returns: the messages settled so far, after committing the
    // waiting group when `all` or when it is full or has waited long enough.
    [[nodiscard]] std::vector<Settled> settle(bool all);
    // Commits the waiting group now; its outcomes wait for the next settle().
    void commit();

private:
    struct Waiting {
        Files files;
        Namer namer;
    };
    OutputRoot& m_root;
    std::vector<Waiting> m_waiting;
    std::size_t m_files = 0;
    std::uint64_t m_bytes = 0;
    std::chrono::steady_clock::time_point m_first;
    std::vector<Settled> m_settled;
};

} // namespace edb::conv
