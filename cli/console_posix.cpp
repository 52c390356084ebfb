// Standard output on POSIX systems: plain write(2) to descriptor 1.
#include "cli/console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace edbcli {

void PrepareStandardStreams() {
    // A shell or a parent may hand over SIGPIPE ignored; a closed pipe then shows as EPIPE,
    // which FinishConsole ends quietly as well.
    // A file-size limit (ulimit -f) is a write error that names its file, in the scan's
    // temporary files as in the output, never a death without a word.
    std::signal(SIGXFSZ, SIG_IGN);
}

int WriteStandardOutput(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return EIO;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

bool IsClosedPipe(int code) {
    return code == EPIPE;
}

void EndOnClosedPipe() {
    // The end the system gives other tools on a closed pipe: killed by SIGPIPE (status 141 in
    // a shell), without a word.
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    std::_Exit(128 + SIGPIPE);
}

bool StandardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

std::string SystemErrorText(int code) {
    return std::strerror(code);
}

} // namespace edbcli
