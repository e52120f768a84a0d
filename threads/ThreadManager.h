#pragma once

#include <atomic>
#include <functional>

#include "host/events/ZubEvent.h"
#include "host/framework/CriticalSection.h"
#include "host/framework/WinThread.h"

// Runs a piece of the host's work on one background thread. The work is given
// as handlers of three events: the worker fires the pre-run, the run and the
// post-run event, in that order, each with the same argument object, and then
// marks itself done. There is never more than one worker per manager; a
// manager can run its work any number of times, one run after the other.
//
// The manager is a lock itself. With locking supported, Run takes the lock
// before it starts the worker and the worker releases it after the post-run
// event, so another thread can wait for the end of a run with Lock()/Unlock().
class CVRNiThreadManager : public CCriticalSection {
public:
    using EventHandler = ZubEvent<CZubEventArgs>::Handler;
    using HandlerToken = ZubEvent<CZubEventArgs>::Token;

    CVRNiThreadManager();
    // Waits for a running worker to finish, then frees its thread object and
    // the held event arguments.
    ~CVRNiThreadManager() override;

    CVRNiThreadManager(const CVRNiThreadManager&) = delete;
    CVRNiThreadManager& operator=(const CVRNiThreadManager&) = delete;

    // Takes ownership of p (null holds none). A different object held before
    // is deleted; passing the held object again keeps it.
    void SetZubEventArgs(CZubEventArgs* p);

    // Handler subscription. The handlers run on the worker thread. The returned
    // token unsubscribes the handler again.
    HandlerToken AddPreRunHandler(EventHandler handler);
    HandlerToken AddRunHandler(EventHandler handler);
    HandlerToken AddPostRunHandler(EventHandler handler);
    bool RemovePreRunHandler(HandlerToken token);
    bool RemoveRunHandler(HandlerToken token);
    bool RemovePostRunHandler(HandlerToken token);

    // Starts a run on a new worker. Returns false, and changes nothing, when a
    // worker is still running or no thread could be created. With locking
    // supported it first takes the manager's lock (waiting for it while anyone,
    // the calling thread included, holds it) and marks the manager locked
    // until the worker starts.
    bool Run();

    // True while the worker runs. Once the worker has ended, the first call
    // frees its thread object and answers false.
    bool bThreadActive();
    bool bDone();
    bool bLocked();
    // Set between runs: the worker reads it when it releases the lock.
    void bSupportLocking(bool b);

private:
    void CreateThread();
    static unsigned int Thread(void* p);
    void RunThread();

    CWinThread* m_pThread;
    CZubEventArgs* m_pEventArgs;
    ZubEvent<CZubEventArgs> m_PreRunEvent;
    ZubEvent<CZubEventArgs> m_PostRunEvent;
    ZubEvent<CZubEventArgs> m_RunEvent;
    // Written by the worker and polled by other threads.
    std::atomic<bool> m_bDone;
    std::atomic<bool> m_bLocked;
    std::atomic<bool> m_bSupportLocking;
};
