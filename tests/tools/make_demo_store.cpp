// Writes the demo store: make-demo-store PATH [--hostile-names] [--server-names] [--long-names]
//                                           [--own-names] [--inbox-folder NAME]...
//                                           [--duplicate-ids]
#include "tests/support/demo_store.h"

#include <exception>
#include <iostream>
#include <string>

namespace {

// UTF-8 to UTF-16, for names given on the command line (no check: the caller is a test).
std::u16string utf16(const std::string& utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t cp = len == 1 ? b : b & (0x7F >> len);
        for (std::size_t k = 1; k < len && i + k < utf8.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    edbtest::DemoOptions options;
    bool usage = argc < 2;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--hostile-names") {
            options.hostileNames = true;
        } else if (option == "--server-names") {
            options.serverNames = true;
        } else if (option == "--long-names") {
            options.longNames = true;
        } else if (option == "--own-names") {
            options.ownNames = true;
        } else if (option == "--inbox-folder" && i + 1 < argc) {
            options.extraInboxFolders.push_back(utf16(argv[++i]));
        } else if (option == "--duplicate-ids") {
            options.duplicateIds = true;
        } else {
            usage = true;
        }
    }
    if (usage) {
        std::cerr << "usage: make-demo-store PATH [--hostile-names] [--server-names] "
                     "[--long-names] [--own-names] [--inbox-folder NAME]... [--duplicate-ids]\n";
        return 2;
    }
    try {
        edbtest::writeDemoStore(argv[1], options);
    } catch (const std::exception& e) {
        std::cerr << "make-demo-store: " << e.what() << '\n';
        return 1;
    }
    std::cout << "Demo store written to " << argv[1] << '\n';
    return 0;
}
