// Sender text from the store read as a mailbox: an address found in it is kept, otherwise one
// is made up from the name in a reserved domain.
#include "mime/sender_address.h"

#include "charset/header_chars.h"

#include <algorithm>

namespace edb::conv {
namespace {

using header::CleanHeaderText;
using header::IsAtext;
using header::NextCodePoint;

constexpr std::size_t kMaxLocalPart = 64; // RFC 5321 limit of an address's local part

// Address syntax this writer trusts: dot-atom local part and a host name.
bool isPlainAddress(std::string_view a) {
    const std::size_t at = a.find('@');
    if (at == std::string_view::npos || at == 0 || at > kMaxLocalPart || at + 1 >= a.size() ||
        a.find('@', at + 1) != std::string_view::npos) {
        return false;
    }
    const std::string_view local = a.substr(0, at);
    const std::string_view domain = a.substr(at + 1);
    for (std::size_t i = 0; i < local.size(); ++i) {
        const char c = local[i];
        if (c == '.') {
            if (i == 0 || i + 1 == local.size() || local[i - 1] == '.') {
                return false;
            }
        } else if (!IsAtext(c)) {
            return false;
        }
    }
    std::size_t label = 0;
    for (const char c : domain) {
        if (c == '.') {
            if (label == 0) {
                return false;
            }
            label = 0;
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '-') {
            ++label;
        } else {
            return false;
        }
    }
    return label > 0;
}

// Latin-1 letters without their accents, so that "Núñez" gives "nunez" (index: code point -
// 0xC0; '.' where there is no plain letter).
constexpr std::string_view kLatin1Base = "aaaaaaaceeeeiiiidnooooo.ouuuuyts"
                                         "aaaaaaaceeeeiiiidnooooo.ouuuuyty";

std::string madeUpLocalPart(std::string_view name) {
    std::string local;
    for (std::size_t i = 0; i < name.size() && local.size() < kMaxLocalPart;) {
        char32_t cp = NextCodePoint(name, i);
        if (cp >= 0xC0 && cp <= 0xFF) {
            cp = static_cast<unsigned char>(kLatin1Base[cp - 0xC0]);
        }
        if ((cp >= 'a' && cp <= 'z') || (cp >= '0' && cp <= '9')) {
            local += static_cast<char>(cp);
        } else if (cp >= 'A' && cp <= 'Z') {
            local += static_cast<char>(cp - 'A' + 'a');
        } else if (!local.empty() && local.back() != '.') {
            local += '.';
        }
    }
    while (!local.empty() && local.back() == '.') {
        local.pop_back();
    }
    return local.empty() ? "unknown" : local;
}

} // namespace

EmlAddress ParseSenderText(std::string_view text, std::string_view fallbackName) {
    const std::string clean = CleanHeaderText(text, ' ');
    const std::string_view t = header::TrimSpaces(clean);
    const std::size_t lt = t.rfind('<');
    if (lt != std::string_view::npos && t.size() > lt + 2 && t.back() == '>') {
        const std::string_view addr = t.substr(lt + 1, t.size() - lt - 2);
        if (isPlainAddress(addr)) {
            std::string_view name = header::TrimSpaces(t.substr(0, lt));
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
                name = name.substr(1, name.size() - 2);
            }
            return {std::string(name), std::string(addr), false};
        }
    }
    if (isPlainAddress(t)) {
        return {"", std::string(t), false};
    }
    // An address inside other text ("John [john@example.com]", "john@example.com (John)").
    if (const std::size_t at = t.find('@'); at != std::string_view::npos) {
        const auto addrChar = [](char c) { return IsAtext(c) || c == '.'; };
        std::size_t from = at;
        std::size_t to = at + 1;
        while (from > 0 && addrChar(t[from - 1])) {
            --from;
        }
        while (to < t.size() && addrChar(t[to])) {
            ++to;
        }
        while (to > at + 1 && t[to - 1] == '.') {
            --to; // a full stop after the address ends the sentence
        }
        const std::string_view addr = t.substr(from, to - from);
        if (isPlainAddress(addr)) {
            std::string rest = std::string(t.substr(0, from)) + " " + std::string(t.substr(to));
            for (char& c : rest) {
                c = std::string_view("<>[]()\"'").find(c) != std::string_view::npos ? ' ' : c;
            }
            return {std::string(header::TrimSpaces(rest)), std::string(addr), false};
        }
    }
    const std::string name(t.empty() ? fallbackName : t);
    // A directory name ("/O=Org/OU=Site/CN=Recipients/CN=jsmith") is known by its last CN.
    std::string_view local = name;
    if (name.starts_with("/O=") || name.starts_with("/o=")) {
        const std::size_t upper = name.rfind("/CN=");
        const std::size_t lower = name.rfind("/cn=");
        const std::size_t cn = upper == std::string::npos   ? lower
                               : lower == std::string::npos ? upper
                                                            : std::max(upper, lower);
        if (cn != std::string::npos) {
            local = std::string_view(name).substr(cn + 4);
        }
    }
    return {name, madeUpLocalPart(local) + "@" + std::string(kNoAddressDomain), true};
}

} // namespace edb::conv
