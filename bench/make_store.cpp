// bench-make-store: writes a large, realistic store for the benchmark (see
// tests/support/bench_store.h), streamed to disk. The same seed gives the same file.
//
//   bench-make-store [--size 1GiB] [--messages 100000] [--seed 1] [--shape plain|chains|users] OUT
#include "tests/support/bench_store.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

namespace {

bool parseSize(std::string_view text, std::uint64_t& out) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc()) {
        return false;
    }
    std::string unit(end, text.data() + text.size());
    std::transform(unit.begin(), unit.end(), unit.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    std::uint64_t scale = 1;
    if (unit == "k" || unit == "kib") {
        scale = 1ULL << 10;
    } else if (unit == "m" || unit == "mib") {
        scale = 1ULL << 20;
    } else if (unit == "g" || unit == "gib") {
        scale = 1ULL << 30;
    } else if (!unit.empty() && unit != "b") {
        return false;
    }
    out = value * scale;
    return true;
}

int usage() {
    std::cerr << "usage: bench-make-store [--size 1GiB] [--messages 100000] [--seed 1] "
                 "[--shape plain|chains|users] OUT\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t size = 1ULL << 30;
    std::uint64_t messages = 100000;
    std::uint64_t seed = 1;
    edbtest::BenchShape shape = edbtest::BenchShape::Plain;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--size" && hasValue) {
            if (!parseSize(argv[++i], size)) {
                return usage();
            }
        } else if (arg == "--messages" && hasValue) {
            if (!parseSize(argv[++i], messages)) {
                return usage();
            }
        } else if (arg == "--seed" && hasValue) {
            if (!parseSize(argv[++i], seed)) {
                return usage();
            }
        } else if (arg == "--shape" && hasValue) {
            const std::string_view name = argv[++i];
            if (name == "plain") {
                shape = edbtest::BenchShape::Plain;
            } else if (name == "chains") {
                shape = edbtest::BenchShape::Chains;
            } else if (name == "users") {
                shape = edbtest::BenchShape::Users;
            } else {
                return usage();
            }
        } else if (!arg.empty() && arg[0] != '-' && out.empty()) {
            out = arg;
        } else {
            return usage();
        }
    }
    if (out.empty()) {
        return usage();
    }
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    if (!file) {
        std::cerr << "bench-make-store: cannot write " << out << '\n';
        return 1;
    }
    try {
        const auto summary = edbtest::writeBenchStore(file, {seed, size, messages, shape});
        std::cerr << "bench-make-store: " << summary.pages << " pages, " << summary.messages
                  << " messages, " << summary.dataPages << " data pages\n";
        file.flush();
        if (!file) {
            throw std::runtime_error("write failed");
        }
    } catch (const std::exception& e) {
        std::cerr << "bench-make-store: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
