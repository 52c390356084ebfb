#pragma once
// The file-system work of every output: a file is written under a temporary name in its own
// folder and gets its final name only when complete, never replacing what is there and never
// through a symbolic link. The only place that talks to the operating system for outputs
// (output_file_posix.cpp; a Windows file sits beside it).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace edb::conv {

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
    // Data on disk before the rename. For the files that gather many messages (an mbox, the
    // log): one sync per message file would cost more than the whole export's other work.
    void sync();
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
    void closeForCommit();
    // Puts the closed temporary file in place of `target` (the system call; the checks are
    // replace()'s).
    void renameOver(const std::filesystem::path& target);

    std::filesystem::path m_tmp;
    int m_fd = -1;
    std::uint64_t m_size = 0;
    bool m_done = false;
};

// What a path names, looked at without following a symbolic link.
enum class EntryKind { Missing, Regular, Directory, Other };
[[nodiscard]] EntryKind KindOf(const std::filesystem::path& p);

// The identity of the regular file at `p` (not followed through a link); false when it is
// not one.
[[nodiscard]] bool RegularFileIdentity(const std::filesystem::path& p, OutputFile::Identity& out);

// A real directory at `p` (never a link), made with the umask's permissions when missing.
// Throws std::filesystem::filesystem_error otherwise.
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

// Moves `from` to `to` unless `to` exists (errno EEXIST then). False with errno on failure.
[[nodiscard]] bool MoveNoReplace(const std::filesystem::path& from,
                                 const std::filesystem::path& to);

// This machine's name with the characters Maildir names reserve ('/', ':', ',') replaced.
[[nodiscard]] std::string MaildirHostName();

// Why this system cannot hold a Maildir (its message names carry ':'); empty where it can.
[[nodiscard]] std::string MaildirUnavailableReason();

} // namespace edb::conv
