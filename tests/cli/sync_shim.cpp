// Loaded with LD_PRELOAD into edb2eml by durability_test.py: records, in the file that
// EDB_SYNC_LOG names, every fsync, syncfs, file creation and rename or link, with full paths,
// in the order the program makes them, then lets the call through.
#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

std::string pathOf(int dirfd, const char* name) {
    if (name != nullptr && name[0] == '/') {
        return name;
    }
    char link[64];
    char target[PATH_MAX] = {};
    if (dirfd == AT_FDCWD) {
        std::snprintf(link, sizeof link, "/proc/self/cwd");
    } else {
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
    }
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    std::string out = n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "?";
    return name != nullptr ? out + "/" + name : out;
}

void note(const std::string& line) {
    const int saved = errno;
    if (const char* log = std::getenv("EDB_SYNC_LOG")) {
        if (FILE* f = std::fopen(log, "a")) {
            std::fprintf(f, "%s\n", line.c_str());
            std::fclose(f);
        }
    }
    errno = saved;
}

template <typename F> F next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int fsync(int fd) {
    note("S " + pathOf(fd, nullptr));
    return next<int (*)(int)>("fsync")(fd);
}

int fdatasync(int fd) {
    note("S " + pathOf(fd, nullptr));
    return next<int (*)(int)>("fdatasync")(fd);
}

int syncfs(int fd) {
    note("F " + pathOf(fd, nullptr));
    return next<int (*)(int)>("syncfs")(fd);
}

int openat(int dirfd, const char* name, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    const int fd = next<int (*)(int, const char*, int, ...)>("openat")(dirfd, name, flags, mode);
    if (fd >= 0 && (flags & O_CREAT) != 0) {
        note("C " + pathOf(dirfd, name));
    }
    return fd;
}

int rename(const char* from, const char* to) {
    note("R " + pathOf(AT_FDCWD, from) + "\t" + pathOf(AT_FDCWD, to));
    return next<int (*)(const char*, const char*)>("rename")(from, to);
}

int renameat(int fd1, const char* from, int fd2, const char* to) {
    note("R " + pathOf(fd1, from) + "\t" + pathOf(fd2, to));
    return next<int (*)(int, const char*, int, const char*)>("renameat")(fd1, from, fd2, to);
}

int renameat2(int fd1, const char* from, int fd2, const char* to, unsigned flags) {
    note("R " + pathOf(fd1, from) + "\t" + pathOf(fd2, to));
    return next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(fd1, from,
                                                                                 fd2, to, flags);
}

int link(const char* from, const char* to) {
    note("R " + pathOf(AT_FDCWD, from) + "\t" + pathOf(AT_FDCWD, to));
    return next<int (*)(const char*, const char*)>("link")(from, to);
}

int linkat(int fd1, const char* from, int fd2, const char* to, int flags) {
    note("R " + pathOf(fd1, from) + "\t" + pathOf(fd2, to));
    return next<int (*)(int, const char*, int, const char*, int)>("linkat")(fd1, from, fd2, to,
                                                                          flags);
}

} // extern "C"
