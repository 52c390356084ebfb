// The upload's address read into its parts, and folder names put into IMAP's mailbox-name form.
#include "imap/imap_url.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <utility>

namespace edb::conv {
namespace {

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

// Where a password stands in the address: [first, last) after the user name's colon, up to the
// last '@'. Without a '/' before the colon and with an '@' after it, the colon cannot be the
// port's. When the text is ambiguous (a password holding '/' or '@' unencoded) this takes too
// much rather than too little, so that no part of a password is ever shown.
std::optional<std::pair<std::size_t, std::size_t>> passwordSpan(const std::string& url) {
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t start = scheme + 3;
    const auto colon = url.find(':', start);
    const auto at = url.find('@', start);
    if (colon == std::string::npos || at == std::string::npos || at < colon ||
        url.find('/', start) < colon) {
        return std::nullopt;
    }
    return std::make_pair(colon, url.rfind('@') + 1);
}

} // namespace

std::string ImapUrlForDisplay(const std::string& url) {
    const auto span = passwordSpan(url);
    if (!span) {
        return url;
    }
    return url.substr(0, span->first) + '@' + url.substr(span->second);
}

ImapUrl ParseImapUrl(const std::string& url) {
    ImapUrl u;
    const auto colon = url.find("://");
    if (colon == std::string::npos) {
        throw std::invalid_argument("expected imap://USER@HOST[:PORT]/[FOLDER]");
    }
    if (passwordSpan(url)) {
        throw std::invalid_argument("a password does not belong in the address; give it "
                                    "separately");
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

std::string ShortenMailboxName(std::string_view utf8, std::size_t maxEncoded) {
    if (EncodeMailboxName(utf8).size() <= maxEncoded) {
        return std::string(utf8);
    }
    // FNV-1a of the whole name, as 6 letters and digits: stable across runs and machines.
    std::uint32_t hash = 2166136261u;
    for (const char c : utf8) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz234567";
    std::string suffix = "~";
    for (int i = 0; i < 6; ++i) {
        suffix += kDigits[(hash >> (5 * i)) & 31];
    }
    const std::size_t room = std::max<std::size_t>(maxEncoded, 16) - suffix.size();
    // Character starts, then the longest start whose encoding fits (the encoded length only
    // grows as characters are added, so a binary search finds it).
    std::vector<std::size_t> cuts{0};
    for (std::size_t i = 1; i <= utf8.size(); ++i) {
        if (i == utf8.size() || (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) {
            cuts.push_back(i);
        }
    }
    std::size_t lo = 0;
    std::size_t hi = cuts.size() - 1;
    while (lo < hi) {
        const std::size_t mid = (lo + hi + 1) / 2;
        if (EncodeMailboxName(utf8.substr(0, cuts[mid])).size() <= room) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    std::string head(utf8.substr(0, cuts[lo]));
    while (!head.empty() && head.back() == ' ') {
        head.pop_back();
    }
    return head + suffix;
}

} // namespace edb::conv
