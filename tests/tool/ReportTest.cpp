// The run report (vrn::WriteReport / ReportHtml), the records it is drawn from and the
// engine's model Hessian accessor.
#include <gtest/gtest.h>

#include <algorithm>
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

INSTANTIATE_TEST_SUITE_P(
    Matrices, Eigenvalues,
    ::testing::Values(EigenCase{{2, 1, 1, 2}, 2, {1, 3}}, EigenCase{{5}, 1, {5}},
                      EigenCase{{3, 0, 0, 0, -1, 0, 0, 0, 2}, 3, {-1, 2, 3}},
                      EigenCase{{802, -400, -400, 200},
                                2,
                                {100.0 * (5.01 - std::sqrt(5.01 * 5.01 - 0.04)),
                                 100.0 * (5.01 + std::sqrt(5.01 * 5.01 - 0.04))}},
                      EigenCase{{1, NAN, NAN, 1}, 2, {}}, EigenCase{{1, 2, 3}, 2, {}}, EigenCase{{}, 0, {}},
                      EigenCase{{0, 0, 0, 0}, 2, {0, 0}},
                      EigenCase{{1, 0, 0, 0, 1, 0, 0, 0, 1}, 3, {1, 1, 1}},
                      EigenCase{{1e300, 0, 0, -1e300}, 2, {-1e300, 1e300}},
                      EigenCase{{2, -1, 0, 0, -1, 2, -1, 0, 0, -1, 2, -1, 0, 0, -1, 2},
                                4,
                                {2 - 2 * std::cos(M_PI / 5), 2 - 2 * std::cos(2 * M_PI / 5),
                                 2 - 2 * std::cos(3 * M_PI / 5), 2 - 2 * std::cos(4 * M_PI / 5)}}));

