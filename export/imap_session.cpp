#include "export/imap_session.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <curl/curl.h>
#include <mutex>
#include <poll.h>

namespace edb::conv {
namespace {

using Kind = ImapError::Kind;

std::string percentDecode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() &&
            std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool hasControl(std::string_view s) {
    for (const char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7f) {
            return true;
        }
    }
    return false;
}

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// A quoted string; names reach here in modified UTF-7, so they are printable ASCII.
std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + '"';
}

// INTERNALDATE ("13-Feb-2003 09:55:06 +0000"), month names never localised.
std::optional<std::string> internalDate(std::int64_t secs) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr || tm.tm_year + 1900 < 1 || tm.tm_year + 1900 > 9999) {
        return std::nullopt;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d-%s-%04d %02d:%02d:%02d +0000", tm.tm_mday,
                  kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return std::string(buf);
}

// After `at` (just past "LIST "): skips "(flags) ", returns the delimiter field and moves `at`
// to the mailbox name.
std::string listDelimiter(const std::string& text, std::size_t& at) {
    const auto close = text.find(')', at);
    if (close == std::string::npos) {
        return {};
    }
    at = close + 1;
    while (at < text.size() && text[at] == ' ') {
        ++at;
    }
    std::string delim;
    if (text.compare(at, 3, "NIL") == 0) {
        at += 3;
    } else if (at < text.size() && text[at] == '"') {
        ++at;
        while (at < text.size() && text[at] != '"') {
            if (text[at] == '\\' && at + 1 < text.size()) {
                ++at;
            }
            delim += text[at++];
        }
        ++at;
    }
    while (at < text.size() && text[at] == ' ') {
        ++at;
    }
    return delim;
}

constexpr char kLiteralMark = '\0'; // where a literal stood in a response line
// Nothing this client asks for comes near this; a larger literal is a broken or hostile server.
constexpr std::size_t kMaxLiteral = std::size_t{256} << 20;

} // namespace

ImapUrl ParseImapUrl(const std::string& url) {
    ImapUrl u;
    const auto colon = url.find("://");
    if (colon == std::string::npos) {
        throw std::invalid_argument("expected imap://USER@HOST[:PORT]/[FOLDER]");
    }
    const std::string scheme = lower(url.substr(0, colon));
    if (scheme == "imaps") {
        u.implicitTls = true;
    } else if (scheme != "imap") {
        throw std::invalid_argument("the address must begin with imap:// or imaps://");
    }
    std::string rest = url.substr(colon + 3);
    const auto slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    const std::string path = slash == std::string::npos ? "" : rest.substr(slash + 1);
    const auto at = authority.rfind('@');
    if (at == std::string::npos || at == 0) {
        throw std::invalid_argument("no user name in the address (imap://USER@HOST/)");
    }
    u.user = percentDecode(authority.substr(0, at));
    std::string hostPort = authority.substr(at + 1);
    std::string portText;
    if (!hostPort.empty() && hostPort[0] == '[') {
        const auto end = hostPort.find(']');
        if (end == std::string::npos) {
            throw std::invalid_argument("unclosed [ in the host");
        }
        u.host = hostPort.substr(0, end + 1);
        if (end + 1 < hostPort.size()) {
            if (hostPort[end + 1] != ':') {
                throw std::invalid_argument("unexpected text after the host");
            }
            portText = hostPort.substr(end + 2);
        }
    } else {
        const auto c = hostPort.find(':');
        u.host = hostPort.substr(0, c);
        if (c != std::string::npos) {
            portText = hostPort.substr(c + 1);
        }
    }
    if (u.host.empty() || u.host.find_first_of(" /?#") != std::string::npos || hasControl(u.host) ||
        hasControl(u.user)) {
        throw std::invalid_argument("no usable host in the address");
    }
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(portText) < 1 || std::stoi(portText) > 65535) {
            throw std::invalid_argument("the port must be a number from 1 to 65535");
        }
        u.port = std::stoi(portText);
    }
    std::size_t from = 0;
    while (from <= path.size()) {
        auto end = path.find('/', from);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = percentDecode(path.substr(from, end - from));
        if (!part.empty()) {
            if (hasControl(part)) {
                throw std::invalid_argument("control characters in the folder of the address");
            }
            u.prefix.push_back(part);
        }
        from = end + 1;
    }
    return u;
}

