// Connecting and logging in through libcurl, then lines and literals on its socket.
#include "imap/imap_connection.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>

namespace edb::conv {
namespace {

using Kind = ImapError::Kind;

// A command may take this many timeouts in all, plus the time to send its data at this rate.
constexpr int kCommandTimeouts = 4;
constexpr std::size_t kSlowestBytesPerSecond = 32 << 10;
// What keeping one line costs beyond its bytes, counted against the answer's budget so that
// many tiny lines are bounded as well as a few long ones.
constexpr std::size_t kLineCost = 128;

// OpenSSL's certificate verification results (X509_V_ERR_*) that we put into words.
constexpr long kCertNotYetValid = 9;
constexpr long kCertExpired = 10;
constexpr long kIssuerUnknown = 2;
constexpr long kSelfSigned = 18;
constexpr long kSelfSignedInChain = 19;
constexpr long kLocalIssuerUnknown = 20;
constexpr long kLeafUnverifiable = 21;
constexpr long kHostMismatch = 62;

std::string mib(std::size_t n) {
    return std::to_string(n >> 20) + " MiB";
}

std::string certificateProblem(long verify, const std::string& detail) {
    switch (verify) {
    case kSelfSigned:
        return "the server's certificate is self-signed";
    case kSelfSignedInChain:
        return "the server's certificate comes from a self-signed CA that is not trusted here";
    case kIssuerUnknown:
    case kLocalIssuerUnknown:
    case kLeafUnverifiable:
        return "the server's certificate was issued by an unknown CA";
    case kCertExpired:
        return "the server's certificate has expired";
    case kCertNotYetValid:
        return "the server's certificate is not valid yet";
    case kHostMismatch:
        return "the server's certificate is for another host name";
    default:
        break;
    }
    if (detail.find("subject name") != std::string::npos ||
        detail.find("host name") != std::string::npos) {
        return "the server's certificate is for another host name";
    }
    return "the server's certificate cannot be trusted (" + detail + ")";
}

// Why connecting and logging in failed, in words that say what to do.
ImapError connectFailure(const ImapSettings& s, CURLcode rc, long verify, const std::string& detail,
                         const std::string& server) {
    switch (rc) {
    case CURLE_LOGIN_DENIED:
        return ImapError(Kind::Login, "the server refused the login of " + s.url.user +
                                          (server.empty() ? "" : ": " + server));
    case CURLE_USE_SSL_FAILED:
        return ImapError(Kind::Security, "the server offers no encryption; " + s.unencryptedHint);
    case CURLE_PEER_FAILED_VERIFICATION:
        return ImapError(Kind::Security, certificateProblem(verify, detail) + "; " + s.trustHint);
    case CURLE_SSL_CACERT_BADFILE:
        return ImapError(Kind::Security,
                         "cannot read the certificates to trust" +
                             (s.caFile.empty() ? std::string() : " in " + s.caFile) + ": " +
                             detail);
    case CURLE_OPERATION_TIMEDOUT:
        return ImapError(Kind::Connection, "cannot connect to " + s.url.host +
                                               ": no answer within " +
                                               std::to_string(s.timeout.count()) + " s");
    default:
        return ImapError(Kind::Connection, "cannot connect to " + s.url.host + ": " + detail);
    }
}

// Where the certificates to trust come from: --ca, else SSL_CERT_FILE and SSL_CERT_DIR as
// OpenSSL's own tools read them, else libcurl's system defaults.
void trustSettings(CURL* curl, const ImapSettings& s) {
    const char* file = std::getenv("SSL_CERT_FILE");
    const char* dir = std::getenv("SSL_CERT_DIR");
    if (!s.caFile.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, s.caFile.c_str());
    } else if (file != nullptr && *file != 0) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, file);
    }
    if (dir != nullptr && *dir != 0) {
        curl_easy_setopt(curl, CURLOPT_CAPATH, dir);
    }
}

} // namespace

