#include "threads/EvaluationPool.h"

#include <utility>

namespace {

std::thread StartThread(void (*work)(CVRNEvaluationPool*, int), CVRNEvaluationPool* pool, int thread) {
    return std::thread(work, pool, thread);
}

} // namespace

int VRNMaxEvaluationThreads() {
    const unsigned hardware = std::thread::hardware_concurrency();
    const unsigned cores = hardware > 0 ? hardware : 1;
    const unsigned limit = 256;
    return static_cast<int>(cores < limit / 4 ? 4 * cores : limit);
}

CVRNEvaluationPool::CVRNEvaluationPool(int threads) noexcept : CVRNEvaluationPool(threads, &StartThread) {}

CVRNEvaluationPool::CVRNEvaluationPool(int threads, ThreadStarter start) noexcept {
    const int most = VRNMaxEvaluationThreads();
    const int total = threads < 1 ? 1 : (threads > most ? most : threads);
    const int workers = total - 1;
    // The vector never grows after this, so adding a started thread cannot fail: a
    // joinable std::thread is never dropped (which would terminate the program).
    try {
        m_Workers.reserve(static_cast<size_t>(workers));
    } catch (...) {
        return;
    }
    // A worker only waits for loops; one that could not be started is simply left out,
    // and the workers are numbered 1, 2, ... in the order they started.
    for (int t = 1; t <= workers; ++t) {
        try {
            std::thread worker = start(&StartWorker, this, t);
            if (!worker.joinable())
                break;
            m_Workers.push_back(std::move(worker));
        } catch (...) {
            break;
        }
    }
}

CVRNEvaluationPool::~CVRNEvaluationPool() {
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bStop = true;
    }
    m_StartSignal.notify_all();
    for (std::thread& worker : m_Workers)
        worker.join();
}

void CVRNEvaluationPool::Run(int count, Function function, void* context) {
    if (count <= 0)
        return;
    bool idle = false;
    // A plain loop when there is nobody to share with, or when a loop is already
    // running (a nested or concurrent call).
    if (m_Workers.empty() || count == 1 || !m_bRunning.compare_exchange_strong(idle, true)) {
        for (int i = 0; i < count; ++i)
            function(context, i, 0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_pFunction = function;
        m_pContext = context;
        m_nCount = count;
        m_nNext.store(0, std::memory_order_relaxed);
        m_Error = nullptr;
        m_nBusy = static_cast<int>(m_Workers.size());
        ++m_nLoop;
    }
    m_StartSignal.notify_all();
    Work(0);
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(m_Mutex);
        m_DoneSignal.wait(lock, [this] { return m_nBusy == 0; });
        error = m_Error;
        m_Error = nullptr;
        m_pFunction = nullptr;
        m_pContext = nullptr;
    }
    m_bRunning.store(false);
    if (error)
        std::rethrow_exception(error);
}

void CVRNEvaluationPool::WorkerLoop(int thread) {
    unsigned long seen = 0;
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
        m_StartSignal.wait(lock, [this, seen] { return m_bStop || m_nLoop != seen; });
        if (m_bStop)
            return;
        seen = m_nLoop;
        lock.unlock();
        Work(thread);
        lock.lock();
        if (--m_nBusy == 0)
            m_DoneSignal.notify_one();
    }
}

void CVRNEvaluationPool::Work(int thread) {
    // m_nCount, m_pFunction and m_pContext were written under the mutex before this
    // loop began and stay fixed until every thread has left it.
    const int count = m_nCount;
    for (;;) {
        const int i = m_nNext.fetch_add(1, std::memory_order_relaxed);
        if (i >= count)
            return;
        try {
            m_pFunction(m_pContext, i, thread);
        } catch (...) {
            std::lock_guard<std::mutex> lock(m_Mutex);
            if (!m_Error)
                m_Error = std::current_exception();
            // No further indices: the others stop after their current one.
            m_nNext.store(count, std::memory_order_relaxed);
        }
    }
}
