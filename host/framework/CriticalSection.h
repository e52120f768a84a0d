#pragma once

#include <condition_variable>
#include <mutex>

// A lock in the manner of a critical section, with one difference that the
// worker-thread classes rely on: it is not owned by the thread that took it.
// Any thread may release it, so a lock taken by the thread that starts some
// work can be released by the worker when the work is done. It is not
// re-entrant: a second Lock waits until the lock is released, whichever thread
// asks.
class CCriticalSection {
public:
    CCriticalSection() = default;
    virtual ~CCriticalSection() = default;

    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    // Waits until the lock is free and takes it. Always true.
    virtual bool Lock();
    // Waits at most timeoutMs milliseconds; true if the lock was taken.
    virtual bool Lock(unsigned long timeoutMs);
    // Takes the lock only if it is free at once.
    bool TryLock();
    // Releases the lock; false if it was not held.
    virtual bool Unlock();
    // Whether some thread holds the lock at this moment.
    bool IsLocked() const;

private:
    mutable std::mutex m_Mutex;
    std::condition_variable m_Released;
    bool m_bHeld = false;
};
