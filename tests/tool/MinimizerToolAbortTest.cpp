// An abort requested during a tool run ends the restarts after that run, also when the
// run then ends on a stopping test of its own (code 1 or 2) rather than with code 7.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "minimize/UnconstrainedMinimization.h"
#include "problems/ProblemAdapter.h"
#include "tool/MinimizerTool.h"

namespace {

// Counts the runs (each asks for its start point once) and calls a hook on every Fx.
class HookedProblem : public vrn_problems::CountingProblem {
public:
    explicit HookedProblem(golden::TestProblem& p) : CountingProblem(p) {}
    void InitialParameters(double* const x0) override {
        ++runs;
        CountingProblem::InitialParameters(x0);
    }
    double Fx(double* const x) override {
        const double f = CountingProblem::Fx(x);
        if (onFx)
            onFx(nfev);
        return f;
    }
    int runs = 0;
    std::function<void(long)> onFx;
};

// Calls tool.Abort() on another thread and waits until it returned.
void AbortFromAnotherThread(VRNMinimizerTool& tool) {
    std::atomic<bool> done{false};
    std::thread aborter([&] {
        tool.Abort();
        done = true;
    });
    while (!done.load())
        std::this_thread::yield();
    aborter.join();
}

struct AbortCase {
    const char* name;
    long atCall; // the Fx call during which the abort is requested
    int method;
};

// On the quadratic, method 1's first full Newton step lands on the minimum: the abort
// at the line search's trial (call 2) lands in an iteration that ends with code 1 or 2.
// A request before the first iteration ends the first run with code 7 at once.
const AbortCase kCases[] = {
    {"during the converging iteration", 2, 1},
    {"while the first run is set up", 1, 1},
    {"during a hook-step iteration", 2, 3},
};

void ExpectAbortEndsTheRestarts(const AbortCase& c, const std::function<void(VRNMinimizerTool&)>& abort) {
    golden::Quadratic3 reference;
    HookedProblem problem(reference);
    VRNMinimizerTool tool;
    problem.onFx = [&](long call) {
        if (call == c.atCall)
            abort(tool);
    };
    tool.SetMinimizationMethodObject(&problem);
    tool.Abort(); // stale: cleared when Minimize starts
    tool.Minimize(c.method);
    EXPECT_EQ(tool.GetRunCount(), 1) << c.name;
    EXPECT_EQ(problem.runs, 1) << c.name;
    EXPECT_TRUE(tool.GetEngine().bAbortRequested()) << c.name;
    EXPECT_FALSE(tool.bNextStep()) << c.name;
}

TEST(MinimizerToolAbort, AbortDuringARunThatConvergesEndsTheRestarts) {
    for (const AbortCase& c : kCases)
        ExpectAbortEndsTheRestarts(c, [](VRNMinimizerTool& t) { t.Abort(); });
}

TEST(MinimizerToolAbort, AbortFromAnotherThreadEndsTheRestarts) {
    for (const AbortCase& c : kCases)
        ExpectAbortEndsTheRestarts(c, AbortFromAnotherThread);
}

TEST(MinimizerToolAbort, ConvergingRunWithoutAbortIsRestarted) {
    golden::Quadratic3 reference;
    HookedProblem problem(reference);
    VRNMinimizerTool tool;
    tool.SetMinimizationMethodObject(&problem);
    tool.Abort(); // before Minimize: stale
    tool.Minimize(1);
    const int code = tool.GetEngine().GetCodeforTerminationCode();
    EXPECT_TRUE(code == GradientSmall || code == StepSizeSmall) << code;
    EXPECT_EQ(tool.GetRunCount(), 2); // the second run starts converged and takes no iteration
    EXPECT_FALSE(tool.GetEngine().bAbortRequested());
}

// Step mode: a request made while FirstStep sets up the session ends it at once.
TEST(MinimizerToolAbort, AbortWhileFirstStepSetsUpEndsTheSession) {
    golden::Quadratic3 reference;
    HookedProblem problem(reference);
    VRNMinimizerTool tool;
    problem.onFx = [&](long call) {
        if (call == 1)
            tool.Abort();
    };
    tool.SetMinimizationMethodObject(&problem);
    tool.FirstStep(3);
    EXPECT_FALSE(tool.bNextStep());
    EXPECT_EQ(tool.GetEngine().GetCodeforTerminationCode(), AbortedByUser);
    EXPECT_EQ(tool.GetEngine().GetIterationCount(), 0);
}

} // namespace
