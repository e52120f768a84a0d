// The run-cost estimate against the engine itself: the evaluations of the set-up and
// the first iteration counted on a real run, and the heap the run takes.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cmath>
#include <memory>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/RunCost.h"
#include "minimize/UnconstrainedMinimization.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VRN_MEASURE_HEAP 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define VRN_MEASURE_HEAP 0
#endif
#endif
#ifndef VRN_MEASURE_HEAP
#define VRN_MEASURE_HEAP 1
#endif

namespace {

// f = sum (i + 1) (d_i^2 + d_i^4), d_i = x_i - 1, from x0 = 0, with its exact
// derivatives: convex, and no Newton step ends the run at once. Nothing in the
// callbacks allocates, and any thread may call them.
class Quartic : public CVRNMinimizationMethodBase {
public:
    explicit Quartic(int n) : m_n(n) {}
    int NumberOfParameters() override { return m_n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_n; ++i)
            x0[i] = 0.0;
    }
    double Fx(double* const x) override {
        double f = 0.0;
        for (int i = 0; i < m_n; ++i) {
            const double d = x[i] - 1.0;
            f += (i + 1.0) * (d * d + d * d * d * d);
        }
        return f;
    }
    void Gradient(double* const x, double* const g) override {
        for (int i = 0; i < m_n; ++i) {
            const double d = x[i] - 1.0;
            g[i] = (i + 1.0) * (2.0 * d + 4.0 * d * d * d);
        }
    }
    void Hessian(double* const x, CMatrix& h) override {
        for (int i = 0; i < m_n; ++i) {
            for (int j = 0; j < i; ++j)
                h[i][j] = 0.0;
            const double d = x[i] - 1.0;
            h[i][i] = (i + 1.0) * (2.0 + 12.0 * d * d);
        }
    }
    bool bConcurrentEvaluation() const override { return true; }

private:
    int m_n;
};

struct Case {
    int method;
    bool gradient, hessian, expensive, checkGradient, checkHessian;
};

const Case kCases[] = {
    {1, true, true, false, false, false},   {2, true, true, false, false, false},
    {3, true, true, false, false, false},   {1, true, false, false, false, false},
    {3, true, false, false, false, false},  {1, false, false, false, false, false},
    {2, false, false, false, false, false}, {3, false, false, false, false, false},
    {1, true, false, true, false, false},   {3, false, false, true, false, false},
    {3, true, true, false, true, true},     {2, false, true, false, false, true},
    {1, true, true, true, true, true}, // secant updates: no Hessian to check
    {4, true, false, false, false, false},  {4, false, false, false, false, false},
    {7, true, true, false, false, false}, // run as method 1
};

CVRNRunSettings Settings(const Case& c, int n) {
    CVRNRunSettings s;
    s.n = n;
    s.method = c.method;
    s.gradient = c.gradient;
    s.hessian = c.hessian;
    s.expensive = c.expensive;
    s.checkGradient = c.checkGradient;
    s.checkHessian = c.checkHessian;
    return s;
}

// Counts at the end of the first iteration of a real run.
CVRNIterationRecord FirstIteration(const Case& c, int n) {
    Quartic problem(n);
    CVRNUnconstrainedMinimization e;
    e.Default();
    e.SetImplementationOptions(c.gradient, c.hessian, c.expensive);
    e.EnableGradientHessianCheck(c.checkGradient, c.checkHessian);
    // A radius the Newton step fits in: no radius doubling in the first iteration.
    e.SetTrustRadius(100.0);
    e.SetRecordIterations(true);
    e.Minimize(&problem, 1.0, 10, c.method);
    // The records start with the start point (iteration 0).
    for (const CVRNIterationRecord& r : e.GetRunRecord().iterationRecords)
        if (r.iteration == 1)
            return r;
    ADD_FAILURE() << "no first iteration";
    return CVRNIterationRecord();
}

TEST(RunCost, CountsTheEvaluationsOfTheFirstIterationOfARealRun) {
    for (int n : {1, 4, 9}) {
        for (const Case& c : kCases) {
            SCOPED_TRACE(::testing::Message()
                         << "n " << n << ", method " << c.method << ", gradient " << c.gradient
                         << ", hessian " << c.hessian << ", expensive " << c.expensive << ", checks "
                         << c.checkGradient << c.checkHessian);
            const CVRNRunCost cost = VRNEstimateRunCost(Settings(c, n));
            ASSERT_TRUE(cost.valid);
            const CVRNEvaluationCount want = cost.FirstIteration();
            const CVRNIterationRecord got = FirstIteration(c, n);
            EXPECT_EQ(got.hessianEvaluations, want.hessian);
            // The estimate counts the fewest trial points; the search may take a few more,
            // never fewer.
            EXPECT_GE(got.fEvaluations, want.objective);
            if (c.method != 4) {
                EXPECT_LE(got.fEvaluations, want.objective + 3);
                EXPECT_EQ(got.gradientEvaluations, want.gradient);
            } else {
                // Beyond the fewest, each line point costs one objective call and at most one
                // gradient call.
                EXPECT_GE(got.gradientEvaluations, want.gradient);
                EXPECT_LE(got.gradientEvaluations - want.gradient, got.fEvaluations - want.objective);
            }
        }
    }
}

