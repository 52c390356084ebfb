// Writes the demo store: make-demo-store PATH [--hostile-names] [--server-names] [--long-names]
//                                           [--own-names]
#include "tests/support/demo_store.h"

#include <exception>
#include <iostream>
#include <string>

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
        } else {
            usage = true;
        }
    }
    if (usage) {
        std::cerr << "usage: make-demo-store PATH [--hostile-names] [--server-names] "
                     "[--long-names] [--own-names]\n";
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
