#pragma once
// The IMAP session's transport: libcurl connects and logs in (TLS, STARTTLS, SASL), then
// commands go out and response lines come back, literals read in, on that connection's
// socket. The server is not trusted: lines, literals and the whole answer to one command have
// size limits, every wait has a timeout and every command a deadline.
#include "imap/imap_settings.h"

#include <chrono>
#include <cstddef>
#include <curl/curl.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace edb::conv {

// Stands in a response line where a literal was; the literal itself is kept beside the line.
inline constexpr char kLiteralMark = '\0';

// No answer this client asks for comes near these; more is a broken or hostile server.
inline constexpr std::size_t kMaxReplyLine = std::size_t{1} << 20;
inline constexpr std::size_t kMaxLiteral = std::size_t{64} << 10;

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

    // TLS protects the connection (imaps:// or STARTTLS).
    [[nodiscard]] bool encrypted() const { return m_encrypted; }
    void setTimeout(std::chrono::seconds timeout) { m_timeout = timeout; }

    // Starts one command's clock and byte budget: its reads and writes must be over within
    // the deadline, and its answer (lines and literals) within `budget` bytes.
    void startCommand(std::string name, std::size_t outgoing, std::size_t budget);
    void send(std::string_view data);
    // One response line with its literals read in.
    [[nodiscard]] ImapLine readLine();

private:
    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self);
    static int onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    [[nodiscard]] bool cancelled() const { return m_cancel && m_cancel->load(); }
    void wait(short events);
    void fill();
    std::string line();
    std::string bytes(std::size_t n);
    // The size of the literal the line announces; throws for one no answer of ours can have.
    [[nodiscard]] std::optional<std::size_t> literalSize(const std::string& line) const;
    void spend(std::size_t n);
    [[noreturn]] void closed();
    [[noreturn]] void lost(int curlCode); // a failed send or receive

    CURL* m_curl = nullptr;
    curl_socket_t m_sock = CURL_SOCKET_BAD;
    std::chrono::seconds m_timeout{60};
    std::shared_ptr<const std::atomic<bool>> m_cancel;
    std::chrono::steady_clock::time_point m_deadline;
    std::string m_command; // the command being answered, for errors
    std::size_t m_budget = 0;
    // Received bytes: [m_start, end) not yet parsed; no CRLF in [m_start, m_scanned).
    std::string m_in;
    std::size_t m_start = 0;
    std::size_t m_scanned = 0;
    std::string m_lastLine; // the server's last line during connect and login
    std::string m_bye;      // the server's reason when it said BYE
    bool m_encrypted = false;
};

} // namespace edb::conv
