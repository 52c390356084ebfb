// The commands of the upload on a logged-in connection: tagging, waiting for the tagged
// answer, and reading what LIST, EXAMINE and FETCH return.
#include "imap/imap_session.h"

#include "imap/imap_connection.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace edb::conv {
namespace {

using Kind = ImapError::Kind;

// Messages whose header fields one FETCH asks for.
constexpr std::size_t kFetchBatch = 1000;
// No folder holds more; a larger count is a broken server.
constexpr std::size_t kMaxExists = 50'000'000;

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

void expectOk(const std::string& status, const std::string& text) {
    if (status != "OK") {
        throw ImapError(Kind::Server, (status.empty() ? "" : status + " ") + text);
    }
}

} // namespace

struct ImapSession::Response {
    std::string status; // OK, NO or BAD
    std::string text;   // the tagged line after the status
    // The tagged answer came before the server asked for the literal: none of it was sent.
    bool literalUnsent = false;
};

struct ImapSession::Impl {
    explicit Impl(const ImapSettings& settings) : connection(settings), timeout(settings.timeout) {}
    ImapConnection connection;
    std::chrono::seconds timeout;
    bool broken = false; // a transport error: the connection is in an unknown state
    bool literalPlus = false;
    unsigned tag = 0;
    std::optional<char> separator;
};

ImapSession::ImapSession(const ImapSettings& s) : m_impl(std::make_unique<Impl>(s)) {
    // The capabilities as they stand now, after TLS and the login: what the server said
    // before STARTTLS may have been written by anyone on the way, and is not looked at.
    bool literalPlus = false;
    const Response r = run("CAPABILITY", [&](ImapLine& line) {
        if (line.text.compare(0, 13, "* CAPABILITY ") != 0) {
            return;
        }
        std::size_t at = 13;
        while (at < line.text.size()) {
            auto end = line.text.find(' ', at);
            end = end == std::string::npos ? line.text.size() : end;
            std::string word = line.text.substr(at, end - at);
            for (char& c : word) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            literalPlus = literalPlus || word == "LITERAL+";
            at = end + 1;
        }
    });
    expectOk(r.status, r.text);
    m_impl->literalPlus = literalPlus;
}

ImapSession::~ImapSession() {
    if (m_impl->broken) {
        return; // nothing more can be said on it
    }
    try {
        m_impl->connection.setTimeout(std::min(m_impl->timeout, std::chrono::seconds(5)));
        (void)run("LOGOUT");
    } catch (const std::exception&) {
        // Leaving anyway.
    }
}

bool ImapSession::encrypted() const {
    return m_impl->connection.encrypted();
}

ImapSession::Response ImapSession::run(const std::string& command, const Untagged& onUntagged,
                                       std::string_view literal, std::size_t budget) {
    try {
        return exchange(command, onUntagged, literal, budget);
    } catch (const ImapError& e) {
        if (e.kind() != Kind::Server) {
            m_impl->broken = true;
        }
        throw;
    }
}

ImapSession::Response ImapSession::exchange(const std::string& command, const Untagged& onUntagged,
                                            std::string_view literal, std::size_t budget) {
    ImapConnection& c = m_impl->connection;
    const std::string tag = "E" + std::to_string(++m_impl->tag);
    c.startCommand(command.substr(0, command.find(' ')), literal.size(), budget);
    Response r;
    auto finish = [&](const ImapLine& line) {
        // line.text begins with the tag and a space.
        const std::string rest = line.text.substr(tag.size() + 1);
        const auto sp = rest.find(' ');
        r.status = rest.substr(0, sp);
        r.text = sp == std::string::npos ? "" : rest.substr(sp + 1, 500);
        return r;
    };
    auto isTagged = [&](const std::string& text) {
        return text.compare(0, tag.size() + 1, tag + " ") == 0;
    };
    auto untagged = [&](ImapLine& line) {
        if (onUntagged && line.text.compare(0, 1, "+") != 0) {
            onUntagged(line);
        }
    };
    if (literal.empty()) {
        c.send(tag + " " + command + "\r\n");
    } else if (m_impl->literalPlus) {
        // One write: the command, the message and the line end.
        std::string out = tag + " " + command + " {" + std::to_string(literal.size()) + "+}\r\n";
        out.reserve(out.size() + literal.size() + 2);
        out.append(literal);
        out.append("\r\n");
        c.send(out);
    } else {
        c.send(tag + " " + command + " {" + std::to_string(literal.size()) + "}\r\n");
        for (;;) {
            auto line = c.readLine();
            if (line.text.compare(0, 1, "+") == 0) {
                break;
            }
            if (isTagged(line.text)) {
                // Answered before the message was sent: whatever it says, the message is not
                // on the server.
                finish(line);
                r.literalUnsent = true;
                return r;
            }
            untagged(line);
        }
        c.send(literal);
        c.send("\r\n");
    }
    for (;;) {
        auto line = c.readLine();
        if (isTagged(line.text)) {
            return finish(line);
        }
        untagged(line);
    }
}

