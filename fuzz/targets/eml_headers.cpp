// Store texts on their way into headers: subject, sender, folder owner and attachment name from
// the input (split at 0x00 bytes). Whatever they hold, every header block of the written
// message has only its own header lines: nothing from the input starts a line of its own.
#include "mime/eml_writer.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool headerBlockClean(std::string_view block, bool top) {
    static const char* const kTop[] = {"From:",       "To:",           "Subject:",      "Date:",
                                       "Message-ID:", "MIME-Version:", "Content-Type:", "X-Edb-"};
    static const char* const kPart[] = {
        "Content-Type:", "Content-Disposition:", "Content-Transfer-Encoding:"};
    std::size_t at = 0;
    while (at < block.size()) {
        std::size_t end = block.find("\r\n", at);
        end = end == std::string_view::npos ? block.size() : end;
        const std::string_view line = block.substr(at, end - at);
        if (line.size() > 998) {
            return false;
        }
        if (!line.empty() && line[0] != ' ' && line[0] != '\t') {
            bool known = false;
            for (const char* name :
                 top ? std::vector<const char*>(std::begin(kTop), std::end(kTop))
                     : std::vector<const char*>(std::begin(kPart), std::end(kPart))) {
                known = known || line.starts_with(name);
            }
            if (!known) {
                return false;
            }
        }
        for (const char c : line) {
            if (static_cast<unsigned char>(c) >= 0x80 || c == '\r' || c == '\n' || c == '\0') {
                return false;
            }
        }
        at = end + 2;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> texts;
    std::size_t at = 0;
    while (texts.size() < 4) {
        const std::size_t end = std::min(input.find('\0', at), input.size());
        texts.emplace_back(input.substr(std::min(at, input.size()), end - std::min(at, end)));
        at = end + 1;
    }
    edb::conv::EmlInput in;
    in.subject = texts[0];
    in.sender = texts[1];
    in.to.push_back(edb::conv::ParseSenderText(texts[2], "Unknown recipient"));
    in.plainText = "text";
    in.attachments.push_back({texts[3], {}, "", ""});
    in.traceHeaders.emplace_back("X-Edb-Note", texts[0]);
    const std::string eml = edb::conv::WriteEml(in);

    const std::size_t headerEnd = eml.find("\r\n\r\n");
    if (headerEnd == std::string::npos || !headerBlockClean({eml.data(), headerEnd}, true)) {
        std::abort();
    }
    // Part header blocks follow each boundary line ("--" and one of the writer's boundaries).
    for (std::size_t b = eml.find("\r\n--=_edb_", headerEnd); b != std::string::npos;
         b = eml.find("\r\n--=_edb_", b + 2)) {
        const std::size_t start = eml.find("\r\n", b + 2);
        if (start == std::string::npos || eml.compare(start - 2, 2, "--") == 0) {
            break; // the closing boundary
        }
        const std::size_t end = eml.find("\r\n\r\n", start);
        if (end == std::string::npos ||
            !headerBlockClean({eml.data() + start + 2, end - start - 2}, false)) {
            std::abort();
        }
    }
    return 0;
}
