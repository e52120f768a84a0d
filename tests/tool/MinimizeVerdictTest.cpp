// vrn::Minimize's refusals and verdict, one table of cases.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tool/Minimize.h"

namespace {

double Rosenbrock(std::span<const double> x) {
    const double a = x[1] - x[0] * x[0], b = 1.0 - x[0];
    return 100.0 * a * a + b * b;
}
void RosenbrockGradient(std::span<const double> x, std::span<double> g) {
    const double a = x[1] - x[0] * x[0];
    g[0] = -400.0 * x[0] * a - 2.0 * (1.0 - x[0]);
    g[1] = 200.0 * a;
}

struct Case {
    const char* name;
    vrn::Objective f;
    vrn::GradientFunction g;
    std::vector<double> x0;
    vrn::MinimizeOptions o;
    int code; // expected code; 6 = refused before any evaluation but the start
    bool success;
    std::string says; // in the message (code 6) or in a warning
};

vrn::MinimizeOptions With(void (*set)(vrn::MinimizeOptions&)) {
    vrn::MinimizeOptions o;
    set(o);
    return o;
}

std::vector<Case> Cases() {
    const vrn::GradientFunction wrong = [](std::span<const double> x, std::span<double> g) {
        RosenbrockGradient(x, g);
        g[1] += 50.0;
    };
    return {
        {"itnlim -1",
         Rosenbrock,
         {},
         {-1.2, 1},
         With([](vrn::MinimizeOptions& o) { o.itnlim = -1; }),
         6,
         false,
         "itnlim must be 0 or more (got -1)"},
        {"gradtol -1",
         Rosenbrock,
         {},
         {-1.2, 1},
         With([](vrn::MinimizeOptions& o) { o.gradientTolerance = -1; }),
         6,
         false,
         "gradientTolerance must be greater than 0 and less than 1"},
        {"typicalF 0",
         Rosenbrock,
         {},
         {-1.2, 1},
         With([](vrn::MinimizeOptions& o) { o.typicalF = 0; }),
         6,
         false,
         "typicalF must be a finite number greater than 0"},
        {"cg tolerance, method 3",
         Rosenbrock,
         {},
         {-1.2, 1},
         With([](vrn::MinimizeOptions& o) { o.cgTolerance = 1e-8; }),
         6,
         false,
         "cgTolerance is used by method 4 only"},
        {"check without gradient",
         Rosenbrock,
         {},
         {-1.2, 1},
         With([](vrn::MinimizeOptions& o) { o.checkGradient = true; }),
         6,
         false,
         "checkGradient needs"},
        {"log from -1",
         [](std::span<const double> x) { return std::log(x[0]) + x[0] * x[0]; },
         {},
         {-1},
         {},
         6,
         false,
         "the objective is not finite at the start point (f = nan)"},
        {"start near zero", Rosenbrock, RosenbrockGradient, {1e-6, 1e-6}, {}, 1, true, ""},
        {"large constant",
         [](std::span<const double> x) { return (x[0] - 1e6) * (x[0] - 1e6); },
         {},
         {0},
         {},
         1,
         false,
         "is large compared with the typical f = 1"},
        {"wrong gradient",
         Rosenbrock,
         wrong,
         {-1.2, 1},
         With([](vrn::MinimizeOptions& o) { o.checkGradient = true; }),
         -1,
         false,
         "the analytic gradient disagrees with finite differences at the start point: component 1"},
        {"iteration limit",
         Rosenbrock,
         RosenbrockGradient,
         {-1.2, 1},
         With([](vrn::MinimizeOptions& o) { o.itnlim = 2; }),
         4,
         false,
         "raise itnlim"},
    };
}

} // namespace

TEST(MinimizeVerdict, TableOfCases) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        long calls = 0;
        const vrn::Objective counted = [&](std::span<const double> x) {
            ++calls;
            return c.f(x);
        };
        const vrn::MinimizeResult r = vrn::Minimize(counted, c.g, c.x0, c.o);
        if (c.code >= 0) {
            EXPECT_EQ(r.code, c.code) << r.message;
        }
        EXPECT_EQ(static_cast<int>(r.status), r.code);
        EXPECT_EQ(r.success, c.success) << r.Summary();
        if (c.code == 6) {
            EXPECT_EQ(r.message.find(c.says), 0u) << r.message;
            EXPECT_LE(calls, 1); // at most the start point
            continue;
        }
        EXPECT_EQ(calls, r.evaluations.f);
        EXPECT_EQ(r.gradient.size(), c.x0.size());
        bool named = c.says.empty();
        for (const std::string& w : r.warnings)
            named = named || w.find(c.says) != std::string::npos;
        EXPECT_TRUE(named) << r.Summary();
        if (c.success) {
            EXPECT_LT(r.f, 1e-6);
        }
    }
}

TEST(MinimizeVerdict, ResultCarriesChecksRecordsAndReports) {
    vrn::MinimizeOptions o;
    o.checkGradient = true;
    o.recordIterations = true;
    int progress = 0;
    o.onProgress = [&](int run, const vrn::IterationRecord& r) {
        EXPECT_EQ(run, 1);
        EXPECT_EQ(r.iteration, progress++);
    };
    const vrn::MinimizeResult r = vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
    EXPECT_TRUE(r.success);
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(r.status, vrn::Status::GradientSmall);
    EXPECT_STREQ(vrn::StatusName(r.status), "GradientSmall");
    EXPECT_TRUE(r.gradientCheck.ran && r.gradientCheck.passed);
    EXPECT_EQ(r.initialF, Rosenbrock(std::vector<double>{-1.2, 1.0}));
    EXPECT_EQ(r.typicalX, (std::vector<double>{1.2, 1.0}));
    EXPECT_EQ(static_cast<int>(r.iterationRecords.size()), r.iterations + 1);
    EXPECT_EQ(progress, r.iterations + 1);
    EXPECT_GT(r.timeSeconds, 0.0);
    const std::string summary = r.Summary();
    for (const char* part : {"Method:       3 More-Hebden hook step, analytic gradient", "Success:      yes",
                             "Gradient check: passed", "x:            a = "})
        EXPECT_NE(summary.find(part), std::string::npos) << part << "\n" << summary;
    const std::string full = r.FullReport();
    EXPECT_NE(full.find("f/g/H evaluations"), std::string::npos) << full;
}
