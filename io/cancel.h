#pragma once
// One way to stop work, for every kind of worker: the scan, a tree build, a listing, Convert.
// A token is cancelled once, for a reason, and stays cancelled. The scan's pause lives here too,
// so that a stop always wakes a paused worker and a pause asked for after a stop holds nothing.
// Atomics only: cancel() may be called from any thread, and from a signal handler.
#include <atomic>
#include <cstdint>

namespace edb {

enum class StopReason : std::uint8_t {
    None,
    User,        // Stop or Cancel pressed
    Superseded,  // a newer request of the same kind replaced this one
    Shutdown,    // the window is going away
    Interrupted, // an interrupt signal (command line)
};

[[nodiscard]] const char* StopReasonName(StopReason reason); // "user", "superseded", ...

// Thrown by CancelToken::checkpoint() to unwind a stopped worker to its entry.
struct Cancelled {
    StopReason reason = StopReason::User;
};

class CancelToken {
public:
    CancelToken() = default;
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    // The first reason given wins. Wakes a worker waiting in a pause.
    void cancel(StopReason reason = StopReason::User) noexcept;
    [[nodiscard]] bool cancelled() const noexcept {
        return m_cancelled.load(std::memory_order_acquire);
    }
    [[nodiscard]] StopReason reason() const noexcept {
        return static_cast<StopReason>(m_reason.load(std::memory_order_acquire));
    }

    // Holds the worker at its next checkpoint until resume() or cancel().
    void pause() noexcept;
    void resume() noexcept;
    [[nodiscard]] bool paused() const noexcept;

    // Waits while paused; false once cancelled.
    [[nodiscard]] bool proceed() const noexcept;
    // Waits while paused; throws Cancelled once cancelled.
    void checkpoint() const;

    // The cancelled flag alone, for code that takes a plain flag (Convert's options, the
    // message search): it turns true exactly when cancel() is first called.
    [[nodiscard]] const std::atomic<bool>* flag() const noexcept { return &m_cancelled; }

private:
    static constexpr std::uint32_t kPaused = 1;
    static constexpr std::uint32_t kCancelled = 2;
    std::atomic<bool> m_cancelled{false};
    std::atomic<std::uint8_t> m_reason{static_cast<std::uint8_t>(StopReason::None)};
    std::atomic<std::uint32_t> m_state{0}; // kPaused | kCancelled; waited on while paused
};

} // namespace edb
