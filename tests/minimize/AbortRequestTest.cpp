// Abort requests made while a run or a step session is being set up: the engine clears
// only a request older than the call, so one made from InitialParameters (on the same
// thread or from another one) ends the run before its first iteration.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "minimize/UnconstrainedMinimization.h"
#include "problems/ProblemAdapter.h"

namespace {

// Rosenbrock whose InitialParameters runs a hook once the run is being set up.
class SetUpHookProblem : public vrn_problems::CountingProblem {
public:
    explicit SetUpHookProblem(golden::TestProblem& p) : CountingProblem(p) {}
    void InitialParameters(double* const x0) override {
        CountingProblem::InitialParameters(x0);
        if (onSetUp)
            onSetUp();
    }
    std::function<void()> onSetUp;
};

// Asks another thread to call Abort and waits until it has.
class AborterThread {
public:
    explicit AborterThread(CVRNUnconstrainedMinimization& engine)
        : m_Thread([this, &engine] {
              while (!m_Go.load())
                  std::this_thread::yield();
              engine.Abort();
              m_Done = true;
          }) {}
    ~AborterThread() {
        m_Go = true;
        m_Thread.join();
    }
    void AbortNow() {
        m_Go = true;
        while (!m_Done.load())
            std::this_thread::yield();
    }

private:
    std::atomic<bool> m_Go{false};
    std::atomic<bool> m_Done{false};
    std::thread m_Thread;
};

struct Entry {
    const char* name;
    bool stepMode;
    int method;
};

const Entry kEntries[] = {
    {"Minimize, line search", false, 1}, {"Minimize, double dogleg", false, 2},
    {"Minimize, hook step", false, 3},   {"Minimize, conjugate gradient", false, 4},
    {"FirstStep, hook step", true, 3},
};

// Runs the entry with an abort requested from InitialParameters through `abort`.
void ExpectAbortDuringSetUpEndsTheRun(const Entry& entry,
                                      const std::function<void(CVRNUnconstrainedMinimization&)>& abort) {
    golden::Rosenbrock reference;
    SetUpHookProblem problem(reference);
    CVRNUnconstrainedMinimization engine;
    engine.Default();
    engine.Abort(); // stale: cleared by the entry point
    problem.onSetUp = [&] { abort(engine); };
    if (entry.stepMode)
        engine.FirstStep(&problem, 1.0, 10000, entry.method);
    else
        engine.Minimize(&problem, 1.0, 10000, entry.method);
    EXPECT_EQ(engine.GetCodeforTerminationCode(), AbortedByUser) << entry.name;
    EXPECT_EQ(engine.GetIterationCount(), 0) << entry.name;
    EXPECT_TRUE(engine.bAbortRequested()) << entry.name;
    EXPECT_FALSE(engine.bNextStep()) << entry.name;
}

TEST(EngineAbortRequest, AbortDuringSetUpEndsTheRunBeforeItsFirstIteration) {
    for (const Entry& entry : kEntries)
        ExpectAbortDuringSetUpEndsTheRun(entry, [](CVRNUnconstrainedMinimization& e) { e.Abort(); });
}

TEST(EngineAbortRequest, AbortFromAnotherThreadDuringSetUpEndsTheRun) {
    for (const Entry& entry : kEntries)
        ExpectAbortDuringSetUpEndsTheRun(entry, [](CVRNUnconstrainedMinimization& e) {
            AborterThread aborter(e);
            aborter.AbortNow();
        });
}

TEST(EngineAbortRequest, StaleRequestIsClearedAndTheRunConverges) {
    for (const Entry& entry : kEntries) {
        golden::Rosenbrock reference;
        SetUpHookProblem problem(reference);
        CVRNUnconstrainedMinimization engine;
        engine.Default();
        engine.Abort();
        if (entry.stepMode) {
            engine.FirstStep(&problem, 1.0, 10000, entry.method);
            EXPECT_TRUE(engine.bNextStep()) << entry.name;
        } else {
            engine.Minimize(&problem, 1.0, 10000, entry.method);
            EXPECT_NE(engine.GetCodeforTerminationCode(), AbortedByUser) << entry.name;
            EXPECT_GT(engine.GetIterationCount(), 0) << entry.name;
        }
        EXPECT_FALSE(engine.bAbortRequested()) << entry.name;
    }
}

} // namespace