ImapConnection::ImapConnection(const ImapSettings& s) : m_timeout(s.timeout), m_cancel(s.cancel) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_curl = curl_easy_init();
    if (m_curl == nullptr) {
        throw ImapError(Kind::Connection, "cannot start a connection");
    }
    std::string url = std::string(s.url.implicitTls ? "imaps://" : "imap://") + s.url.host;
    if (s.url.port != 0) {
        url += ':' + std::to_string(s.url.port);
    }
    url += '/';
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_USERNAME, s.url.user.c_str());
    curl_easy_setopt(m_curl, CURLOPT_PASSWORD, s.password.c_str());
    curl_easy_setopt(m_curl, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    // The connect phase covers the greeting, STARTTLS and the login: one overall limit.
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(s.timeout.count()));
    curl_easy_setopt(m_curl, CURLOPT_TIMEOUT,
                     static_cast<long>(s.timeout.count() * kCommandTimeouts));
    curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, "imap,imaps");
    trustSettings(m_curl, s);
    if (!s.url.implicitTls) {
        // STARTTLS or nothing: the password is never sent in clear unless the user allows it.
        curl_easy_setopt(m_curl, CURLOPT_USE_SSL,
                         static_cast<long>(s.allowUnencrypted ? CURLUSESSL_TRY : CURLUSESSL_ALL));
    }
    // The server's lines during login, for the error text; what we send (the password) is
    // never looked at.
    curl_easy_setopt(m_curl, CURLOPT_DEBUGFUNCTION, &ImapConnection::onDebug);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 1L);
    if (m_cancel) {
        curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, &ImapConnection::onProgress);
        curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
    }
    const CURLcode rc = curl_easy_perform(m_curl);
    curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, nullptr);
    if (rc == CURLE_ABORTED_BY_CALLBACK) {
        curl_easy_cleanup(m_curl);
        m_curl = nullptr;
        throw ImapError(Kind::Connection, "cancelled");
    }
    if (rc != CURLE_OK) {
        const std::string detail = error[0] != 0 ? error : curl_easy_strerror(rc);
        long verify = 0;
        curl_easy_getinfo(m_curl, CURLINFO_SSL_VERIFYRESULT, &verify);
        std::string server = m_lastLine;
        if (const auto sp = server.find(' '); sp != std::string::npos && server[0] != '*') {
            server = server.substr(sp + 1); // without the tag
        }
        curl_easy_cleanup(m_curl);
        m_curl = nullptr;
        throw connectFailure(s, rc, verify, detail, server);
    }
    curl_easy_getinfo(m_curl, CURLINFO_ACTIVESOCKET, &m_sock);
    m_encrypted = m_encrypted || s.url.implicitTls;
    startCommand("login", 0, kMaxReplyLine);
}

ImapConnection::~ImapConnection() {
    if (m_curl != nullptr) {
        curl_easy_cleanup(m_curl);
    }
}

int ImapConnection::onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    // curl calls this about once a second, and more often while data moves.
    return static_cast<ImapConnection*>(self)->cancelled() ? 1 : 0;
}

int ImapConnection::onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
    auto* connection = static_cast<ImapConnection*>(self);
    if (type == CURLINFO_SSL_DATA_IN) {
        connection->m_encrypted = true; // TLS records arrived: the handshake went through
    }
    if (type == CURLINFO_HEADER_IN) {
        std::string line(data, std::min<size_t>(size, 1000));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        connection->m_lastLine = line;
    }
    return 0;
}

void ImapConnection::startCommand(std::string name, std::size_t outgoing, std::size_t budget) {
    m_command = std::move(name);
    m_budget = budget;
    m_deadline = std::chrono::steady_clock::now() + m_timeout * kCommandTimeouts +
                 std::chrono::seconds(outgoing / kSlowestBytesPerSecond);
}

void ImapConnection::wait(short events) {
    pollfd p{m_sock, events, 0};
    const auto now = std::chrono::steady_clock::now();
    const auto idle = now + m_timeout;
    const bool commandLimit = m_deadline < idle;
    const auto until = commandLimit ? m_deadline : idle;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            if (commandLimit) {
                throw ImapError(Kind::Connection, "the server did not finish its answer to " +
                                                      m_command + " in time");
            }
            throw ImapError(Kind::Connection, "the server did not answer " + m_command +
                                                  " within " + std::to_string(m_timeout.count()) +
                                                  " s");
        }
        if (cancelled()) {
            throw ImapError(Kind::Connection, "cancelled");
        }
        // In slices, so that a cancel is seen soon.
        const int slice = m_cancel ? 200 : static_cast<int>(left.count());
        const int r = ::poll(&p, 1, std::min(slice, static_cast<int>(left.count())));
        if (r > 0) {
            return;
        }
        if (r < 0 && errno != EINTR) {
            throw ImapError(Kind::Connection, std::string("poll: ") + std::strerror(errno));
        }
    }
}

void ImapConnection::send(std::string_view data) {
    while (!data.empty()) {
        size_t n = 0;
        const CURLcode rc = curl_easy_send(m_curl, data.data(), data.size(), &n);
        if (rc == CURLE_AGAIN) {
            wait(POLLOUT);
            continue;
        }
        if (rc != CURLE_OK) {
            lost(rc);
        }
        data.remove_prefix(n);
    }
}

