// The wrapped system calls: pread, pread64, read and their fortified forms. Each passes straight
// to the C library unless its descriptor is the armed file (same device and inode).
#include "tests/faults/read_faults.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

struct Armed {
    bool on = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::vector<edbtest::FaultRange> ranges;
    int code = EIO;
    std::chrono::microseconds delay{0};
};

std::mutex& lock() {
    static auto* const m = new std::mutex;
    return *m;
}
Armed& armed() {
    static auto* const a = new Armed;
    return *a;
}
std::atomic<bool> g_any{false};
std::atomic<std::uint64_t> g_reads{0};
std::atomic<std::uint64_t> g_failed{0};

bool identify(const std::string& file, Armed& a) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        return false;
    }
    a.dev = st.st_dev;
    a.ino = st.st_ino;
    return true;
}

// The environment's faults, once, for a preloaded copy.
void armFromEnvironment() {
    static std::once_flag once;
    std::call_once(once, [] {
        const char* file = std::getenv("EDB_TEST_READ_FAULT_FILE");
        if (file == nullptr) {
            return;
        }
        Armed a;
        if (!identify(file, a)) {
            return;
        }
        if (const char* list = std::getenv("EDB_TEST_READ_FAULTS"); list != nullptr) {
            const char* p = list;
            while (*p != '\0') {
                char* end = nullptr;
                const std::uint64_t off = std::strtoull(p, &end, 10);
                std::uint64_t len = 1;
                if (*end == '+') {
                    len = std::strtoull(end + 1, &end, 10);
                }
                std::uint32_t after = 0;
                if (*end == '@') {
                    after = static_cast<std::uint32_t>(std::strtoul(end + 1, &end, 10));
                }
                a.ranges.push_back({off, len, after});
                p = *end == ',' ? end + 1 : end;
                if (end == p && *p != '\0') {
                    break; // not a number: stop rather than loop
                }
            }
        }
        if (const char* code = std::getenv("EDB_TEST_READ_FAULT_ERRNO"); code != nullptr) {
            a.code = std::atoi(code);
        }
        if (const char* us = std::getenv("EDB_TEST_READ_DELAY_US"); us != nullptr) {
            a.delay = std::chrono::microseconds(std::atoll(us));
        }
        a.on = true;
        const std::lock_guard g(lock());
        armed() = std::move(a);
        g_any.store(true);
    });
}

// What a read of `count` bytes at `offset` of `fd` may do: 0 to read all, a smaller count to
// stop before a bad range, or -1 with the error in `code`.
std::int64_t plan(int fd, std::uint64_t offset, std::size_t count, int& code) {
    armFromEnvironment();
    if (!g_any.load()) {
        return static_cast<std::int64_t>(count);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return static_cast<std::int64_t>(count);
    }
    std::chrono::microseconds delay{0};
    std::uint64_t allowed = count;
    {
        const std::lock_guard g(lock());
        Armed& a = armed();
        if (!a.on || st.st_dev != a.dev || st.st_ino != a.ino) {
            return static_cast<std::int64_t>(count);
        }
        delay = a.delay;
        code = a.code;
        for (edbtest::FaultRange& r : a.ranges) {
            if (r.offset < offset + count && r.offset + r.length > offset) {
                if (r.after > 0) {
                    --r.after;
                    continue;
                }
                allowed = std::min<std::uint64_t>(allowed, r.offset > offset ? r.offset - offset : 0);
            }
        }
    }
    g_reads.fetch_add(1);
    if (delay.count() > 0) {
        std::this_thread::sleep_for(delay);
    }
    if (allowed == 0 && count > 0) {
        g_failed.fetch_add(1);
        return -1;
    }
    return static_cast<std::int64_t>(allowed);
}

template <class F> F real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

using PreadFn = ssize_t (*)(int, void*, size_t, off_t);
using ReadFn = ssize_t (*)(int, void*, size_t);

ssize_t faultyPread(const char* name, int fd, void* buf, size_t count, off_t offset) {
    static const auto next = real<PreadFn>(name);
    int code = 0;
    const std::int64_t n = plan(fd, static_cast<std::uint64_t>(offset), count, code);
    if (n < 0) {
        errno = code;
        return -1;
    }
    return next(fd, buf, static_cast<size_t>(n), offset);
}

ssize_t faultyRead(int fd, void* buf, size_t count) {
    static const auto next = real<ReadFn>("read");
    int code = 0;
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    const std::int64_t n = at < 0 ? static_cast<std::int64_t>(count)
                                  : plan(fd, static_cast<std::uint64_t>(at), count, code);
    if (n < 0) {
        errno = code;
        return -1;
    }
    return next(fd, buf, static_cast<size_t>(n));
}

} // namespace

extern "C" {
ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    return faultyPread("pread", fd, buf, count, offset);
}
ssize_t pread64(int fd, void* buf, size_t count, off_t offset) {
    return faultyPread("pread64", fd, buf, count, offset);
}
ssize_t __pread_chk(int fd, void* buf, size_t count, off_t offset, size_t) {
    return faultyPread("pread", fd, buf, count, offset);
}
ssize_t __pread64_chk(int fd, void* buf, size_t count, off_t offset, size_t) {
    return faultyPread("pread64", fd, buf, count, offset);
}
ssize_t read(int fd, void* buf, size_t count) {
    return faultyRead(fd, buf, count);
}
ssize_t __read_chk(int fd, void* buf, size_t count, size_t) {
    return faultyRead(fd, buf, count);
}
}

namespace edbtest {

void SetReadFaults(const std::string& file, std::vector<FaultRange> ranges, int code) {
    Armed a;
    a.on = identify(file, a);
    a.ranges = std::move(ranges);
    a.code = code;
    const std::lock_guard g(lock());
    armed() = std::move(a);
    g_reads.store(0);
    g_failed.store(0);
    g_any.store(true);
}

void SetReadDelay(const std::string& file, std::chrono::microseconds delay) {
    Armed a;
    a.on = identify(file, a);
    a.delay = delay;
    const std::lock_guard g(lock());
    armed() = std::move(a);
    g_any.store(true);
}

void ClearReadFaults() {
    const std::lock_guard g(lock());
    armed() = Armed{};
}

ReadCounts ReadFaultCounts() {
    return {g_reads.load(), g_failed.load()};
}

} // namespace edbtest
