// The run report (vrn::WriteReport / ReportHtml), the records it is drawn from and the
// engine's model Hessian accessor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "host/matrix/Matrix.h"
#include "minimize/UnconstrainedMinimization.h"
#include "tool/Minimize.h"
#include "tool/Report.h"

namespace {

bool Has(const std::string& s, const std::string& what) {
    return s.find(what) != std::string::npos;
}

double Rosenbrock(std::span<const double> x) {
    const double a = x[1] - x[0] * x[0], b = 1.0 - x[0];
    return 100.0 * a * a + b * b;
}
void RosenbrockGradient(std::span<const double> x, std::span<double> g) {
    const double a = x[1] - x[0] * x[0];
    g[0] = -400.0 * x[0] * a - 2.0 * (1.0 - x[0]);
    g[1] = 200.0 * a;
}

// f = sum (i+1) x_i^2 + x0 x1: a constant Hessian to compare with.
double Bowl(std::span<const double> x) {
    double f = x[0] * x[1];
    for (size_t i = 0; i < x.size(); i++)
        f += static_cast<double>(i + 1) * x[i] * x[i];
    return f;
}
void BowlGradient(std::span<const double> x, std::span<double> g) {
    for (size_t i = 0; i < x.size(); i++)
        g[i] = 2.0 * static_cast<double>(i + 1) * x[i];
    g[0] += x[1];
    g[1] += x[0];
}
void BowlHessian(std::span<const double> x, std::span<double> h) {
    const size_t n = x.size();
    for (size_t i = 0; i < n; i++)
        h[i * n + i] = 2.0 * static_cast<double>(i + 1);
    h[1 * n + 0] = 1.0;
}

// ---------------------------------------------------------------- model Hessian

struct HessianCase {
    int method;
    bool expensive;
    bool analyticHessian;
    int itnlim;
    bool exact; // the model equals the true Hessian
};

class ModelHessian : public ::testing::TestWithParam<HessianCase> {};

TEST_P(ModelHessian, IsTheSymmetricHessianNotTheFactorAndLeavesTheEngineAlone) {
    const HessianCase& c = GetParam();
    const std::vector<double> x0 = {1.0, -2.0, 0.5};
    vrn::MinimizeOptions o;
    o.method = c.method;
    o.expensive = c.expensive;
    o.itnlim = c.itnlim;
    o.recordIterations = true;
    bool unchanged = true;
    o.onEngine = [&](CVRNUnconstrainedMinimization& e, bool finished) {
        if (!finished)
            return;
        const CMatrix before = e.GetHessian();
        const CMatrix a = e.GetModelHessian();
        const CMatrix b = e.GetModelHessian();
        const CMatrix& after = e.GetHessian();
        for (int i = 0; i < before.GetRows(); i++)
            for (int j = 0; j < before.GetCols(); j++)
                unchanged = unchanged && before[i][j] == after[i][j];
        for (int i = 0; i < a.GetRows(); i++)
            for (int j = 0; j < a.GetCols(); j++)
                unchanged = unchanged && a[i][j] == b[i][j];
    };
    const vrn::MinimizeResult r =
        vrn::Minimize(Bowl, BowlGradient,
                      c.analyticHessian ? vrn::HessianFunction(BowlHessian) : vrn::HessianFunction(), x0, o);
    EXPECT_TRUE(unchanged);
    if (c.method == 4) {
        EXPECT_TRUE(r.hessian.empty());
        return;
    }
    ASSERT_EQ(r.hessian.size(), 9u);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            EXPECT_EQ(r.hessian[static_cast<size_t>(i * 3 + j)], r.hessian[static_cast<size_t>(j * 3 + i)]);
    const double truth[9] = {2, 1, 0, 1, 4, 0, 0, 0, 6};
    if (c.exact) {
        for (int k = 0; k < 9; k++)
            EXPECT_NEAR(r.hessian[static_cast<size_t>(k)], truth[k], 1e-5) << k;
    }
    // Positive diagonal whatever the storage (a factor would still be positive, but its
    // off-diagonal entry (1,0) would be 1/sqrt(2), not 1).
    for (int i = 0; i < 3; i++)
        EXPECT_GT(r.hessian[static_cast<size_t>(i * 4)], 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, ModelHessian,
    ::testing::Values(HessianCase{1, false, true, 100, true}, HessianCase{2, false, true, 100, true},
                      HessianCase{3, false, true, 100, true}, HessianCase{3, false, false, 100, true},
                      HessianCase{3, false, true, 0, true}, // stopped before its first step
                      HessianCase{1, true, false, 100, false}, HessianCase{2, true, false, 100, false},
                      HessianCase{3, true, false, 100, false}, HessianCase{4, false, false, 100, false}));

TEST(ModelHessianEngine, EmptyBeforeAnyRun) {
    CVRNUnconstrainedMinimization engine;
    EXPECT_EQ(engine.GetModelHessian().GetRows(), 0);
}

// ---------------------------------------------------------------- eigenvalues

struct EigenCase {
    std::vector<double> a;
    int n;
    std::vector<double> expected; // empty: refused
};

class Eigenvalues : public ::testing::TestWithParam<EigenCase> {};

TEST_P(Eigenvalues, MatchTheKnownSpectrum) {
    const EigenCase& c = GetParam();
    const std::vector<double> ev = vrn::SymmetricEigenvalues(c.a, c.n);
    ASSERT_EQ(ev.size(), c.expected.size());
    for (size_t i = 0; i < ev.size(); i++)
        EXPECT_NEAR(ev[i], c.expected[i], 1e-9 * (1 + std::fabs(c.expected[i])));
}

INSTANTIATE_TEST_SUITE_P(Matrices, Eigenvalues,
                         ::testing::Values(EigenCase{{2, 1, 1, 2}, 2, {1, 3}}, EigenCase{{5}, 1, {5}},
                                           EigenCase{{3, 0, 0, 0, -1, 0, 0, 0, 2}, 3, {-1, 2, 3}},
                                           EigenCase{{802, -400, -400, 200},
                                                     2,
                                                     {100.0 * (5.01 - std::sqrt(5.01 * 5.01 - 0.04)),
                                                      100.0 * (5.01 + std::sqrt(5.01 * 5.01 - 0.04))}},
                                           EigenCase{{1, NAN, NAN, 1}, 2, {}}, EigenCase{{1, 2, 3}, 2, {}},
                                           EigenCase{{}, 0, {}}));

TEST(EigenvaluesTrace, SumIsTheTraceAndProductTheDeterminant) {
    const std::vector<double> a = {4, 1, 2, 1, 3, 0, 2, 0, 5};
    const std::vector<double> ev = vrn::SymmetricEigenvalues(a, 3);
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_NEAR(ev[0] + ev[1] + ev[2], 12.0, 1e-12);
    EXPECT_NEAR(ev[0] * ev[1] * ev[2], 4 * 15 - 1 * 5 + 2 * (0 - 6), 1e-9);
}

// ---------------------------------------------------------------- the page

enum class Run {
    Rosenbrock,
    RosenbrockMethod4,
    RosenbrockStep,
    Wide15,
    OneParameter,
    NaNLater,
    NoRecords,
    Checked
};

struct PageCase {
    Run run;
    std::vector<const char*> present;
    std::vector<const char*> absent;
};

vrn::MinimizeResult Make(Run run, vrn::ReportOptions& ro) {
    vrn::MinimizeOptions o;
    o.recordIterations = true;
    o.captureLog = true;
    ro.objective = Rosenbrock;
    switch (run) {
    case Run::Rosenbrock:
        return vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
    case Run::RosenbrockMethod4:
        o.method = 4;
        return vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
    case Run::RosenbrockStep:
        o.driver = vrn::Driver::Step;
        return vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
    case Run::Wide15: {
        ro.objective = nullptr;
        std::vector<double> x0(15);
        for (size_t i = 0; i < x0.size(); i++)
            x0[i] = 1.0 + static_cast<double>(i);
        return vrn::Minimize(Bowl, BowlGradient, BowlHessian, x0, o);
    }
    case Run::OneParameter:
        ro.names = {"t"};
        return vrn::Minimize([](std::span<const double> x) { return (x[0] - 3) * (x[0] - 3) - 5; }, {0.0}, o);
    case Run::NaNLater:
        // Finite at the start, NaN once x0 passes 0.5: the run ends badly, the page renders.
        ro.objective = [](std::span<const double> x) {
            return x[0] > 0.5 ? NAN : (x[0] - 1) * (x[0] - 1) + x[1] * x[1];
        };
        return vrn::Minimize(ro.objective, {-2.0, 1.0}, o);
    case Run::NoRecords:
        o.recordIterations = false;
        return vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
    case Run::Checked:
        o.checkGradient = true;
        return vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
    }
    return {};
}

class ReportPage : public ::testing::TestWithParam<PageCase> {};

TEST_P(ReportPage, HoldsTheSectionsItShould) {
    const PageCase& c = GetParam();
    vrn::ReportOptions ro;
    ro.title = "test run";
    const vrn::MinimizeResult r = Make(c.run, ro);
    const std::string html = vrn::ReportHtml(r, ro);
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_TRUE(Has(html, "</html>"));
    // Self-contained: nothing fetched, nothing run.
    EXPECT_FALSE(Has(html, "<script"));
    EXPECT_FALSE(Has(html, "src="));
    EXPECT_FALSE(Has(html, "href="));
    EXPECT_FALSE(Has(html, "url("));
    for (const char* p : c.present)
        EXPECT_TRUE(Has(html, p)) << p;
    for (const char* a : c.absent)
        EXPECT_FALSE(Has(html, a)) << a;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ReportPage,
    ::testing::Values(
        PageCase{Run::Rosenbrock,
                 {"id=\"summary\"", ">Success<", "f\u2080 = 24.2", "id=\"convergence\"", ">Objective f<",
                  "id=\"steps\"", "trust radius", "id=\"parameters\"", ">x0<", ">x1<", "id=\"contour\"",
                  "not counted in the run's evaluations", "id=\"hessian\"", "Eigenvalues from",
                  "id=\"settings\"", "3 (More-Hebden hook step)", "<details>", "OPTDRV", "#0072B2"},
                 {"id=\"checks\"", "no finite"}},
        PageCase{Run::RosenbrockMethod4,
                 {"line step", "<polyline", "keeps no Hessian", "id=\"contour\"", "Polak-Ribiere"},
                 {"no finite"}},
        PageCase{Run::RosenbrockStep,
                 {"step mode", "<polyline", "id=\"hessian\"", "Eigenvalues from"},
                 {"no finite"}},
        PageCase{Run::Wide15,
                 {"The 10 of 15 parameters that moved most", ">x14<", "Eigenvalues from"},
                 {"id=\"contour\""}},
        PageCase{Run::OneParameter, {">t<", "f \u2212 min f", "id=\"hessian\""}, {"id=\"contour\""}},
        PageCase{Run::NaNLater, {"id=\"summary\"", "id=\"convergence\"", "non-finite"}, {}},
        PageCase{Run::NoRecords, {"No per-iteration records", "no finite"}, {"id=\"contour\""}},
        PageCase{Run::Checked, {"id=\"checks\"", "Gradient: passed", "Finite differences"}, {}}));

TEST(ReportContour, EvaluationsAreCountedApart) {
    vrn::MinimizeOptions o;
    o.recordIterations = true;
    const vrn::MinimizeResult r = vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
    long calls = 0;
    vrn::ReportOptions ro;
    ro.contourPoints = 11;
    ro.objective = [&calls](std::span<const double> x) {
        ++calls;
        return Rosenbrock(x);
    };
    const long before = r.evaluations.f;
    const std::string html = vrn::ReportHtml(r, ro);
    EXPECT_EQ(calls, 121);
    EXPECT_EQ(vrn::ReportContourEvaluations(r, ro), 121);
    EXPECT_EQ(r.evaluations.f, before);
    EXPECT_TRUE(Has(html, "the contour plot took 121 more evaluations of f, not counted here"));
}

TEST(ReportRecords, StartAndFinalPointAreRecorded) {
    vrn::MinimizeOptions o;
    o.recordIterations = true;
    const vrn::MinimizeResult r = vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
    ASSERT_GE(r.iterationRecords.size(), 2u);
    EXPECT_EQ(r.iterationRecords.front().iteration, 0);
    EXPECT_DOUBLE_EQ(r.iterationRecords.front().f, 24.2);
    EXPECT_EQ(r.iterationRecords.back().iteration, r.iterations);
    EXPECT_DOUBLE_EQ(r.iterationRecords.back().f, r.f);
    EXPECT_EQ(r.method, vrn::kDefaultMethod);
    EXPECT_FALSE(r.settings.empty());
}

TEST(ReportFile, UnwritablePathIsReported) {
    vrn::MinimizeResult r;
    EXPECT_FALSE(vrn::WriteReport(r, "/nonexistent-dir/for/sure/r.html"));
    const std::string path = ::testing::TempDir() + "/vrn_report_empty.html";
    EXPECT_TRUE(vrn::WriteReport(r, path));
    std::remove(path.c_str());
}

} // namespace
