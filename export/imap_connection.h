#pragma once
// The IMAP session's transport: libcurl connects and logs in (TLS, STARTTLS, SASL), then
// commands go out and response lines come back, literals read in, on that connection's
// socket, with a deadline on every wait.
#include "export/imap_session.h"

#include <chrono>
#include <cstddef>
#include <curl/curl.h>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

// Stands in a response line where a literal was; the literal itself is kept beside the line.
inline constexpr char kLiteralMark = '\0';

// One response line from the server, with the literals it announced.
struct ImapLine {
    std::string text; // kLiteralMark where each literal stood
    std::vector<std::string> literals;
};

class ImapConnection {
public:
    // Connects and logs in; throws ImapError (Login when the server refuses the credentials).
    explicit ImapConnection(const ImapSettings& settings);
    ~ImapConnection();
    ImapConnection(const ImapConnection&) = delete;
    ImapConnection& operator=(const ImapConnection&) = delete;

    // The server takes literals without waiting for its go-ahead (LITERAL+).
    [[nodiscard]] bool literalPlus() const { return m_literalPlus; }
    void setTimeout(std::chrono::seconds timeout) { m_timeout = timeout; }

    void send(std::string_view data);
    // One response line with its literals read in.
    [[nodiscard]] ImapLine readLine();

private:
    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);
    void wait(short events);
    void fill();
    std::string line();
    std::string bytes(std::size_t n);

    CURL* m_curl = nullptr;
    curl_socket_t m_sock = CURL_SOCKET_BAD;
    std::chrono::seconds m_timeout{60};
    std::string m_in;       // received, not yet parsed
    std::string m_lastLine; // the server's last line during connect and login
    bool m_literalPlus = false;
};

} // namespace edb::conv
