#include "export/output_names.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace edb::conv {
namespace fs = std::filesystem;
namespace {

constexpr unsigned kMaxTries = 100000;

std::string asciiLower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// Length of the valid UTF-8 sequence at s[i], 0 when invalid; `cp` receives the code point.
std::size_t utf8Sequence(std::string_view s, std::size_t i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

bool isUnsafe(char32_t cp) {
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F)) {
        return true; // control characters
    }
    switch (cp) {
    case '/':
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
        return true;
    default:
        break;
    }
    // Bidirectional overrides and isolates can disguise a name's extension.
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

void trimEnd(std::string& s) {
    while (!s.empty() && (s.back() == '.' || s.back() == ' ')) {
        s.pop_back();
    }
}

// Moves `from` to `to` unless `to` exists; false (errno EEXIST) when it does.
bool moveNoReplaceImpl(const fs::path& from, const fs::path& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
#endif
    // A hard link fails when the name is taken, which makes the check and the move one step.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    // File systems without hard links: check, then move.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace

bool IsReservedDeviceName(std::string_view name) {
    std::string base = asciiLower(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    if (base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" ||
        base == "conout$") {
        return true;
    }
    return base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) &&
           base[3] >= '0' && base[3] <= '9';
}

std::string SanitizeName(std::string_view name, std::string_view fallback) {
    std::string out;
    out.reserve(std::min(name.size(), kMaxNameBytes + 4));
    for (std::size_t i = 0; i < name.size() && out.size() < kMaxNameBytes;) {
        char32_t cp = 0;
        const std::size_t len = utf8Sequence(name, i, cp);
        if (len == 0) {
            out.push_back('_');
            ++i;
            continue;
        }
        if (out.size() + len > kMaxNameBytes) {
            break; // never cut a character in half
        }
        if (isUnsafe(cp)) {
            out.push_back('_');
        } else {
            out.append(name.substr(i, len));
        }
        i += len;
    }
    std::size_t lead = 0;
    while (lead < out.size() && out[lead] == ' ') {
        ++lead;
    }
    out.erase(0, lead);
    trimEnd(out);
    if (!out.empty() && out[0] == '.') {
        out[0] = '_'; // no hidden files, and never "." or ".."
    }
    if (out.empty()) {
        out = std::string(fallback);
    }
    if (IsReservedDeviceName(out)) {
        out.insert(0, "_");
    }
    return out;
}

std::string UniqueNamer::next(std::string_view stem, std::string_view ext) {
    const std::string key = asciiLower(stem) + asciiLower(ext);
    unsigned& n = m_next[key];
    ++n;
    if (n == 1) {
        return std::string(stem) + std::string(ext);
    }
    return std::string(stem) + " (" + std::to_string(n) + ")" + std::string(ext);
}

fs::path MakeChildDirectory(const fs::path& parent, std::string_view name, UniqueNamer& namer) {
    const std::string stem = SanitizeName(name);
    for (unsigned tries = 0; tries < kMaxTries; ++tries) {
        const fs::path p = parent / namer.next(stem, "");
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(p, ec);
        if (fs::is_directory(st)) {
            return p;
        }
        if (fs::exists(st)) {
            continue; // a file or a link: leave it alone
        }
        if (fs::create_directory(p, ec)) {
            return p;
        }
        if (ec) {
            throw fs::filesystem_error("cannot create folder", p, ec);
        }
    }
    throw fs::filesystem_error("no free folder name", parent,
                               std::make_error_code(std::errc::file_exists));
}

fs::path WriteNewFile(const fs::path& dir, std::string_view stem, std::string_view ext,
                      std::string_view bytes, UniqueNamer& namer) {
    std::string tmpl = (dir / ".edb2eml-XXXXXX").string();
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        throw fs::filesystem_error("cannot create temporary file", dir,
                                   std::error_code(errno, std::generic_category()));
    }
    const fs::path tmp(tmpl);
    auto fail = [&](const char* what, int err) {
        ::unlink(tmp.c_str());
        throw fs::filesystem_error(what, dir, std::error_code(err, std::generic_category()));
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            ::close(fd);
            fail("cannot write file", err);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        fail("cannot write file", errno);
    }
    for (unsigned tries = 0; tries < kMaxTries; ++tries) {
        const fs::path target = dir / namer.next(stem, ext);
        if (MoveNoReplace(tmp, target)) {
            return target;
        }
        if (errno != EEXIST) {
            fail("cannot name file", errno);
        }
    }
    fail("no free file name", EEXIST);
    return {};
}

bool MoveNoReplace(const fs::path& from, const fs::path& to) {
    return moveNoReplaceImpl(from, to);
}

bool IsInside(const fs::path& root, const fs::path& path) {
    const fs::path r = fs::absolute(root).lexically_normal();
    const fs::path p = fs::absolute(path).lexically_normal();
    auto ri = r.begin();
    auto pi = p.begin();
    for (; ri != r.end(); ++ri, ++pi) {
        if (ri->empty() && std::next(ri) == r.end()) {
            break; // trailing separator of the root
        }
        if (pi == p.end() || *ri != *pi) {
            return false;
        }
    }
    return true;
}

} // namespace edb::conv
