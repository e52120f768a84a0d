#include "host/framework/CriticalSection.h"

#include <chrono>

bool CCriticalSection::Lock() {
    std::unique_lock<std::mutex> guard(m_Mutex);
    m_Released.wait(guard, [this] { return !m_bHeld; });
    m_bHeld = true;
    return true;
}

bool CCriticalSection::Lock(unsigned long timeoutMs) {
    std::unique_lock<std::mutex> guard(m_Mutex);
    if (!m_Released.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return !m_bHeld; }))
        return false;
    m_bHeld = true;
    return true;
}

bool CCriticalSection::TryLock() {
    std::lock_guard<std::mutex> guard(m_Mutex);
    if (m_bHeld)
        return false;
    m_bHeld = true;
    return true;
}

bool CCriticalSection::Unlock() {
    // Notified under the mutex: a waiter may destroy this object as soon as
    // it has the lock, so nothing may touch it after the mutex is released.
    std::lock_guard<std::mutex> guard(m_Mutex);
    if (!m_bHeld)
        return false;
    m_bHeld = false;
    m_Released.notify_one();
    return true;
}

bool CCriticalSection::IsLocked() const {
    std::lock_guard<std::mutex> guard(m_Mutex);
    return m_bHeld;
}
