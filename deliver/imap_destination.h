#pragma once
// Upload to an IMAP server: folders created under the address's folder with the server's
// separator, each message appended once with \Seen and its date as INTERNALDATE. A message
// whose key (Message-ID, see MessageKey) the folder already holds is skipped, so a broken run
// started again completes the job without duplicates. Folder names too long for us or for the
// server are shortened (ShortenMailboxName), the same way on every run.
#include "deliver/destination.h"
#include "imap/imap_session.h"

#include <memory>
#include <string>
#include <vector>

namespace edb::conv {

// dryRun: connects, lists and reads what is present, but creates and appends nothing.
[[nodiscard]] std::unique_ptr<Destination> MakeImapDestination(const ImapSettings& settings,
                                                               bool dryRun);

// The server's names of a folder: prefix and folder names, each made safe for a mailbox name
// (no separator, no control or wildcard characters, never empty).
[[nodiscard]] std::vector<std::string> MailboxLevels(const std::vector<std::string>& prefix,
                                                     const std::vector<std::string>& names,
                                                     char separator);

} // namespace edb::conv
