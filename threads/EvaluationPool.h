#pragma once

// A small fixed pool of threads that runs the iterations of a loop over an index
// range concurrently: the engine uses it to evaluate the objective at the points of a
// finite-difference estimate at the same time, and vrn::MinimizeMany to run whole
// minimizations side by side.
//
// The pool holds k - 1 worker threads for k threads in all: the thread that calls
// ParallelFor takes part in the loop as thread 0. The workers sleep between loops;
// a loop allocates nothing. Indices are handed out one at a time in increasing
// order, so the work spreads evenly when the iterations take different times; which
// thread runs which index is not fixed, so a body must write only what belongs to its
// index (or to its thread number).
//
// An exception thrown by the body stops the handing out of further indices; the
// iterations already running finish, and ParallelFor then rethrows the first
// exception on the calling thread.
//
// One loop at a time: a ParallelFor called while the pool runs a loop (from the body
// itself, or from another thread) runs its loop on the calling thread alone, as a
// plain loop.
//
// Making a pool never fails: it holds at most VRNMaxEvaluationThreads() threads
// whatever it is asked for, and when a thread cannot be started (the system is out of
// threads or of memory for their stacks) the pool goes on with the threads it has,
// down to the calling thread alone. The constructor throws nothing, blocks on nothing
// but the start of its threads, and GetThreadCount() tells how many threads it got.

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

// The largest number of threads an evaluation pool holds, the caller's included:
// 4 per hardware thread (std::thread::hardware_concurrency(), 0 counting as 1), at
// most 256. Evaluations that wait on something else than the processor may use more
// threads than there are cores; beyond that, more threads only cost memory and
// process-table entries. Never below 4.
int VRNMaxEvaluationThreads();

class CVRNEvaluationPool {
public:
    // Starts a thread that calls work(pool, thread) and returns it; throws, or returns
    // a thread that is not joinable, when it cannot. The default one uses std::thread;
    // tests pass their own to make thread creation fail.
    using ThreadStarter = std::thread (*)(void (*work)(CVRNEvaluationPool* pool, int thread),
                                          CVRNEvaluationPool* pool, int thread);

    // threads: the number of threads taking part in a loop, the caller included;
    // values below 1 count as 1 (no worker threads at all), values above
    // VRNMaxEvaluationThreads() as that maximum. Fewer when threads cannot be started
    // (see above); never throws.
    explicit CVRNEvaluationPool(int threads) noexcept;
    CVRNEvaluationPool(int threads, ThreadStarter start) noexcept;
    // Stops and joins the workers. Must not be called while a loop runs.
    ~CVRNEvaluationPool();
    CVRNEvaluationPool(const CVRNEvaluationPool&) = delete;
    CVRNEvaluationPool& operator=(const CVRNEvaluationPool&) = delete;

    // Threads taking part in a loop, the caller included.
    int GetThreadCount() const { return static_cast<int>(m_Workers.size()) + 1; }

    // Calls body(index, thread) for every index in [0, count), thread in
    // [0, GetThreadCount()) being the number of the thread that runs it (0: the
    // caller). Returns when all calls have returned.
    template <class Body> void ParallelFor(int count, Body& body) { Run(count, &Call<Body>, &body); }

private:
    using Function = void (*)(void* context, int index, int thread);
    template <class Body> static void Call(void* context, int index, int thread) {
        (*static_cast<Body*>(context))(index, thread);
    }

    void Run(int count, Function function, void* context);
    static void StartWorker(CVRNEvaluationPool* pool, int thread) { pool->WorkerLoop(thread); }
    void WorkerLoop(int thread);
    // Takes indices of the current loop until none is left.
    void Work(int thread);

    std::vector<std::thread> m_Workers;
    std::mutex m_Mutex;
    std::condition_variable m_StartSignal;
    std::condition_variable m_DoneSignal;
    // Guarded by m_Mutex: the loop's number (a new loop wakes the workers), the workers
    // still in the current loop, the stop request and the first exception.
    unsigned long m_nLoop = 0;
    int m_nBusy = 0;
    bool m_bStop = false;
    std::exception_ptr m_Error;
    // The current loop, written under m_Mutex before the workers are woken.
    Function m_pFunction = nullptr;
    void* m_pContext = nullptr;
    int m_nCount = 0;
    std::atomic<int> m_nNext{0};
    // True while a loop runs; a second caller then loops on its own.
    std::atomic<bool> m_bRunning{false};
};
