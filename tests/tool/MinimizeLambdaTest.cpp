// vrn::Minimize: lambdas in, the engine's results and the callables' own counts out.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "minimize/UnconstrainedMinimization.h"
#include "problems/ProblemAdapter.h"
#include "tool/Minimize.h"
#include "tool/MinimizerTool.h"

namespace {

// Rosenbrock written as lambdas, each counting its own calls.
struct RosenbrockLambdas {
    long nf = 0, ng = 0, nh = 0;
    vrn::Objective f = [this](std::span<const double> x) {
        ++nf;
        const double t1 = x[1] - x[0] * x[0];
        const double t2 = 1.0 - x[0];
        return 100.0 * t1 * t1 + t2 * t2;
    };
    vrn::GradientFunction g = [this](std::span<const double> x, std::span<double> out) {
        ++ng;
        const double t1 = x[1] - x[0] * x[0];
        const double t2 = 1.0 - x[0];
        out[0] = -400.0 * x[0] * t1 - 2.0 * t2;
        out[1] = 200.0 * t1;
    };
    vrn::HessianFunction h = [this](std::span<const double> x, std::span<double> out) {
        ++nh;
        const double h00 = 1200.0 * x[0] * x[0] - 400.0 * x[1] + 2.0;
        const double h01 = -400.0 * x[0];
        out[0] = h00;
        out[1] = h01;
        out[2] = h01;
        out[3] = 200.0;
    };
};

const std::vector<double> kStart = {-1.2, 1.0};

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

void ExpectNearOneOne(const vrn::MinimizeResult& r, double tol) {
    ASSERT_EQ(r.x.size(), 2u);
    EXPECT_NEAR(r.x[0], 1.0, tol);
    EXPECT_NEAR(r.x[1], 1.0, tol);
}

std::vector<std::string> ReadRows(const std::string& path) {
    std::vector<std::string> rows;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line))
        rows.push_back(line);
    return rows;
}

// The run with every derivative the method uses (the conjugate-gradient method takes no
// Hessian).
vrn::MinimizeResult WithDerivatives(RosenbrockLambdas& p, const vrn::MinimizeOptions& o) {
    return o.method == 4 ? vrn::Minimize(p.f, p.g, kStart, o) : vrn::Minimize(p.f, p.g, p.h, kStart, o);
}

} // namespace

// ---- Every method solves Rosenbrock; the counts are those the lambdas saw ----

class MinimizeEveryMethod : public ::testing::TestWithParam<int> {};

TEST_P(MinimizeEveryMethod, AnalyticDerivatives) {
    RosenbrockLambdas p;
    vrn::MinimizeOptions o;
    o.method = GetParam();
    const vrn::MinimizeResult r = WithDerivatives(p, o);
    EXPECT_TRUE(r.Converged()) << r.code << " " << r.message;
    ExpectNearOneOne(r, 1e-4);
    EXPECT_LT(r.f, 1e-8);
    EXPECT_GT(r.iterations, 0);
    EXPECT_EQ(r.runs, 1);
    EXPECT_EQ(r.evaluations.f, p.nf);
    EXPECT_EQ(r.evaluations.gradient, p.ng);
    EXPECT_EQ(r.evaluations.hessian, p.nh);
    EXPECT_GT(p.ng, 0);
    if (GetParam() == 4)
        EXPECT_EQ(p.nh, 0); // the conjugate-gradient method needs no Hessian
    else
        EXPECT_GT(p.nh, 0);
}

TEST_P(MinimizeEveryMethod, ObjectiveOnly) {
    RosenbrockLambdas p;
    vrn::MinimizeOptions o;
    o.method = GetParam();
    const vrn::MinimizeResult r = vrn::Minimize(p.f, kStart, o);
    EXPECT_TRUE(r.Converged()) << r.code << " " << r.message;
    ExpectNearOneOne(r, 1e-3);
    EXPECT_EQ(r.evaluations.f, p.nf);
    EXPECT_EQ(r.evaluations.gradient, 0);
    EXPECT_EQ(r.evaluations.hessian, 0);
}