std::string EncodeMailboxName(std::string_view utf8) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
    std::string out;
    std::vector<std::uint16_t> pending;
    const auto flush = [&] {
        if (pending.empty()) {
            return;
        }
        out += '&';
        std::uint32_t bits = 0;
        int count = 0;
        for (const std::uint16_t unit : pending) {
            bits = (bits << 16) | unit;
            count += 16;
            while (count >= 6) {
                count -= 6;
                out += kAlphabet[(bits >> count) & 0x3f];
            }
        }
        if (count > 0) {
            out += kAlphabet[(bits << (6 - count)) & 0x3f];
        }
        out += '-';
        pending.clear();
    };
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
        }
        if (b >= 0x80) {
            if (len == 1 || i + len > utf8.size()) {
                len = 1;
            } else {
                cp = b & (0xFF >> (len + 1));
                for (std::size_t k = 1; k < len; ++k) {
                    const auto c = static_cast<unsigned char>(utf8[i + k]);
                    if ((c & 0xC0) != 0x80) {
                        cp = 0xFFFD;
                        len = k;
                        break;
                    }
                    cp = (cp << 6) | (c & 0x3F);
                }
                if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                    cp = 0xFFFD;
                }
            }
        }
        i += len;
        if (cp >= 0x20 && cp <= 0x7e) {
            flush();
            out += static_cast<char>(cp);
            if (cp == '&') {
                out += '-';
            }
        } else if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            pending.push_back(static_cast<std::uint16_t>(0xD800 + (v >> 10)));
            pending.push_back(static_cast<std::uint16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            pending.push_back(static_cast<std::uint16_t>(cp));
        }
    }
    flush();
    return out;
}

struct ImapSession::Response {
    struct Untagged {
        std::string text; // kLiteralMark where each literal stood
        std::vector<std::string> literals;
    };
    std::vector<Untagged> untagged;
    std::string status; // OK, NO or BAD
    std::string text;   // the tagged line after the status
};

struct ImapSession::Impl {
    CURL* curl = nullptr;
    curl_socket_t sock = CURL_SOCKET_BAD;
    std::chrono::seconds timeout{60};
    std::string in;       // received, not yet parsed
    std::string lastLine; // the server's last line during connect and login
    bool literalPlus = false;
    unsigned tag = 0;
    std::optional<char> separator;

