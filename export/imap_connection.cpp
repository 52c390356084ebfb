// Connecting and logging in through libcurl, then lines and literals on its socket.
#include "export/imap_connection.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>

namespace edb::conv {
namespace {

using Kind = ImapError::Kind;

// Nothing this client asks for comes near this; a larger literal is a broken or hostile server.
constexpr std::size_t kMaxLiteral = std::size_t{256} << 20;

} // namespace

ImapConnection::ImapConnection(const ImapSettings& s) : m_timeout(s.timeout) {
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
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(s.timeout.count()));
    curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(m_curl, CURLOPT_PROTOCOLS_STR, "imap,imaps");
    if (!s.url.implicitTls) {
        curl_easy_setopt(m_curl, CURLOPT_USE_SSL,
                         static_cast<long>(s.noTls ? CURLUSESSL_NONE : CURLUSESSL_TRY));
    }
    // The server's lines during login, for the error text; what we send (the password) is
    // never looked at.
    curl_easy_setopt(m_curl, CURLOPT_DEBUGFUNCTION, &ImapConnection::onDebug);
    curl_easy_setopt(m_curl, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 1L);
    const CURLcode rc = curl_easy_perform(m_curl);
    curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, nullptr);
    if (rc != CURLE_OK) {
        const std::string detail = error[0] != 0 ? error : curl_easy_strerror(rc);
        std::string server = m_lastLine;
        if (const auto sp = server.find(' '); sp != std::string::npos && server[0] != '*') {
            server = server.substr(sp + 1); // without the tag
        }
        curl_easy_cleanup(m_curl);
        m_curl = nullptr;
        if (rc == CURLE_LOGIN_DENIED) {
            throw ImapError(Kind::Login, "the server refused the login of " + s.url.user +
                                             (server.empty() ? "" : ": " + server));
        }
        throw ImapError(Kind::Connection, "cannot connect to " + s.url.host + ": " + detail);
    }
    curl_easy_getinfo(m_curl, CURLINFO_ACTIVESOCKET, &m_sock);
}

ImapConnection::~ImapConnection() {
    if (m_curl != nullptr) {
        curl_easy_cleanup(m_curl);
    }
}

int ImapConnection::onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
    if (type == CURLINFO_HEADER_IN) {
        auto* connection = static_cast<ImapConnection*>(self);
        std::string line(data, size);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.find("CAPABILITY") != std::string::npos &&
            line.find("LITERAL+") != std::string::npos) {
            connection->m_literalPlus = true;
        }
        connection->m_lastLine = line;
    }
    return 0;
}

void ImapConnection::wait(short events) {
    pollfd p{m_sock, events, 0};
    const auto deadline = std::chrono::steady_clock::now() + m_timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throw ImapError(Kind::Connection, "the server did not answer in time");
        }
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
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
            throw ImapError(Kind::Connection,
                            std::string("connection lost: ") + curl_easy_strerror(rc));
        }
        data.remove_prefix(n);
    }
}

void ImapConnection::fill() {
    char buf[65536];
    for (;;) {
        size_t n = 0;
        const CURLcode rc = curl_easy_recv(m_curl, buf, sizeof buf, &n);
        if (rc == CURLE_AGAIN) {
            wait(POLLIN);
            continue;
        }
        if (rc != CURLE_OK) {
            throw ImapError(Kind::Connection,
                            std::string("connection lost: ") + curl_easy_strerror(rc));
        }
        if (n == 0) {
            throw ImapError(Kind::Connection, "the server closed the connection");
        }
        m_in.append(buf, n);
        return;
    }
}

std::string ImapConnection::line() {
    std::size_t end;
    while ((end = m_in.find("\r\n")) == std::string::npos) {
        fill();
    }
    std::string l = m_in.substr(0, end);
    m_in.erase(0, end + 2);
    return l;
}

std::string ImapConnection::bytes(std::size_t n) {
    while (m_in.size() < n) {
        fill();
    }
    std::string b = m_in.substr(0, n);
    m_in.erase(0, n);
    return b;
}

ImapLine ImapConnection::readLine() {
    ImapLine r;
    std::string l = line();
    for (;;) {
        std::size_t n = 0;
        bool literal = false;
        const auto open = l.rfind('{');
        if (!l.empty() && l.back() == '}' && open != std::string::npos) {
            std::string digits = l.substr(open + 1, l.size() - open - 2);
            if (!digits.empty() && digits.back() == '+') {
                digits.pop_back();
            }
            if (!digits.empty() && digits.size() < 12 &&
                digits.find_first_not_of("0123456789") == std::string::npos) {
                n = std::stoull(digits);
                if (n > kMaxLiteral) {
                    throw ImapError(Kind::Connection,
                                    "the server announced " + digits + " bytes in one answer");
                }
                literal = true;
                l.erase(open);
            }
        }
        r.text += l;
        if (!literal) {
            return r;
        }
        r.text += kLiteralMark;
        r.literals.push_back(bytes(n));
        l = line();
    }
}

} // namespace edb::conv
