// vrn::LeastSquares on ill-conditioned fits: the answer to 4 significant digits, with the
// analytic Jacobian and with forward differences, from hostile starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

#include "lsq/LeastSquares.h"

namespace {

using Complex = std::complex<double>;

// Deterministic "noise" in [-1, 1].
double Wiggle(size_t i) {
    return std::sin(12.9898 * static_cast<double>(i) + 4.1) * 0.5 +
           std::cos(7.3 * static_cast<double>(i)) * 0.5;
}

// b0 (b1 + x)^(-1/b2) on a short x-range far from 0: the cost settles to 1e-9 of itself
// while the parameters are still 1e-4 away.
template <class T> T Power(const T* b, double x) {
    return b[0] * std::pow(b[1] + x, -1.0 / b[2]);
}

// A rational 3/3 over two decades of x with coefficients from 1e-7 to 1e3: forward
// differences move the end point by 1e-4.
template <class T> T Rational(const T* b, double x) {
    return (b[0] + b[1] * x + b[2] * x * x + b[3] * x * x * x) /
           (1.0 + b[4] * x + b[5] * x * x + b[6] * x * x * x);
}

// b0 exp(b1 / (x + b2)): the first steps shrink b0 by seven decades, which leaves the
// largest column norms seen so far far above the current ones.
template <class T> T ExpRatio(const T* b, double x) {
    return b[0] * std::exp(b[1] / (x + b[2]));
}

struct Problem {
    std::string name;
    double (*f)(const double*, double);
    Complex (*fc)(const Complex*, double);
    std::vector<double> truth;
    std::vector<double> x;
    double noise; // relative to each value (relative) or to the largest (absolute)
    bool relative;
};

struct Fit {
    std::vector<double> x, y;
    const Problem* problem;
    vrn::ResidualFunction Residual() const {
        return [this](std::span<const double> p) {
            std::vector<double> r(x.size());
            for (size_t i = 0; i < x.size(); i++)
                r[i] = problem->f(p.data(), x[i]) - y[i];
            return r;
        };
    }
    // Complex steps: exact to rounding.
    vrn::JacobianFunction Jacobian() const {
        return [this](std::span<const double> p, std::span<double> jac) {
            const size_t n = p.size();
            for (size_t j = 0; j < n; j++) {
                std::vector<Complex> q(p.begin(), p.end());
                q[j] += Complex(0.0, 1e-30);
                for (size_t i = 0; i < x.size(); i++)
                    jac[i * n + j] = problem->fc(q.data(), x[i]).imag() / 1e-30;
            }
        };
    }
};

Fit MakeFit(const Problem& p) {
    Fit fit{p.x, {}, &p};
    double largest = 0.0;
    for (double v : p.x)
        largest = std::max(largest, std::fabs(p.f(p.truth.data(), v)));
    for (size_t i = 0; i < p.x.size(); i++) {
        const double clean = p.f(p.truth.data(), p.x[i]);
        fit.y.push_back(p.relative ? clean * (1.0 + p.noise * Wiggle(i))
                                   : clean + p.noise * largest * Wiggle(i));
    }
    return fit;
}

std::vector<double> Geometric(double a, double b, size_t m) {
    std::vector<double> x;
    for (size_t i = 0; i < m; i++)
        x.push_back(a * std::pow(b / a, static_cast<double>(i) / static_cast<double>(m - 1)));
    return x;
}

std::vector<double> Arithmetic(double a, double step, size_t m) {
    std::vector<double> x;
    for (size_t i = 0; i < m; i++)
        x.push_back(a + step * static_cast<double>(i));
    return x;
}

const Problem& Get(const std::string& name) {
    static const std::vector<Problem> problems = {
        {"power",
         Power<double>,
         Power<Complex>,
         {-2500.0, 45.0, 0.93},
         Geometric(7.5, 12.0, 154),
         5e-5,
         true},
        {"rational",
         Rational<double>,
         Rational<Complex>,
         {500.0, 12.0, 0.05, 3.0e-5, 0.02, 1.0e-4, 1.5e-7},
         Geometric(10.0, 1000.0, 120),
         1e-4,
         false},
        {"exp ratio",
         ExpRatio<double>,
         ExpRatio<Complex>,
         {2.0e-6, 8.0e3, 380.0},
         Arithmetic(50.0, 5.0, 16),
         1e-3,
         true},
    };
    for (const Problem& p : problems)
        if (p.name == name)
            return p;
    throw std::out_of_range(name);
}

struct HardCase {
    std::string problem;
    std::vector<double> x0;
    bool analytic;
};

class IllConditionedFit : public ::testing::TestWithParam<HardCase> {};

TEST_P(IllConditionedFit, SolvesToFourDigits) {
    const HardCase& c = GetParam();
    const Problem& problem = Get(c.problem);
    const Fit fit = MakeFit(problem);
    // The reference: two tight fits from the truth with the exact Jacobian.
    vrn::LeastSquaresOptions tight;
    tight.ftol = tight.xtol = tight.gtol = 1e-15;
    tight.maximumEvaluations = 100000;
    auto ref = vrn::LeastSquares(fit.Residual(), fit.Jacobian(), problem.truth, tight);
    ref = vrn::LeastSquares(fit.Residual(), fit.Jacobian(), ref.x, tight);
    const auto r = vrn::LeastSquares(fit.Residual(), c.analytic ? fit.Jacobian() : nullptr, c.x0);
    ASSERT_TRUE(r.success) << r.Summary();
    EXPECT_LE(r.f, ref.f * (1.0 + 1e-6)) << r.Summary();
    for (size_t j = 0; j < ref.x.size(); j++)
        EXPECT_NEAR(r.x[j], ref.x[j], 1e-4 * std::fabs(ref.x[j])) << "x[" << j << "]\n" << r.Summary();
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, IllConditionedFit,
    ::testing::Values(HardCase{"power", {-4000.0, 55.0, 0.7}, true},
                      HardCase{"power", {-1800.0, 42.0, 0.85}, true},
                      HardCase{"power", {-4000.0, 55.0, 0.7}, false},
                      HardCase{"rational", {400.0, 10.0, 0.04, 2.0e-5, 0.015, 0.8e-4, 1.0e-7}, true},
                      HardCase{"rational", {400.0, 10.0, 0.04, 2.0e-5, 0.015, 0.8e-4, 1.0e-7}, false},
                      HardCase{"rational", {100.0, 1.0, 0.1, 1.0e-4, 0.1, 1.0e-3, 1.0e-6}, false},
                      HardCase{"exp ratio", {1.0e-3, 1.0e4, 300.0}, true}),
    [](const ::testing::TestParamInfo<HardCase>& info) {
        std::string name = info.param.problem + (info.param.analytic ? "_analytic_" : "_differences_") +
                           std::to_string(info.index);
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

} // namespace

// The engine regularizes the nearly singular J^T J of the Bennett-type power and then steps
// a seventh of the way each time (some 60 steps); the full Gauss-Newton steps the fit tries
// when the engine's steps fall short take it there in a few.
TEST(IllConditionedFit, ShortStepsAreCompletedByGaussNewtonSteps) {
    const Problem& problem = Get("power");
    const Fit fit = MakeFit(problem);
    struct Start {
        std::vector<double> x0;
        long most;
    };
    for (const Start& s : {Start{{-2000.0, 50.0, 0.8}, 25}, Start{{-1500.0, 45.0, 0.85}, 25}}) {
        const auto r = vrn::LeastSquares(fit.Residual(), fit.Jacobian(), s.x0);
        ASSERT_TRUE(r.success) << r.Summary();
        EXPECT_LE(r.fit.residualEvaluations, s.most) << r.Summary();
    }
}

// From an absurd start (exp() about 1e80, a cost of 1e169) the cost falls by 39 orders of
// magnitude and stays at 1e130, nowhere near a minimum: never a success, and the warning
// says to start nearer rather than to tighten the tolerances.
TEST(IllConditionedFit, AnAbsurdStartIsNotCalledASuccess) {
    const Problem& problem = Get("exp ratio");
    const Fit fit = MakeFit(problem);
    const auto r = vrn::LeastSquares(fit.Residual(), fit.Jacobian(), {1.0, 2.0e4, 50.0});
    if (r.success) {
        for (size_t j = 0; j < r.x.size(); j++)
            EXPECT_NEAR(r.x[j], problem.truth[j], 0.1 * std::fabs(problem.truth[j])) << r.Summary();
        return;
    }
    bool nearer = false;
    for (const auto& w : r.warnings)
        nearer = nearer || w.find("start nearer") != std::string::npos;
    EXPECT_TRUE(nearer) << r.Summary();
}
