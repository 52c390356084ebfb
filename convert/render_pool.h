#pragma once
// Reading and rendering messages ahead of the writer, on worker threads.
#include "content/message_content.h"
#include "content/value_reader.h"
#include "frontend/folder_paths.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace edb::conv {

// Messages rendered ahead of the one being written: enough to keep every worker busy while a
// slow one renders a large message, few enough that memory stays small.
constexpr std::size_t kRenderAhead = 32;

// One message read from the store and rendered, waiting for its turn to be written.
struct Rendered {
    MessageSnapshot snapshot;
    const FolderPath* folder = nullptr;
    std::size_t folderIndex = 0; // its place in the run's order
    std::size_t messageIndex = 0;
    std::uint64_t row = 0; // in the catalog's message list
    // Set by the worker before `done`:
    std::string eml;
    MessageContent content; // what `eml` was written from
    std::optional<std::int64_t> time;
    std::string key;
    std::exception_ptr error; // what reading or rendering threw; rethrown where it is written
    bool done = false;        // guarded by the pool's mutex
};

// Reads and renders messages on worker threads. Each job has its own buffers and MIME objects,
// and the store is read with positional reads, so jobs share nothing but the reader.
class RenderPool {
public:
    RenderPool(const StoreReader& reader, unsigned threads) : m_reader(reader) {
        for (unsigned i = 0; i < threads; ++i) {
            m_threads.emplace_back([this] { work(); });
        }
    }
    RenderPool(const RenderPool&) = delete;
    RenderPool& operator=(const RenderPool&) = delete;
    ~RenderPool() {
        {
            const std::lock_guard lock(m_mutex);
            m_quit = true;
            m_todo.clear();
        }
        m_workCv.notify_all();
        for (std::thread& t : m_threads) {
            t.join();
        }
    }

    void submit(std::shared_ptr<Rendered> job) {
        {
            const std::lock_guard lock(m_mutex);
            m_todo.push_back(std::move(job));
        }
        m_workCv.notify_one();
    }

    // Returns when `job` (submitted and not dropped) is rendered; its fields are then the
    // caller's to read.
    void wait(const Rendered& job) {
        std::unique_lock lock(m_mutex);
        m_doneCv.wait(lock, [&] { return job.done; });
    }

    // Jobs not started yet are forgotten (the run was cancelled or stopped).
    void dropQueued() {
        const std::lock_guard lock(m_mutex);
        m_todo.clear();
    }

private:
    void work() {
        for (;;) {
            std::shared_ptr<Rendered> job;
            {
                std::unique_lock lock(m_mutex);
                m_workCv.wait(lock, [&] { return m_quit || !m_todo.empty(); });
                if (m_quit) {
                    return;
                }
                job = std::move(m_todo.front());
                m_todo.pop_front();
            }
            render(*job);
            {
                const std::lock_guard lock(m_mutex);
                job->done = true;
            }
            m_doneCv.notify_all();
        }
    }

    void render(Rendered& job) const;

    const StoreReader& m_reader;
    std::mutex m_mutex;
    std::condition_variable m_workCv;
    std::condition_variable m_doneCv;
    std::deque<std::shared_ptr<Rendered>> m_todo;
    bool m_quit = false;
    std::vector<std::thread> m_threads;
};

[[nodiscard]] unsigned RenderThreads();

} // namespace edb::conv