// A dense symmetric matrix: the eigenvalues keep the trace and the Frobenius norm
// (sum of squares).
TEST(EigenvaluesDense, KeepTraceAndFrobeniusNorm) {
    for (int n : {3, 17, 60}) {
        std::vector<double> a(static_cast<size_t>(n * n));
        unsigned state = 12345;
        auto next = [&]() {
            state = state * 1103515245u + 12345u;
            return static_cast<double>((state >> 8) % 2001) / 1000.0 - 1.0;
        };
        for (int i = 0; i < n; i++)
            for (int j = 0; j <= i; j++)
                a[static_cast<size_t>(i * n + j)] = a[static_cast<size_t>(j * n + i)] = 1e6 * next();
        const std::vector<double> ev = vrn::SymmetricEigenvalues(a, n);
        ASSERT_EQ(ev.size(), static_cast<size_t>(n));
        double trace = 0, frobenius = 0, sum = 0, squares = 0;
        for (int i = 0; i < n; i++) {
            trace += a[static_cast<size_t>(i * n + i)];
            for (int j = 0; j < n; j++)
                frobenius += a[static_cast<size_t>(i * n + j)] * a[static_cast<size_t>(i * n + j)];
            sum += ev[static_cast<size_t>(i)];
            squares += ev[static_cast<size_t>(i)] * ev[static_cast<size_t>(i)];
        }
        EXPECT_NEAR(sum, trace, 1e-9 * std::sqrt(frobenius) * n) << n;
        EXPECT_NEAR(squares, frobenius, 1e-10 * frobenius) << n;
        EXPECT_TRUE(std::is_sorted(ev.begin(), ev.end()));
    }
}

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
    Checked,
    RosenbrockTool,
    Diverging
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
    case Run::RosenbrockTool:
        o.driver = vrn::Driver::Tool;
        return vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
    case Run::Diverging:
        // Unbounded below: five maximum-length steps in a row (code 5), f near -1e7.
        ro.objective = [](std::span<const double> x) { return -x[0] * x[0] - x[1] * x[1]; };
        return vrn::Minimize(ro.objective, {1.0, 0.5}, o);
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
                 {"id=\"summary\"",
                  ">Success<",
                  "f\u2080 = 24.2",
                  "id=\"convergence\"",
                  ">Objective f<",
                  "id=\"steps\"",
                  "trust radius",
                  "id=\"parameters\"",
                  ">x0<",
                  ">x1<",
                  "id=\"contour\"",
                  "not counted in the run's evaluations",
                  "id=\"hessian\"",
                  "Eigenvalues from",
                  "id=\"settings\"",
                  "2 (double dogleg)",
                  "<details>",
                  "OPTDRV",
                  "#0072B2",
                  "class=\"hv\"",
                  "class=\"start\"",
                  "class=\"end\"",
                  "\u00b7 engine, one run"},
                 {"id=\"checks\"", "no finite", "rotate(-45", "f not finite", "class=\"runmark\"", " 1 rows",
                  "diverging", "Eigenvalue spectrum"}},
        PageCase{Run::RosenbrockMethod4,
                 {"line step", "<polyline", "keeps no Hessian", "id=\"contour\"", "Polak-Ribiere"},
                 {"no finite"}},
        PageCase{Run::RosenbrockStep,
                 {"\u00b7 step mode", "<polyline", "id=\"hessian\"", "Eigenvalues from"},
                 {"no finite", "class=\"runmark\""}},
        PageCase{Run::Wide15,
                 {"The 10 of 15 parameters that moved most", ">x14<", "Eigenvalues from",
                  "Eigenvalue spectrum", "Hover over a cell"},
                 {"id=\"contour\"", "class=\"hv\"", "rotate(-45"}},
        PageCase{
            Run::OneParameter, {">t<", "f \u2212 min f", "id=\"hessian\""}, {"id=\"contour\"", "diverging"}},
        PageCase{Run::NaNLater,
                 {"id=\"summary\"", "id=\"convergence\"", "non-finite", "f not finite", "class=\"nonfinite\"",
                  "Grey: f is NaN or infinite there."},
                 {}},
        PageCase{Run::NoRecords, {"No per-iteration records", "no finite"}, {"id=\"contour\""}},
        PageCase{Run::Checked, {"id=\"checks\"", "Gradient: passed", "Finite differences"}, {}},
        PageCase{Run::RosenbrockTool,
                 {"class=\"runmark\"", ">run 2<", "tool driver, 2 runs", "iteration (all runs)", "in 2 runs",
                  "each restarting where the last ended"},
                 {"no finite"}},
        PageCase{Run::Diverging,
                 {"No success", "Objective f (signed)", "f (symmetric log)",
                  "\u25bc diverging: f falls without bound", "this is not convergence", "\u22121e"},
                 {"f \u2212 min f", ">Success<"}}));

TEST(ReportContour, EvaluationsAreCountedApartAndStated) {
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
    vrn::ReportStats stats;
    const std::string html = vrn::ReportHtml(r, ro, &stats);
    // The coarse 11 x 11 grid and a finer one along the path and the valley floor: more
    // than 121 points, at most the whole fine lattice (4 * 10 + 1 per side).
    EXPECT_GT(calls, 121);
    EXPECT_LE(calls, 41 * 41);
    EXPECT_EQ(stats.contourEvaluations, calls);
    EXPECT_EQ(stats.bytes, html.size());
    EXPECT_EQ(r.evaluations.f, before);
    EXPECT_TRUE(Has(html, "the contour plot took " + std::to_string(calls) +
                              " more evaluations of f, not counted here"));
    EXPECT_TRUE(Has(html, "The contours take " + std::to_string(calls) + " evaluations of f"));
    calls = 0;
    EXPECT_EQ(vrn::ReportContourEvaluations(r, ro), stats.contourEvaluations);
    EXPECT_EQ(calls, stats.contourEvaluations);
}