TEST(RunCost, DifferenceHessiansDominateWithoutDerivatives) {
    // n = 1000 without derivatives: two second-order Hessians of n + n(n+1)/2 points.
    const CVRNRunCost fd = VRNEstimateRunCost(1000, 3, false, false, false);
    EXPECT_EQ(fd.setUp.objective, 1 + 1000 + 1000 + 500500);
    EXPECT_EQ(fd.firstStep.objective, 2 + 1000 + 1000 + 500500);
    EXPECT_EQ(fd.FirstIteration().Total(), 1 + 2 + 4 * 1000 + 2 * 500500);
    // An analytic gradient turns each Hessian into n gradient calls.
    const CVRNRunCost g = VRNEstimateRunCost(1000, 3, true, false, false);
    EXPECT_EQ(g.FirstIteration().gradient, 2 + 2 * 1000);
    EXPECT_EQ(g.FirstIteration().objective, 3);
    // Secant updates need no Hessian evaluations at all.
    const CVRNRunCost secant = VRNEstimateRunCost(1000, 3, true, false, true);
    EXPECT_EQ(secant.FirstIteration().Total(), 3 + 2);
}

TEST(RunCost, MethodFourNeedsLinearMemoryAndTheOthersQuadratic) {
    const double n = 1e6;
    const CVRNRunCost cg = VRNEstimateRunCost(1000000, 4, true, false, false);
    EXPECT_FALSE(cg.modelHessian);
    EXPECT_LT(cg.bytes, 20.0 * 8.0 * n);
    EXPECT_GE(cg.bytes, 17.0 * 8.0 * n);
    const CVRNRunCost newton = VRNEstimateRunCost(1000000, 3, true, true, false);
    EXPECT_TRUE(newton.modelHessian);
    EXPECT_GE(newton.bytes, 8.0 * n * n);
    // The derivative checks of a Hessian keep a record entry for each lower-triangle
    // element and a copy of the estimate while they compare.
    CVRNRunSettings s;
    s.n = 1000;
    s.method = 3;
    s.gradient = s.hessian = s.checkHessian = true;
    const CVRNRunCost checked = VRNEstimateRunCost(s);
    const CVRNRunCost plain = VRNEstimateRunCost(1000, 3, true, true, false);
    EXPECT_GE(checked.bytes - plain.bytes,
              1000.0 * 1000.0 * 8.0 + 500500.0 * sizeof(CVRNDerivativeCheckEntry));
    // Recorded iterations add a point and a gradient each.
    s.checkHessian = false;
    s.recordIterations = true;
    EXPECT_GE(VRNEstimateRunCost(s).bytesPerIteration, 2 * 1000 * 8.0);
    EXPECT_EQ(plain.bytesPerIteration, 0.0);
}

TEST(RunCost, RefusesWhatTheEngineCannotRun) {
    for (long long n : {0LL, -3LL, 3000000000LL})
        EXPECT_FALSE(VRNEstimateRunCost(n, 4, true, false, false).valid) << n;
    const CVRNRunCostJudgement j = VRNJudgeRunCost(VRNEstimateRunCost(0, 3, true, true, false), 1e12);
    EXPECT_EQ(j.verdict, VRNRunCostVerdict::Refuse);
    EXPECT_FALSE(j.message.empty());
}

struct JudgeCase {
    long long n;
    int method;
    bool gradient;
    double available;
    VRNRunCostVerdict verdict;
};

