// Limits on the engine's evaluation threads: the pool has no more threads than an
// estimate has points, never more than VRNMaxEvaluationThreads(), and a process that
// cannot start threads at all (address space too small for their stacks) still runs to
// the end with the caller's thread alone, with the one-thread result.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/UnconstrainedMinimization.h"
#include "threads/EvaluationPool.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VRN_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VRN_SANITIZED 1
#endif
#endif
#ifndef VRN_SANITIZED
#define VRN_SANITIZED 0
#endif

namespace {

// Threads of this process, from /proc; 0 when that cannot be read.
int ProcessThreads() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "Threads:") {
            int count = 0;
            status >> count;
            return count;
        }
    }
    return 0;
}

// sum (x_i - i)^2 + (sum x_i)^2 / 4 with its derivatives: pure, so safe to evaluate
// concurrently. Notes the most threads the process had during an evaluation.
class Bowl : public CVRNMinimizationMethodBase {
public:
    explicit Bowl(int n, bool watchThreads = true) : m_n(n), m_bWatch(watchThreads) {}
    int NumberOfParameters() override { return m_n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_n; ++i)
            x0[i] = 3.0 - i;
    }
    bool bConcurrentEvaluation() const override { return true; }
    double Fx(double* const x) override {
        Watch();
        double s = 0.0, sum = 0.0;
        for (int i = 0; i < m_n; ++i) {
            s += (x[i] - i) * (x[i] - i);
            sum += x[i];
        }
        return s + sum * sum / 4.0;
    }
    void Gradient(double* const x, double* const g) override {
        Watch();
        double sum = 0.0;
        for (int i = 0; i < m_n; ++i)
            sum += x[i];
        for (int i = 0; i < m_n; ++i)
            g[i] = 2.0 * (x[i] - i) + sum / 2.0;
    }
    void Hessian(double* const, CMatrix& h) override {
        for (int i = 0; i < m_n; ++i)
            for (int j = 0; j < m_n; ++j)
                h[i][j] = (i == j ? 2.0 : 0.0) + 0.5;
    }
    std::atomic<int> mostThreads{0};

private:
    void Watch() {
        if (!m_bWatch)
            return;
        const int now = ProcessThreads();
        int seen = mostThreads.load();
        while (now > seen && !mostThreads.compare_exchange_weak(seen, now)) {
        }
    }
    int m_n;
    bool m_bWatch;
};

struct RunResult {
    std::vector<double> x;
    int mostThreads = 0;
};

RunResult RunBowl(CVRNUnconstrainedMinimization& engine, int n, bool gradient, bool hessian, bool expensive,
                  bool watch = true) {
    Bowl problem(n, watch);
    engine.Default();
    engine.SetImplementationOptions(gradient, hessian, expensive);
    engine.Minimize(&problem, 1.0, 200, 3);
    RunResult r;
    r.x = engine.GetRunRecord().x;
    r.mostThreads = problem.mostThreads.load();
    return r;
}

struct SizeCase {
    int n;
    bool gradient, hessian, expensive;
    int asked;  // 0: the maximum
    int points; // of the largest estimate of the run
};

const SizeCase kSizes[] = {
    // Analytic gradient, Hessian from n gradients.
    {2, true, false, false, 0, 2},
    {6, true, false, false, 0, 6},
    {6, true, false, false, 3, 6},
    // Estimated gradient: forward or central, so 2n.
    {2, false, true, false, 0, 4},
    {6, false, false, true, 0, 12},
    // Hessian from values: n + n(n+1)/2 points.
    {1, false, false, false, 0, 2},
    {3, false, false, false, 0, 9},
    // Nothing to estimate: no pool at all.
    {6, true, true, false, 0, 0},
};