// Without an objective, or with more than two parameters, there is no contour plot and
// nothing is evaluated.
TEST(ReportContour, NoneWithoutAnObjective) {
    vrn::MinimizeOptions o;
    o.recordIterations = true;
    const vrn::MinimizeResult r = vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
    vrn::ReportStats stats;
    stats.contourEvaluations = -1;
    const std::string html = vrn::ReportHtml(r, {}, &stats);
    EXPECT_EQ(stats.contourEvaluations, 0);
    EXPECT_FALSE(Has(html, "id=\"contour\""));
}

// ---------------------------------------------------------------- pictures from hand-made results

// A result made by hand: one list of f values per run (iteration 0 first), the point
// (iteration, f) for n = 2, and the verdict.
vrn::MinimizeResult Handmade(const std::vector<std::vector<double>>& runs, int code, bool success) {
    vrn::MinimizeResult r;
    r.method = 3;
    r.code = code;
    r.success = success;
    r.message = "handmade";
    for (const std::vector<double>& run : runs) {
        for (size_t k = 0; k < run.size(); k++) {
            vrn::IterationRecord e;
            e.iteration = static_cast<int>(k);
            e.f = run[k];
            e.gradientNorm = 1.0 / static_cast<double>(k + 1);
            e.stepLength = k == 0 ? 0.0 : 0.5;
            e.radius = 1.0;
            e.x = {static_cast<double>(k), run[k]};
            e.g = {e.gradientNorm, 0.0};
            r.iterationRecords.push_back(e);
        }
        r.iterations += static_cast<int>(run.size()) - 1;
        ++r.runs;
    }
    r.x = r.iterationRecords.back().x;
    r.f = r.iterationRecords.back().f;
    return r;
}

// The SVG picture whose aria-label is label.
std::string Picture(const std::string& html, const std::string& label) {
    const size_t at = html.find("aria-label=\"" + label + "\"");
    if (at == std::string::npos)
        return "";
    return html.substr(at, html.find("</svg>", at) - at);
}

// The points of each polyline of a picture, as (x, y) pixel pairs.
std::vector<std::vector<std::pair<double, double>>> Polylines(const std::string& svg) {
    std::vector<std::vector<std::pair<double, double>>> lines;
    for (size_t at = svg.find("<polyline"); at != std::string::npos; at = svg.find("<polyline", at + 1)) {
        const size_t from = svg.find("points=\"", at) + 8, to = svg.find('"', from);
        std::vector<std::pair<double, double>> line;
        const std::string pts = svg.substr(from, to - from);
        for (size_t p = 0; p < pts.size();) {
            double x = 0, y = 0;
            int used = 0;
            if (std::sscanf(pts.c_str() + p, "%lf,%lf%n", &x, &y, &used) != 2)
                break;
            line.emplace_back(x, y);
            p += static_cast<size_t>(used);
            while (p < pts.size() && pts[p] == ' ')
                ++p;
        }
        lines.push_back(line);
    }
    return lines;
}

size_t Count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
        ++n;
    return n;
}

TEST(ReportRuns, EachRunOfTheToolIsItsOwnLineWithItsStartMarked) {
    const vrn::MinimizeResult r = Handmade({{5, 3, 2, 1}, {1, 0.5, 0.4}}, 1, true);
    const std::string html = vrn::ReportHtml(r);
    const std::string f = Picture(html, "Objective f");
    const auto lines = Polylines(f);
    ASSERT_EQ(lines.size(), 2u) << f;
    EXPECT_EQ(lines[0].size(), 4u);
    EXPECT_EQ(lines[1].size(), 3u);
    // Run 2 starts where run 1 ended (iteration 3 of 5 in all), not back at iteration 0.
    EXPECT_DOUBLE_EQ(lines[1].front().first, lines[0].back().first);
    EXPECT_LT(lines[0].front().first, lines[1].front().first);
    EXPECT_EQ(Count(f, "class=\"runmark\""), 1u);
    EXPECT_TRUE(Has(f, ">run 2<"));
    // Steps: the starts of the runs have none; two lines per series (3 and 2 steps).
    const auto steps = Polylines(Picture(html, "Step length and trust radius"));
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[0].size(), 3u);
    EXPECT_EQ(steps[1].size(), 2u);
    EXPECT_FALSE(Has(html, "not drawn on this log scale"));
    // One run: one line, no marks.
    const std::string one = vrn::ReportHtml(Handmade({{5, 3, 2, 1}}, 1, true));
    EXPECT_EQ(Polylines(Picture(one, "Objective f")).size(), 1u);
    EXPECT_FALSE(Has(one, "runmark"));
    EXPECT_TRUE(Has(one, "3 iterations,"));
}

