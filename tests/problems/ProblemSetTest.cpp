// The classic test problems and the fits: their derivatives against finite differences,
// their recorded minima, and the pieces they are built from (Jet, the seeded generator,
// digamma and trigamma, Newton's method, the solved test).
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "problems/ClassicProblems.h"
#include "problems/FitProblems.h"

namespace {

// Every problem, built once (the fits solve themselves when built, which takes a while
// under the sanitizers).
const std::vector<std::unique_ptr<classic::Problem>>& EverySet() {
    static const std::vector<std::unique_ptr<classic::Problem>> all = [] {
        auto set = classic::AllProblems();
        for (int size : {30, 50})
            for (auto& p : classic::ScaledProblems(size))
                set.push_back(std::move(p));
        for (auto& p : fits::AllFits())
            set.push_back(std::move(p));
        return set;
    }();
    return all;
}

// A point near x0 that is not special (away from the symmetric start points).
std::vector<double> Nearby(const classic::Problem& p) {
    std::vector<double> x = p.x0;
    for (size_t i = 0; i < x.size(); ++i)
        x[i] += 0.01 * (1.0 + 0.37 * static_cast<double>(i % 5)) * std::max(std::fabs(x[i]), 0.1);
    return x;
}

// Central differences of f along each axis with step 1e-5 * max(|x_i|, 1e-2).
std::vector<double> DifferenceGradient(const classic::Problem& p, std::vector<double> x) {
    std::vector<double> g(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
        double xi = x[i], h = 1e-5 * std::max(std::fabs(xi), 1e-2);
        x[i] = xi + h;
        double fp = p.fx(x.data());
        x[i] = xi - h;
        double fm = p.fx(x.data());
        x[i] = xi;
        g[i] = (fp - fm) / (2.0 * h);
    }
    return g;
}

// Central differences of the analytic gradient, row-major n*n.
std::vector<double> DifferenceHessian(const classic::Problem& p, std::vector<double> x) {
    const size_t n = x.size();
    std::vector<double> h(n * n), gp(n), gm(n);
    for (size_t j = 0; j < n; ++j) {
        double xj = x[j], s = 1e-5 * std::max(std::fabs(xj), 1e-2);
        x[j] = xj + s;
        p.grad(x.data(), gp.data());
        x[j] = xj - s;
        p.grad(x.data(), gm.data());
        x[j] = xj;
        for (size_t i = 0; i < n; ++i)
            h[i * n + j] = (gp[i] - gm[i]) / (2.0 * s);
    }
    return h;
}

// The fits of EverySet, in their order.
std::vector<const classic::Problem*> Fits() {
    std::vector<const classic::Problem*> fits;
    for (const auto& p : EverySet())
        if (p->name.rfind("fit-", 0) == 0)
            fits.push_back(p.get());
    return fits;
}

double MaxAbs(const std::vector<double>& v) {
    double m = 0.0;
    for (double a : v)
        m = std::max(m, std::fabs(a));
    return m;
}

TEST(ProblemSet, NamesAreUniqueAndShapesAgree) {
    std::set<std::string> names;
    const auto& all = EverySet();
    EXPECT_GE(all.size(), 30u);
    for (const auto& p : all) {
        EXPECT_TRUE(names.insert(p->name).second) << p->name;
        EXPECT_EQ(static_cast<size_t>(p->n), p->x0.size()) << p->name;
        if (!p->xstar.empty()) {
            EXPECT_EQ(p->xstar.size(), p->x0.size()) << p->name;
        }
        EXPECT_TRUE(std::isfinite(p->fx(p->x0.data()))) << p->name;
    }
}

TEST(ProblemSet, GradientsAgreeWithDifferences) {
    for (const auto& p : EverySet()) {
        for (const auto& x : {p->x0, Nearby(*p)}) {
            std::vector<double> g(x.size());
            p->grad(x.data(), g.data());
            auto d = DifferenceGradient(*p, x);
            // Differences of f lose about eps * |f| / h to cancellation.
            double scale = std::max({MaxAbs(g), 1e-11 * std::fabs(p->fx(x.data())) / 1e-5, 1e-8});
            for (size_t i = 0; i < g.size(); ++i)
                EXPECT_NEAR(g[i], d[i], 1e-5 * scale) << p->name << " component " << i;
        }
    }
}

TEST(ProblemSet, HessiansAgreeWithDifferencesAndAreSymmetric) {
    for (const auto& p : EverySet()) {
        for (const auto& x : {p->x0, Nearby(*p)}) {
            const size_t n = x.size();
            std::vector<double> h(n * n, 0.0);
            p->hess(x.data(), h.data());
            auto d = DifferenceHessian(*p, x);
            double scale = std::max(MaxAbs(h), 1e-8);
            for (size_t i = 0; i < n; ++i)
                for (size_t j = 0; j < n; ++j) {
                    EXPECT_NEAR(h[i * n + j], d[i * n + j], 1e-5 * scale)
                        << p->name << " (" << i << ", " << j << ")";
                    EXPECT_EQ(h[i * n + j], h[j * n + i]) << p->name << " (" << i << ", " << j << ")";
                }
        }
    }
}

TEST(ProblemSet, KnownMinimizersHaveTheKnownValueAndNoSlope) {
    for (const auto& p : EverySet()) {
        if (p->xstar.empty())
            continue;
        double f = p->fx(p->xstar.data());
        EXPECT_NEAR(f, p->fstar, 1e-9 * std::max(std::fabs(p->fstar), 1e-3)) << p->name;
        EXPECT_TRUE(p->IsSolved(f)) << p->name;
        std::vector<double> g(p->xstar.size());
        p->grad(p->xstar.data(), g.data());
        double typicalX = std::max(MaxAbs(p->xstar), 1.0);
        EXPECT_LE(MaxAbs(g) * typicalX / std::max(std::fabs(f), 1.0), 1e-8) << p->name;
    }
}

TEST(ProblemSet, RecordedMinimaAreReachedByNewtonsMethodFromTheBestKnownPoint) {
    // Problems without a closed-form minimizer: Newton's method from a point of the
    // literature's minimizer gives the recorded value.
    struct Case {
        std::string name;
        std::vector<double> x;
    };
    const std::vector<Case> cases = {
        {"bard", {0.0824106, 1.13304, 2.34370}},
        {"kowalik-osborne", {0.192807, 0.191282, 0.123056, 0.136062}},
        {"osborne-1", {0.37541, 1.93585, -1.46469, 0.0128675, 0.0221227}},
        {"meyer", {0.00560964, 6181.35, 345.224}},
        {"jennrich-sampson", {0.257825, 0.257825}},
    };
    auto all = classic::AllProblems();
    for (const auto& c : cases) {
        const classic::Problem* problem = nullptr;
        for (auto& p : all)
            if (p->name == c.name)
                problem = p.get();
        ASSERT_NE(problem, nullptr) << c.name;
        auto x = fits::NewtonMinimize(*problem, c.x);
        EXPECT_NEAR(problem->fx(x.data()), problem->fstar, 1e-9 * problem->fstar) << c.name;
    }
}

TEST(ProblemSet, FitsHaveTheirAdvertisedSize) {
    struct Case {
        std::string name;
        int n;
        double low, high; // range of f*
    };
    const std::vector<Case> cases = {{"fit-gamma-mle", 2, 1.5e4, 3e4},
                                     {"fit-logistic", 51, 800.0, 1500.0},
                                     {"fit-gaussian-peaks", 12, 200.0, 330.0},
                                     {"fit-exp-decline", 3, 1000.0, 1e4}};
    auto all = Fits();
    ASSERT_EQ(all.size(), cases.size());
    for (size_t k = 0; k < cases.size(); ++k) {
        EXPECT_EQ(all[k]->name, cases[k].name);
        EXPECT_EQ(all[k]->n, cases[k].n);
        EXPECT_GT(all[k]->fstar, cases[k].low) << cases[k].name;
        EXPECT_LT(all[k]->fstar, cases[k].high) << cases[k].name;
        EXPECT_LT(all[k]->fstar, all[k]->fx(all[k]->x0.data())) << cases[k].name;
    }
}

TEST(ProblemSet, SolvedTestAcceptsTheMinimumAndKnownLocalMinimaOnly) {
    classic::Rosenbrock zero;               // fstar 0
    classic::JennrichSampson jennrich;      // fstar 124.36...
    classic::FreudensteinRoth freudenstein; // fstar 0, local minimum 48.98...
    struct Case {
        const classic::Problem* p;
        double f;
        int reached;
    };
    const double local = freudenstein.otherMinima.at(0);
    const std::vector<Case> cases = {
        {&zero, 0.0, 0},
        {&zero, 9e-11, 0},
        {&zero, 2e-10, -1},
        {&zero, -1e-3, 0},
        {&zero, std::nan(""), -1},
        {&jennrich, jennrich.fstar * (1 + 9e-7), 0},
        {&jennrich, jennrich.fstar * (1 + 2e-6), -1},
        {&freudenstein, local, 1},
        {&freudenstein, local * (1 - 2e-6), -1},
        {&freudenstein, 1.0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.p->ReachedMinimum(c.f), c.reached) << c.p->name << " f = " << c.f;
        EXPECT_EQ(c.p->IsSolved(c.f), c.reached >= 0) << c.p->name << " f = " << c.f;
    }
}

TEST(Jet, CarriesExactFirstAndSecondDerivatives) {
    // f(x, y) = exp(x) sin(y) / (1 + x^2) + sqrt(x) log(y) - atan(x y), at (0.7, 1.3).
    const double x = 0.7, y = 1.3;
    auto f = [](auto a, auto b) {
        using classic::atan;
        using classic::exp;
        using classic::log;
        using classic::sin;
        using classic::sqrt;
        return exp(a) * sin(b) / (1.0 + a * a) + sqrt(a) * log(b) - atan(a * b);
    };
    classic::Jet2 a = classic::Jet2::Variable(x, 0, 2), b = classic::Jet2::Variable(y, 1, 2);
    classic::Jet2 r = f(a, b);
    EXPECT_DOUBLE_EQ(r.v, f(x, y));
    // Differences of the plain function (step 1e-4, error ~1e-8).
    const double h = 1e-4;
    double fx = (f(x + h, y) - f(x - h, y)) / (2 * h);
    double fy = (f(x, y + h) - f(x, y - h)) / (2 * h);
    double fxx = (f(x + h, y) - 2 * f(x, y) + f(x - h, y)) / (h * h);
    double fyy = (f(x, y + h) - 2 * f(x, y) + f(x, y - h)) / (h * h);
    double fxy = (f(x + h, y + h) - f(x + h, y - h) - f(x - h, y + h) + f(x - h, y - h)) / (4 * h * h);
    EXPECT_NEAR(r.d[0], fx, 1e-7);
    EXPECT_NEAR(r.d[1], fy, 1e-7);
    EXPECT_NEAR(r.Hess(0, 0), fxx, 1e-5);
    EXPECT_NEAR(r.Hess(1, 1), fyy, 1e-5);
    EXPECT_NEAR(r.Hess(0, 1), fxy, 1e-5);
    EXPECT_EQ(r.Hess(0, 1), r.Hess(1, 0));
    // The first-order Jet gives the same gradient.
    classic::Jet1 r1 = f(classic::Jet1::Variable(x, 0, 2), classic::Jet1::Variable(y, 1, 2));
    EXPECT_EQ(r1.d[0], r.d[0]);
    EXPECT_EQ(r1.d[1], r.d[1]);
}

TEST(SplitMix64, GivesTheReferenceSequenceAndSaneDistributions) {
    fits::SplitMix64 rng(0);
    EXPECT_EQ(rng.Next(), 0xE220A8397B1DCDAFULL);
    EXPECT_EQ(rng.Next(), 0x6E789E6AA1B965F4ULL);
    fits::SplitMix64 g(7);
    double sum = 0.0, sum2 = 0.0, gammaSum = 0.0;
    const int count = 100000;
    for (int i = 0; i < count; ++i) {
        double u = g.Uniform();
        ASSERT_GT(u, 0.0);
        ASSERT_LT(u, 1.0);
        double z = g.Normal();
        sum += z;
        sum2 += z * z;
        gammaSum += g.Gamma(2.5);
    }
    // Standard errors: 0.003 for the mean, 0.0045 for the variance, 0.005 for the gamma mean.
    EXPECT_NEAR(sum / count, 0.0, 0.02);
    EXPECT_NEAR(sum2 / count, 1.0, 0.03);
    EXPECT_NEAR(gammaSum / count, 2.5, 0.03);
}

TEST(SpecialFunctions, DigammaAndTrigammaAtKnownValues) {
    const double gamma = 0.57721566490153286, pi = 3.141592653589793;
    struct Case {
        double x, digamma, trigamma;
    };
    // psi(25) = -gamma + sum_{k<25} 1/k and psi'(25) = pi^2/6 - sum_{k<25} 1/k^2.
    double harmonic = 0.0, squares = 0.0;
    for (int k = 24; k >= 1; --k) {
        harmonic += 1.0 / k;
        squares += 1.0 / (static_cast<double>(k) * k);
    }
    const std::vector<Case> cases = {{1.0, -gamma, pi * pi / 6.0},
                                     {0.5, -gamma - 2.0 * std::log(2.0), pi * pi / 2.0},
                                     {2.0, 1.0 - gamma, pi * pi / 6.0 - 1.0},
                                     {25.0, harmonic - gamma, pi * pi / 6.0 - squares},
                                     {1e-3, -1000.5755719318103, 1000001.6425332422}};
    for (const auto& c : cases) {
        EXPECT_NEAR(fits::Digamma(c.x), c.digamma, 1e-13 * std::max(1.0, std::fabs(c.digamma))) << c.x;
        EXPECT_NEAR(fits::Trigamma(c.x), c.trigamma, 1e-12 * std::max(1.0, c.trigamma)) << c.x;
    }
}

TEST(NewtonMinimize, ReachesTheMinimumOfRosenbrockFromTheStandardStart) {
    classic::Rosenbrock p;
    auto x = fits::NewtonMinimize(p, p.x0);
    EXPECT_NEAR(x[0], 1.0, 1e-10);
    EXPECT_NEAR(x[1], 1.0, 1e-10);
}

TEST(NewtonMinimize, StopsOnAnObjectiveThatIsNaNEverywhereButTheStart) {
    struct Hostile : classic::Problem {
        Hostile() : Problem("hostile", {1.0, 1.0}, 0.0) {}
        double fx(const double* x) const override { return x[0] == 1.0 && x[1] == 1.0 ? 1.0 : std::nan(""); }
        void grad(const double*, double* g) const override { g[0] = g[1] = 1.0; }
        void hess(const double*, double* h) const override { h[0] = h[3] = 1.0; }
    } p;
    auto x = fits::NewtonMinimize(p, p.x0);
    EXPECT_EQ(x, p.x0);
}

TEST(ProblemSet, ScaledProblemsTakeTheirSize) {
    struct Case {
        int size;
        size_t count;
    };
    for (const Case& c : {Case{10, 9}, Case{30, 9}, Case{50, 9}, Case{4, 9}}) {
        auto scaled = classic::ScaledProblems(c.size);
        ASSERT_EQ(scaled.size(), c.count);
        for (auto& p : scaled) {
            EXPECT_EQ(p->n, c.size) << p->name;
            EXPECT_EQ(p->x0.size(), static_cast<size_t>(c.size)) << p->name;
            if (c.size != 10) {
                std::string suffix = "-";
                suffix += std::to_string(c.size);
                EXPECT_NE(p->name.find(suffix), std::string::npos) << p->name;
            }
        }
    }
    // At n = 10 they are the problems of the classic set, under the same names.
    std::set<std::string> classicNames;
    for (auto& p : classic::AllProblems())
        classicNames.insert(p->name);
    for (auto& p : classic::ScaledProblems(10))
        EXPECT_EQ(classicNames.count(p->name), 1u) << p->name;
}

TEST(ProblemSet, RefusesSizesOutsideOneToTheJetCapacity) {
    EXPECT_THROW(classic::ExtendedRosenbrock(classic::kMaxScaledVariables + 2), std::length_error);
    EXPECT_THROW(classic::VariablyDimensioned(classic::kMaxScaledVariables + 1), std::length_error);
    EXPECT_NO_THROW(classic::VariablyDimensioned(classic::kMaxScaledVariables));
    for (int size : {0, -1, -1000000})
        for (auto make :
             {+[](int k) { return std::unique_ptr<classic::Problem>(new classic::PenaltyI(k)); },
              +[](int k) { return std::unique_ptr<classic::Problem>(new classic::LinearFullRank(k)); },
              +[](int k) { return std::unique_ptr<classic::Problem>(new classic::BroydenBanded(k)); }})
            EXPECT_THROW(make(size), std::length_error) << size;
}

TEST(ProblemSet, FitsAreBuiltFromTheSameBitsEveryTime) {
    auto first = fits::AllFits();
    auto second = fits::AllFits();
    ASSERT_EQ(first.size(), second.size());
    for (size_t k = 0; k < first.size(); ++k) {
        EXPECT_EQ(first[k]->fstar, second[k]->fstar) << first[k]->name;
        EXPECT_EQ(first[k]->xstar, second[k]->xstar) << first[k]->name;
        EXPECT_EQ(first[k]->fx(first[k]->x0.data()), second[k]->fx(second[k]->x0.data())) << first[k]->name;
    }
}

TEST(ProblemSet, FitMinimaAreStationaryAndPositiveDefinite) {
    for (const classic::Problem* p : Fits()) {
        const size_t n = static_cast<size_t>(p->n);
        std::vector<double> g(n), h(n * n, 0.0);
        p->grad(p->xstar.data(), g.data());
        p->hess(p->xstar.data(), h.data());
        // The Hessian at the minimizer is positive definite (Cholesky succeeds); the gradient
        // there is checked by KnownMinimizersHaveTheKnownValueAndNoSlope.
        std::vector<double> l(n * n, 0.0);
        bool positive = true;
        for (size_t j = 0; j < n && positive; ++j)
            for (size_t i = j; i < n; ++i) {
                double v = h[i * n + j];
                for (size_t k = 0; k < j; ++k)
                    v -= l[i * n + k] * l[j * n + k];
                if (i == j) {
                    positive = v > 0.0;
                    if (!positive)
                        break;
                    l[j * n + j] = std::sqrt(v);
                } else {
                    l[i * n + j] = v / l[j * n + j];
                }
            }
        EXPECT_TRUE(positive) << p->name;
        // No point nearby along the coordinate axes is lower.
        for (size_t i = 0; i < n; ++i)
            for (double sign : {-1.0, 1.0}) {
                std::vector<double> x = p->xstar;
                x[i] += sign * 1e-4 * std::max(std::fabs(x[i]), 1e-2);
                EXPECT_GE(p->fx(x.data()), p->fstar) << p->name << " axis " << i;
            }
    }
}

TEST(NewtonMinimize, NeverIncreasesTheObjective) {
    for (auto& p : classic::AllProblems()) {
        auto x = fits::NewtonMinimize(*p, p->x0);
        double f = p->fx(x.data());
        EXPECT_LE(f, p->fx(p->x0.data())) << p->name;
        EXPECT_FALSE(std::isnan(f)) << p->name;
    }
}

} // namespace
