#include "threads/ThreadManager.h"

#include <utility>

CVRNiThreadManager::CVRNiThreadManager()
    : m_pThread(nullptr), m_pEventArgs(nullptr), m_bDone(false), m_bLocked(false), m_bSupportLocking(false) {}

CVRNiThreadManager::~CVRNiThreadManager() {
    // The worker uses the events, the arguments and the lock of this object:
    // let it finish before any of them goes away.
    if (m_pThread != nullptr)
        WaitForThread(m_pThread->m_hThread);
    bThreadActive();
    delete m_pEventArgs;
    m_pEventArgs = nullptr;
}

void CVRNiThreadManager::SetZubEventArgs(CZubEventArgs* p) {
    if (p != m_pEventArgs && m_pEventArgs != nullptr)
        delete m_pEventArgs;
    m_pEventArgs = p;
}

CVRNiThreadManager::HandlerToken CVRNiThreadManager::AddPreRunHandler(EventHandler handler) {
    return m_PreRunEvent.Subscribe(std::move(handler));
}

CVRNiThreadManager::HandlerToken CVRNiThreadManager::AddRunHandler(EventHandler handler) {
    return m_RunEvent.Subscribe(std::move(handler));
}

CVRNiThreadManager::HandlerToken CVRNiThreadManager::AddPostRunHandler(EventHandler handler) {
    return m_PostRunEvent.Subscribe(std::move(handler));
}

bool CVRNiThreadManager::RemovePreRunHandler(HandlerToken token) {
    return m_PreRunEvent.Unsubscribe(token);
}

bool CVRNiThreadManager::RemoveRunHandler(HandlerToken token) {
    return m_RunEvent.Unsubscribe(token);
}

bool CVRNiThreadManager::RemovePostRunHandler(HandlerToken token) {
    return m_PostRunEvent.Unsubscribe(token);
}

bool CVRNiThreadManager::Run() {
    if (bThreadActive())
        return false;

    bool bWasDone = m_bDone;
    bool bLock = m_bSupportLocking;
    if (bLock) {
        // Released by the worker after the post-run event.
        Lock();
        m_bLocked = true;
    }
    // A host polling bDone() right after Run must not see the previous run's
    // completion.
    m_bDone = false;

    CreateThread();
    if (m_pThread == nullptr) {
        // No worker will release the lock or report completion.
        if (bLock) {
            m_bLocked = false;
            Unlock();
        }
        m_bDone = bWasDone;
        return false;
    }
    return true;
}

bool CVRNiThreadManager::bThreadActive() {
    if (m_pThread == nullptr)
        return false;
    unsigned long code = 0;
    if (!GetExitCodeThread(m_pThread->m_hThread, &code))
        return false;
    if (code == STILL_ACTIVE)
        return true;
    delete m_pThread;
    m_pThread = nullptr;
    return false;
}

bool CVRNiThreadManager::bDone() {
    return m_bDone;
}

bool CVRNiThreadManager::bLocked() {
    return m_bLocked;
}

void CVRNiThreadManager::bSupportLocking(bool b) {
    m_bSupportLocking = b;
}

void CVRNiThreadManager::CreateThread() {
    if (bThreadActive())
        return;
    m_pThread = AfxBeginThread(&CVRNiThreadManager::Thread, this, 0, 0, CREATE_SUSPENDED, nullptr);
    if (m_pThread == nullptr)
        return;
    // The thread object must outlive the thread: bThreadActive reads its exit
    // code after the worker has ended.
    m_pThread->m_bAutoDelete = false;
    ResumeThread(m_pThread->m_hThread);
}

unsigned int CVRNiThreadManager::Thread(void* p) {
    static_cast<CVRNiThreadManager*>(p)->RunThread();
    return 0;
}

void CVRNiThreadManager::RunThread() {
    m_bDone = false;
    m_bLocked = false;
    if (m_pEventArgs != nullptr) {
        m_PreRunEvent.Fire(*m_pEventArgs);
        m_RunEvent.Fire(*m_pEventArgs);
        m_PostRunEvent.Fire(*m_pEventArgs);
    } else {
        CZubEventArgs args(nullptr);
        m_PreRunEvent.Fire(args);
        m_RunEvent.Fire(args);
        m_PostRunEvent.Fire(args);
    }
    m_bDone = true;
    if (m_bSupportLocking)
        Unlock();
    m_bLocked = false;
}
