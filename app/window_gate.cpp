#include "app/window_gate.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace edbapp {

WindowGate::WindowGate(QObject* window) : m_window(window), m_shared(std::make_shared<Shared>()) {}

WindowGate::~WindowGate() {
    close();
}

bool WindowGate::call(const std::function<void()>& fn) {
    if (QThread::currentThread() == m_window->thread()) {
        if (closed()) {
            return false;
        }
        fn();
        return true;
    }
    struct Request {
        const std::function<void()>* fn;
        bool done = false;
    };
    auto request = std::make_shared<Request>(Request{&fn});
    auto shared = m_shared;
    {
        std::lock_guard lock(shared->mutex);
        if (shared->closed) {
            return false;
        }
    }
    // Queued, not blocking: the wait below can be cut short by close().
    QMetaObject::invokeMethod(
        m_window,
        [shared, request] {
            {
                std::lock_guard lock(shared->mutex);
                // Once closed the worker may have left, and fn with it.
                if (shared->closed) {
                    return;
                }
            }
            // close() runs on this same thread, so it cannot interleave with fn.
            (*request->fn)();
            {
                std::lock_guard lock(shared->mutex);
                request->done = true;
            }
            shared->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(shared->mutex);
    shared->cv.wait(lock, [&] { return request->done || shared->closed; });
    return request->done;
}

void WindowGate::close() {
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->closed = true;
    }
    m_shared->cv.notify_all();
}

bool WindowGate::closed() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->closed;
}

} // namespace edbapp