void ImapConnection::lost(int curlCode) {
    // After a BYE the server's own words say more than the transport's error.
    if (!m_bye.empty()) {
        closed();
    }
    throw ImapError(Kind::Connection, std::string("connection lost: ") +
                                          curl_easy_strerror(static_cast<CURLcode>(curlCode)));
}

void ImapConnection::closed() {
    throw ImapError(Kind::Connection, "the server closed the connection during " + m_command +
                                          (m_bye.empty() ? "" : ": " + m_bye));
}

void ImapConnection::fill() {
    // What was parsed goes once it is half the buffer: each byte is moved a bounded number
    // of times, so reading stays linear in what the server sends.
    if (m_start > 0 && m_start * 2 >= m_in.size()) {
        m_in.erase(0, m_start);
        m_scanned -= m_start;
        m_start = 0;
    }
    char buf[65536];
    for (;;) {
        if (std::chrono::steady_clock::now() >= m_deadline) {
            wait(POLLIN); // reports the deadline
        }
        size_t n = 0;
        const CURLcode rc = curl_easy_recv(m_curl, buf, sizeof buf, &n);
        if (rc == CURLE_AGAIN) {
            wait(POLLIN);
            continue;
        }
        if (rc != CURLE_OK) {
            lost(rc);
        }
        if (n == 0) {
            closed();
        }
        m_in.append(buf, n);
        return;
    }
}

void ImapConnection::spend(std::size_t n) {
    if (n > m_budget) {
        throw ImapError(Kind::Connection, "the server's answer to " + m_command +
                                              " is larger than anything asked for");
    }
    m_budget -= n;
}

std::string ImapConnection::line() {
    for (;;) {
        const auto end = m_in.find("\r\n", m_scanned);
        if (end != std::string::npos && end - m_start <= kMaxReplyLine) {
            std::string l = m_in.substr(m_start, end - m_start);
            m_start = m_scanned = end + 2;
            spend(l.size() + 2 + kLineCost);
            return l;
        }
        if (m_in.size() - m_start > kMaxReplyLine) {
            throw ImapError(Kind::Connection, "the server sent a line longer than " +
                                                  mib(kMaxReplyLine) + " answering " + m_command);
        }
        // A CR at the very end may be the first half of the line end.
        m_scanned = std::max(m_start, m_in.empty() ? 0 : m_in.size() - 1);
        fill();
    }
}

std::string ImapConnection::bytes(std::size_t n) {
    while (m_in.size() - m_start < n) {
        fill();
    }
    std::string b = m_in.substr(m_start, n);
    m_start = m_scanned = m_start + n;
    return b;
}

std::optional<std::size_t> ImapConnection::literalSize(const std::string& l) const {
    // A line ending in {N} (or {N+}) announces N bytes to follow.
    const auto open = l.rfind('{');
    if (l.empty() || l.back() != '}' || open == std::string::npos) {
        return std::nullopt;
    }
    std::string digits = l.substr(open + 1, l.size() - open - 2);
    if (!digits.empty() && digits.back() == '+') {
        digits.pop_back();
    }
    if (digits.empty() ||
        (digits[0] != '-' && std::isdigit(static_cast<unsigned char>(digits[0])) == 0)) {
        return std::nullopt; // text that happens to end in braces
    }
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        throw ImapError(Kind::Connection, "the server announced a literal of \"" +
                                              digits.substr(0, 40) + "\" bytes answering " +
                                              m_command);
    }
    if (digits.size() > 12 || std::stoull(digits) > kMaxLiteral) {
        throw ImapError(Kind::Connection, "the server announced " + digits.substr(0, 40) +
                                              " bytes in one answer to " + m_command +
                                              ", more than anything asked for");
    }
    return std::stoull(digits);
}

ImapLine ImapConnection::readLine() {
    try {
        ImapLine r;
        std::string l = line();
        while (const auto n = literalSize(l)) {
            spend(*n);
            l.erase(l.rfind('{'));
            r.text += l;
            r.text += kLiteralMark;
            r.literals.push_back(bytes(*n));
            l = line();
        }
        if (r.text.empty() && l.compare(0, 6, "* BYE ") == 0) {
            m_bye = l.substr(6, 200);
        }
        r.text += l;
        return r;
    } catch (const std::bad_alloc&) {
        throw ImapError(Kind::Connection, "out of memory reading the answer to " + m_command);
    }
}

} // namespace edb::conv