struct ScaleCase {
    std::vector<double> f;
    int code;
    bool success;
    const char* title; // picture of f
    bool flagged;      // "diverging"
};

class ReportScale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(ReportScale, FallingWithoutBoundIsNotDrawnAsConvergence) {
    const ScaleCase& c = GetParam();
    const std::string html = vrn::ReportHtml(Handmade({c.f}, c.code, c.success));
    const std::string svg = Picture(html, c.title);
    ASSERT_FALSE(svg.empty()) << c.title;
    EXPECT_EQ(Has(svg, "diverging"), c.flagged);
    const auto lines = Polylines(svg);
    ASSERT_EQ(lines.size(), 1u);
    if (std::string(c.title) == "Objective f (signed)") {
        // Signed f: every fall of f is a fall on the page (y grows downwards).
        for (size_t i = 1; i < lines[0].size(); i++)
            EXPECT_GT(lines[0][i].second, lines[0][i - 1].second) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ReportScale,
    ::testing::Values(ScaleCase{{1, -10, -1e4, -1e8, -1.3e10}, 5, false, "Objective f (signed)", true},
                      ScaleCase{{1, -10, -1e4, -1e8, -1.3e10}, 4, false, "Objective f (signed)", true},
                      ScaleCase{{1, -1, -2, -2.5}, 1, false, "Objective f (signed)", false},
                      ScaleCase{{1, -1, -2, -2.5}, 1, true, "f \u2212 min f", false},
                      ScaleCase{{100, 10, 1, 0.1}, 5, false, "Objective f", false}));

vrn::MinimizeResult WithHessian(int n, double offDiagonal = -1.0) {
    vrn::MinimizeResult r = Handmade({{3, 2, 1}}, 1, true);
    for (vrn::IterationRecord& e : r.iterationRecords)
        e.x.assign(static_cast<size_t>(n), e.f);
    r.x = r.iterationRecords.back().x;
    r.hessian.assign(static_cast<size_t>(n) * static_cast<size_t>(n), 0.0);
    for (int i = 0; i < n; i++) {
        r.hessian[static_cast<size_t>(i * n + i)] = 4.0 + i;
        if (i > 0)
            r.hessian[static_cast<size_t>(i * n + i - 1)] = r.hessian[static_cast<size_t>((i - 1) * n + i)] =
                offDiagonal;
    }
    return r;
}

struct HeatCase {
    int n;
    bool numbers;     // values inside the cells
    size_t cells;     // cells drawn
    bool spectrum;    // eigenvalue spectrum drawn
    const char* text; // on the page
};

class ReportHeatMap : public ::testing::TestWithParam<HeatCase> {};

TEST_P(ReportHeatMap, StaysReadableAndSmall) {
    const HeatCase& c = GetParam();
    const std::string html = vrn::ReportHtml(WithHessian(c.n));
    const std::string map = Picture(html, "Hessian heat map");
    EXPECT_EQ(Has(map, "class=\"hv\""), c.numbers);
    EXPECT_EQ(Count(map, "<title>"), c.cells);
    EXPECT_FALSE(Has(map, "rotate("));
    EXPECT_EQ(Has(html, "Eigenvalue spectrum"), c.spectrum);
    EXPECT_TRUE(Has(html, c.text)) << c.text;
    EXPECT_LT(html.size(), 2u << 20);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReportHeatMap,
                         ::testing::Values(HeatCase{2, true, 4, false, "Eigenvalues from"},
                                           HeatCase{8, true, 64, false, "Eigenvalues from"},
                                           HeatCase{12, false, 144, true, "Hover over a cell"},
                                           HeatCase{40, false, 1600, true, "Hover over a cell"},
                                           HeatCase{41, false, 21 * 21, true, "block of 2 \u00d7 2"},
                                           HeatCase{300, false, 38 * 38, true, "block of 8 \u00d7 8"},
                                           HeatCase{401, false, 37 * 37, true, "Eigenvalues from 3.25"},
                                           HeatCase{1001, false, 39 * 39, false,
                                                    "not computed for more than 1000"}));

TEST(ReportHeatMapBlocks, ShowTheLargestEntryOfEachBlockWithItsSign) {
    // n = 80: blocks of 2 x 2; the off-diagonal -100 outweighs the diagonal in its block.
    const std::string html = vrn::ReportHtml(WithHessian(80, -100.0));
    EXPECT_TRUE(Has(html, "x0\u2013x1, x0\u2013x1: largest magnitude -100<"));
    EXPECT_TRUE(Has(html, "x78\u2013x79, x78\u2013x79: largest magnitude -100<"));
}

TEST(ReportHeatMapBlocks, NonFiniteEntriesHaveALegend) {
    vrn::MinimizeResult r = WithHessian(3);
    EXPECT_FALSE(Has(Picture(vrn::ReportHtml(r), "Hessian heat map"), "not finite"));
    r.hessian[4] = NAN;
    EXPECT_TRUE(Has(Picture(vrn::ReportHtml(r), "Hessian heat map"), ">not finite<"));
}

TEST(ReportSize, ManyRecordsKeepThePageSmall) {
    std::vector<double> f(20001);
    for (size_t k = 0; k < f.size(); k++)
        f[k] = 1.0 / (1.0 + static_cast<double>(k)) + 1e-3 * static_cast<double>(k % 7);
    const std::string html = vrn::ReportHtml(Handmade({f}, 1, true));
    EXPECT_LT(html.size(), 1u << 20);
    const std::string steps = Picture(html, "Step length and trust radius");
    for (const auto& line : Polylines(steps)) {
        EXPECT_GT(line.size(), 100u); // thinned, not emptied
        EXPECT_LE(line.size(), 4u * 950u);
    }
}

TEST(ReportSize, LongLogsAndChecksKeepThePageSmall) {
    vrn::MinimizeResult r = Handmade({{2, 1}}, 1, true);
    for (int i = 0; i < 100000; i++)
        r.log.push_back("row " + std::to_string(i) + std::string(i == 5 ? 5000 : 40, '.'));
    r.hessianCheck.ran = true;
    for (int i = 0; i < 400; i++)
        for (int j = 0; j <= i; j++)
            r.hessianCheck.entries.push_back({i, j, 1.0, 1.0, i == 300 && j == 7 ? 0.5 : 1e-9, false});
    r.hessianCheck.entries[12345].flagged = true;
    const std::string html = vrn::ReportHtml(r);
    EXPECT_LT(html.size(), 1u << 20);
    EXPECT_TRUE(Has(html, "row 999."));
    EXPECT_FALSE(Has(html, "row 1000."));
    EXPECT_TRUE(Has(html, "\u2026 98000 rows left out \u2026"));
    EXPECT_TRUE(Has(html, "row 99999."));
    EXPECT_TRUE(Has(html, ">100000 rows<"));
    EXPECT_TRUE(Has(html, "200 of 80200 entries"));
    EXPECT_TRUE(Has(html, "<td>300, 7</td>")); // the largest relative error (names beyond x1: numbers)
    const CVRNDerivativeCheckEntry& flagged = r.hessianCheck.entries[12345];
    EXPECT_TRUE(Has(html, "<tr class=\"bad\"><td>" + std::to_string(flagged.row) + ", " +
                              std::to_string(flagged.column) + "</td>"));
}

TEST(ReportText, ALongTitleIsCutInTheHeader) {
    vrn::ReportOptions ro;
    ro.title = std::string(5000, 'x') + "END";
    const std::string html = vrn::ReportHtml(Handmade({{2, 1}}, 1, true), ro);
    EXPECT_TRUE(Has(html, "<p class=\"sub\">" + std::string(240, 'x') + "\u2026</p>"));
    EXPECT_TRUE(Has(html, "the whole title (5003 characters)"));
    EXPECT_EQ(Count(html, "END"), 1u); // once, inside the collapsed details
    ro.title = "short";
    EXPECT_FALSE(Has(vrn::ReportHtml(Handmade({{2, 1}}, 1, true), ro), "the whole title"));
}

TEST(ReportText, ZeroOnALogScaleIsSaidNotDrawn) {
    vrn::MinimizeResult r = Handmade({{4, 2, 1}}, 1, true);
    r.iterationRecords.back().gradientNorm = 0.0;
    const std::string svg = Picture(vrn::ReportHtml(r), "Largest gradient component");
    EXPECT_TRUE(Has(svg, "values \u2264 0 are not drawn on this log scale"));
}

TEST(ReportText, SettingsAreTheResultsPairsAndCountsArePlural) {
    vrn::MinimizeResult r = Handmade({{2, 1}}, 1, true);
    r.settings = {{"Gradient tolerance", "4.8e-06"}, {"Maximum step", "1000"}};
    r.log = {"one row"};
    const std::string html = vrn::ReportHtml(r);
    EXPECT_TRUE(Has(html, "<th scope=\"row\">Gradient tolerance</th><td>4.8e-06</td>"));
    EXPECT_TRUE(Has(html, "<th scope=\"row\">Maximum step</th><td>1000</td>"));
    EXPECT_TRUE(Has(html, ">1 row<"));
    EXPECT_TRUE(Has(html, ">1 iteration, "));
    EXPECT_FALSE(Has(html, "1 rows"));
    EXPECT_FALSE(Has(html, "1 iterations"));
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

struct WriteCase {
    std::string path; // under the test's temporary folder
    bool ok;
    const char* error; // the reason, when not ok
};

class ReportWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ReportWrite, SaysWhyAPathCannotBeWritten) {
    const WriteCase& c = GetParam();
    const std::string path = ::testing::TempDir() + c.path;
    vrn::ReportStats stats;
    stats.error = "left over";
    EXPECT_EQ(vrn::WriteReport(Handmade({{2, 1}}, 1, true), path, {}, &stats), c.ok);
    EXPECT_EQ(stats.error, c.ok ? "" : c.error);
    if (c.ok) {
        EXPECT_GT(stats.bytes, 1000u);
        std::remove(path.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ReportWrite,
    ::testing::Values(WriteCase{"/vrn_report_ok.html", true, ""}, WriteCase{"/", false, "Is a directory"},
                      WriteCase{"/no-such-folder-for-sure/r.html", false, "No such file or directory"}));

// A write that fails after the file opened (a full disk) is a failure too.
TEST(ReportFile, AFullDiskIsReported) {
    if (std::FILE* probe = std::fopen("/dev/full", "wb"))
        std::fclose(probe);
    else
        GTEST_SKIP() << "no /dev/full here";
    vrn::ReportStats stats;
    EXPECT_FALSE(vrn::WriteReport(Handmade({{2, 1}}, 1, true), "/dev/full", {}, &stats));
    EXPECT_EQ(stats.error, "No space left on device");
}

TEST(ReportFile, UnwritablePathIsReported) {
    vrn::MinimizeResult r;
    EXPECT_FALSE(vrn::WriteReport(r, "/nonexistent-dir/for/sure/r.html"));
    const std::string path = ::testing::TempDir() + "/vrn_report_empty.html";
    EXPECT_TRUE(vrn::WriteReport(r, path));
    std::remove(path.c_str());
}

} // namespace
