#pragma once
// Ctrl+C and a request to terminate stop an export or upload after the current message, so
// that everything written is complete and every temporary file is removed, and the scan at its
// next page. A second signal ends the process at once, as users expect of a second Ctrl+C.
#include "io/cancel.h"

#include <atomic>

namespace edbcli {

class InterruptGuard {
public:
    // Catches the signals from here until destruction; `flag` becomes true when one arrives.
    explicit InterruptGuard(std::atomic<bool>& flag);
    // The same for work that stops by a cancel token (the scan): it is cancelled as
    // interrupted.
    explicit InterruptGuard(edb::CancelToken& token);
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    ~InterruptGuard();

    // The exit status the shell gives a program ended by the signal caught (130 for Ctrl+C,
    // 143 for a termination request); 0 when none arrived.
    [[nodiscard]] static int exitStatus();
};

} // namespace edbcli
