// Objectives that return NaN or infinities, gradients and Hessians that return NaN:
// every run ends, never accepts a point whose value is not finite, never hands a point
// that is not finite to CommitStep, and reports a code in range. Each case runs in a
// forked child with an alarm, so a run that does not end fails its case instead of
// stalling the suite.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/UnconstrainedMinimization.h"
#include "problems/ReferenceProblems.h"
#include "tool/MinimizerTool.h"
#include "views/StatusView.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Runs body in a forked child that is killed by SIGALRM after `seconds`. Returns what
// the body returned (empty: all invariants held) or why the child did not report.
std::string RunInChild(const std::function<std::string()>& body, unsigned seconds = 60) {
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return "fork failed";
    if (pid == 0) {
        close(fds[0]);
        alarm(seconds);
        const std::string report = body();
        size_t done = 0;
        while (done < report.size()) {
            const ssize_t w = write(fds[1], report.data() + done, report.size() - done);
            if (w <= 0)
                break;
            done += static_cast<size_t>(w);
        }
        close(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    std::string report;
    char buffer[512];
    for (;;) {
        const ssize_t r = read(fds[0], buffer, sizeof buffer);
        if (r <= 0)
            break;
        report.append(buffer, static_cast<size_t>(r));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return WTERMSIG(status) == SIGALRM ? "did not end within the time limit"
                                           : "child died of signal " + std::to_string(WTERMSIG(status));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child exit status " + std::to_string(status);
    return report;
}

// A function of the point's bits, so that the hostile objective stays a function of x.
uint64_t HashOf(const double* x, int n, uint64_t seed) {
    uint64_t h = 1469598103934665603ull ^ seed;
    for (int i = 0; i < n; ++i) {
        uint64_t bits;
        std::memcpy(&bits, &x[i], sizeof bits);
        h = (h ^ bits) * 1099511628211ull;
        h ^= h >> 31;
    }
    h *= 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

// f = 1/2 (x-1)' A (x-1), A tridiagonal with diagonal 4, 6, 8, 10 and off-diagonals 1.
class TridiagonalQuadratic : public golden::TestProblem {
public:
    TridiagonalQuadratic() : TestProblem({3.0, -2.0, 0.5, 4.0}) {}
    static void Ad(const double* x, double* d, double* ad) {
        for (int i = 0; i < 4; ++i)
            d[i] = x[i] - 1.0;
        for (int i = 0; i < 4; ++i) {
            ad[i] = (2.0 * i + 4.0) * d[i];
            if (i > 0)
                ad[i] += d[i - 1];
            if (i < 3)
                ad[i] += d[i + 1];
        }
    }
    double fx(const double* x) const override {
        double d[4], ad[4];
        Ad(x, d, ad);
        return 0.5 * (d[0] * ad[0] + d[1] * ad[1] + d[2] * ad[2] + d[3] * ad[3]);
    }
    void grad(const double* x, double* g) const override {
        double d[4];
        Ad(x, d, g);
    }
    void hess(const double*, double* h) const override {
        for (int i = 0; i < 4; ++i) {
            at(h, i, i) = 2.0 * i + 4.0;
            if (i > 0)
                at(h, i, i - 1) = 1.0;
            if (i < 3)
                at(h, i, i + 1) = 1.0;
        }
    }
};

// f = 1e120 (exp(-x0) + exp(-x1)): so badly scaled that the dogleg's intermediates overflow.
class HugeExponentials : public golden::TestProblem {
public:
    HugeExponentials() : TestProblem({0.0, 0.0}) {}
    double fx(const double* x) const override { return 1e120 * (std::exp(-x[0]) + std::exp(-x[1])); }
    void grad(const double* x, double* g) const override {
        g[0] = -1e120 * std::exp(-x[0]);
        g[1] = -1e120 * std::exp(-x[1]);
    }
    void hess(const double* x, double* h) const override {
        at(h, 0, 0) = 1e120 * std::exp(-x[0]);
        at(h, 1, 1) = 1e120 * std::exp(-x[1]);
    }
};

std::unique_ptr<golden::TestProblem> MakeProblem(const std::string& name) {
    if (name == "tridiagonal")
        return std::make_unique<TridiagonalQuadratic>();
    if (name == "huge")
        return std::make_unique<HugeExponentials>();
    return golden::MakeTestProblem(name);
}

enum class Inject {
    None,
    NaNOrPlusInf,   // f is NaN or +inf at half of the points
    MinusInf,       // f is -inf at half of the points
    GradientNaN,    // the analytic gradient is NaN at half of the points
    GradientNaNAll, // ... at every point
    HessianNaN      // the analytic Hessian is NaN everywhere
};
// Analytic gradient and Hessian; differences for both; analytic gradient with secant
// updates; analytic gradient with a difference Hessian.
enum class Derivatives { Analytic, FiniteDifference, Secant, DifferenceHessian };
enum class Driver { Engine, Step, Tool };

const char* Name(Inject i) {
    switch (i) {
    case Inject::None:
        return "none";
    case Inject::NaNOrPlusInf:
        return "f NaN/+inf";
    case Inject::MinusInf:
        return "f -inf";
    case Inject::GradientNaN:
        return "g NaN";
    case Inject::GradientNaNAll:
        return "g NaN everywhere";
    case Inject::HessianNaN:
        return "H NaN";
    }
    return "?";
}
const char* Name(Derivatives d) {
    switch (d) {
    case Derivatives::Analytic:
        return "analytic";
    case Derivatives::FiniteDifference:
        return "differences";
    case Derivatives::Secant:
        return "secant";
    case Derivatives::DifferenceHessian:
        return "difference Hessian";
    }
    return "?";
}
const char* Name(Driver d) {
    return d == Driver::Engine ? "engine" : d == Driver::Step ? "step" : "tool";
}

// Forwards to a reference problem, injects the hostile values and watches what the
// engine does with them. InitialParameters returns the last point given to CommitStep,
// so the tool's restarts continue where the previous run ended.
class HostileProblem : public CVRNMinimizationMethodBase {
public:
    HostileProblem(golden::TestProblem& problem, Inject inject, uint64_t seed)
        : m_P(problem), m_Inject(inject), m_Seed(seed), m_X0(problem.x0), m_Start(problem.x0),
          m_H(static_cast<size_t>(problem.n * problem.n)) {}

    int NumberOfParameters() override { return m_P.n; }
    void InitialParameters(double* const x0) override {
        for (int i = 0; i < m_P.n; ++i)
            x0[i] = m_Start[static_cast<size_t>(i)];
        m_bStartFinite = std::isfinite(Value(x0));
    }
    void SetIterations(int count) override {
        if (count > maxCount)
            maxCount = count;
    }
    double Fx(double* const x) override { return Value(x); }
    void Gradient(double* const x, double* const g) override {
        m_P.grad(x, g);
        if (m_Inject == Inject::GradientNaNAll || (m_Inject == Inject::GradientNaN && Hit(x)))
            for (int i = 0; i < m_P.n; ++i)
                g[i] = kNaN;
    }
    void Hessian(double* const x, CMatrix& h) override {
        for (double& v : m_H)
            v = 0.0;
        m_P.hess(x, m_H.data());
        const int n = m_P.n;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                h[i][j] = m_Inject == Inject::HessianNaN ? kNaN : m_H[static_cast<size_t>(i * n + j)];
    }
    void CommitStep(double* x, int n) override {
        for (int i = 0; i < n; ++i)
            if (!std::isfinite(x[i]))
                committedNonFinite = true;
        if (n == m_P.n)
            for (int i = 0; i < n; ++i)
                m_Start[static_cast<size_t>(i)] = x[i];
    }
    // Called whenever the engine's current point is set (accepted or restored).
    void UpdateViews() override {
        if (engine && m_bStartFinite && !std::isfinite(engine->GetFx()))
            acceptedNonFinite = true;
    }

    CVRNUnconstrainedMinimization* engine = nullptr;
    bool committedNonFinite = false;
    bool acceptedNonFinite = false;
    int maxCount = 0;

private:
    // Never at the original start point, so that every case starts from a finite value.
    bool Hit(const double* x) const {
        if (std::memcmp(x, m_X0.data(), sizeof(double) * m_X0.size()) == 0)
            return false;
        return (HashOf(x, m_P.n, m_Seed) & 3u) < 2u;
    }
    double Value(const double* x) const {
        if (m_Inject == Inject::NaNOrPlusInf && Hit(x))
            return (HashOf(x, m_P.n, m_Seed) >> 8) & 1u ? kNaN : kInf;
        if (m_Inject == Inject::MinusInf && Hit(x))
            return -kInf;
        return m_P.fx(x);
    }

    golden::TestProblem& m_P;
    Inject m_Inject;
    uint64_t m_Seed;
    std::vector<double> m_X0;
    std::vector<double> m_Start;
    std::vector<double> m_H;
    bool m_bStartFinite = true;
};

struct Case {
    const char* problem;
    Inject inject;
    int method;
    Derivatives derivatives;
    Driver driver;
    uint64_t seed;
};

std::string Describe(const Case& c) {
    return std::string(c.problem) + ", " + Name(c.inject) + ", method " + std::to_string(c.method) + ", " +
           Name(c.derivatives) + ", " + Name(c.driver) + ", seed " + std::to_string(c.seed);
}

struct Outcome {
    int code = -1;
    int iterations = 0;
    int runs = 0;
    double f = 0.0; // value at the point the run reports
    bool pointFinite = true;
};

constexpr int kIterationLimit = 200;
constexpr int kToolIterationLimit = 100000;

// Runs one case (in the child) and lists the invariants it broke.
std::string CheckCase(const Case& c, Outcome* out = nullptr) {
    auto reference = MakeProblem(c.problem);
    HostileProblem problem(*reference, c.inject, c.seed);
    const bool gradient = c.derivatives != Derivatives::FiniteDifference;
    const bool hessian = c.derivatives == Derivatives::Analytic;
    const bool expensive = c.derivatives == Derivatives::Secant;

    VRNMinimizerTool tool; // holds the engine for every driver
    CVRNUnconstrainedMinimization& engine = tool.GetEngine();
    problem.engine = &engine;
    Outcome o;
    std::string failures;
    switch (c.driver) {
    case Driver::Engine:
        engine.Default();
        engine.SetImplementationOptions(gradient, hessian, expensive);
        engine.SetIterationCount(0);
        engine.Minimize(&problem, 1.0, kIterationLimit, c.method);
        o.iterations = engine.GetIterationCount();
        o.runs = 1;
        if (o.iterations > kIterationLimit)
            failures += " iteration limit exceeded;";
        break;
    case Driver::Step:
        tool.SetMinimizationMethodObject(&problem);
        tool.GetbUserDefinedGradient() = gradient ? 1 : 0;
        tool.GetbUserDefinedHessian() = hessian ? 1 : 0;
        tool.GetbFunctionExpensiveToCalculate() = expensive ? 1 : 0;
        tool.FirstStep(c.method);
        while (tool.bNextStep() && engine.GetIterationCount() < kIterationLimit)
            tool.NextStep();
        o.iterations = engine.GetIterationCount();
        o.runs = 1;
        if (o.iterations > kIterationLimit)
            failures += " iteration limit exceeded;";
        break;
    case Driver::Tool:
        tool.SetMinimizationMethodObject(&problem);
        tool.GetbUserDefinedGradient() = gradient ? 1 : 0;
        tool.GetbUserDefinedHessian() = hessian ? 1 : 0;
        tool.GetbFunctionExpensiveToCalculate() = expensive ? 1 : 0;
        tool.Minimize(c.method);
        o.iterations = problem.maxCount;
        o.runs = tool.GetRunCount();
        if (problem.maxCount > kToolIterationLimit)
            failures += " iteration limit exceeded;";
        if (o.runs < 1 || o.runs > 10)
            failures += " run count out of range;";
        break;
    }
    o.code = engine.GetCodeforTerminationCode();
    // The point the run reports: the judged candidate after a convergence or large-step
    // code of methods 1 to 3, the current point otherwise.
    const bool candidate =
        c.method != 4 && (o.code == GradientSmall || o.code == StepSizeSmall || o.code == TooManyLargeSteps);
    const double* x = candidate ? engine.GetXMin() : engine.GetX();
    o.f = candidate ? engine.GetFPlus() : engine.GetFx();
    for (int i = 0; i < reference->n; ++i)
        if (!std::isfinite(x[i]))
            o.pointFinite = false;

    if (o.code < OptimalSolution || o.code > AbortedByUser || o.code == OptionCheck ||
        o.code == AbortedByUser)
        failures += " code " + std::to_string(o.code) + " out of range;";
    if (problem.acceptedNonFinite)
        failures += " accepted a point whose value is not finite;";
    if (problem.committedNonFinite)
        failures += " CommitStep saw a point that is not finite;";
    if (!o.pointFinite)
        failures += " result point not finite;";
    if (!std::isfinite(o.f) && c.driver != Driver::Tool)
        failures += " result value not finite;";
    if (out)
        *out = o;
    return failures;
}

// The hostile table: every method with every kind of derivatives, as one engine run,
// in step mode and through the tool with restarts, on three reference problems.
std::vector<Case> HostileCases() {
    std::vector<Case> cases;
    const char* problems[] = {"rosenbrock", "quadratic", "extrosenbrock"};
    const Inject injections[] = {Inject::NaNOrPlusInf, Inject::MinusInf, Inject::GradientNaN,
                                 Inject::HessianNaN};
    const Derivatives derivatives[] = {Derivatives::Analytic, Derivatives::FiniteDifference,
                                       Derivatives::Secant};
    const Driver drivers[] = {Driver::Engine, Driver::Step, Driver::Tool};
    for (const char* problem : problems)
        for (Inject inject : injections)
            for (int method = 1; method <= 4; ++method)
                for (Derivatives d : derivatives)
                    for (Driver driver : drivers) {
                        // Conjugate gradients always use the analytic gradient and no
                        // Hessian, and have no step mode.
                        if (method == 4 && (d != Derivatives::Analytic || driver == Driver::Step))
                            continue;
                        // Injections into derivatives the run does not ask for change nothing.
                        const bool usesGradient = method == 4 || d != Derivatives::FiniteDifference;
                        const bool usesHessian = method != 4 && d == Derivatives::Analytic;
                        if (inject == Inject::GradientNaN && !usesGradient)
                            continue;
                        if (inject == Inject::HessianNaN && !usesHessian)
                            continue;
                        cases.push_back({problem, inject, method, d, driver, 0});
                    }
    // Points at which runs used to go round without end (found with these seeds).
    cases.push_back(
        {"rosenbrock", Inject::NaNOrPlusInf, 3, Derivatives::FiniteDifference, Driver::Engine, 5});
    cases.push_back({"rosenbrock", Inject::NaNOrPlusInf, 3, Derivatives::FiniteDifference, Driver::Tool, 5});
    cases.push_back(
        {"rosenbrock", Inject::NaNOrPlusInf, 1, Derivatives::FiniteDifference, Driver::Engine, 28});
    cases.push_back({"helical", Inject::NaNOrPlusInf, 3, Derivatives::FiniteDifference, Driver::Step, 29});
    return cases;
}

TEST(HostileObjectives, EveryRunEndsAndNeverAcceptsANonFiniteValue) {
    const std::vector<Case> cases = HostileCases();
    for (const Case& c : cases) {
        const std::string failures = RunInChild([&c] { return CheckCase(c); });
        EXPECT_EQ(failures, "") << Describe(c);
    }
}

// The runs reported in issue reports as never ending: each now ends at once with code 3.
TEST(HostileObjectives, ReportedEndlessRunsEndWithNoLowerPoint) {
    const Case cases[] = {
        {"tridiagonal", Inject::HessianNaN, 3, Derivatives::Analytic, Driver::Engine, 0},
        {"tridiagonal", Inject::GradientNaNAll, 3, Derivatives::Secant, Driver::Tool, 0},
        {"tridiagonal", Inject::GradientNaNAll, 3, Derivatives::DifferenceHessian, Driver::Tool, 0},
        {"tridiagonal", Inject::NaNOrPlusInf, 3, Derivatives::FiniteDifference, Driver::Tool, 5},
        {"rosenbrock", Inject::NaNOrPlusInf, 3, Derivatives::FiniteDifference, Driver::Tool, 5},
        {"extrosenbrock", Inject::NaNOrPlusInf, 3, Derivatives::FiniteDifference, Driver::Tool, 5},
    };
    for (const Case& c : cases) {
        const std::string report = RunInChild([&c] {
            Outcome o;
            std::string failures = CheckCase(c, &o);
            if (o.code != NoLowerPoint)
                failures += " code " + std::to_string(o.code) + " instead of 3;";
            return failures;
        });
        EXPECT_EQ(report, "") << Describe(c);
    }
}

// The dogleg on f = 1e120 (exp(-x0) + exp(-x1)) from (0, 0), where the gradient norm is
// 1.4e120: its intermediates overflow, and that is no step rather than a zero step
// accepted as convergence or a trial point that is not finite.
TEST(HostileObjectives, OverflowingDoglegIsNoSatisfactoryPoint) {
    for (Derivatives d : {Derivatives::Secant, Derivatives::Analytic, Derivatives::FiniteDifference}) {
        const Case c{"huge", Inject::None, 2, d, Driver::Engine, 0};
        const std::string failures = RunInChild([&c] {
            Outcome inner;
            std::string f = CheckCase(c, &inner);
            if (inner.code == GradientSmall || inner.code == StepSizeSmall)
                f += " reported convergence at a gradient of 1.4e120;";
            return f;
        });
        EXPECT_EQ(failures, "") << Describe(c);
    }
}

// Method 1 with f = -inf beyond x0 = 2: the full Newton step lands there. The line search
// backtracks to a finite value below f(x0) instead of returning -inf as the result.
TEST(HostileObjectives, LineSearchBacktracksFromMinusInfinity) {
    class Cliff : public CVRNMinimizationMethodBase {
    public:
        int NumberOfParameters() override { return 2; }
        void InitialParameters(double* const x0) override {
            x0[0] = 0.0;
            x0[1] = 0.0;
        }
        double Fx(double* const x) override {
            if (x[0] > 2.0)
                return -kInf;
            return (x[0] - 3.0) * (x[0] - 3.0) + (x[1] - 3.0) * (x[1] - 3.0);
        }
        void Gradient(double* const x, double* const g) override {
            g[0] = 2.0 * (x[0] - 3.0);
            g[1] = 2.0 * (x[1] - 3.0);
        }
        void Hessian(double* const, CMatrix& h) override {
            h[0][0] = 2.0;
            h[1][0] = 0.0;
            h[0][1] = 0.0;
            h[1][1] = 2.0;
        }
    };
    for (int method = 1; method <= 3; ++method) {
        Cliff problem;
        CVRNUnconstrainedMinimization engine;
        engine.Default();
        engine.Minimize(&problem, 1.0, 50, method);
        EXPECT_TRUE(std::isfinite(engine.GetFx())) << "method " << method;
        EXPECT_LT(engine.GetFx(), 18.0) << "method " << method;
        EXPECT_GE(engine.GetIterationCount(), 1) << "method " << method;
    }
}

// Without parameters every method refuses the run with the same row and code 6, also
// after an earlier run of the same engine ended with another code.
TEST(HostileObjectives, EveryMethodRefusesAnEmptyProblem) {
    for (int method = 1; method <= 4; ++method) {
        golden::Rosenbrock rosenbrock;
        HostileProblem earlier(rosenbrock, Inject::None, 0);
        golden::EmptyProblem empty;
        HostileProblem problem(empty, Inject::None, 0);
        CVRNUnconstrainedMinimization engine;
        engine.Default();
        engine.Minimize(&earlier, 1.0, 100, method);
        ASSERT_NE(engine.GetCodeforTerminationCode(), OptionCheck) << method;
        CVRNStatusView view;
        engine.SetStatusView(&view);
        engine.Default();
        engine.Minimize(&problem, 1.0, 100, method);
        EXPECT_EQ(engine.GetCodeforTerminationCode(), OptionCheck) << method;
        ASSERT_GE(view.GetRowCount(), 1) << method;
        EXPECT_STREQ(view.GetRowText(0), "OPTCHK   Illegal dimension, n = 0") << method;
    }
}

} // namespace
