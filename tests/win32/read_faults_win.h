#pragma once
// A failing disk for the window's tests on Windows: reads of one file that touch a byte range
// fail (ERROR_CRC, as a bad sector answers). The test program's own import of ReadFile is
// redirected, so the product code linked into it is not told: the system call itself fails.
#include <cstdint>
#include <filesystem>

namespace edbwintest {

// Arms the fault for `file` (which must exist) over [offset, offset + length).
void FailReads(const std::filesystem::path& file, std::uint64_t offset, std::uint64_t length);
void StopFailingReads();

} // namespace edbwintest
