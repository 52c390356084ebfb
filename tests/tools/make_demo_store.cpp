// Writes the demo store: make-demo-store PATH [--hostile-names | --server-names]
#include "tests/support/demo_store.h"

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    edbtest::DemoOptions options;
    if (argc == 3 && std::string(argv[2]) == "--hostile-names") {
        options.hostileNames = true;
    } else if (argc == 3 && std::string(argv[2]) == "--server-names") {
        options.serverNames = true;
    } else if (argc != 2) {
        std::cerr << "usage: make-demo-store PATH [--hostile-names | --server-names]\n";
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