TEST_P(MinimizeEveryMethod, SecantUpdates) {
    RosenbrockLambdas p;
    vrn::MinimizeOptions o;
    o.method = GetParam();
    o.expensive = true;
    const vrn::MinimizeResult r = vrn::Minimize(p.f, p.g, kStart, o);
    if (GetParam() == 4) {
        // Method 4 keeps no Hessian: the flag is refused rather than ignored.
        EXPECT_EQ(r.code, 6);
        EXPECT_EQ(
            r.message,
            "expensive is not used by method 4 (Polak-Ribiere conjugate gradient): methods 1, 2, 3 only");
        EXPECT_EQ(p.nf, 0);
        return;
    }
    EXPECT_TRUE(r.Converged()) << r.code << " " << r.message;
    ExpectNearOneOne(r, 1e-3);
    EXPECT_EQ(r.evaluations.f, p.nf);
    EXPECT_EQ(r.evaluations.gradient, p.ng);
    EXPECT_EQ(r.evaluations.hessian, 0);
}

TEST_P(MinimizeEveryMethod, ToolDriver) {
    RosenbrockLambdas p;
    vrn::MinimizeOptions o;
    o.method = GetParam();
    o.driver = vrn::Driver::Tool;
    const vrn::MinimizeResult r = WithDerivatives(p, o);
    EXPECT_TRUE(r.Converged()) << r.code << " " << r.message;
    ExpectNearOneOne(r, 1e-4);
    EXPECT_GE(r.runs, 1);
    EXPECT_LE(r.runs, 10);
    EXPECT_EQ(r.evaluations.f, p.nf);
    EXPECT_EQ(r.evaluations.gradient, p.ng);
    EXPECT_EQ(r.evaluations.hessian, p.nh);
}

INSTANTIATE_TEST_SUITE_P(Methods, MinimizeEveryMethod, ::testing::Values(1, 2, 3, 4));

// ---- A thin adapter: the same numbers as the engine run on a problem class ----

class MinimizeMatchesEngine : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(MinimizeMatchesEngine, BitForBit) {
    const auto [method, analytic] = GetParam();
    golden::Rosenbrock reference;
    vrn_problems::CountingProblem problem(reference);
    CVRNUnconstrainedMinimization e;
    e.Default();
    e.SetImplementationOptions(analytic, analytic, false);
    e.Minimize(&problem, 1.0, 10000, method);
    const int code = e.GetCodeforTerminationCode();
    std::vector<double> x;
    double f = 0.0;
    if (method == 4) {
        x.assign(e.GetX(), e.GetX() + 2);
        f = code == StepSizeSmall ? e.GetFPlus() : e.GetFx();
    } else {
        x.assign(e.GetXMin(), e.GetXMin() + 2);
        f = e.GetFPlus();
    }

    RosenbrockLambdas p;
    vrn::MinimizeOptions o;
    o.method = method;
    o.itnlim = 10000;
    if (method != 4)
        o.expensive = false; // the engine run above evaluates (or differences) the Hessian
    const vrn::MinimizeResult r = !analytic     ? vrn::Minimize(p.f, kStart, o)
                                  : method == 4 ? vrn::Minimize(p.f, p.g, kStart, o)
                                                : vrn::Minimize(p.f, p.g, p.h, kStart, o);
    EXPECT_EQ(r.code, code);
    // Method 4's gradient test stops on a line minimization it does not count.
    EXPECT_EQ(r.iterations, e.GetIterationCount() + (method == 4 && code == GradientSmall ? 1 : 0));
    EXPECT_TRUE(SameBits(r.x, x));
    EXPECT_TRUE(SameBits(r.f, f));
    // The counts are the engine's plus what the verdict evaluated at the end point.
    EXPECT_EQ(r.evaluations.f - r.verdict.evaluations.f, problem.nfev);
    EXPECT_EQ(r.evaluations.gradient - r.verdict.evaluations.gradient, problem.ngev);
    EXPECT_EQ(r.evaluations.hessian - r.verdict.evaluations.hessian, problem.nhev);
    EXPECT_EQ(r.message + "\n", std::string(e.GetTerminationCode()));
}

