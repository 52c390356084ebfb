#include "deliver/resume_check.h"

#include "deliver/output_names.h"
#include "deliver/sha256.h"

#include <algorithm>
#include <cstdlib>

namespace edb::conv {
namespace {

// The value of every boundary parameter in `text` (quoted or a token).
std::vector<std::string> boundaries(std::string_view text) {
    std::vector<std::string> out;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t at = text.find("oundary=", pos);
        if (at == std::string_view::npos || at == 0) {
            break;
        }
        pos = at + 8;
        if (text[at - 1] != 'b' && text[at - 1] != 'B') {
            continue;
        }
        std::string value;
        if (pos < text.size() && text[pos] == '"') {
            const std::size_t end = text.find('"', pos + 1);
            if (end == std::string_view::npos) {
                return {""}; // never closed: not whole
            }
            value = text.substr(pos + 1, end - pos - 1);
        } else {
            const std::size_t end = text.find_first_of(" \t\r\n;", pos);
            value = text.substr(pos, end == std::string_view::npos ? text.size() - pos : end - pos);
        }
        out.push_back(value);
    }
    return out;
}

} // namespace

bool LooksComplete(std::string_view message) {
    std::size_t body = message.find("\r\n\r\n");
    body = body == std::string_view::npos ? message.find("\n\n") : body;
    if (body == std::string_view::npos || message.empty() || message.back() != '\n') {
        return false;
    }
    const std::string_view rest = message.substr(body);
    if (rest.find_first_not_of("\r\n") == std::string_view::npos) {
        return false; // headers alone
    }
    for (const std::string& b : boundaries(message)) {
        if (b.empty() || message.find("--" + b + "--") == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

bool SizePlausible(std::uint64_t found, std::uint64_t expected) {
    const std::uint64_t diff = found > expected ? found - expected : expected - found;
    return diff <= std::max<std::uint64_t>(512, expected / 10);
}

bool StillMatches(const std::filesystem::path& root, const ManifestFile& f) {
    const std::filesystem::path p = root / Utf8Path(f.path);
    std::string digest;
    std::error_code ec;
    if (f.offset) {
        return Sha256OfFile(p, digest, *f.offset, f.size) && digest == f.sha256;
    }
    return std::filesystem::file_size(p, ec) == f.size && !ec && Sha256OfFile(p, digest) &&
           digest == f.sha256;
}

const ManifestEntry* SavedEntryFor(const Manifest& manifest, const std::string& path) {
    for (const ManifestEntry* e : manifest.entriesFor(path)) {
        if (e->saved() && !e->files.empty() && e->files.front().path == path) {
            return e;
        }
    }
    return nullptr;
}

} // namespace edb::conv
