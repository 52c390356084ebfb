#pragma once
// A failing disk for tests: reads of one file fail with an error code where they touch chosen
// byte ranges (a read that starts before a range returns the bytes before it, as a disk does;
// one that starts inside fails). The store code is not told: the system calls themselves fail.
//
// Two ways in. Linked into a test program (the target edbreadfaults), SetReadFaults below
// arms it. Preloaded into edb2eml (LD_PRELOAD=libedb-read-faults.so), the environment does:
//   EDB_TEST_READ_FAULT_FILE=PATH       the file whose reads fail
//   EDB_TEST_READ_FAULTS=OFF+LEN,...    the ranges (decimal bytes; OFF+LEN@N: after N reads)
//   EDB_TEST_READ_FAULT_ERRNO=N         the error (EIO when unset)
//   EDB_TEST_READ_DELAY_US=N            a pause before every read of the file
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace edbtest {

struct FaultRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    // Reads touching the range that still succeed before it starts failing (a sector that
    // fails on a later read): 0 fails the first.
    std::uint32_t after = 0;
};

// Arms the faults for `file` (replacing earlier ones); the file must exist.
void SetReadFaults(const std::string& file, std::vector<FaultRange> ranges, int code = EIO);
// Every read of the armed file waits this long first (a slow disk).
void SetReadDelay(const std::string& file, std::chrono::microseconds delay);
void ClearReadFaults();

// Reads of the armed file since it was armed: all of them, and those that failed.
struct ReadCounts {
    std::uint64_t reads = 0;
    std::uint64_t failed = 0;
};
[[nodiscard]] ReadCounts ReadFaultCounts();

} // namespace edbtest
