// The engine's evaluation pool: with several evaluation threads a run gives the same
// log, counts and bits as with one, for every method and derivative setting; a problem
// that does not allow concurrent evaluation is only ever called from the caller's
// thread; an exception from the objective reaches the caller.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/UnconstrainedMinimization.h"
#include "problems/ReferenceProblems.h"

namespace {

// A reference problem whose evaluations are pure functions of x: safe to call
// concurrently. Counts its calls and remembers whether any came from another thread
// than the one that built it.
class PureProblem : public CVRNMinimizationMethodBase {
public:
    PureProblem(const std::string& name, bool concurrent)
        : m_Problem(golden::MakeTestProblem(name)), m_bConcurrent(concurrent),
          m_Owner(std::this_thread::get_id()) {}

    int NumberOfParameters() override { return m_Problem->n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_Problem->n; ++i)
            x0[i] = m_Problem->x0[static_cast<size_t>(i)];
    }
    bool bConcurrentEvaluation() const override { return m_bConcurrent; }
    double Fx(double* const x) override {
        Note();
        return m_Problem->fx(x);
    }
    void Gradient(double* const x, double* const g) override {
        Note();
        m_Problem->grad(x, g);
    }
    void Hessian(double* const x, CMatrix& h) override {
        const size_t n = static_cast<size_t>(m_Problem->n);
        std::vector<double> buffer(n * n, 0.0);
        m_Problem->hess(x, buffer.data());
        for (size_t i = 0; i < n; ++i)
            for (size_t j = 0; j < n; ++j)
                h[static_cast<int>(i)][j] = buffer[i * n + j];
    }

    std::atomic<long> calls{0};
    std::atomic<bool> otherThread{false};

private:
    void Note() {
        calls.fetch_add(1);
        if (std::this_thread::get_id() != m_Owner)
            otherThread = true;
    }
    std::unique_ptr<golden::TestProblem> m_Problem;
    bool m_bConcurrent;
    std::thread::id m_Owner;
};

class Rows : public CVRNMessageSink {
public:
    void AddMessage(const char* text) override { rows.emplace_back(text); }
    std::vector<std::string> rows;
};

struct Setting {
    const char* problem;
    int method;
    bool gradient, hessian, expensive, checkGradient, checkHessian;
};

const Setting kSettings[] = {
    // Finite-difference gradient (forward, then central) and second-order Hessian.
    {"extrosenbrock", 1, false, false, false, false, false},
    {"extrosenbrock", 2, false, false, false, false, false},
    {"extrosenbrock", 3, false, false, false, false, false},
    {"helical", 3, false, false, false, false, false},
    {"wood", 2, false, false, false, false, false},
    // Hessian from analytic gradients.
    {"extrosenbrock", 1, true, false, false, false, false},
    {"powell", 3, true, false, false, false, false},
    // Secant updates with a difference gradient.
    {"beale", 1, false, false, true, false, false},
    {"extrosenbrock", 2, false, false, true, false, false},
    // Checks: gradient against forward differences; Hessian against both estimates.
    {"wood", 3, true, true, false, true, true},
    {"beale", 2, false, true, false, false, true},
    {"rosenbrock", 1, true, true, false, true, false},
    // Nothing to difference: the pool stays idle.
    {"quadratic", 4, true, false, false, false, false},
    {"onedim", 3, false, false, false, false, false},
};

struct Outcome {
    std::vector<std::string> log;
    CVRNRunRecord record;
    int iterations = 0;
    long calls = 0;
};

Outcome RunSetting(const Setting& s, int threads, bool concurrent = true) {
    PureProblem problem(s.problem, concurrent);
    Rows rows;
    CVRNUnconstrainedMinimization engine;
    engine.SetEvaluationThreads(threads);
    engine.SetStatusView(&rows);
    engine.Default();
    engine.SetMessageBits(16); // an iterate line after every iteration
    engine.SetImplementationOptions(s.gradient, s.hessian, s.expensive);
    engine.EnableGradientHessianCheck(s.checkGradient, s.checkHessian);
    engine.Minimize(&problem, 1.0, 10000, s.method);
    Outcome o;
    o.log = rows.rows;
    o.record = engine.GetRunRecord();
    o.iterations = engine.GetIterationCount();
    o.calls = problem.calls.load();
    return o;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), sizeof(double) * a.size()) == 0;
}

