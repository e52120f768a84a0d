#include "host/framework/WinThread.h"

#include <chrono>
#include <system_error>

CWinThread::CWinThread(AFX_THREADPROC pfnThreadProc, void* pParam)
    : m_hThread(this), m_pfnThreadProc(pfnThreadProc), m_pThreadParams(pParam) {}

CWinThread::~CWinThread() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        if (!m_bFinished)
            m_bAbandoned = true; // a still suspended thread ends without running
        m_Changed.notify_all();
        thread = std::move(m_Thread);
    }
    if (thread.joinable()) {
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else
            thread.join();
    }
}

bool CWinThread::CreateThread(unsigned long dwCreateFlags) {
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        if (m_bCreated || m_pfnThreadProc == nullptr)
            return false;
        // The thread waits at its start until the suspend count is 0, so it
        // cannot look at m_Thread before the assignment below is complete.
        m_nSuspendCount = 1;
        try {
            m_Thread = std::thread(&CWinThread::Main, this);
        } catch (const std::system_error&) {
            m_nSuspendCount = 0;
            return false;
        }
        m_bCreated = true;
    }
    if ((dwCreateFlags & CREATE_SUSPENDED) == 0)
        ResumeThread();
    return true;
}

unsigned long CWinThread::ResumeThread() {
    std::lock_guard<std::mutex> guard(m_Mutex);
    if (!m_bCreated)
        return 0xFFFFFFFF;
    unsigned long previous = m_nSuspendCount;
    if (m_nSuspendCount > 0 && --m_nSuspendCount == 0)
        m_Changed.notify_all();
    return previous;
}

bool CWinThread::GetExitCode(unsigned long& code) const {
    std::lock_guard<std::mutex> guard(m_Mutex);
    if (!m_bCreated)
        return false;
    code = m_nExitCode;
    return true;
}

unsigned long CWinThread::Wait(unsigned long timeoutMs) const {
    std::unique_lock<std::mutex> guard(m_Mutex);
    if (!m_bCreated)
        return WAIT_FAILED;
    auto finished = [this] { return m_bFinished; };
    if (timeoutMs == WAIT_INFINITE) {
        if (!m_bFinished && m_nSuspendCount > 0)
            return WAIT_FAILED;
        m_Changed.wait(guard, finished);
        return WAIT_OBJECT_0;
    }
    return m_Changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), finished) ? WAIT_OBJECT_0
                                                                                     : WAIT_TIMEOUT;
}

void CWinThread::Main() {
    {
        std::unique_lock<std::mutex> guard(m_Mutex);
        m_Changed.wait(guard, [this] { return m_nSuspendCount == 0 || m_bAbandoned; });
        if (m_bAbandoned)
            return;
    }

    unsigned int code = m_pfnThreadProc(m_pThreadParams);

    bool bDelete;
    {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_nExitCode = code;
        m_bFinished = true;
        m_Changed.notify_all();
        bDelete = m_bAutoDelete;
        if (bDelete)
            m_Thread.detach();
    }
    if (bDelete)
        delete this;
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, void* pParam, int /*nPriority*/,
                           unsigned int /*nStackSize*/, unsigned long dwCreateFlags,
                           void* /*lpSecurityAttrs*/) {
    CWinThread* pThread = new CWinThread(pfnThreadProc, pParam);
    if (!pThread->CreateThread(dwCreateFlags)) {
        delete pThread;
        return nullptr;
    }
    return pThread;
}

unsigned long ResumeThread(void* hThread) {
    if (hThread == nullptr)
        return 0xFFFFFFFF;
    return static_cast<CWinThread*>(hThread)->ResumeThread();
}

bool GetExitCodeThread(void* hThread, unsigned long* lpExitCode) {
    if (hThread == nullptr || lpExitCode == nullptr)
        return false;
    return static_cast<CWinThread*>(hThread)->GetExitCode(*lpExitCode);
}

unsigned long WaitForThread(void* hThread, unsigned long timeoutMs) {
    if (hThread == nullptr)
        return WAIT_FAILED;
    return static_cast<CWinThread*>(hThread)->Wait(timeoutMs);
}