TEST(EvaluationThreadLimit, ThePoolHasNoMoreThreadsThanAnEstimateHasPoints) {
    // Threads the process has besides the engine's. A sanitizer may start one of its
    // own at any time: one more is allowed then.
    const int others = ProcessThreads() - 1;
    if (others < 0)
        GTEST_SKIP() << "needs /proc/self/status";
    const int slack = VRN_SANITIZED ? 1 : 0;
    const int most = VRNMaxEvaluationThreads();
    for (const SizeCase& c : kSizes) {
        SCOPED_TRACE(::testing::Message()
                     << "n " << c.n << ", gradient " << c.gradient << ", hessian " << c.hessian
                     << ", expensive " << c.expensive << ", asked " << c.asked);
        const int asked = c.asked > 0 ? c.asked : most;
        int expected = c.points < asked ? c.points : asked;
        if (expected < 2)
            expected = 1;
        CVRNUnconstrainedMinimization one;
        const RunResult single = RunBowl(one, c.n, c.gradient, c.hessian, c.expensive);
        EXPECT_LE(single.mostThreads, others + 1 + slack);
        CVRNUnconstrainedMinimization engine;
        engine.SetEvaluationThreads(asked);
        const RunResult many = RunBowl(engine, c.n, c.gradient, c.hessian, c.expensive);
        EXPECT_GE(many.mostThreads, others + expected);
        EXPECT_LE(many.mostThreads, others + expected + slack);
        ASSERT_EQ(many.x.size(), single.x.size());
        EXPECT_EQ(std::memcmp(many.x.data(), single.x.data(), sizeof(double) * single.x.size()), 0);
    }
}

TEST(EvaluationThreadLimit, CountsAboveTheMaximumMeanTheMaximum) {
    const int most = VRNMaxEvaluationThreads();
    CVRNUnconstrainedMinimization engine;
    for (int k : {most, most + 1, 100000, INT_MAX}) {
        engine.SetEvaluationThreads(k);
        EXPECT_EQ(engine.GetEvaluationThreads(), most) << k;
    }
    engine.SetEvaluationThreads(2);
    EXPECT_EQ(engine.GetEvaluationThreads(), 2);
}

// Bytes of address space this process has mapped; 0 when unknown.
long MappedBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    if (!(statm >> pages))
        return 0;
    return pages * sysconf(_SC_PAGESIZE);
}

// Exit codes of the child below.
enum ChildExit { Clean = 0, PoolLostIndices = 1, DifferentResult = 2, AllThreadsStarted = 3, Threw = 4 };

// In a child process: limits the address space to what is mapped plus 1 MiB, too little
// for a thread's stack, then asks a pool and the engine for many threads.
[[noreturn]] void RunUnderMemoryLimit() {
    alarm(60); // a hang ends the child with SIGALRM
    try {
        CVRNUnconstrainedMinimization engine;
        const RunResult single = RunBowl(engine, 3, false, false, false, false);
        std::vector<int> hits(1000, 0);
        const long mapped = MappedBytes();
        if (mapped <= 0)
            _exit(Threw);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(mapped + (1L << 20));
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(Threw);

        bool allStarted = false;
        {
            CVRNEvaluationPool pool(100000);
            allStarted = pool.GetThreadCount() == VRNMaxEvaluationThreads();
            auto body = [&](int i, int) { ++hits[static_cast<size_t>(i)]; };
            pool.ParallelFor(1000, body);
        }
        for (int h : hits)
            if (h != 1)
                _exit(PoolLostIndices);

        engine.SetEvaluationThreads(100000);
        const RunResult many = RunBowl(engine, 3, false, false, false, false);
        if (many.x.size() != single.x.size() ||
            std::memcmp(many.x.data(), single.x.data(), sizeof(double) * single.x.size()) != 0)
            _exit(DifferentResult);
        _exit(allStarted ? AllThreadsStarted : Clean);
    } catch (...) {
        _exit(Threw);
    }
}

TEST(EvaluationThreadLimit, ThreadsThatCannotBeStartedLeaveACleanOneThreadRun) {
    if (VRN_SANITIZED)
        GTEST_SKIP() << "sanitizers map their own memory and cannot run under an address-space limit";
    if (MappedBytes() <= 0)
        GTEST_SKIP() << "needs /proc/self/statm";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        RunUnderMemoryLimit();
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_FALSE(WIFSIGNALED(status)) << "the child ended with signal " << WTERMSIG(status)
                                      << (WTERMSIG(status) == SIGALRM ? " (it hung)" : "");
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == AllThreadsStarted)
        GTEST_SKIP() << "the memory limit did not stop thread creation (reused thread stacks?)";
    EXPECT_EQ(WEXITSTATUS(status), Clean);
}

} // namespace