INSTANTIATE_TEST_SUITE_P(Methods, MinimizeMatchesEngine,
                         ::testing::Values(std::make_tuple(1, true), std::make_tuple(2, true),
                                           std::make_tuple(3, true), std::make_tuple(4, true),
                                           std::make_tuple(1, false), std::make_tuple(2, false),
                                           std::make_tuple(3, false)));

TEST(MinimizeLog, CapturedRowsAreTheEngineLogAndArriveAsProduced) {
    RosenbrockLambdas p;
    vrn::MinimizeOptions o;
    o.method = 1;
    o.itnlim = 10000; // as the reference run
    o.captureLog = true;
    std::vector<std::string> streamed;
    long fAtFirstIterationRow = -1;
    o.onLogRow = [&](const std::string& row) {
        streamed.push_back(row);
        if (row == "Iteration Number :  1" && fAtFirstIterationRow < 0)
            fAtFirstIterationRow = p.nf;
    };
    const vrn::MinimizeResult r = vrn::Minimize(p.f, p.g, p.h, kStart, o);
    const std::vector<std::string> want =
        ReadRows(std::string(VRN_TEST_DATA) + "/rosenbrock-m1-analytic.rows");
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(r.log, want);
    EXPECT_EQ(streamed, want);
    // The first iteration's row was handed on before that iteration evaluated anything.
    EXPECT_EQ(fAtFirstIterationRow, 1);
}

TEST(MinimizeLog, NothingIsCapturedUnlessAsked) {
    RosenbrockLambdas p;
    const vrn::MinimizeResult r = vrn::Minimize(p.f, p.g, p.h, kStart);
    EXPECT_TRUE(r.log.empty());
    EXPECT_TRUE(r.Converged());
}

TEST(MinimizeLog, ToolDriverReproducesTheReferenceRestartLog) {
    RosenbrockLambdas p;
    vrn::MinimizeOptions o;
    o.method = 3;
    o.driver = vrn::Driver::Tool;
    o.captureLog = true;
    const vrn::MinimizeResult r = vrn::Minimize(p.f, p.g, p.h, kStart, o);
    EXPECT_EQ(r.log, ReadRows(std::string(VRN_TEST_DATA) + "/rosenbrock-m3-tool-restart.rows"));
    EXPECT_EQ(r.runs, 2);
    // The reference counts, and the one Hessian the verdict evaluated at the end point.
    EXPECT_EQ(r.evaluations.f - r.verdict.evaluations.f, 50);
    EXPECT_EQ(r.evaluations.gradient - r.verdict.evaluations.gradient, 24);
    EXPECT_EQ(r.evaluations.hessian - r.verdict.evaluations.hessian, 22);
    EXPECT_EQ(r.verdict.evaluations.hessian, 1);
}

// ---- The per-iteration callback ----

TEST(MinimizeCallback, SeesEveryAcceptedStepInOrderEndingAtTheResult) {
    for (int method = 1; method <= 3; method++) {
        RosenbrockLambdas p;
        vrn::MinimizeOptions o;
        o.method = method;
        std::vector<int> iterations;
        std::vector<double> values;
        std::vector<double> lastX, lastG;
        o.onIteration = [&](int k, std::span<const double> x, double f, std::span<const double> g) {
            iterations.push_back(k);
            values.push_back(f);
            lastX.assign(x.begin(), x.end());
            lastG.assign(g.begin(), g.end());
            return true;
        };
        const vrn::MinimizeResult r = vrn::Minimize(p.f, p.g, p.h, kStart, o);
        ASSERT_TRUE(r.Converged()) << method;
        ASSERT_EQ(static_cast<int>(iterations.size()), r.iterations) << method;
        for (size_t i = 0; i < iterations.size(); i++)
            EXPECT_EQ(iterations[i], static_cast<int>(i) + 1);
        for (size_t i = 1; i < values.size(); i++)
            EXPECT_LE(values[i], values[i - 1]) << method;
        EXPECT_TRUE(SameBits(lastX, r.x)) << method;
        EXPECT_TRUE(SameBits(values.back(), r.f)) << method;
        // The gradient handed over is the gradient at the point.
        std::vector<double> g(2);
        p.g(lastX, g);
        EXPECT_TRUE(SameBits(lastG, g)) << method;
    }
}