    static int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
        if (type == CURLINFO_HEADER_IN) {
            auto* impl = static_cast<Impl*>(self);
            std::string line(data, size);
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
                line.pop_back();
            }
            if (line.find("CAPABILITY") != std::string::npos &&
                line.find("LITERAL+") != std::string::npos) {
                impl->literalPlus = true;
            }
            impl->lastLine = line;
        }
        return 0;
    }

    void wait(short events) {
        pollfd p{sock, events, 0};
        const auto deadline = std::chrono::steady_clock::now() + timeout;
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

    void send(std::string_view data) {
        while (!data.empty()) {
            size_t n = 0;
            const CURLcode rc = curl_easy_send(curl, data.data(), data.size(), &n);
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

    void fill() {
        char buf[65536];
        for (;;) {
            size_t n = 0;
            const CURLcode rc = curl_easy_recv(curl, buf, sizeof buf, &n);
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
            in.append(buf, n);
            return;
        }
    }

    std::string line() {
        std::size_t end;
        while ((end = in.find("\r\n")) == std::string::npos) {
            fill();
        }
        std::string l = in.substr(0, end);
        in.erase(0, end + 2);
        return l;
    }

    std::string bytes(std::size_t n) {
        while (in.size() < n) {
            fill();
        }
        std::string b = in.substr(0, n);
        in.erase(0, n);
        return b;
    }

    // One response line with its literals read in.
    Response::Untagged readResponse() {
        Response::Untagged r;
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
};

ImapSession::ImapSession(const ImapSettings& s) : m_impl(std::make_unique<Impl>()) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    Impl& d = *m_impl;
    d.timeout = s.timeout;
    d.curl = curl_easy_init();
    if (d.curl == nullptr) {
        throw ImapError(Kind::Connection, "cannot start a connection");
    }
    std::string url = std::string(s.url.implicitTls ? "imaps://" : "imap://") + s.url.host;
    if (s.url.port != 0) {
        url += ':' + std::to_string(s.url.port);
    }
    url += '/';
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(d.curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(d.curl, CURLOPT_USERNAME, s.url.user.c_str());
    curl_easy_setopt(d.curl, CURLOPT_PASSWORD, s.password.c_str());
    curl_easy_setopt(d.curl, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(d.curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(d.curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(s.timeout.count()));
    curl_easy_setopt(d.curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(d.curl, CURLOPT_PROTOCOLS_STR, "imap,imaps");
    if (!s.url.implicitTls) {
        curl_easy_setopt(d.curl, CURLOPT_USE_SSL,
                         static_cast<long>(s.noTls ? CURLUSESSL_NONE : CURLUSESSL_TRY));
    }
    // The server's lines during login, for the error text; what we send (the password) is
    // never looked at.
    curl_easy_setopt(d.curl, CURLOPT_DEBUGFUNCTION, &Impl::onDebug);
    curl_easy_setopt(d.curl, CURLOPT_DEBUGDATA, &d);
    curl_easy_setopt(d.curl, CURLOPT_VERBOSE, 1L);
    const CURLcode rc = curl_easy_perform(d.curl);
    curl_easy_setopt(d.curl, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(d.curl, CURLOPT_ERRORBUFFER, nullptr);
    if (rc != CURLE_OK) {
        const std::string detail = error[0] != 0 ? error : curl_easy_strerror(rc);
        std::string server = d.lastLine;
        if (const auto sp = server.find(' '); sp != std::string::npos && server[0] != '*') {
            server = server.substr(sp + 1); // without the tag
        }
        curl_easy_cleanup(d.curl);
        d.curl = nullptr;
        if (rc == CURLE_LOGIN_DENIED) {
            throw ImapError(Kind::Login, "the server refused the login of " + s.url.user +
                                             (server.empty() ? "" : ": " + server));
        }
        throw ImapError(Kind::Connection, "cannot connect to " + s.url.host + ": " + detail);
    }
    curl_easy_getinfo(d.curl, CURLINFO_ACTIVESOCKET, &d.sock);
}

ImapSession::~ImapSession() {
    if (m_impl->curl != nullptr) {
        try {
            m_impl->timeout = std::chrono::seconds(5);
            (void)run("LOGOUT");
        } catch (const std::exception&) {
            // Leaving anyway.
        }
        curl_easy_cleanup(m_impl->curl);
    }
}

ImapSession::Response ImapSession::run(const std::string& command, std::string_view literal) {
    Impl& d = *m_impl;
    const std::string tag = "E" + std::to_string(++d.tag);
    Response r;
    auto finish = [&](Response::Untagged line) {
        // line.text begins with the tag and a space.
        const std::string rest = line.text.substr(tag.size() + 1);
        const auto sp = rest.find(' ');
        r.status = rest.substr(0, sp);
        r.text = sp == std::string::npos ? "" : rest.substr(sp + 1);
        return r;
    };
    auto isTagged = [&](const std::string& text) {
        return text.compare(0, tag.size() + 1, tag + " ") == 0;
    };
    if (literal.empty()) {
        d.send(tag + " " + command + "\r\n");
    } else if (d.literalPlus) {
        // One write: the command, the message and the line end.
        std::string out = tag + " " + command + " {" + std::to_string(literal.size()) + "+}\r\n";
        out.reserve(out.size() + literal.size() + 2);
        out.append(literal);
        out.append("\r\n");
        d.send(out);
    } else {
        d.send(tag + " " + command + " {" + std::to_string(literal.size()) + "}\r\n");
        for (;;) {
            auto line = d.readResponse();
            if (line.text.compare(0, 1, "+") == 0) {
                break;
            }
            if (isTagged(line.text)) {
                return finish(std::move(line)); // refused before the message was sent
            }
            r.untagged.push_back(std::move(line));
        }
        d.send(literal);
        d.send("\r\n");
    }
    for (;;) {
        auto line = d.readResponse();
        if (isTagged(line.text)) {
            return finish(std::move(line));
        }
        if (line.text.compare(0, 1, "+") != 0) {
            r.untagged.push_back(std::move(line));
        }
    }
}

namespace {
void expectOk(const std::string& status, const std::string& text) {
    if (status != "OK") {
        throw ImapError(Kind::Server, (status.empty() ? "" : status + " ") + text);
    }
}
} // namespace

char ImapSession::separator() {
    if (m_impl->separator) {
        return *m_impl->separator;
    }
    const Response r = run("LIST \"\" \"\"");
    expectOk(r.status, r.text);
    char sep = '/';
    for (const auto& u : r.untagged) {
        if (u.text.compare(0, 7, "* LIST ") == 0) {
            std::size_t at = 7;
            const std::string delim = listDelimiter(u.text, at);
            if (delim.size() == 1) {
                sep = delim[0];
            }
        }
    }
    m_impl->separator = sep;
    return sep;
}

std::vector<std::string> ImapSession::listAll() {
    const Response r = run("LIST \"\" \"*\"");
    expectOk(r.status, r.text);
    std::vector<std::string> names;
    for (const auto& u : r.untagged) {
        if (u.text.compare(0, 7, "* LIST ") != 0) {
            continue;
        }
        std::size_t at = 7;
        (void)listDelimiter(u.text, at);
        if (at >= u.text.size()) {
            continue;
        }
        if (u.text[at] == kLiteralMark && !u.literals.empty()) {
            names.push_back(u.literals.front());
        } else if (u.text[at] == '"') {
            std::string name;
            for (std::size_t i = at + 1; i < u.text.size() && u.text[i] != '"'; ++i) {
                if (u.text[i] == '\\' && i + 1 < u.text.size()) {
                    ++i;
                }
                name += u.text[i];
            }
            names.push_back(name);
        } else {
            names.push_back(u.text.substr(at));
        }
    }
    return names;
}

void ImapSession::create(const std::string& mailbox) {
    const Response r = run("CREATE " + quoted(mailbox));
    if (r.status == "NO" && r.text.find("[ALREADYEXISTS]") != std::string::npos) {
        return;
    }
    expectOk(r.status, r.text);
}

std::vector<std::string> ImapSession::fetchHeaders(const std::string& mailbox,
                                                   const std::string& fields) {
    const Response ex = run("EXAMINE " + quoted(mailbox));
    expectOk(ex.status, ex.text);
    std::size_t exists = 0;
    for (const auto& u : ex.untagged) {
        const auto pos = u.text.find(" EXISTS");
        if (u.text.compare(0, 2, "* ") == 0 && pos != std::string::npos) {
            exists = std::strtoull(u.text.c_str() + 2, nullptr, 10);
        }
    }
    std::vector<std::string> headers;
    if (exists > 0) {
        const Response f = run("FETCH 1:* (BODY.PEEK[HEADER.FIELDS (" + fields + ")])");
        expectOk(f.status, f.text);
        for (const auto& u : f.untagged) {
            if (u.text.find(" FETCH ") != std::string::npos && !u.literals.empty()) {
                headers.push_back(u.literals.front());
            }
        }
    }
    // Appends go to the folder while nothing is selected.
    const Response c = run("CLOSE");
    (void)c;
    return headers;
}

void ImapSession::append(const std::string& mailbox, std::string_view message,
                         std::optional<std::int64_t> date) {
    std::string command = "APPEND " + quoted(mailbox) + " (\\Seen)";
    if (date) {
        if (const auto text = internalDate(*date)) {
            command += " \"" + *text + "\"";
        }
    }
    const Response r = run(command, message);
    expectOk(r.status, r.text);
}

} // namespace edb::conv
