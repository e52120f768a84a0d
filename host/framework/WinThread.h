#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// Worker threads in the manner of the application framework, over std::thread.
// A thread object runs one function with one untyped parameter; the function's
// return value is the thread's exit code, and until it has returned the exit
// code reads STILL_ACTIVE. A thread may be created suspended and started later
// by ResumeThread. With m_bAutoDelete set (the default) the object deletes
// itself when the function returns; with it cleared the object survives the
// thread and its creator deletes it, which waits for the thread to end.

inline constexpr unsigned long STILL_ACTIVE = 259;
inline constexpr unsigned long CREATE_SUSPENDED = 0x00000004;
inline constexpr unsigned long WAIT_INFINITE = 0xFFFFFFFF;
inline constexpr unsigned long WAIT_OBJECT_0 = 0;
inline constexpr unsigned long WAIT_TIMEOUT = 258;
inline constexpr unsigned long WAIT_FAILED = 0xFFFFFFFF;

using AFX_THREADPROC = unsigned int (*)(void*);

class CWinThread {
public:
    CWinThread(AFX_THREADPROC pfnThreadProc, void* pParam);
    virtual ~CWinThread();

    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts the system thread, suspended when dwCreateFlags holds
    // CREATE_SUSPENDED. False if no thread could be created.
    bool CreateThread(unsigned long dwCreateFlags = 0);

    // Decrements the suspend count and lets the thread run when it reaches 0.
    // Returns the previous suspend count, or 0xFFFFFFFF if there is no thread.
    unsigned long ResumeThread();

    // The exit code, or STILL_ACTIVE while the thread has not finished
    // (also while it is suspended). False if no thread was ever created.
    bool GetExitCode(unsigned long& code) const;

    // Waits until the thread has finished or timeoutMs has passed:
    // WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED when there is no thread or it
    // is suspended (it would never finish).
    unsigned long Wait(unsigned long timeoutMs = WAIT_INFINITE) const;

    // Deletes the object when its thread function returns.
    bool m_bAutoDelete = true;
    // Identifies this thread object to the handle functions below.
    void* m_hThread = nullptr;

private:
    void Main();

    AFX_THREADPROC m_pfnThreadProc;
    void* m_pThreadParams;

    mutable std::mutex m_Mutex;
    mutable std::condition_variable m_Changed;
    std::thread m_Thread;
    bool m_bCreated = false;
    bool m_bFinished = false;
    bool m_bAbandoned = false; // deleted before it was ever resumed
    unsigned long m_nSuspendCount = 0;
    unsigned long m_nExitCode = STILL_ACTIVE;
};

// Creates a thread object and its thread running pfnThreadProc(pParam). The
// priority, stack size and security attributes are accepted for the caller's
// convenience and not used. Returns null if no thread could be created.
CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, void* pParam, int nPriority = 0,
                           unsigned int nStackSize = 0, unsigned long dwCreateFlags = 0,
                           void* lpSecurityAttrs = nullptr);

// Handle forms of the member functions; a null handle fails.
unsigned long ResumeThread(void* hThread);
bool GetExitCodeThread(void* hThread, unsigned long* lpExitCode);
unsigned long WaitForThread(void* hThread, unsigned long timeoutMs = WAIT_INFINITE);
