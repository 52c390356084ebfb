#include "deliver/maildir_names.h"

#include "imap/imap_url.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace edb::conv {
namespace {

// The longest directory entry name most file systems take.
constexpr std::size_t kNameMax = 255;
// What a message path needs below the folder's directory: "/cur/" and a file name (see
// MaildirHostPart) with room for the flags and sizes servers add to it.
constexpr std::size_t kMessagePathRoom = 5 + 200;
// A cut level keeps at least this much before its hash, or the path is shortened instead.
constexpr std::size_t kMinLeafBytes = 16;

// ASCII characters no level keeps: the Maildir++ separator, '/' (the separator many servers
// show and a path separator on disk), IMAP's wildcards, quoting characters and what other
// systems refuse in file names, as the .eml export's folder names avoid them.
bool isReplaced(unsigned char c) {
    return c < 0x20 || c == 0x7f ||
           std::string_view("./\\*%\"?:<>|").find(static_cast<char>(c)) != std::string_view::npos;
}

std::uint32_t fnv1a(std::string_view s) {
    std::uint32_t h = 2166136261U;
    for (const char c : s) {
        h = (h ^ static_cast<unsigned char>(c)) * 16777619U;
    }
    return h;
}

// '_' and 6 hex digits of the hash of `of`: short, and the same on every run.
std::string hashSuffix(std::string_view of) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "_";
    const std::uint32_t h = fnv1a(of);
    for (int shift = 20; shift >= 0; shift -= 4) {
        out += kHex[(h >> shift) & 0xf];
    }
    return out;
}

// Bytes of `s` up to the start of the character that byte `at` lies in.
std::size_t characterStart(std::string_view s, std::size_t at) {
    while (at > 0 && at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80) {
        --at;
    }
    return at;
}

// `level` in modified UTF-7 within `cap` bytes: whole when it fits (and no suffix is forced),
// else cut on a character boundary and ended by the hash of `hashOf`. Empty when not even the
// hash fits.
std::string fitLevel(std::string_view level, std::size_t cap, std::string_view hashOf,
                     bool forceSuffix) {
    std::string whole = EncodeMailboxName(level);
    if (!forceSuffix && whole.size() <= cap) {
        return whole;
    }
    const std::string suffix = hashSuffix(hashOf);
    if (cap < suffix.size()) {
        return {};
    }
    // Modified UTF-7 takes at least two bytes for every three of UTF-8, so a cut there is no
    // shorter than needed; from it, whole characters come off until the name fits.
    std::size_t keep = characterStart(level, std::min(level.size(), cap * 3 / 2 + 4));
    while (true) {
        std::string_view head = level.substr(0, keep);
        while (!head.empty() && head.back() == ' ') {
            head.remove_suffix(1);
        }
        std::string cut = EncodeMailboxName(head) + suffix;
        if (cut.size() <= cap || keep == 0) {
            return cut.size() <= cap ? cut : suffix;
        }
        keep = characterStart(level, keep - 1);
    }
}

} // namespace

bool IsInboxName(std::string_view name) {
    static constexpr std::string_view kInbox = "inbox";
    return name.size() == kInbox.size() &&
           std::equal(name.begin(), name.end(), kInbox.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
           });
}

std::string MaildirLevelName(std::string_view storeName, bool top) {
    std::string out;
    out.reserve(storeName.size());
    for (const char c : storeName) {
        out += isReplaced(static_cast<unsigned char>(c)) ? '_' : c;
    }
    const auto first = out.find_first_not_of(' ');
    out.erase(0, first == std::string::npos ? out.size() : first);
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    if (out.empty()) {
        return "_";
    }
    // A leading '~' names a home directory to servers, which refuse the name.
    if (out[0] == '~') {
        out[0] = '_';
    }
    // Servers take "INBOX" in any case as the Maildir's own INBOX, which is the store's Inbox.
    if (top && IsInboxName(out)) {
        out += '_';
    }
    return out;
}

std::size_t MaildirNameRoom(std::size_t parentBytes) {
    const std::size_t pathMax = PATH_MAX - 1; // PATH_MAX counts the terminating NUL
    if (parentBytes + 1 + kMessagePathRoom + kMinLeafBytes > pathMax) {
        return 0;
    }
    return std::min(kNameMax, pathMax - parentBytes - 1 - kMessagePathRoom);
}

std::string MaildirDirectoryName(const std::vector<std::string>& levels, std::size_t room) {
    std::vector<std::string> encoded;
    std::size_t total = 0;
    for (const std::string& level : levels) {
        encoded.push_back(fitLevel(level, kMaildirLevelBytes, level, false));
        total += 1 + encoded.back().size();
    }
    if (total <= room) {
        std::string out;
        for (const std::string& e : encoded) {
            out += '.' + e;
        }
        return out;
    }
    // Too deep to nest whole: the ancestors that fit, then the folder's own name cut with the
    // hash of the whole path, as two folders ending alike under different parents stay apart.
    std::string path;
    for (const std::string& level : levels) {
        path += level;
        path += '\0';
    }
    std::string out;
    for (std::size_t i = 0; i + 1 < levels.size(); ++i) {
        if (out.size() + 1 + encoded[i].size() + 1 + kMinLeafBytes > room) {
            break;
        }
        out += '.' + encoded[i];
    }
    if (out.size() + 1 + kMinLeafBytes > room) {
        return {};
    }
    const std::size_t cap = std::min(kMaildirLevelBytes, room - out.size() - 1);
    return out + '.' + fitLevel(levels.empty() ? "_" : levels.back(), cap, path, true);
}

std::string MaildirHostPart(std::string_view host) {
    std::string out;
    for (const char c : host) {
        if (out.size() == 64) {
            break;
        }
        out += (c == '/' || c == ':' || c == ',' || static_cast<unsigned char>(c) < 0x21 ||
                static_cast<unsigned char>(c) >= 0x7f)
                   ? '_'
                   : c;
    }
    return out.empty() ? "localhost" : out;
}

std::string_view MaildirUniquePart(std::string_view fileName) {
    return fileName.substr(0, fileName.find_first_of(",:"));
}

} // namespace edb::conv
