// What every destination reads from a rendered message, and the choice of file destination.
#include "deliver/destination.h"

#include "charset/header_chars.h"
#include "deliver/output_file.h"
#include "mime/mail_date.h"
#include "deliver/output_names.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace edb::conv {
namespace fs = std::filesystem;

std::unique_ptr<Destination> MakeMboxDestination(const fs::path& root, bool sync);
std::unique_ptr<Destination> MakeMaildirDestination(const fs::path& root, bool sync);
std::unique_ptr<Destination> MakeEmlDestination(const fs::path& root, bool sync);

namespace {

std::string trim(std::string s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::unique_ptr<Destination> MakeFileDestination(FileFormat format, const fs::path& root,
                                                 bool sync) {
    switch (format) {
    case FileFormat::Mbox:
        return MakeMboxDestination(root, sync);
    case FileFormat::Maildir:
        return MakeMaildirDestination(root, sync);
    case FileFormat::Pst:
        return MakePstDestination(root, sync);
    case FileFormat::Eml:
        break;
    }
    return MakeEmlDestination(root, sync);
}

std::optional<std::string> HeaderField(std::string_view message, std::string_view name) {
    std::size_t pos = 0;
    while (pos < message.size()) {
        std::size_t end = message.find('\n', pos);
        if (end == std::string_view::npos) {
            end = message.size();
        }
        std::string_view line = message.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            return std::nullopt; // end of the header block
        }
        const auto colon = line.find(':');
        if (colon != std::string_view::npos && header::EqualsNoCase(line.substr(0, colon), name)) {
            std::string value(line.substr(colon + 1));
            // Continuation lines begin with white space.
            std::size_t next = end + 1;
            while (next < message.size() && (message[next] == ' ' || message[next] == '\t')) {
                std::size_t e = message.find('\n', next);
                if (e == std::string_view::npos) {
                    e = message.size();
                }
                std::string_view more = message.substr(next, e - next);
                if (!more.empty() && more.back() == '\r') {
                    more.remove_suffix(1);
                }
                value += more;
                next = e + 1;
            }
            return trim(std::move(value));
        }
        pos = end + 1;
    }
    return std::nullopt;
}

std::string MessageKey(std::string_view headers) {
    if (auto id = HeaderField(headers, "Message-ID"); id && !id->empty()) {
        return *id;
    }
    if (auto id = HeaderField(headers, "X-Edb-Message-Id"); id && !id->empty()) {
        return "store:" + *id;
    }
    return {};
}

std::string MessageKeyOfFile(const fs::path& p) {
    // Our headers fit the first read; a message with a huge header block gets a second.
    for (const std::size_t limit : {std::size_t{64} * 1024, std::size_t{4} * 1024 * 1024}) {
        std::string head;
        if (!ReadFileStart(p, limit, head)) {
            return {};
        }
        if (head.size() < limit || head.find("\n\r\n") != std::string::npos ||
            head.find("\n\n") != std::string::npos) {
            return MessageKey(head);
        }
    }
    return {};
}

std::optional<std::int64_t> MessageTime(std::string_view eml, std::uint64_t filetime) {
    if (const auto date = HeaderField(eml, "Date")) {
        if (const auto secs = ParseMailDate(*date); secs && *secs > 0) {
            return secs;
        }
    }
    return FiletimeToUnix(filetime);
}

} // namespace edb::conv
