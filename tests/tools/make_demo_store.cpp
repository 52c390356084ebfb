// Writes the demo store: make-demo-store PATH
#include <exception>
#include <iostream>

#include "tests/support/demo_store.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make-demo-store PATH\n";
        return 2;
    }
    try {
        edbtest::writeDemoStore(argv[1]);
    } catch (const std::exception& e) {
        std::cerr << "make-demo-store: " << e.what() << '\n';
        return 1;
    }
    std::cout << "Demo store written to " << argv[1] << '\n';
    return 0;
}
