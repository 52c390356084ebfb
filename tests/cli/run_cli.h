#pragma once
// Runs edb2eml (EDB2EML_PATH, set by the build) through the shell and collects what it prints.
#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace clitest {

struct Outcome {
    int status = -1;
    std::string out;
};

// `prefix` goes before the program (environment settings); `redirect` after the arguments
// (for example " 2>&1" or " 2>/dev/null").
inline Outcome runEdb2eml(const std::string& prefix, const std::string& args,
                          const std::string& redirect) {
    Outcome r;
    const std::string cmd = prefix + " '" + EDB2EML_PATH + "' " + args + redirect;
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    std::array<char, 4096> buf{};
    std::size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) {
        r.out.append(buf.data(), n);
    }
    const int w = ::pclose(p);
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    return r;
}

} // namespace clitest