char ImapSession::separator() {
    if (m_impl->separator) {
        return *m_impl->separator;
    }
    char sep = '/';
    const Response r = run("LIST \"\" \"\"", [&](ImapLine& u) {
        if (u.text.compare(0, 7, "* LIST ") == 0) {
            std::size_t at = 7;
            const std::string delim = listDelimiter(u.text, at);
            if (delim.size() == 1) {
                sep = delim[0];
            }
        }
    });
    expectOk(r.status, r.text);
    m_impl->separator = sep;
    return sep;
}

std::vector<std::string> ImapSession::listAll(std::size_t budget) {
    std::vector<std::string> names;
    const Response r = run(
        "LIST \"\" \"*\"",
        [&](ImapLine& u) {
            if (u.text.compare(0, 7, "* LIST ") != 0) {
                return;
            }
            std::size_t at = 7;
            (void)listDelimiter(u.text, at);
            if (at >= u.text.size()) {
                return;
            }
            if (u.text[at] == kLiteralMark && !u.literals.empty()) {
                names.push_back(std::move(u.literals.front()));
            } else if (u.text[at] == '"') {
                std::string name;
                for (std::size_t i = at + 1; i < u.text.size() && u.text[i] != '"'; ++i) {
                    if (u.text[i] == '\\' && i + 1 < u.text.size()) {
                        ++i;
                    }
                    name += u.text[i];
                }
                names.push_back(std::move(name));
            } else {
                names.push_back(u.text.substr(at));
            }
        },
        {}, budget);
    expectOk(r.status, r.text);
    return names;
}

void ImapSession::create(const std::string& mailbox) {
    const Response r = run("CREATE " + quoted(mailbox));
    if (r.status == "NO" && r.text.find("[ALREADYEXISTS]") != std::string::npos) {
        return;
    }
    expectOk(r.status, r.text);
}

void ImapSession::fetchHeaders(const std::string& mailbox, const std::string& fields,
                               const std::function<bool(std::string&&)>& onHeader) {
    std::size_t exists = 0;
    const Response ex = run("EXAMINE " + quoted(mailbox), [&](ImapLine& u) {
        const auto pos = u.text.find(" EXISTS");
        if (u.text.compare(0, 2, "* ") == 0 && pos != std::string::npos) {
            exists =
                std::min<std::size_t>(std::strtoull(u.text.c_str() + 2, nullptr, 10), kMaxExists);
        }
    });
    expectOk(ex.status, ex.text);
    // In batches, so that each answer has a size we can bound.
    bool more = true;
    for (std::size_t first = 1; more && first <= exists; first += kFetchBatch) {
        const std::size_t last = std::min(exists, first + kFetchBatch - 1);
        const Response f = run(
            "FETCH " + std::to_string(first) + ":" + std::to_string(last) +
                " (BODY.PEEK[HEADER.FIELDS (" + fields + ")])",
            [&](ImapLine& u) {
                if (more && u.text.find(" FETCH ") != std::string::npos && !u.literals.empty()) {
                    more = onHeader(std::move(u.literals.front()));
                }
            },
            {}, (last - first + 1) * (kMaxLiteral + 1024) + (std::size_t{1} << 20));
        expectOk(f.status, f.text);
    }
    // Appends go to the folder while nothing is selected.
    (void)run("CLOSE");
}

void ImapSession::append(const std::string& mailbox, std::string_view message,
                         std::optional<std::int64_t> date) {
    std::string command = "APPEND " + quoted(mailbox) + " (\\Seen)";
    if (date) {
        if (const auto text = internalDate(*date)) {
            command += " \"" + *text + "\"";
        }
    }
    const Response r = run(command, {}, message);
    if (r.literalUnsent) {
        throw ImapError(Kind::Server, "the server answered " + r.status + " " + r.text +
                                          " before it took the message; nothing was sent");
    }
    expectOk(r.status, r.text);
}

} // namespace edb::conv
