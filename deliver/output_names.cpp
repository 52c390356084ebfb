#include "deliver/output_names.h"

#include "deliver/export_log.h"
#include "deliver/manifest.h"
#include "frontend/folder_paths.h"
#include "deliver/output_file.h"

#include <algorithm>
#include <system_error>

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

// Lower case for the letters a case-insensitive file system (Windows', macOS') most often
// meets in names: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic. "Über" and "über" are
// one name there, so they get different names everywhere and every system writes one tree.
char32_t foldLetter(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
        return c + 32;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 80;
    }
    if (c == 0x178) {
        return 0xFF;
    }
    // Latin Extended-A pairs: capital on the even code point, except in the stretches from
    // U+0139 to U+0148 and from U+0179 to U+017E, where it is on the odd one.
    const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
        c != 0x17F && (c % 2 == 1) == oddCapitals) {
        return c + 1;
    }
    return c;
}

std::string foldedKey(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        const std::size_t len = utf8Sequence(s, i, cp);
        if (len == 0) {
            out.push_back(s[i++]);
            continue;
        }
        cp = foldLetter(cp);
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.append(s.substr(i, len)); // no letter from U+0800 up is folded
        }
        i += len;
    }
    return out;
}

void trimEnd(std::string& s) {
    while (!s.empty() && (s.back() == '.' || s.back() == ' ')) {
        s.pop_back();
    }
}

} // namespace

std::string RelativeName(const fs::path& root, const fs::path& p) {
    const std::u8string u = p.lexically_relative(root).generic_u8string();
    return std::string(u.begin(), u.end());
}

bool IsReservedDeviceName(std::string_view name) {
    std::string base = asciiLower(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    if (base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" ||
        base == "conout$") {
        return true;
    }
    if (!base.starts_with("com") && !base.starts_with("lpt")) {
        return false;
    }
    // Windows also reserves the superscript digits: COM¹, LPT³.
    const std::string_view digit = std::string_view(base).substr(3);
    return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
           digit == "\xC2\xB2" || digit == "\xC2\xB3";
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

void UniqueNamer::reserve(std::string_view name) {
    unsigned& n = m_next[foldedKey(name)];
    n = std::max(n, 1U);
}

std::string UniqueNamer::next(std::string_view stem, std::string_view ext) {
    const std::string key = foldedKey(stem) + foldedKey(ext);
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
        const fs::path p = parent / Utf8Path(namer.next(stem, ""));
        const EntryKind kind = KindOf(p);
        if (kind == EntryKind::Directory) {
            return p;
        }
        if (kind == EntryKind::Missing && MakeNewDirectory(p)) {
            return p;
        }
        // A file or a link: leave it alone.
    }
    throw fs::filesystem_error("no free folder name", parent,
                               std::make_error_code(std::errc::file_exists));
}

void FolderNamePlan::add(const std::string& parent, const std::string& storeName) {
    const std::string key = parent + '\1' + storeName;
    if (m_planned.count(key) == 0) {
        const std::string name = m_namers[parent].next(SanitizeName(storeName), "");
        m_planned.emplace(key, name);
        m_names[parent].push_back(name);
    }
}

fs::path FolderNamePlan::makeDirectory(const fs::path& dir, const std::string& parent,
                                       const std::string& storeName, UniqueNamer& namer) {
    const auto planned = m_planned.find(parent + '\1' + storeName);
    if (planned == m_planned.end()) {
        return MakeChildDirectory(dir, storeName, namer);
    }
    if (!m_reserved[parent]) {
        // No other folder here is given a planned name.
        for (const std::string& name : m_names[parent]) {
            namer.reserve(name);
        }
        m_reserved[parent] = true;
    }
    const fs::path p = dir / Utf8Path(planned->second);
    const EntryKind kind = KindOf(p);
    if (kind == EntryKind::Directory || (kind == EntryKind::Missing && MakeNewDirectory(p))) {
        return p;
    }
    // A file or a link has the name: leave it alone and take the next free one.
    return MakeChildDirectory(dir, planned->second, namer);
}

fs::path WriteNewFile(const fs::path& dir, std::string_view stem, std::string_view ext,
                      std::string_view bytes, UniqueNamer& namer,
                      std::vector<fs::path>* passedOver) {
    // The name is taken before the write, so a message that fails keeps its place in the
    // order and a rerun that writes it gives every file the name a single run gives.
    std::string name = namer.next(stem, ext);
    OutputFile file(dir);
    file.write(bytes);
    return NameNewFile(file, dir, name, stem, ext, namer, passedOver);
}

fs::path NameNewFile(OutputFile& file, const fs::path& dir, std::string name,
                     std::string_view stem, std::string_view ext, UniqueNamer& namer,
                     std::vector<fs::path>* passedOver) {
    for (unsigned tries = 0; tries < kMaxTries; ++tries) {
        const fs::path target = dir / Utf8Path(name);
        if (file.commit(target)) {
            return target;
        }
        if (passedOver != nullptr) {
            passedOver->push_back(target);
        }
        name = namer.next(stem, ext);
    }
    throw fs::filesystem_error("no free file name", dir,
                               std::make_error_code(std::errc::file_exists));
}

TopDirectories::TopDirectories(fs::path root) : m_root(std::move(root)) {
    m_namer.reserve(kExportLogName);
    m_namer.reserve(kManifestName);
    m_namer.reserve(kManifestJournalName);
    m_namer.reserve(kUnattachedFolderName);
}

fs::path TopDirectories::of(const std::string& mailbox, bool unattached) {
    if (unattached) {
        if (!m_unattached) {
            m_unattached = MakeChildDirectory(m_root, kUnattachedFolderName, m_unattachedNamer);
        }
        return *m_unattached;
    }
    const auto it = m_dirs.find(mailbox);
    if (it != m_dirs.end()) {
        return it->second;
    }
    const fs::path dir = MakeChildDirectory(m_root, mailbox, m_namer);
    m_dirs.emplace(mailbox, dir);
    return dir;
}

void PresentMessages::add(const std::string& key, std::string location) {
    if (!key.empty()) {
        m_byKey[key].push_back(std::move(location));
    }
}

std::optional<std::string> PresentMessages::take(const std::string& key) {
    const auto it = m_byKey.find(key);
    if (key.empty() || it == m_byKey.end() || it->second.empty()) {
        return std::nullopt;
    }
    std::string location = std::move(it->second.front());
    it->second.pop_front();
    return location;
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
