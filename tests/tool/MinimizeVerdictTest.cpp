// The verdict and the refusals of the run core, through vrn::Minimize: tables of cases.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "face/Minimize.h"
#include "face/OptionTable.h"
#include "render/ResultJson.h"

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

vrn::MinimizeOptions With(void (*set)(vrn::MinimizeOptions&)) {
    vrn::MinimizeOptions o;
    set(o);
    return o;
}

// ---- Refusals: one structured rule, worded in each face's spelling ----

struct Refusal {
    const char* name;
    vrn::MinimizeOptions o;
    bool gradient, hessian;
    const char* option;
    // The sentence with {} where the option's name goes.
    const char* text;
};

TEST(MinimizeRefusals, OneRuleWordedForEveryFace) {
    const Refusal cases[] = {
        {"negative iteration limit", With([](vrn::MinimizeOptions& o) { o.itnlim = -1; }), true, false,
         "itnlim", "{} must be 0 to 1000000000 (got -1)"},
        {"tolerance above 1", With([](vrn::MinimizeOptions& o) { o.gradientTolerance = 5; }), true, false,
         "gradientTolerance", "{} must be greater than 0 and less than 1 (got 5)"},
        {"typical f of 0", With([](vrn::MinimizeOptions& o) { o.typicalF = 0; }), true, false, "typicalF",
         "{} must be finite and greater than 0 (got 0)"},
        {"typical f with the tool driver", With([](vrn::MinimizeOptions& o) {
             o.driver = vrn::Driver::Tool;
             o.typicalF = 10;
         }),
         true, false, "typicalF", "{} is not used with the tool driver"},
        {"iteration limit with the tool driver", With([](vrn::MinimizeOptions& o) {
             o.driver = vrn::Driver::Tool;
             o.itnlim = 5;
         }),
         true, false, "itnlim", "{} is not used with the tool driver"},
        {"secant updates with method 4", With([](vrn::MinimizeOptions& o) {
             o.method = 4;
             o.expensive = true;
         }),
         true, false, "expensive",
         "{} is not used by method 4 (Polak-Ribiere conjugate gradient): methods 1, 2, 3 only"},
        {"a Hessian with method 4", With([](vrn::MinimizeOptions& o) { o.method = 4; }), true, true,
         "hessian", "{} is not used by method 4 (Polak-Ribiere conjugate gradient): methods 1, 2, 3 only"},
        {"CG tolerance with method 2", With([](vrn::MinimizeOptions& o) {
             o.method = 2;
             o.cgTolerance = 1e-6;
         }),
         true, false, "cgTolerance", "{} is not used by method 2 (double dogleg): method 4 only"},
        {"trust radius with the line search", With([](vrn::MinimizeOptions& o) {
             o.method = 1;
             o.trustRadius = 1;
         }),
         true, false, "trustRadius", "{} is not used by method 1 (line search): methods 2, 3 only"},
        {"too many threads", With([](vrn::MinimizeOptions& o) { o.threads = 100000; }), true, false,
         "threads", "{} must be 1 to @ (4 per hardware thread, never more than 256) (got 100000)"},
        {"gradient check without a gradient", With([](vrn::MinimizeOptions& o) { o.checkGradient = true; }),
         false, false, "checkGradient", "{} needs an analytic gradient"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        for (vrn::OptionNaming naming :
             {vrn::OptionNaming::Cpp, vrn::OptionNaming::CommandLine, vrn::OptionNaming::Python}) {
            const auto refusal = vrn::CheckOptions(c.o, {2, c.gradient, c.hessian}, naming);
            ASSERT_TRUE(refusal.has_value());
            EXPECT_EQ(refusal->option, c.option);
            std::string want = c.text;
            want.replace(want.find("{}"), 2, vrn::OptionName(c.option, naming));
            if (const size_t at = want.find('@'); at != std::string::npos)
                want.replace(at, 1, std::to_string(vrn::MaxEvaluationThreads()));
            EXPECT_EQ(refusal->text, want);
        }
        // The run refuses with the same sentence and evaluates nothing.
        long calls = 0;
        const vrn::Objective f = [&calls](std::span<const double> x) {
            ++calls;
            return Rosenbrock(x);
        };
        const vrn::HessianFunction h = [](std::span<const double>, std::span<double> out) {
            out[0] = out[3] = 1;
        };
        const vrn::MinimizeResult r =
            vrn::Minimize(f, c.gradient ? RosenbrockGradient : vrn::GradientFunction(),
                          c.hessian ? h : vrn::HessianFunction(), {-1.2, 1}, c.o);
        EXPECT_EQ(r.code, 6);
        EXPECT_EQ(r.outcome, vrn::Outcome::Refused);
        EXPECT_FALSE(r.success);
        EXPECT_EQ(calls, 0);
    }
}

TEST(MinimizeRefusals, EveryOptionOfTheTableHasASpellingInEveryFace) {
    for (auto kind : {vrn::ProblemKind::Minimize, vrn::ProblemKind::LeastSquares})
        for (const vrn::OptionRow& s : vrn::OptionTable(kind)) {
            EXPECT_EQ(vrn::FindOption(s.name, vrn::OptionNaming::Cpp, kind), &s);
            EXPECT_EQ(vrn::FindOption(s.cliSwitch, vrn::OptionNaming::CommandLine, kind), &s);
            EXPECT_EQ(vrn::FindOption(s.keyword, vrn::OptionNaming::Python, kind), &s);
            EXPECT_FALSE(vrn::HelpText(s).empty());
            // The help of a fit's option says nothing of drivers a fit does not have.
            if (kind == vrn::ProblemKind::LeastSquares) {
                EXPECT_EQ(vrn::HelpText(s).find("driver"), std::string::npos) << s.name;
            }
        }
}

TEST(MinimizeRefusals, TheFitsSectionParsesAndRefusesInEachFacesSpelling) {
    struct Case {
        const char* option;
        const char* text;
        const char* refusal; // empty: accepted
    };
    const Case cases[] = {
        {"loss", "huber", ""},
        {"loss", "l2", "--loss must be linear, soft_l1, huber, cauchy or arctan (got 'l2')"},
        {"differences", "3-point", ""},
        {"differences", "cs", "--jac must be 2-point or 3-point (got 'cs')"},
        {"fallbacks", "off", ""},
        {"fallbacks", "maybe", "--fallbacks must be on or off (got 'maybe')"},
        {"ftol", "1e-12", ""},
        {"method", "dogleg", ""},
    };
    for (const Case& c : cases) {
        vrn::MinimizeOptions o;
        const vrn::OptionRow* row =
            vrn::FindOption(c.option, vrn::OptionNaming::Cpp, vrn::ProblemKind::LeastSquares);
        ASSERT_NE(row, nullptr) << c.option;
        const auto refusal = vrn::SetOptionFromText(o, *row, c.text, vrn::OptionNaming::CommandLine);
        EXPECT_EQ(refusal ? refusal->text : "", c.refusal) << c.option;
    }
    // Values in their ranges, and the other kind's options, in every face's spelling.
    vrn::MinimizeOptions ftol;
    ftol.ftol = 1.0;
    vrn::MinimizeOptions typsiz;
    typsiz.typicalX = {1.0};
    vrn::MinimizeOptions cg;
    cg.method = 4;
    const vrn::RunShape fit{1, false, false, vrn::ProblemKind::LeastSquares};
    const struct {
        const vrn::MinimizeOptions& o;
        vrn::OptionNaming naming;
        const char* text;
    } refusals[] = {
        {ftol, vrn::OptionNaming::Python, "ftol must be at least 0 and less than 1 (got 1)"},
        {ftol, vrn::OptionNaming::CommandLine, "--ftol must be at least 0 and less than 1 (got 1)"},
        {typsiz, vrn::OptionNaming::CommandLine, "--typsiz is not used by least-squares fits"},
        {cg, vrn::OptionNaming::Cpp, "method must be 3 (hook) or 2 (dogleg) (got 4)"},
    };
    for (const auto& r : refusals) {
        const auto refusal = vrn::CheckOptions(r.o, fit, r.naming);
        ASSERT_TRUE(refusal.has_value()) << r.text;
        EXPECT_EQ(refusal->text, r.text);
    }
    EXPECT_FALSE(vrn::CheckOptions(ftol, vrn::RunShape{1}, vrn::OptionNaming::Cpp)->text.empty());
}

// ---- The verdict: the cases a user meets, judged from the final model ----

struct VerdictCase {
    const char* name;
    vrn::Objective f;
    std::vector<double> x0;
    vrn::MinimizeOptions o;
    bool success;
    vrn::Outcome outcome;
    std::vector<double> near; // the minimum, when the run should find it
};

std::vector<VerdictCase> VerdictCases() {
    auto m3 = With([](vrn::MinimizeOptions& o) { o.method = 3; });
    return {
        {"exp(-x) has no minimum",
         [](std::span<const double> x) { return std::exp(-x[0]); },
         {0},
         {},
         false,
         vrn::Outcome::NotConverged,
         {}},
        {"x^2-y^2 from its saddle point",
         [](std::span<const double> x) { return x[0] * x[0] - x[1] * x[1]; },
         {0, 0},
         {},
         false,
         vrn::Outcome::NotConverged, // after leaving the saddle f falls without bound
         {}},
        {"x^4-2x^2+y^2 from (0, 1) leaves the saddle for a minimum",
         [](std::span<const double> x) { return std::pow(x[0], 4) - 2 * x[0] * x[0] + x[1] * x[1]; },
         {0, 1},
         {},
         true,
         vrn::Outcome::Success,
         {1, 0}},
        {"(x-1e6)^2 from 0: the curvature drowns in f's rounding",
         [](std::span<const double> x) { return (x[0] - 1e6) * (x[0] - 1e6); },
         {0},
         {},
         false,
         vrn::Outcome::NotConverged,
         {}},
        {"(x-3)^2+1e6 from 0, hook step: stopped short",
         [](std::span<const double> x) { return (x[0] - 3) * (x[0] - 3) + 1e6; },
         {0},
         m3,
         false,
         vrn::Outcome::NotConverged,
         {}},
        {"1e12((x-1)^2+(y-2)^2)",
         [](std::span<const double> x) { return 1e12 * ((x[0] - 1) * (x[0] - 1) + (x[1] - 2) * (x[1] - 2)); },
         {0, 0},
         {},
         true,
         vrn::Outcome::Success,
         {1, 2}},
        {"Rosenbrock", Rosenbrock, {-1.2, 1}, {}, true, vrn::Outcome::Success, {1, 1}},
        {"Rosenbrock from near 0", Rosenbrock, {1e-6, 1e-6}, {}, true, vrn::Outcome::Success, {1, 1}},
        {"a large constant does not excuse a large gradient (the engine stops at the start)",
         [](std::span<const double> x) {
             return 1e8 + (x[0] - 2) * (x[0] - 2) + 10 * (x[1] + 1) * (x[1] + 1);
         },
         {0, 0},
         {},
         false,
         vrn::Outcome::NotConverged,
         {}},

    };
}

TEST(MinimizeVerdict, TableOfCases) {
    for (const VerdictCase& c : VerdictCases()) {
        SCOPED_TRACE(c.name);
        const vrn::MinimizeResult r = vrn::Minimize(c.f, c.x0, c.o);
        EXPECT_EQ(r.success, c.success) << r.Summary();
        EXPECT_EQ(r.outcome, c.outcome) << r.Summary();
        EXPECT_EQ(r.success, r.outcome == vrn::Outcome::Success);
        // A run that is not a success says why; a summary opens with the verdict.
        EXPECT_TRUE(c.success || !r.warnings.empty());
        EXPECT_EQ(r.Summary().rfind("Success:", 0), 0u) << r.Summary();
        for (size_t i = 0; i < c.near.size(); i++) {
            EXPECT_NEAR(std::fabs(r.x[i]), c.near[i], 1e-3 * std::max(1.0, std::fabs(c.near[i])));
        }
        // The serialized result carries the same verdict.
        const std::string json = vrn::ToJson(r);
        EXPECT_NE(json.find(std::string("\"success\":") + (c.success ? "true" : "false")), std::string::npos);
    }
}

// The advice names a setting that leads somewhere: following it (a few times at most)
// gives a success.
bool FollowAdvice(const vrn::MinimizeResult& r, vrn::MinimizeOptions& o) {
    for (const std::string& w : r.warnings) {
        auto number = [&w](const std::string& after) {
            const size_t at = w.find(after);
            return at == std::string::npos ? -1.0 : std::atof(w.c_str() + at + after.size());
        };
        if (const double v = number("gradientTolerance (about "); v > 0) {
            o.gradientTolerance = v;
            return true;
        }
        if (const double v = number("give numberOfDigits "); v > 0) {
            o.numberOfDigits = static_cast<int>(v);
            return true;
        }
        if (const double v = number("distance still to go (about "); v > 0) {
            o.typicalX.assign(r.x.size(), v);
            return true;
        }
    }
    return false;
}

TEST(MinimizeVerdict, FollowingTheAdviceLeadsToASuccess) {
    struct Advice {
        const char* name;
        vrn::Objective f;
        std::vector<double> x0;
        vrn::MinimizeOptions o;
    };
    const Advice cases[] = {
        {"(x-1e6)^2", [](std::span<const double> x) { return (x[0] - 1e6) * (x[0] - 1e6); }, {0}, {}},
        {"1e8 + a quadratic",
         [](std::span<const double> x) {
             return 1e8 + (x[0] - 2) * (x[0] - 2) + 10 * (x[1] + 1) * (x[1] + 1);
         },
         {0, 0},
         {}},
        {"(x-3)^2+1e6, hook step",
         [](std::span<const double> x) { return (x[0] - 3) * (x[0] - 3) + 1e6; },
         {0},
         With([](vrn::MinimizeOptions& o) { o.method = 3; })},
    };
    for (const Advice& c : cases) {
        SCOPED_TRACE(c.name);
        vrn::MinimizeOptions o = c.o;
        vrn::MinimizeResult r = vrn::Minimize(c.f, c.x0, o);
        ASSERT_FALSE(r.success);
        for (int round = 0; round < 3 && !r.success; round++) {
            ASSERT_TRUE(FollowAdvice(r, o)) << r.Summary();
            r = vrn::Minimize(c.f, c.x0, o);
        }
        EXPECT_TRUE(r.success) << r.Summary();
    }
}

// f = (x < 1/x) is 0 at the start x = 1 and on its right, 1 on its left: the forward
// difference gradient is exactly 0, the central one is not, and f = 0 at the end. The
// advice on good digits then divides by |f - f0| = 0 (found by the fuzzer).
TEST(MinimizeVerdict, AdviceCopesWithAnEndPointWhereFIsZero) {
    const auto r =
        vrn::Minimize([](std::span<const double> x) { return x[0] < 1.0 / x[0] ? 1.0 : 0.0; }, {1.0});
    EXPECT_FALSE(r.success) << r.Summary();
    EXPECT_EQ(r.f, 0.0);
    ASSERT_FALSE(r.warnings.empty());
    EXPECT_NE(r.warnings[0].find("give numberOfDigits"), std::string::npos) << r.Summary();
}

TEST(MinimizeVerdict, AnalyticGradientIsNeverToldToGiveOne) {
    // A run that stops at its noise floor with an analytic gradient.
    const vrn::Objective f = [](std::span<const double> x) {
        return 1e8 + (x[0] - 1) * (x[0] - 1) * 1e-8 + std::sin(1e9 * x[0]) * 1e-7;
    };
    const vrn::GradientFunction g = [](std::span<const double> x, std::span<double> out) {
        out[0] = 2e-8 * (x[0] - 1);
    };
    const vrn::MinimizeResult r = vrn::Minimize(f, g, std::vector<double>{0.0}, vrn::MinimizeOptions{});
    for (const std::string& w : r.warnings)
        EXPECT_EQ(w.find("give an analytic gradient"), std::string::npos) << w;
}

TEST(MinimizeVerdict, ResultCarriesChecksRecordsAndReports) {
    vrn::MinimizeOptions o;
    o.method = 3;
    o.checkGradient = true;
    o.recordIterations = true;
    o.names = {"a", "b"};
    int progress = 0;
    o.onProgress = [&progress](int run, const vrn::IterationRecord& r) {
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
    EXPECT_EQ(r.verdict.test, "newton-decrease");
    EXPECT_TRUE(r.verdict.positiveDefinite);
    EXPECT_LE(r.verdict.decrease, r.verdict.allowed);
    const std::string summary = r.Summary();
    for (const char* part : {"Success:      yes", "Method:       3 More-Hebden hook step, analytic gradient",
                             "Gradient check: passed", "x:            a = "})
        EXPECT_NE(summary.find(part), std::string::npos) << part << "\n" << summary;
    EXPECT_EQ(summary.find("Termination:  WARNING"), std::string::npos);
    const std::string full = r.FullReport();
    EXPECT_NE(full.find("f/g/H evaluations"), std::string::npos) << full;
    // Settings hold numbers, and only what the method uses.
    bool cg = false, gradtol = false;
    for (const auto& [k, v] : r.settings) {
        cg = cg || k == "CG function tolerance";
        if (k == "Gradient tolerance")
            gradtol = std::isfinite(std::atof(v.c_str())) && std::atof(v.c_str()) > 0;
    }
    EXPECT_FALSE(cg);
    EXPECT_TRUE(gradtol);
}

TEST(MinimizeVerdict, RecordsStayBoundedOnALongRun) {
    // A slow run of many iterations: the records keep the first and the last ones.
    vrn::MinimizeOptions o;
    o.method = 4;
    o.recordIterations = true;
    o.itnlim = 100000;
    o.cgTolerance = 1e-30;
    const vrn::Objective f = [](std::span<const double> x) {
        double s = 0;
        for (size_t i = 0; i < x.size(); i++)
            s += std::pow(1.0 + static_cast<double>(i), 4) * x[i] * x[i];
        return s;
    };
    const vrn::GradientFunction g = [](std::span<const double> x, std::span<double> out) {
        for (size_t i = 0; i < x.size(); i++)
            out[i] = 2 * std::pow(1.0 + static_cast<double>(i), 4) * x[i];
    };
    std::vector<double> x0(60, 1.0);
    long seen = 0;
    o.onProgress = [&seen](int, const vrn::IterationRecord&) { ++seen; };
    const vrn::MinimizeResult r = vrn::Minimize(f, g, x0, o);
    EXPECT_LE(r.iterationRecords.size(), vrn::kMaxIterationRecords);
    EXPECT_EQ(static_cast<long>(r.iterationRecords.size()) + r.recordsDropped, seen);
    if (!r.iterationRecords.empty()) {
        EXPECT_EQ(r.iterationRecords.front().iteration, 0);
        for (size_t i = 1; i < r.iterationRecords.size(); i++)
            EXPECT_LT(r.iterationRecords[i - 1].iteration, r.iterationRecords[i].iteration);
    }
}

} // namespace

namespace {

// The progress rows and the result count the same iterations, for every method.
TEST(MinimizeVerdict, ProgressRowsAndTheIterationCountAgree) {
    for (int method = 1; method <= 4; method++) {
        SCOPED_TRACE(method);
        vrn::MinimizeOptions o;
        o.method = method;
        int last = -1;
        o.onProgress = [&last](int, const vrn::IterationRecord& r) { last = r.iteration; };
        const vrn::MinimizeResult r = vrn::Minimize(Rosenbrock, RosenbrockGradient, {-1.2, 1.0}, o);
        EXPECT_TRUE(r.success);
        EXPECT_EQ(last, r.iterations);
    }
}

} // namespace
