#pragma once
// The worker threads a window starts; all are joined when the window goes.
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <thread>

namespace edbapp {

class WorkerThreads {
public:
    WorkerThreads() = default;
    ~WorkerThreads() { joinAll(); }
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Starts body on a new thread. Threads that have ended are joined here, so the list stays
    // as long as the number of workers still running.
    void start(std::function<void()> body) {
        reapFinished();
        auto done = std::make_shared<std::atomic<bool>>(false);
        m_workers.push_back(Worker{std::thread([body = std::move(body), done] {
                                       body();
                                       done->store(true, std::memory_order_release);
                                   }),
                                   done});
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

} // namespace edbapp
