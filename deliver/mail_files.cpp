// What the mbox and Maildir destinations share.
#include "deliver/mail_files.h"

#include "deliver/output_names.h"
#include "frontend/folder_paths.h"

#include <algorithm>
#include <system_error>

namespace edb::conv {
namespace fs = std::filesystem;

[[noreturn]] void FailOutput(const std::string& what, const fs::path& p, int err) {
    throw fs::filesystem_error(what, p, std::error_code(err, std::generic_category()));
}

std::string ToLf(std::string_view eml) {
    std::string out;
    out.reserve(eml.size());
    for (std::size_t i = 0; i < eml.size(); ++i) {
        if (eml[i] == '\r' && i + 1 < eml.size() && eml[i + 1] == '\n') {
            continue;
        }
        out += eml[i];
    }
    if (out.empty() || out.back() != '\n') {
        out += '\n';
    }
    return out;
}

std::vector<std::string> NamesBelowTop(const FolderPath& f) {
    std::vector<std::string> names = f.names;
    if (!f.attached || names.empty()) {
        names.insert(names.begin(), f.attached ? "_" : kUnattachedFolderName);
    }
    return names;
}

std::string EnvelopeSender(std::string_view eml) {
    std::string from = HeaderField(eml, "From").value_or("");
    const auto lt = from.rfind('<');
    const auto gt = from.rfind('>');
    if (lt != std::string::npos && gt != std::string::npos && gt > lt) {
        from = from.substr(lt + 1, gt - lt - 1);
    }
    const bool plain =
        !from.empty() && from.find('@') != std::string::npos &&
        from.find_first_of(" \t\"<>()") == std::string::npos &&
        std::all_of(from.begin(), from.end(), [](char c) {
            return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7f;
        });
    return plain ? from : "MAILER-DAEMON";
}

// The messages of an mbox file: where each starts, and whether the last one is complete (ours
// end with an empty line; a file cut short by an older version may not).
std::vector<std::size_t> MboxStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t pos = 0; pos < text.size();) {
        if (text.substr(pos, 5) == "From ") {
            starts.push_back(pos);
        }
        const std::size_t end = text.find('\n', pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;
    }
    return starts;
}

} // namespace edb::conv