TEST(RunCost, JudgesEvaluationsAndMemory) {
    const double gib = 1024.0 * 1024.0 * 1024.0;
    const JudgeCase cases[] = {
        {1000000, 4, true, 24 * gib, VRNRunCostVerdict::Fine},
        {100, 3, false, 24 * gib, VRNRunCostVerdict::Fine},
        // Two difference Hessians of 2000 parameters: four million objective calls.
        {2000, 3, false, 24 * gib, VRNRunCostVerdict::Warn},
        // 8 n^2 = 12.8 GB: more than half of 16 GiB, less than all of it.
        {40000, 3, true, 16 * gib, VRNRunCostVerdict::Warn},
        {100000, 3, true, 24 * gib, VRNRunCostVerdict::Refuse},
        {100000, 4, true, 24 * gib, VRNRunCostVerdict::Fine},
        // Memory unknown: only the evaluations are judged (2n gradient calls are fewer
        // than a million; two second-order Hessians are ten billion objective calls).
        {100000, 3, true, 0.0, VRNRunCostVerdict::Fine},
        {100000, 3, false, 0.0, VRNRunCostVerdict::Warn},
        {100000, 3, false, std::nan(""), VRNRunCostVerdict::Warn},
    };
    for (const JudgeCase& c : cases) {
        const CVRNRunCost cost = VRNEstimateRunCost(c.n, c.method, c.gradient, false, false);
        const CVRNRunCostJudgement j = VRNJudgeRunCost(cost, c.available);
        EXPECT_EQ(j.verdict, c.verdict) << c.n << " " << c.method << ": " << j.message;
        EXPECT_EQ(j.message.empty(), c.verdict == VRNRunCostVerdict::Fine) << j.message;
    }
    // The share and the limit are the caller's.
    const CVRNRunCost cg = VRNEstimateRunCost(1000000, 4, true, false, false);
    EXPECT_EQ(VRNJudgeRunCost(cg, cg.bytes * 1.5, 0.5).verdict, VRNRunCostVerdict::Warn);
    EXPECT_EQ(VRNJudgeRunCost(cg, cg.bytes * 1.5, 0.9).verdict, VRNRunCostVerdict::Fine);
    EXPECT_EQ(VRNJudgeRunCost(cg, cg.bytes * 0.5).verdict, VRNRunCostVerdict::Refuse);
    EXPECT_EQ(VRNJudgeRunCost(VRNEstimateRunCost(100, 3, false, false, false), 0.0, 0.5, 100).verdict,
              VRNRunCostVerdict::Warn);
}

#if VRN_MEASURE_HEAP
double HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks) + static_cast<double>(m.hblkhd);
}

struct HeapCase {
    int n;
    int method;
    bool gradient, hessian;
    int threads;
};

// The heap an engine holds after a run (its arrays stay until it is destroyed) is the
// estimate, within 10% and a small allowance for the run record and the pool.
TEST(RunCost, TheEngineTakesTheEstimatedHeap) {
    const HeapCase cases[] = {
        {200000, 4, true, false, 1}, {200000, 4, false, false, 2}, {1500, 3, true, true, 1},
        {1200, 1, true, false, 2},   {300, 2, false, false, 2},
    };
    for (const HeapCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "n " << c.n << ", method " << c.method << ", threads " << c.threads);
        Quartic problem(c.n);
        auto e = std::make_unique<CVRNUnconstrainedMinimization>();
        e->Default();
        e->SetImplementationOptions(c.gradient, c.hessian, false);
        e->SetEvaluationThreads(c.threads);
        const double before = HeapInUse();
        e->Minimize(&problem, 1.0, 1, c.method);
        const double taken = HeapInUse() - before;
        CVRNRunSettings s;
        s.n = c.n;
        s.method = c.method;
        s.gradient = c.gradient;
        s.hessian = c.hessian;
        s.threads = c.threads;
        const double want = VRNEstimateRunCost(s).bytes;
        EXPECT_NEAR(taken, want, 0.1 * want + 256.0 * 1024.0) << "taken " << taken << ", estimated " << want;
        EXPECT_EQ(e->GetHessian().GetRows(), c.method == 4 ? 0 : c.n);
    }
}
#endif

// Method 4 never sizes the model Hessian, and the diagnostics that read it see an
// empty matrix, also after an earlier run of another method on the same engine.
TEST(RunCost, AConjugateGradientRunLeavesNoModelHessian) {
    Quartic problem(6);
    CVRNUnconstrainedMinimization e;
    e.Default();
    e.SetImplementationOptions(true, true, false);
    e.Minimize(&problem, 1.0, 50, 4);
    EXPECT_EQ(e.GetHessian().GetRows(), 0);
    EXPECT_EQ(e.GetHessian().GetCols(), 0);
    EXPECT_EQ(e.GetModelHessian().GetRows(), 0);

    e.Minimize(&problem, 1.0, 50, 3);
    EXPECT_EQ(e.GetModelHessian().GetRows(), 6);
    // A later conjugate-gradient run lets go of the matrix.
    e.Minimize(&problem, 1.0, 50, 4);
    EXPECT_EQ(e.GetModelHessian().GetRows(), 0);
    EXPECT_EQ(e.GetHessian().GetRows(), 0);
    EXPECT_NEAR(e.GetFx(), 0.0, 1e-8);

    // Step mode runs method 4 as method 1, which needs the matrix: it is sized then.
    CVRNUnconstrainedMinimization stepper;
    stepper.Default();
    stepper.SetImplementationOptions(true, true, false);
    stepper.FirstStep(&problem, 1.0, 50, 4);
    EXPECT_EQ(stepper.GetHessian().GetRows(), 6);
    while (stepper.bNextStep())
        stepper.TakeOneStep();
    EXPECT_EQ(stepper.GetModelHessian().GetRows(), 6);
}

} // namespace