TEST(ConcurrentEvaluationThread, RunsMatchTheOneThreadRunBitForBit) {
    for (const Setting& s : kSettings) {
        const Outcome one = RunSetting(s, 1);
        // The largest count gives most estimates a thread per point.
        for (int threads : {2, 3, VRNMaxEvaluationThreads()}) {
            SCOPED_TRACE(::testing::Message() << s.problem << ", method " << s.method << ", gradient "
                                              << s.gradient << ", hessian " << s.hessian << ", expensive "
                                              << s.expensive << ", " << threads << " threads");
            const Outcome many = RunSetting(s, threads);
            EXPECT_EQ(many.log, one.log);
            EXPECT_EQ(many.record.code, one.record.code);
            EXPECT_EQ(many.iterations, one.iterations);
            EXPECT_TRUE(SameBits(many.record.x, one.record.x));
            EXPECT_TRUE(SameBits(many.record.g, one.record.g));
            EXPECT_EQ(std::memcmp(&many.record.f, &one.record.f, sizeof(double)), 0);
            EXPECT_EQ(many.record.fEvaluations, one.record.fEvaluations);
            EXPECT_EQ(many.record.gradientEvaluations, one.record.gradientEvaluations);
            EXPECT_EQ(many.record.hessianEvaluations, one.record.hessianEvaluations);
            EXPECT_EQ(many.calls, one.calls);
            ASSERT_EQ(many.record.gradientCheck.entries.size(), one.record.gradientCheck.entries.size());
            ASSERT_EQ(many.record.hessianCheck.entries.size(), one.record.hessianCheck.entries.size());
            for (size_t i = 0; i < one.record.hessianCheck.entries.size(); ++i)
                EXPECT_EQ(std::memcmp(&many.record.hessianCheck.entries[i].estimate,
                                      &one.record.hessianCheck.entries[i].estimate, sizeof(double)),
                          0);
        }
    }
}

TEST(ConcurrentEvaluationThread, AProblemThatDoesNotAllowItIsCalledFromTheCallerOnly) {
    const Setting s = {"extrosenbrock", 3, false, false, false, false, false};
    PureProblem problem(s.problem, false);
    CVRNUnconstrainedMinimization engine;
    engine.SetEvaluationThreads(4);
    EXPECT_EQ(engine.GetEvaluationThreads(), 4);
    engine.Default();
    engine.SetImplementationOptions(false, false, false);
    engine.Minimize(&problem, 1.0, 10000, 3);
    EXPECT_GT(problem.calls.load(), 100);
    EXPECT_FALSE(problem.otherThread.load());
    // Same result as one thread.
    const Outcome one = RunSetting(s, 1, false);
    EXPECT_TRUE(SameBits(engine.GetRunRecord().x, one.record.x));
}

TEST(ConcurrentEvaluationThread, ThreadCountsBelowOneMeanOne) {
    CVRNUnconstrainedMinimization engine;
    EXPECT_EQ(engine.GetEvaluationThreads(), 1);
    for (int k : {0, -1, -100}) {
        engine.SetEvaluationThreads(k);
        EXPECT_EQ(engine.GetEvaluationThreads(), 1);
    }
}

// Throws from the objective once the given number of calls has been made.
class FailingProblem : public CVRNMinimizationMethodBase {
public:
    explicit FailingProblem(long failAt) : m_nFailAt(failAt) {}
    int NumberOfParameters() override { return 6; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < 6; ++i)
            x0[i] = 1.0 + i;
    }
    bool bConcurrentEvaluation() const override { return true; }
    double Fx(double* const x) override {
        if (m_nCalls.fetch_add(1) + 1 == m_nFailAt)
            throw std::runtime_error("objective failed");
        double s = 0.0;
        for (int i = 0; i < 6; ++i)
            s += (x[i] - i) * (x[i] - i);
        return s;
    }

private:
    long m_nFailAt;
    std::atomic<long> m_nCalls{0};
};

TEST(ConcurrentEvaluationThread, AnExceptionFromTheObjectiveReachesTheCaller) {
    // Call 1 is the start point (on the caller), 2 to 7 the forward differences there,
    // later ones the Hessian's points and the iterations.
    for (long failAt : {2L, 5L, 7L, 12L, 30L}) {
        SCOPED_TRACE(::testing::Message() << "fails at call " << failAt);
        FailingProblem problem(failAt);
        CVRNUnconstrainedMinimization engine;
        engine.SetEvaluationThreads(2);
        engine.Default();
        engine.SetImplementationOptions(false, false, false);
        EXPECT_THROW(engine.Minimize(&problem, 1.0, 10000, 3), std::runtime_error);
        // The engine runs again afterwards.
        FailingProblem fine(-1);
        engine.Minimize(&fine, 1.0, 10000, 3);
        EXPECT_TRUE(engine.GetCodeforTerminationCode() == GradientSmall ||
                    engine.GetCodeforTerminationCode() == StepSizeSmall);
    }
}

} // namespace
