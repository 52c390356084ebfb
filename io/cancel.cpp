#include "io/cancel.h"

namespace edb {

const char* StopReasonName(StopReason reason) {
    switch (reason) {
    case StopReason::None:
        return "none";
    case StopReason::User:
        return "user";
    case StopReason::Superseded:
        return "superseded";
    case StopReason::Shutdown:
        return "shutdown";
    case StopReason::Interrupted:
        return "interrupted";
    }
    return "unknown";
}

void CancelToken::cancel(StopReason reason) noexcept {
    auto none = static_cast<std::uint8_t>(StopReason::None);
    m_reason.compare_exchange_strong(none, static_cast<std::uint8_t>(reason),
                                     std::memory_order_acq_rel);
    m_cancelled.store(true, std::memory_order_release);
    m_state.fetch_or(kCancelled, std::memory_order_acq_rel);
    m_state.notify_all();
}

void CancelToken::pause() noexcept {
    // Harmless after cancel(): a cancelled token never waits.
    m_state.fetch_or(kPaused, std::memory_order_acq_rel);
}

void CancelToken::resume() noexcept {
    m_state.fetch_and(~kPaused, std::memory_order_acq_rel);
    m_state.notify_all();
}

bool CancelToken::paused() const noexcept {
    return m_state.load(std::memory_order_acquire) == kPaused;
}

bool CancelToken::proceed() const noexcept {
    std::uint32_t s = m_state.load(std::memory_order_acquire);
    while (s == kPaused) {
        m_state.wait(s, std::memory_order_acquire); // returns once the state changed
        s = m_state.load(std::memory_order_acquire);
    }
    return (s & kCancelled) == 0;
}

void CancelToken::checkpoint() const {
    if (!proceed()) {
        throw Cancelled{reason()};
    }
}

} // namespace edb
