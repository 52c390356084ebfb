#pragma once
// Where Convert puts each message: a folder of .eml files, mbox files, a Maildir++ tree or an
// IMAP server. Convert reads and renders every message the same way and hands it to one
// destination, folder by folder.
#include "frontend/folder_paths.h"
#include "content/message_content.h"
#include "deliver/commit_group.h"
#include "deliver/manifest.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

// One rendered message on its way out.
struct OutgoingMessage {
    const MessageSnapshot& snapshot;
    std::string_view eml;             // the .eml bytes, CRLF line ends
    std::optional<std::int64_t> time; // seconds since 1970: the message's date
    std::string key;                  // what identifies it in a folder (see MessageKey)
    bool contact = false;             // also written as vCards where the destination can
    const MessageContent* content = nullptr; // what the .eml was written from
};

// An output that a destination could not complete at the end of the run: its messages, counted
// as written when they were handed over, did not reach their place.
struct UnfinishedOutput {
    std::string location;
    std::size_t messages = 0;
    std::string reason;
};

struct FinishResult {
    std::vector<UnfinishedOutput> failed;
    std::vector<std::string> remarks; // for the user ("x.pst was written again")
    std::vector<ManifestFile> files;  // the outputs completed, with their hashes
};

// Pending: the message's files are written under temporary names and get their names once on
// the disk, with others in a group; settle() tells how each pending message ended.
enum class WriteResult { Written, AlreadyPresent, Pending };


// A failure of the destination. A fatal one (login refused, connection lost, disk gone) ends
// the whole run; any other fails one message or one folder.
class DestinationError : public std::runtime_error {
public:
    DestinationError(const std::string& what, bool fatal)
        : std::runtime_error(what), m_fatal(fatal) {}
    [[nodiscard]] bool fatal() const { return m_fatal; }

private:
    bool m_fatal;
};

class Destination {
public:
    virtual ~Destination() = default;
    // The mailboxes' own Inboxes (InboxFolders), told before the first folder is opened: a
    // destination with a place of its own for the Inbox gives it to these and no other folder.
    virtual void noteInboxes(const std::vector<FolderPath>& inboxes) { (void)inboxes; }
    // Makes (or finds) the folder; later writes go there. Throws DestinationError or
    // std::filesystem::filesystem_error.
    virtual void openFolder(const FolderPath& folder) = 0;
    virtual WriteResult write(const OutgoingMessage& message) = 0;
    // The pending messages that are settled now, in the order they were written: with `all`,
    // every one; otherwise those of a group that was full or waited long enough. A caller that
    // counts messages settles all before closeFolder().
    virtual std::vector<Settled> settle(bool all) {
        (void)all;
        return {};
    }
    // Completes the folder (an mbox file gets its final name here; pending messages not
    // settled yet are given their names, and a later settle() reports them).
    virtual void closeFolder() = 0;
    // Where the open folder went, for the summary (a directory, a file or a mailbox name).
    [[nodiscard]] virtual std::string folderLocation() const = 0;
    // Where the last message written went, as the export log names it (relative to the
    // output folder for files).
    [[nodiscard]] virtual std::string lastWritten() const = 0;
    // Completes what spans the run (a PST per mailbox); called once, after the last folder.
    virtual FinishResult finish() { return {}; }
    // The folder that takes the export log and the manifest; nothing for destinations without.
    [[nodiscard]] virtual std::optional<std::filesystem::path> logDirectory() const {
        return std::nullopt;
    }
    // Every folder of the store (in folder-list order), told before the first folder is
    // opened: a folder's name among its siblings is decided over all of them, so a run of some
    // folders finds the directories a run of all made, whatever the case of their names.
    virtual void noteFolders(const std::vector<FolderPath>& all) { (void)all; }
    // What earlier runs recorded, told before the first folder is opened: a message counts as
    // there only when its files still hash to what the manifest says.
    virtual void useManifest(const Manifest* manifest) { (void)manifest; }
    // The files (or mbox range) of the message written or found last, with their hashes.
    [[nodiscard]] virtual std::vector<ManifestFile> lastFiles() const { return {}; }
    // True when a folder's messages reach their place only when it closes (an mbox file).
    [[nodiscard]] virtual bool placedAtClose() const { return false; }
    // True when they reach it only at finish() (a PST), which hashes the files then.
    [[nodiscard]] virtual bool placedAtFinish() const { return false; }
    // Files found in the way since last asked: damaged, cut or unknown, and left as they are.
    [[nodiscard]] virtual std::vector<KeptFile> takeKept() { return {}; }
    // The format's name for the manifest ("eml", "mbox", "maildir", "pst").
    [[nodiscard]] virtual std::string formatName() const { return {}; }
};

enum class FileFormat { Eml, Mbox, Maildir, Pst };

// The file destinations, all under `root` (created when missing); nothing is written outside
// it, not even through a folder swapped for a link while they write, and no existing file is
// replaced. With `sync` each file is on the disk before it gets its name and each folder's names
// when the folder is closed (see OutputRoot); without, nothing is flushed (a scratch disk).
[[nodiscard]] std::unique_ptr<Destination>
MakeFileDestination(FileFormat format, const std::filesystem::path& root, bool sync = true);
// One Unicode PST per mailbox (root/<mailbox>.pst), written under a temporary name and given its
// name when complete (on the disk first, with `sync`); a PST an earlier run wrote for the
// mailbox is replaced by the new one in one step.
[[nodiscard]] std::unique_ptr<Destination> MakePstDestination(const std::filesystem::path& root,
                                                              bool sync = true);

// The header field `name` (any case) of an RFC 5322 message, unfolded, or nothing.
[[nodiscard]] std::optional<std::string> HeaderField(std::string_view message,
                                                     std::string_view name);

// What identifies a message in a folder: its Message-ID, or, where the message has none, the
// store's own message id (X-Edb-Message-Id), which is stable from run to run.
[[nodiscard]] std::string MessageKey(std::string_view headers);

// MessageKey of the message file `p` an earlier run wrote (a link is not followed); empty when
// it cannot be read. Reads the header block only.
[[nodiscard]] std::string MessageKeyOfFile(const std::filesystem::path& p);

// The message's date: its Date header, else the store's time; nothing when neither is usable.
[[nodiscard]] std::optional<std::int64_t> MessageTime(std::string_view eml, std::uint64_t filetime);

} // namespace edb::conv
