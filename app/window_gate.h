#pragma once
// Blocking calls from worker threads onto the window thread.
//
// A worker hands a function to the window thread and waits until it has run, so every change
// of a control happens on the window thread in the order the requests arrive. Unlike a plain
// blocking queued connection, a waiting worker is released when the window closes: the window
// thread may then join its workers without waiting on a request it will never serve.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

namespace edbapp {

class WindowGate {
public:
    // `window` lives on the window thread; requests run in its context.
    explicit WindowGate(QObject* window);
    ~WindowGate();
    WindowGate(const WindowGate&) = delete;
    WindowGate& operator=(const WindowGate&) = delete;

    // Runs fn on the window thread and waits for it. false (fn not run) once the gate is
    // closed. Called on the window thread itself, fn runs at once.
    bool call(const std::function<void()>& fn);

    // Window thread: refuses further requests and releases every waiting worker.
    void close();
    [[nodiscard]] bool closed() const;

private:
    struct Shared {
        mutable std::mutex mutex;
        std::condition_variable cv;
        bool closed = false;
    };
    QObject* m_window;
    std::shared_ptr<Shared> m_shared;
};

} // namespace edbapp
