// Whole runs: every method (1 line search, 2 double dogleg, 3 More-Hebden) with an
// analytic or finite-difference gradient and an analytic, finite-difference or secant
// Hessian reaches the known minimum of the reference problems.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "minimize/UnconstrainedMinimization.h"
#include "problems/ProblemAdapter.h"
#include "problems/ReferenceProblems.h"

namespace {

enum class HessianMode { Analytic, FiniteDifference, Secant };

struct RunCase {
    int method;
    bool gradient;
    HessianMode hessian;
};

struct Target {
    std::string problem;
    std::vector<double> xmin;
    double tolerance; // on each component of x
};

const char* HessianName(HessianMode h) {
    return h == HessianMode::Analytic ? "HAnalytic" : h == HessianMode::Secant ? "HSecant" : "HFd";
}

std::string CaseName(const RunCase& c) {
    std::string name("M");
    name += static_cast<char>('0' + c.method);
    name += c.gradient ? "_GAnalytic_" : "_GFd_";
    name += HessianName(c.hessian);
    return name;
}

std::string Describe(const RunCase& c, const std::string& problem) {
    std::string text(problem);
    text += ' ';
    text += CaseName(c);
    return text;
}

class MethodCombinations : public ::testing::TestWithParam<RunCase> {};

TEST_P(MethodCombinations, ReachKnownMinimum) {
    const RunCase c = GetParam();
    const std::vector<Target> targets = {
        {"rosenbrock", {1.0, 1.0}, 1e-4},
        {"extrosenbrock", std::vector<double>(10, 1.0), 1e-4},
        {"wood", {1.0, 1.0, 1.0, 1.0}, 1e-4},
        {"beale", {3.0, 0.5}, 1e-4},
        {"helical", {1.0, 0.0, 0.0}, 1e-4},
        // The relative gradient test stops within about gradtl/(smallest curvature).
        {"quadratic", {1.0, -2.0, 3.0}, 1e-5},
        {"onedim", {2.0}, 1e-5},
        // Singular at the minimum: convergence is linear and the point less sharp.
        {"powell", {0.0, 0.0, 0.0, 0.0}, 2e-2},
    };
    for (const Target& t : targets) {
        auto reference = golden::MakeTestProblem(t.problem);
        ASSERT_TRUE(reference);
        vrn_problems::CountingProblem problem(*reference);
        CVRNUnconstrainedMinimization e;
        e.Default();
        e.SetImplementationOptions(c.gradient, c.hessian == HessianMode::Analytic,
                                   c.hessian == HessianMode::Secant);
        e.Minimize(&problem, 1.0, 10000, c.method);
        const std::string what = Describe(c, t.problem);
        const int code = e.GetCodeforTerminationCode();
        EXPECT_TRUE(code == GradientSmall || code == StepSizeSmall) << what << ": code " << code;
        const double* x = e.GetXMin();
        for (size_t i = 0; i < t.xmin.size(); ++i)
            EXPECT_NEAR(x[i], t.xmin[i], t.tolerance) << what << ": x[" << i << "]";
        if (c.hessian != HessianMode::Analytic) {
            EXPECT_EQ(problem.nhev, 0) << what;
        }
        if (!c.gradient) {
            EXPECT_EQ(problem.ngev, 0) << what;
        }
    }
}

std::vector<RunCase> AllCases() {
    std::vector<RunCase> cases;
    for (int method = 1; method <= 3; ++method)
        for (bool gradient : {true, false})
            for (HessianMode h : {HessianMode::Analytic, HessianMode::FiniteDifference, HessianMode::Secant})
                cases.push_back({method, gradient, h});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllMethods, MethodCombinations, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<RunCase>& info) { return CaseName(info.param); });

// The expensive flag keeps the Hessian by secant updates even when the problem offers
// an analytic one: the problem's Hessian is never asked for.
TEST(SecantRuns, ExpensiveFlagWinsOverAnalyticHessian) {
    for (int method = 1; method <= 3; ++method) {
        golden::Rosenbrock reference;
        vrn_problems::CountingProblem problem(reference);
        CVRNUnconstrainedMinimization e;
        e.Default();
        e.SetImplementationOptions(true, true, true);
        e.Minimize(&problem, 1.0, 10000, method);
        EXPECT_EQ(problem.nhev, 0) << method;
        const int code = e.GetCodeforTerminationCode();
        EXPECT_TRUE(code == GradientSmall || code == StepSizeSmall) << method << ": " << code;
        EXPECT_NEAR(e.GetXMin()[0], 1.0, 1e-4) << method;
    }
}

// A NaN region next to the path: trust-region methods shrink the radius and go round
// it instead of accepting a NaN point.
TEST(TrustRegionRuns, NaNValuesNeverBecomeTheIterate) {
    class Fenced : public golden::TestProblem {
    public:
        Fenced() : TestProblem({-1.2, 1.0}) {}
        double fx(const double* x) const override {
            if (x[0] > 1.5)
                return NAN;
            const double t1 = x[1] - x[0] * x[0];
            const double t2 = 1.0 - x[0];
            return 100.0 * t1 * t1 + t2 * t2;
        }
        void grad(const double* x, double* g) const override {
            const double t1 = x[1] - x[0] * x[0];
            const double t2 = 1.0 - x[0];
            g[0] = -400.0 * x[0] * t1 - 2.0 * t2;
            g[1] = 200.0 * t1;
        }
        void hess(const double* x, double* h) const override {
            h[0] = 1200.0 * x[0] * x[0] - 400.0 * x[1] + 2.0;
            h[1] = -400.0 * x[0];
            h[2] = h[1];
            h[3] = 200.0;
        }
    };
    for (int method = 2; method <= 3; ++method) {
        Fenced reference;
        vrn_problems::CountingProblem problem(reference);
        CVRNUnconstrainedMinimization e;
        e.Default();
        e.SetImplementationOptions(true, true, false);
        e.SetTrustRadius(100.0); // the first trial lands in the NaN region
        e.Minimize(&problem, 1.0, 10000, method);
        EXPECT_TRUE(std::isfinite(e.GetFPlus())) << method;
        const int code = e.GetCodeforTerminationCode();
        EXPECT_TRUE(code == GradientSmall || code == StepSizeSmall) << method << ": " << code;
        EXPECT_NEAR(e.GetXMin()[0], 1.0, 1e-4) << method;
    }
}

} // namespace
