#pragma once
// Upload to an IMAP server: folders created under the address's folder with the server's
// separator, each message appended once with \Seen and its date as INTERNALDATE. A message
// whose key (Message-ID, see MessageKey) the folder already holds is skipped, so a broken run
// started again completes the job without duplicates. Folder names too long for us or for the
// server are shortened (ShortenMailboxName), the same way on every run.
#include "deliver/destination.h"
#include "imap/imap_session.h"

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace edb::conv {

// The most memory an upload gives to what the server sends: its mailbox names, the
// Message-IDs of the folder being filled and the answer being read. A server that would need
// more (a folder of some 400,000 messages, or a hostile server) gets a clear error instead.
inline constexpr std::size_t kUploadMemoryBudget = std::size_t{64} << 20;

// dryRun: connects, lists and reads what is present, but creates and appends nothing.
[[nodiscard]] std::unique_ptr<Destination> MakeImapDestination(const ImapSettings& settings,
                                                               bool dryRun);

// The server's names of a folder: prefix and folder names, each made safe for a mailbox name
// (no separator, no control or wildcard characters, never empty).
[[nodiscard]] std::vector<std::string> MailboxLevels(const std::vector<std::string>& prefix,
                                                     const std::vector<std::string>& names,
                                                     char separator);

// Gives every store folder a mailbox of its own. Names that clean up alike ("tab\there" and
// "tab_here"), or that a server takes for one (INBOX, in any case, at the top level), get
// " (2)", " (3)" ... in the order the folders come, as the file destinations name theirs.
class MailboxNamer {
public:
    // `levels`: MailboxLevels of the address's `prefixCount` folders and of `names`, the store
    // folder's names from the top. Returns them with the store levels made unique.
    [[nodiscard]] std::vector<std::string> unique(const std::vector<std::string>& names,
                                                  std::vector<std::string> levels,
                                                  std::size_t prefixCount);

private:
    std::map<std::string, std::string> m_given; // a store path: its level's name
    std::set<std::string> m_taken;              // a store parent path and a name under it
};

} // namespace edb::conv
