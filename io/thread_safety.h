#pragma once
// Clang's thread-safety annotations, a shared mutex that carries them, and a thread role for
// state that one thread alone may touch. Clang builds check with -Wthread-safety that what is
// guarded is touched only with its capability held; other compilers see plain code.
#include <atomic>
#include <cassert>
#include <shared_mutex>
#include <thread>

#if defined(__clang__)
#define EDB_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define EDB_THREAD_ANNOTATION(x)
#endif

#define EDB_CAPABILITY(name) EDB_THREAD_ANNOTATION(capability(name))
#define EDB_SCOPED_CAPABILITY EDB_THREAD_ANNOTATION(scoped_lockable)
#define EDB_GUARDED_BY(m) EDB_THREAD_ANNOTATION(guarded_by(m))
#define EDB_REQUIRES(...) EDB_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EDB_ACQUIRE(...) EDB_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define EDB_ACQUIRE_SHARED(...) EDB_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define EDB_RELEASE(...) EDB_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EDB_RELEASE_SHARED(...) EDB_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define EDB_ASSERT_CAPABILITY(x) EDB_THREAD_ANNOTATION(assert_capability(x))

namespace edb {

// std::shared_mutex as a capability the analysis can follow.
class EDB_CAPABILITY("mutex") SharedMutex {
public:
    void lock() EDB_ACQUIRE() { m_m.lock(); }
    void unlock() EDB_RELEASE() { m_m.unlock(); }
    void lock_shared() EDB_ACQUIRE_SHARED() { m_m.lock_shared(); }
    void unlock_shared() EDB_RELEASE_SHARED() { m_m.unlock_shared(); }

private:
    std::shared_mutex m_m;
};

// Holds a SharedMutex exclusively for its lifetime.
class EDB_SCOPED_CAPABILITY WriterLock {
public:
    explicit WriterLock(SharedMutex& m) EDB_ACQUIRE(m) : m_m(m) { m_m.lock(); }
    ~WriterLock() EDB_RELEASE() { m_m.unlock(); }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

private:
    SharedMutex& m_m;
};

// Holds a SharedMutex shared for its lifetime.
class EDB_SCOPED_CAPABILITY ReaderLock {
public:
    explicit ReaderLock(SharedMutex& m) EDB_ACQUIRE_SHARED(m) : m_m(m) { m_m.lock_shared(); }
    ~ReaderLock() EDB_RELEASE() { m_m.unlock_shared(); }
    ReaderLock(const ReaderLock&) = delete;
    ReaderLock& operator=(const ReaderLock&) = delete;

private:
    SharedMutex& m_m;
};

// One thread's exclusive right to some state. The first thread that asserts it owns it; in
// debug builds any other thread that asserts it stops the program there. Costs nothing when
// NDEBUG is set.
class EDB_CAPABILITY("thread role") ThreadRole {
public:
    void assertHeld() const EDB_ASSERT_CAPABILITY(this) {
#ifndef NDEBUG
        std::thread::id owner;
        const std::thread::id me = std::this_thread::get_id();
        if (!m_owner.compare_exchange_strong(owner, me, std::memory_order_relaxed)) {
            assert(owner == me && "state of one thread touched from another");
        }
#endif
    }

private:
    mutable std::atomic<std::thread::id> m_owner{};
};

} // namespace edb
