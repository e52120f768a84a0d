// Once the working arrays are sized, an iteration of the engine must not touch the
// heap: no status view attached, diagnostics off, any method and derivative setting.
//
// This file replaces the global operator new and delete of the whole test program
// (malloc/free underneath). Counting is off except inside a test's measuring window,
// so the other tests of the program are unaffected. Sanitizer builds keep their own
// allocator: there the replacement is left out and the tests are skipped.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "minimize/UnconstrainedMinimization.h"
#include "problems/ReferenceProblems.h"
#include "views/StatusView.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VRN_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VRN_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef VRN_COUNT_ALLOCATIONS
#define VRN_COUNT_ALLOCATIONS 1
#endif

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

} // namespace

#if VRN_COUNT_ALLOCATIONS
// The other forms (nothrow, arrays) of the standard library forward to these two;
// the aligned forms keep their own matching pair.
void* operator new(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (size == 0)
        size = 1;
    for (;;) {
        if (void* p = std::malloc(size))
            return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
#endif

namespace {

// Extended Rosenbrock (n = 10) through the engine's problem interface; nothing in
// the callbacks allocates. The first CommitStep of a run (in its first iteration,
// after all sizing) can open the measuring window.
class QuietProblem : public CVRNMinimizationMethodBase {
public:
    int NumberOfParameters() override { return m_Problem.n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_Problem.n; ++i)
            x0[i] = m_Problem.x0[static_cast<size_t>(i)];
    }
    double Fx(double* const x) override { return m_Problem.fx(x); }
    void Gradient(double* const x, double* const g) override { m_Problem.grad(x, g); }
    void Hessian(double* const x, CMatrix& h) override {
        const size_t n = static_cast<size_t>(m_Problem.n);
        std::memset(h[0], 0, sizeof(double) * n * n);
        m_Problem.hess(x, h[0]);
    }
    bool bConcurrentEvaluation() const override { return concurrent; }
    void CommitStep(double*, int) override {
        ++commits;
        if (startCountingAtFirstCommit && commits == 1) {
            g_allocations = 0;
            g_counting = true;
        }
    }

    bool startCountingAtFirstCommit = false;
    bool concurrent = false;
    int commits = 0;

private:
    golden::ExtendedRosenbrock m_Problem;
};

struct Setting {
    const char* name;
    bool gradient, hessian, expensive;
};

const Setting kSettings[] = {
    {"analytic gradient and Hessian", true, true, false},
    {"analytic gradient, finite-difference Hessian", true, false, false},
    {"analytic gradient, secant updates", true, false, true},
    {"finite differences only", false, false, false},
    {"finite-difference gradient, secant updates", false, false, true},
};

class Allocations : public ::testing::Test {
protected:
    void SetUp() override {
        if (!VRN_COUNT_ALLOCATIONS)
            GTEST_SKIP() << "the sanitizer's allocator is in charge in this build";
    }
    void TearDown() override { g_counting = false; }
};

TEST_F(Allocations, CountingSeesAllocationsOnlyInsideTheWindow) {
    g_allocations = 0;
    auto* outside = new std::vector<double>(100);
    delete outside;
    EXPECT_EQ(g_allocations.load(), 0);
    g_counting = true;
    auto* inside = new std::vector<double>(100);
    g_counting = false;
    delete inside;
    // The vector object and its storage.
    EXPECT_EQ(g_allocations.load(), 2);
}

TEST_F(Allocations, StepModeIterationsAfterTheFirstAllocateNothing) {
    for (int method = 1; method <= 3; ++method) {
        for (const Setting& s : kSettings) {
            SCOPED_TRACE(::testing::Message() << "method " << method << ", " << s.name);
            QuietProblem problem;
            CVRNUnconstrainedMinimization engine;
            engine.Default();
            engine.SetImplementationOptions(s.gradient, s.hessian, s.expensive);
            engine.FirstStep(&problem, 1.0, 10000, method); // sizes everything, takes iteration 1

            g_allocations = 0;
            g_counting = true;
            int steps = 0;
            while (engine.bNextStep() && steps < 300) {
                engine.TakeOneStep();
                ++steps;
            }
            g_counting = false;

            EXPECT_GE(steps, 5) << "too few iterations to show anything";
            EXPECT_EQ(g_allocations.load(), 0) << "allocations in " << steps << " iterations";
        }
    }
}

TEST_F(Allocations, RunsAllocateNothingFromTheFirstCandidatePointOn) {
    for (int method = 1; method <= 4; ++method) {
        for (const Setting& s : kSettings) {
            // The conjugate-gradient method always uses the analytic gradient alone.
            if (method == 4 && (!s.gradient || s.hessian || s.expensive))
                continue;
            SCOPED_TRACE(::testing::Message() << "method " << method << ", " << s.name);
            QuietProblem problem;
            problem.startCountingAtFirstCommit = true;
            CVRNUnconstrainedMinimization engine;
            engine.Default();
            engine.SetImplementationOptions(s.gradient, s.hessian, s.expensive);
            engine.Minimize(&problem, 1.0, 10000, method);
            g_counting = false;

            EXPECT_GE(engine.GetIterationCount(), 5);
            EXPECT_GE(problem.commits, 5);
            EXPECT_EQ(g_allocations.load(), 0)
                << "allocations in " << engine.GetIterationCount() << " iterations";
        }
    }
}

TEST_F(Allocations, RunsWithEvaluationThreadsAllocateNothingFromTheFirstCandidatePointOn) {
    // The pool and its buffers are made while the start point is evaluated; the
    // iterations, their difference gradients and Hessians included, use them as they are.
    for (int threads : {2, 3}) {
        for (int method = 1; method <= 4; ++method) {
            for (const Setting& s : kSettings) {
                if (method == 4 && (!s.gradient || s.hessian || s.expensive))
                    continue;
                SCOPED_TRACE(::testing::Message()
                             << threads << " threads, method " << method << ", " << s.name);
                QuietProblem problem;
                problem.concurrent = true;
                problem.startCountingAtFirstCommit = true;
                CVRNUnconstrainedMinimization engine;
                engine.SetEvaluationThreads(threads);
                engine.Default();
                engine.SetImplementationOptions(s.gradient, s.hessian, s.expensive);
                engine.Minimize(&problem, 1.0, 10000, method);
                g_counting = false;

                EXPECT_GE(engine.GetIterationCount(), 5);
                EXPECT_EQ(g_allocations.load(), 0)
                    << "allocations in " << engine.GetIterationCount() << " iterations";
            }
        }
    }
}

TEST_F(Allocations, StepModeWithEvaluationThreadsAllocatesNothingAfterTheFirstStep) {
    for (int method = 1; method <= 3; ++method) {
        for (const Setting& s : kSettings) {
            SCOPED_TRACE(::testing::Message() << "method " << method << ", " << s.name);
            QuietProblem problem;
            problem.concurrent = true;
            CVRNUnconstrainedMinimization engine;
            engine.SetEvaluationThreads(2);
            engine.Default();
            engine.SetImplementationOptions(s.gradient, s.hessian, s.expensive);
            engine.FirstStep(&problem, 1.0, 10000, method);

            g_allocations = 0;
            g_counting = true;
            int steps = 0;
            while (engine.bNextStep() && steps < 300) {
                engine.TakeOneStep();
                ++steps;
            }
            g_counting = false;
            EXPECT_GE(steps, 5);
            EXPECT_EQ(g_allocations.load(), 0) << "allocations in " << steps << " iterations";
        }
    }
}

TEST_F(Allocations, AStatusViewMakesTheLogRowsAndTheCounterSeesThem) {
    // The same step-mode session with a status view attached: the log rows are heap
    // text, so the window above would have seen them had the engine formatted anything.
    QuietProblem problem;
    CVRNStatusView view;
    CVRNUnconstrainedMinimization engine;
    engine.Default();
    engine.SetStatusView(&view);
    engine.FirstStep(&problem, 1.0, 10000, 1);
    const int rowsBefore = view.GetRowCount();
    g_allocations = 0;
    g_counting = true;
    engine.TakeOneStep();
    g_counting = false;
    EXPECT_GT(view.GetRowCount(), rowsBefore);
    EXPECT_GT(g_allocations.load(), 0);
}

TEST_F(Allocations, ARepeatedRunOfTheSameSizeAllocatesNothing) {
    // The arrays keep their size between runs: a second run of the same problem
    // sizes nothing anew.
    for (int method = 1; method <= 4; ++method) {
        SCOPED_TRACE(::testing::Message() << "method " << method);
        QuietProblem problem;
        CVRNUnconstrainedMinimization engine;
        engine.Default();
        engine.SetImplementationOptions(true, method != 4, false);
        engine.Minimize(&problem, 1.0, 10000, method);

        QuietProblem again;
        g_allocations = 0;
        g_counting = true;
        engine.Minimize(&again, 1.0, 10000, method);
        g_counting = false;
        EXPECT_EQ(g_allocations.load(), 0);
        EXPECT_GE(engine.GetIterationCount(), 5);
    }
}

// The arrays and the Hessian matrix are sized only when n changes; what a run reads
// it writes first, so a second run of the same size on the same engine ends exactly
// where a run on a fresh engine does.
TEST(Sizing, ASecondRunOfTheSameSizeEndsWhereAFreshEngineDoes) {
    for (int method = 1; method <= 4; ++method) {
        for (const Setting& s : kSettings) {
            if (method == 4 && (!s.gradient || s.hessian || s.expensive))
                continue;
            SCOPED_TRACE(::testing::Message() << "method " << method << ", " << s.name);
            auto run = [&](CVRNUnconstrainedMinimization& engine, std::vector<double>& x) {
                QuietProblem problem;
                engine.Default();
                engine.SetImplementationOptions(s.gradient, s.hessian, s.expensive);
                engine.SetIterationCount(0);
                engine.Minimize(&problem, 1.0, 10000, method);
                const double* end = method == 4 ? engine.GetX() : engine.GetXMin();
                x.assign(end, end + problem.NumberOfParameters());
                return engine.GetIterationCount();
            };
            CVRNUnconstrainedMinimization reused, fresh;
            std::vector<double> first, second, reference;
            run(reused, first);
            const int k = run(reused, second);
            const int kFresh = run(fresh, reference);
            EXPECT_EQ(k, kFresh);
            ASSERT_EQ(second.size(), reference.size());
            EXPECT_EQ(std::memcmp(second.data(), reference.data(), sizeof(double) * second.size()), 0);
        }
    }
}

} // namespace
