#pragma once
// The worker threads a window starts, for either window (standard library only). Each gets its
// own cancel token; the window cancels them all and joins them when it goes.
#include "io/cancel.h"

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

namespace edb::session {

class WorkerThreads {
public:
    using Body = std::function<void(const edb::CancelToken&)>;

    WorkerThreads() = default;
    ~WorkerThreads() {
        cancelAll(edb::StopReason::Shutdown);
        joinAll();
    }
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Starts body on a new thread and returns its token, which the caller may keep to stop,
    // pause or supersede that one worker. Threads that have ended are joined here, so the list
    // stays as long as the number of workers still running.
    std::shared_ptr<edb::CancelToken> start(Body body) {
        auto token = std::make_shared<edb::CancelToken>();
        start(token, [body = std::move(body), token] { body(*token); });
        return token;
    }

    // Starts body on a new thread under a token the caller made (and may hand to body).
    void start(std::shared_ptr<edb::CancelToken> token, std::function<void()> body) {
        reapFinished();
        auto done = std::make_shared<std::atomic<bool>>(false);
        m_workers.push_back(Worker{std::thread([body = std::move(body), done] {
                                       body();
                                       done->store(true, std::memory_order_release);
                                   }),
                                   std::move(token), done});
    }

    void cancelAll(edb::StopReason reason) {
        for (Worker& w : m_workers) {
            w.token->cancel(reason);
        }
    }

    void joinAll() {
        for (Worker& w : m_workers) {
            if (w.thread.joinable()) {
                w.thread.join();
            }
        }
        m_workers.clear();
    }

    [[nodiscard]] std::size_t running() const {
        std::size_t n = 0;
        for (const Worker& w : m_workers) {
            n += w.done->load(std::memory_order_acquire) ? 0 : 1;
        }
        return n;
    }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<edb::CancelToken> token;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void reapFinished() {
        for (auto it = m_workers.begin(); it != m_workers.end();) {
            if (it->done->load(std::memory_order_acquire)) {
                it->thread.join();
                it = m_workers.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::list<Worker> m_workers;
};

} // namespace edb::session
