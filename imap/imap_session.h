#pragma once
// One logged-in IMAP session. libcurl makes the connection: TLS for imaps://, STARTTLS for
// imap:// (a server without it is refused unless the user allows plain text), the greeting,
// capabilities and the login (SASL). The few commands the
// upload needs (LIST, CREATE, EXAMINE, FETCH, APPEND with flags and INTERNALDATE) are sent on
// that connection here, because libcurl's own APPEND sets no INTERNALDATE and its custom
// commands drop the literals that FETCH answers with.
#include "imap/imap_settings.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

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
    // Every mailbox name the server lists (as sent, modified UTF-7).
    [[nodiscard]] std::vector<std::string> listAll();
    // CREATE; a mailbox that exists already is not an error.
    void create(const std::string& mailbox);
    // EXAMINE the mailbox and fetch the named header fields of every message in it, one
    // header block per message (one round trip per folder).
    [[nodiscard]] std::vector<std::string> fetchHeaders(const std::string& mailbox,
                                                        const std::string& fields);
    // APPEND with the \Seen flag and, when given, the INTERNALDATE.
    void append(const std::string& mailbox, std::string_view message,
                std::optional<std::int64_t> internalDate);

private:
    struct Response;
    struct Impl;
    // `budget`: the most bytes the whole answer may take.
    Response run(const std::string& command, std::string_view literal = {},
                 std::size_t budget = std::size_t{1} << 20);
    Response exchange(const std::string& command, std::string_view literal, std::size_t budget);
    std::unique_ptr<Impl> m_impl;
};

} // namespace edb::conv