TEST(MinimizeCallback, ReturningFalseStopsTheRunWithCodeSeven) {
    for (int method = 1; method <= 4; method++) {
        for (vrn::Driver driver : {vrn::Driver::Engine, vrn::Driver::Tool, vrn::Driver::Step}) {
            if (driver == vrn::Driver::Step && method == 4)
                continue;
            RosenbrockLambdas p;
            vrn::MinimizeOptions o;
            o.method = method;
            o.driver = driver;
            int calls = 0;
            std::vector<double> thirdX;
            o.onIteration = [&](int k, std::span<const double> x, double, std::span<const double>) {
                ++calls;
                if (k < 3)
                    return true;
                thirdX.assign(x.begin(), x.end());
                return false;
            };
            const vrn::MinimizeResult r = WithDerivatives(p, o);
            const std::string where =
                "method " + std::to_string(method) + " driver " + std::to_string(static_cast<int>(driver));
            EXPECT_EQ(r.code, 7) << where;
            EXPECT_EQ(r.message, "Aborted by User") << where;
            EXPECT_EQ(calls, 3) << where;
            EXPECT_EQ(r.runs, 1) << where;
            EXPECT_TRUE(SameBits(r.x, thirdX)) << where;
            if (method != 4) {
                EXPECT_EQ(r.iterations, 3) << where;
            }
        }
    }
}

TEST(MinimizeCallback, ConjugateGradientReportsEachLineMinimization) {
    RosenbrockLambdas p;
    vrn::MinimizeOptions o;
    o.method = 4;
    std::vector<int> iterations;
    o.onIteration = [&](int k, std::span<const double> x, double f, std::span<const double> g) {
        iterations.push_back(k);
        std::vector<double> xv(x.begin(), x.end()), gv(2);
        EXPECT_TRUE(SameBits(f, p.f(xv)));
        p.g(xv, gv);
        EXPECT_TRUE(SameBits(std::vector<double>(g.begin(), g.end()), gv));
        return true;
    };
    const vrn::MinimizeResult r = vrn::Minimize(p.f, p.g, kStart, o);
    ASSERT_TRUE(r.Converged());
    ASSERT_FALSE(iterations.empty());
    for (size_t i = 0; i < iterations.size(); i++)
        EXPECT_EQ(iterations[i], static_cast<int>(i) + 1);
}

// ---- Drivers ----

TEST(MinimizeDrivers, StepModeReachesTheSamePointAsOneRun) {
    for (int method = 1; method <= 3; method++) {
        RosenbrockLambdas a, b;
        vrn::MinimizeOptions o;
        o.method = method;
        std::vector<std::vector<double>> runPoints, stepPoints;
        o.onIteration = [&](int, std::span<const double> x, double, std::span<const double>) {
            runPoints.emplace_back(x.begin(), x.end());
            return true;
        };
        const vrn::MinimizeResult run = vrn::Minimize(a.f, a.g, a.h, kStart, o);
        o.driver = vrn::Driver::Step;
        o.onIteration = [&](int, std::span<const double> x, double, std::span<const double>) {
            stepPoints.emplace_back(x.begin(), x.end());
            return true;
        };
        const vrn::MinimizeResult step = vrn::Minimize(b.f, b.g, b.h, kStart, o);
        EXPECT_EQ(step.code, run.code) << method;
        EXPECT_EQ(step.iterations, run.iterations) << method;
        EXPECT_TRUE(SameBits(step.x, run.x)) << method;
        EXPECT_TRUE(SameBits(step.f, run.f)) << method;
        EXPECT_EQ(step.evaluations.f, run.evaluations.f) << method;
        ASSERT_EQ(stepPoints.size(), runPoints.size()) << method;
        for (size_t i = 0; i < runPoints.size(); i++)
            EXPECT_TRUE(SameBits(stepPoints[i], runPoints[i]));
    }
}

