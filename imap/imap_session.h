#pragma once
// One logged-in IMAP session. libcurl makes the connection: TLS for imaps://, STARTTLS for
// imap:// (a server without it is refused unless the user allows plain text), the greeting,
// capabilities and the login (SASL). The capabilities are asked for again once logged in, and
// only that answer counts (what came before TLS may have been forged). The few commands the
// upload needs (LIST, CREATE, EXAMINE, FETCH, APPEND with flags and INTERNALDATE) are sent on
// that connection here, because libcurl's own APPEND sets no INTERNALDATE and its custom
// commands drop the literals that FETCH answers with.
#include "imap/imap_settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

struct ImapLine;

class ImapSession {
public:
    // Connects and logs in; throws ImapError (Login when the server refuses the credentials).
    explicit ImapSession(const ImapSettings& settings);
    ~ImapSession();
    ImapSession(const ImapSession&) = delete;
    ImapSession& operator=(const ImapSession&) = delete;

    // TLS protects the session (imaps:// or STARTTLS).
    [[nodiscard]] bool encrypted() const;
    // The hierarchy separator (LIST "" ""); '/' when the server has none.
    [[nodiscard]] char separator();
    // Every mailbox name the server lists (as sent, modified UTF-7); the answer may take at
    // most `budget` bytes.
    [[nodiscard]] std::vector<std::string> listAll(std::size_t budget);
    // CREATE; a mailbox that exists already is not an error.
    void create(const std::string& mailbox);
    // EXAMINE the mailbox and fetch the named header fields of every message in it, in
    // batches; each message's header block goes to `onHeader` as it arrives, so that only
    // what the caller keeps of it stays in memory. When `onHeader` returns false no further
    // batch is asked for (the current answer is read to its end, so the session stays usable).
    void fetchHeaders(const std::string& mailbox, const std::string& fields,
                      const std::function<bool(std::string&&)>& onHeader);
    // APPEND with the \Seen flag and, when given, the INTERNALDATE. Done only once the server
    // has said OK after taking the message.
    void append(const std::string& mailbox, std::string_view message,
                std::optional<std::int64_t> internalDate);

private:
    struct Response;
    struct Impl;
    using Untagged = std::function<void(ImapLine&)>;
    // `budget`: the most bytes the whole answer may take. Untagged lines go to `onUntagged`
    // as they come; none is kept.
    Response run(const std::string& command, const Untagged& onUntagged = {},
                 std::string_view literal = {}, std::size_t budget = std::size_t{1} << 20);
    Response exchange(const std::string& command, const Untagged& onUntagged,
                      std::string_view literal, std::size_t budget);
    std::unique_ptr<Impl> m_impl;
};

} // namespace edb::conv
