#pragma once
// The file-system work of every output: a file is written under a temporary name in its own
// folder and gets its final name only when complete and flushed, never replacing what is there
// and never through a symbolic link, not even one swapped in for a folder while the export runs. The only place that talks to the operating system for outputs
// (output_file_posix.cpp; a Windows file sits beside it).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

namespace tree {
struct Dir;
struct Root;
} // namespace tree

// The output folder of one export, held while the export runs. Every directory below it is
// reached from its own handle one name at a time, never through a link, and each is checked
// again before a file is made or named in it: a folder moved away or swapped for a link while
// the export runs makes the write fail with a reason naming the folder, and nothing goes through
// it. With `sync`, each file is flushed to the disk before it gets its name and each directory
// that got names is flushed at flush() (once per folder) and at the end; without (a scratch
// disk), nothing is flushed.
class OutputRoot {
public:
    OutputRoot(const std::filesystem::path& root, bool sync);
    OutputRoot(const OutputRoot&) = delete;
    OutputRoot& operator=(const OutputRoot&) = delete;
    ~OutputRoot(); // flushes what is left (a failure there cannot be reported)
    // Flushes the directories that got names since the last flush. Throws
    // std::filesystem::filesystem_error naming the directory.
    void flush();

private:
    std::shared_ptr<tree::Root> m_root;
};

// A new file in `dir`, open for writing under a hidden temporary name, with the permissions the
// user's umask gives. Removed again unless commit() gave it its name. Every failure throws
// std::filesystem::filesystem_error naming the file and the reason.
class OutputFile {
public:
    explicit OutputFile(const std::filesystem::path& dir);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Writes all of `bytes` at the end, or throws (a full disk, a file too large).
    void write(std::string_view bytes);
    // Cuts the file back to `size` bytes: what a failed write added is taken away again.
    void truncate(std::uint64_t size);
    [[nodiscard]] std::uint64_t size() const { return m_size; }
    // Data on disk now (commit() does it before the rename unless done since the last write;
    // nothing under an OutputRoot made without sync).
    void sync();
    // sync() of every file of `files` at once, at the cost of about one: the text of each
    // file's failure, empty where it is on the disk.
    [[nodiscard]] static std::vector<std::string> syncTogether(const std::vector<OutputFile*>& files);
    // Starts writing the data out without waiting, so a sync() later finds it mostly done
    // (nothing where the system has no such call, or without sync).
    void startSync();
    // Access and modification time, seconds since 1970.
    void setTime(std::int64_t seconds);

    // Closes the file and gives it the name `target` unless that name is taken: false then,
    // and the file stays open under its temporary name for another try.
    [[nodiscard]] bool commit(const std::filesystem::path& target);
    // Closes the file and puts it in place of `target`, which must still be the regular file
    // `replaced` describes (an mbox this run has copied into this one and extends).
    struct Identity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::uint64_t size = 0;
    };
    void replace(const std::filesystem::path& target, const Identity& replaced);
    // Closes and removes the temporary file (nothing when already committed).
    void discard() noexcept;

    [[nodiscard]] const std::filesystem::path& tempPath() const { return m_tmp; }

private:
    // Flushes (where syncing) and closes the file.
    void closeForCommit();
    // Gives the closed temporary file the name `target`: over what is there (`over`), else only
    // where the name is free (false with errno EEXIST when taken). Throws on other failures.
    bool moveTo(const std::filesystem::path& target, bool over);

    std::shared_ptr<tree::Dir> m_dir;
    std::filesystem::path m_tmp;
    int m_fd = -1;
    std::uint64_t m_size = 0;
    bool m_done = false;
    bool m_synced = false; // nothing written since the last sync()
};

// What a path names, looked at without following a symbolic link.
enum class EntryKind { Missing, Regular, Directory, Other };
[[nodiscard]] EntryKind KindOf(const std::filesystem::path& p);

// The identity of the regular file at `p` (not followed through a link); false when it is
// not one.
[[nodiscard]] bool RegularFileIdentity(const std::filesystem::path& p, OutputFile::Identity& out);

// A real directory at `p` (never a link), made with the umask's permissions when missing.
// Throws std::filesystem::filesystem_error otherwise. Below an OutputRoot, made and opened from
// its parent's handle (see OutputRoot).
void EnsureDirectory(const std::filesystem::path& p);

// Makes the directory `p`; false when something of that name is already there.
[[nodiscard]] bool MakeNewDirectory(const std::filesystem::path& p);

// Up to `limit` bytes from the start of the regular file `p` (a link is not followed). False
// when it cannot be read.
[[nodiscard]] bool ReadFileStart(const std::filesystem::path& p, std::size_t limit,
                                 std::string& out);

// Removes from `dir` the temporary files of earlier runs whose process has ended (a run that was
// killed before it could clean up). Those of running processes, links and other entries stay.
// Looks at each directory once per run; every OutputFile asks it for its own directory.
void RemoveStaleTemporaries(const std::filesystem::path& dir);

// Whether process `pid` still runs (true when that cannot be told).
[[nodiscard]] bool ProcessIsRunning(unsigned long pid);

// Puts the file or folder `p` on the disk (a folder: the names in it). Throws
// std::filesystem::filesystem_error naming it. By path: for files outside the checked tree.
void FlushToDisk(const std::filesystem::path& p);

// Moves `from` to `to` unless `to` exists (errno EEXIST then). False with errno on failure.
// By path: for files outside the checked output tree.
[[nodiscard]] bool MoveNoReplace(const std::filesystem::path& from,
                                 const std::filesystem::path& to);

// This machine's name with the characters Maildir names reserve ('/', ':', ',') replaced.
[[nodiscard]] std::string MaildirHostName();

// Why this system cannot hold a Maildir (its message names carry ':'); empty where it can.
[[nodiscard]] std::string MaildirUnavailableReason();

} // namespace edb::conv