TEST(MinimizeDrivers, IterationLimitIsNotReportedAsConvergence) {
    for (vrn::Driver driver : {vrn::Driver::Engine, vrn::Driver::Step}) {
        RosenbrockLambdas p;
        vrn::MinimizeOptions o;
        o.driver = driver;
        o.itnlim = 3;
        const vrn::MinimizeResult r = vrn::Minimize(p.f, p.g, p.h, kStart, o);
        EXPECT_EQ(r.code, 4);
        EXPECT_EQ(r.message, "WARNING --- too many iterations");
        EXPECT_EQ(r.iterations, 3);
        EXPECT_FALSE(r.Converged());
    }
}

TEST(MinimizeDrivers, ToolRestartsFromWhereTheLastRunEnded) {
    RosenbrockLambdas p;
    vrn::MinimizeOptions o;
    o.driver = vrn::Driver::Tool;
    std::vector<std::vector<double>> firstPoints;
    int lastK = 0;
    o.onIteration = [&](int k, std::span<const double> x, double, std::span<const double>) {
        if (k <= lastK)
            firstPoints.emplace_back(x.begin(), x.end()); // a new run began
        lastK = k;
        return true;
    };
    const vrn::MinimizeResult r = vrn::Minimize(p.f, p.g, p.h, kStart, o);
    EXPECT_EQ(r.runs, 2);
    // Rosenbrock's second run starts at the first run's result, which already passes
    // the gradient test: it takes no iteration, so no new run is seen by the callback.
    EXPECT_TRUE(firstPoints.empty());
    EXPECT_EQ(r.code, 1);
}

// ---- Options ----

TEST(MinimizeOptions, NumericOptionsReachTheEngine) {
    RosenbrockLambdas p;
    vrn::MinimizeOptions o;
    o.captureLog = true;
    o.typicalX = {2.0, 4.0};
    o.gradientTolerance = 1e-2;
    o.stepTolerance = 1e-3;
    o.maximumStep = 7.5;
    o.trustRadius = 0.5;
    const vrn::MinimizeResult r = vrn::Minimize(p.f, p.g, p.h, kStart, o);
    auto has = [&](const std::string& row) {
        for (const std::string& l : r.log)
            if (l == row)
                return true;
        return false;
    };
    EXPECT_TRUE(has("1 -- 2     2.000000  4.000000  ")) << "typical x row";
    EXPECT_TRUE(has("OPTDRV      Gradient tolerance = 1.000000e-02"));
    EXPECT_TRUE(has("OPTDRV      Step tolerance = 0.001000"));
    EXPECT_TRUE(has("OPTDRV      Maximum step size = 7.500000"));
    EXPECT_TRUE(has("OPTDRV      Trust region radius = 0.500000"));
}

TEST(MinimizeOptions, RefusedRequestsEvaluateNothing) {
    struct Case {
        vrn::MinimizeOptions o;
        std::vector<double> x0;
    };
    std::vector<Case> cases;
    cases.push_back({vrn::MinimizeOptions{}, {}});
    vrn::MinimizeOptions bad;
    bad.method = 0;
    cases.push_back({bad, kStart});
    bad.method = 5;
    cases.push_back({bad, kStart});
    bad.method = 4;
    bad.driver = vrn::Driver::Step;
    cases.push_back({bad, kStart});
    vrn::MinimizeOptions typ;
    typ.typicalX = {1.0, 2.0, 3.0};
    cases.push_back({typ, kStart});
    for (const Case& c : cases) {
        RosenbrockLambdas p;
        const vrn::MinimizeResult r = vrn::Minimize(p.f, p.g, p.h, c.x0, c.o);
        EXPECT_EQ(r.code, 6);
        EXPECT_FALSE(r.message.empty());
        EXPECT_EQ(p.nf + p.ng + p.nh, 0);
        EXPECT_EQ(r.evaluations.f, 0);
    }
    const vrn::MinimizeResult none = vrn::Minimize(vrn::Objective(), kStart);
    EXPECT_EQ(none.code, 6);
}

TEST(MinimizeOptions, CheckGradientReportsAWrongGradient) {
    RosenbrockLambdas p;
    vrn::GradientFunction wrong = [&](std::span<const double> x, std::span<double> g) {
        p.g(x, g);
        g[1] = g[1] + 50.0;
    };
    vrn::MinimizeOptions o;
    o.checkGradient = true;
    o.captureLog = true;
    o.itnlim = 1;
    const vrn::MinimizeResult r = vrn::Minimize(p.f, wrong, p.h, kStart, o);
    bool warned = false;
    for (const std::string& l : r.log)
        warned = warned || l == "There appears to be an error in the coding of the Gradient method.";
    EXPECT_TRUE(warned);
}

// ---- The difference gradient of method 4 ----

TEST(MinimizeCentralDifferences, StepsAreCubeRootOfEpsilonTimesMagnitude) {
    std::vector<std::vector<double>> points;
    const vrn::Objective quadratic = [&](std::span<const double> x) {
        points.emplace_back(x.begin(), x.end());
        return 3.0 * x[0] * x[0] + x[0] * x[1] - 2.0 * x[1];
    };
    std::vector<double> x = {10.0, -0.25};
    std::vector<double> g(2);
    const long calls = vrn::CentralDifferenceGradient(quadratic, x, g);
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(x, (std::vector<double>{10.0, -0.25})); // restored
    const double root = std::pow(DBL_EPSILON, 1.0 / 3.0);
    const double h0 = root * 10.0; // |x0| > 1
    const double h1 = root * 1.0;  // |x1| < 1: the step does not shrink below eps^(1/3)
    ASSERT_EQ(points.size(), 4u);
    EXPECT_EQ(points[0], (std::vector<double>{10.0 + h0, -0.25}));
    EXPECT_EQ(points[1], (std::vector<double>{10.0 - h0, -0.25}));
    EXPECT_EQ(points[2], (std::vector<double>{10.0, -0.25 + h1}));
    EXPECT_EQ(points[3], (std::vector<double>{10.0, -0.25 - h1}));
    // Central differences of a quadratic are exact up to rounding.
    EXPECT_NEAR(g[0], 60.0 - 0.25, 1e-7);
    EXPECT_NEAR(g[1], 10.0 - 2.0, 1e-7);
}

TEST(MinimizeCentralDifferences, MethodFourWithoutGradientCountsTwoCallsPerComponent) {
    long nf = 0;
    const vrn::Objective f = [&](std::span<const double> x) {
        ++nf;
        return (x[0] - 1.0) * (x[0] - 1.0) + 3.0 * (x[1] + 2.0) * (x[1] + 2.0);
    };
    vrn::MinimizeOptions o;
    o.method = 4;
    int reports = 0;
    o.onIteration = [&](int, std::span<const double>, double, std::span<const double> g) {
        ++reports;
        EXPECT_TRUE(std::isfinite(g[0]) && std::isfinite(g[1]));
        return true;
    };
    const vrn::MinimizeResult r = vrn::Minimize(f, {0.0, 0.0}, o);
    EXPECT_TRUE(r.Converged()) << r.message;
    EXPECT_NEAR(r.x[0], 1.0, 1e-5);
    EXPECT_NEAR(r.x[1], -2.0, 1e-5);
    EXPECT_EQ(r.evaluations.f, nf);
    EXPECT_EQ(r.evaluations.gradient, 0);
    EXPECT_GT(reports, 0);
}
