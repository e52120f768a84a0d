// vrn::LeastSquares: fits, stopping, the verdict, counts, threads and refusals.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "lsq/LeastSquares.h"

namespace {

// Deterministic "noise" in [-1, 1].
double Noise(size_t i) {
    return std::sin(12.9898 * static_cast<double>(i) + 4.1) * 0.5 +
           std::cos(7.3 * static_cast<double>(i)) * 0.5;
}

struct Data {
    std::vector<double> t, y;
};

// y = a exp(-b t) + c with optional noise.
Data Decay(double a, double b, double c, double noise, size_t m = 30) {
    Data d;
    for (size_t i = 0; i < m; i++) {
        const double t = 0.25 * static_cast<double>(i);
        d.t.push_back(t);
        d.y.push_back(a * std::exp(-b * t) + c + noise * Noise(i));
    }
    return d;
}

vrn::ResidualFunction DecayResidual(const Data& d, std::atomic<long>* calls = nullptr) {
    return [&d, calls](std::span<const double> p) {
        if (calls)
            calls->fetch_add(1);
        std::vector<double> r(d.t.size());
        for (size_t i = 0; i < r.size(); i++)
            r[i] = p[0] * std::exp(-p[1] * d.t[i]) + p[2] - d.y[i];
        return r;
    };
}

vrn::JacobianFunction DecayJacobian(const Data& d) {
    return [&d](std::span<const double> p, std::span<double> jac) {
        for (size_t i = 0; i < d.t.size(); i++) {
            const double e = std::exp(-p[1] * d.t[i]);
            jac[i * 3 + 0] = e;
            jac[i * 3 + 1] = -p[0] * d.t[i] * e;
            jac[i * 3 + 2] = 1.0;
        }
    };
}

struct StartCase {
    std::vector<double> x0;
    int method;
    bool analytic;
};

class DecayFit : public ::testing::TestWithParam<StartCase> {};

TEST_P(DecayFit, ZeroResidualDataAreFitExactly) {
    const Data d = Decay(5.0, 0.7, 1.5, 0.0);
    vrn::LeastSquaresOptions o;
    o.method = GetParam().method;
    const auto r = vrn::LeastSquares(DecayResidual(d), GetParam().analytic ? DecayJacobian(d) : nullptr,
                                     GetParam().x0, o);
    ASSERT_TRUE(r.success) << r.Summary();
    EXPECT_NEAR(r.x[0], 5.0, 1e-7);
    EXPECT_NEAR(r.x[1], 0.7, 1e-8);
    EXPECT_NEAR(r.x[2], 1.5, 1e-7);
    EXPECT_LT(r.f, 1e-14);
    EXPECT_EQ(r.fit.residuals.size(), d.t.size());
    EXPECT_EQ(r.fit.jacobian.size(), d.t.size() * 3);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, DecayFit,
    ::testing::Values(StartCase{{4.0, 0.5, 1.0}, 3, true}, StartCase{{1.0, 0.1, 0.0}, 3, true},
                      StartCase{{4.0, 0.5, 1.0}, 2, true}, StartCase{{1.0, 0.1, 0.0}, 3, false},
                      StartCase{{20.0, 3.0, -5.0}, 3, true}, StartCase{{20.0, 3.0, -5.0}, 2, false}));

// The covariance s^2 (J^T J)^-1 computed directly (normal equations, Gauss-Jordan).
std::vector<double> DirectCovariance(const std::vector<double>& jac, size_t m, size_t n, double s2) {
    std::vector<double> a(n * 2 * n, 0.0);
    for (size_t j = 0; j < n; j++) {
        for (size_t k = 0; k < n; k++) {
            double sum = 0.0;
            for (size_t i = 0; i < m; i++)
                sum += jac[i * n + j] * jac[i * n + k];
            a[j * 2 * n + k] = sum;
        }
        a[j * 2 * n + n + j] = 1.0;
    }
    for (size_t c = 0; c < n; c++) {
        size_t piv = c;
        for (size_t r = c + 1; r < n; r++)
            if (std::fabs(a[r * 2 * n + c]) > std::fabs(a[piv * 2 * n + c]))
                piv = r;
        for (size_t k = 0; k < 2 * n; k++)
            std::swap(a[c * 2 * n + k], a[piv * 2 * n + k]);
        const double d = a[c * 2 * n + c];
        for (size_t k = 0; k < 2 * n; k++)
            a[c * 2 * n + k] /= d;
        for (size_t r = 0; r < n; r++) {
            if (r == c)
                continue;
            const double f = a[r * 2 * n + c];
            for (size_t k = 0; k < 2 * n; k++)
                a[r * 2 * n + k] -= f * a[c * 2 * n + k];
        }
    }
    std::vector<double> cov(n * n);
    for (size_t j = 0; j < n; j++)
        for (size_t k = 0; k < n; k++)
            cov[j * n + k] = s2 * a[j * 2 * n + n + k];
    return cov;
}

TEST(LeastSquares, CovarianceMatchesDirectComputation) {
    const Data d = Decay(5.0, 0.7, 1.5, 0.05, 40);
    const auto r = vrn::LeastSquares(DecayResidual(d), DecayJacobian(d), {4.0, 1.0, 1.0});
    ASSERT_TRUE(r.success) << r.Summary();
    const auto& u = r.fit.uncertainty;
    ASSERT_TRUE(u.computed);
    EXPECT_EQ(u.dof, 37);
    double ss = 0.0;
    for (double v : r.fit.residuals)
        ss += v * v;
    EXPECT_NEAR(u.residualVariance, ss / 37.0, 1e-12 * ss);
    const auto direct = DirectCovariance(r.fit.jacobian, 40, 3, ss / 37.0);
    for (size_t k = 0; k < 9; k++)
        EXPECT_NEAR(u.covariance[k], direct[k], 1e-8 * std::fabs(direct[k]) + 1e-18) << k;
    for (size_t j = 0; j < 3; j++) {
        EXPECT_NEAR(u.standardErrors[j], std::sqrt(direct[j * 3 + j]), 1e-8 * std::sqrt(direct[j * 3 + j]));
        EXPECT_DOUBLE_EQ(u.correlation[j * 3 + j], 1.0);
    }
    EXPECT_NEAR(u.correlation[1], direct[1] / std::sqrt(direct[0] * direct[4]), 1e-8);
    EXPECT_TRUE(u.undetermined.empty());
    EXPECT_EQ(u.rank, 3);
    // The fit is at a stationary point: the gradient J^T r is tiny against |J| |r|.
    EXPECT_LT(r.fit.optimality, 1e-6);
}

TEST(LeastSquares, AbsoluteSigmaCovarianceIsTheInverse) {
    const std::vector<double> jac = {1, 0, 1, 1, 1, 2, 1, 3};
    const auto u = vrn::ComputeUncertainty(jac, 4, 2, 10.0, true);
    const auto direct = DirectCovariance(jac, 4, 2, 1.0);
    for (size_t k = 0; k < 4; k++)
        EXPECT_NEAR(u.covariance[k], direct[k], 1e-14);
    EXPECT_EQ(u.residualVariance, 1.0);
}

TEST(LeastSquares, UnidentifiableParametersAreNamedNotGarbage) {
    // r = a * b * t - y: only the product a b is determined.
    std::vector<double> t, y;
    for (int i = 0; i < 10; i++) {
        t.push_back(i);
        y.push_back(3.0 * i + 0.01 * Noise(static_cast<size_t>(i)));
    }
    auto res = [&](std::span<const double> p) {
        std::vector<double> r(t.size());
        for (size_t i = 0; i < t.size(); i++)
            r[i] = p[0] * p[1] * t[i] + p[2] - y[i];
        return r;
    };
    const auto r = vrn::LeastSquares(res, nullptr, {1.0, 1.0, 0.0});
    EXPECT_EQ(r.fit.uncertainty.rank, 2);
    ASSERT_EQ(r.fit.uncertainty.undetermined, (std::vector<int>{0, 1}));
    EXPECT_TRUE(std::isnan(r.fit.uncertainty.standardErrors[0]));
    EXPECT_TRUE(std::isnan(r.fit.uncertainty.standardErrors[1]));
    EXPECT_TRUE(std::isfinite(r.fit.uncertainty.standardErrors[2]));
    bool named = false;
    for (const auto& w : r.warnings)
        named = named || w.find("cannot determine x[0] and x[1]") != std::string::npos;
    EXPECT_TRUE(named) << r.Summary();
    EXPECT_FALSE(r.success);
    // x0 has a 0, so the fallback with typical sizes |x0| is not tried.
    EXPECT_EQ(r.warnings.back(), "the fits from x0 with dogleg did not succeed either") << r.Summary();
    EXPECT_NEAR(r.x[0] * r.x[1], 3.0, 1e-2);
}

TEST(LeastSquares, BadlyScaledParametersAreSolved) {
    // y = a exp(b t) with a ~ 1e-4, b ~ 1e-3 over t up to 3000: J's columns differ by ~1e8.
    std::vector<double> t, y;
    for (int i = 0; i < 25; i++) {
        t.push_back(120.0 * i);
        y.push_back(2.5e-4 * std::exp(8e-4 * 120.0 * i) * (1.0 + 0.001 * Noise(static_cast<size_t>(i))));
    }
    auto res = [&](std::span<const double> p) {
        std::vector<double> r(t.size());
        for (size_t i = 0; i < t.size(); i++)
            r[i] = p[0] * std::exp(p[1] * t[i]) - y[i];
        return r;
    };
    const auto r = vrn::LeastSquares(res, nullptr, {1e-4, 5e-4});
    ASSERT_TRUE(r.success) << r.Summary();
    EXPECT_NEAR(r.x[0], 2.5e-4, 2e-6);
    EXPECT_NEAR(r.x[1], 8e-4, 2e-6);
    EXPECT_LT(r.fit.residualEvaluations, 60);
}

TEST(LeastSquares, StartAtTheSolutionStopsOnGtol) {
    const Data d = Decay(5.0, 0.7, 1.5, 0.0);
    const auto r = vrn::LeastSquares(DecayResidual(d), DecayJacobian(d), {5.0, 0.7, 1.5});
    EXPECT_EQ(r.fit.status, static_cast<int>(vrn::LeastSquaresStatus::Gradient));
    EXPECT_EQ(r.iterations, 0);
    EXPECT_EQ(r.fit.residualEvaluations, 1);
    EXPECT_TRUE(r.success);
}

TEST(LeastSquares, CountsEveryResidualCall) {
    const Data d = Decay(5.0, 0.7, 1.5, 0.02);
    std::atomic<long> calls{0};
    const auto r = vrn::LeastSquares(DecayResidual(d, &calls), nullptr, {1.0, 0.1, 0.0});
    EXPECT_TRUE(r.success) << r.Summary();
    EXPECT_EQ(calls.load(), r.fit.residualEvaluations + r.fit.differenceEvaluations);
    EXPECT_EQ(r.fit.differenceEvaluations, 3 * r.fit.jacobianEvaluations);
    vrn::LeastSquaresOptions o;
    o.differences = vrn::DifferenceScheme::ThreePoint;
    calls = 0;
    const auto c = vrn::LeastSquares(DecayResidual(d, &calls), nullptr, {1.0, 0.1, 0.0}, o);
    EXPECT_EQ(c.fit.differenceEvaluations, 6 * c.fit.jacobianEvaluations);
    EXPECT_EQ(calls.load(), c.fit.residualEvaluations + c.fit.differenceEvaluations);
    EXPECT_NEAR(c.x[1], r.x[1], 1e-6);
}

TEST(LeastSquares, DifferenceJacobianOnThreadsIsBitIdentical) {
    const Data d = Decay(5.0, 0.7, 1.5, 0.02, 200);
    vrn::LeastSquaresOptions one, two;
    two.threads = 2;
    const auto a = vrn::LeastSquares(DecayResidual(d), nullptr, {1.0, 0.1, 0.0}, one);
    const auto b = vrn::LeastSquares(DecayResidual(d), nullptr, {1.0, 0.1, 0.0}, two);
    ASSERT_EQ(a.x.size(), b.x.size());
    for (size_t j = 0; j < a.x.size(); j++)
        EXPECT_EQ(a.x[j], b.x[j]);
    EXPECT_EQ(a.f, b.f);
    EXPECT_EQ(a.fit.jacobian, b.fit.jacobian);
    EXPECT_EQ(a.fit.residualEvaluations, b.fit.residualEvaluations);
    EXPECT_EQ(a.fit.differenceEvaluations, b.fit.differenceEvaluations);
}

TEST(LeastSquares, EvaluationLimitIsAFailure) {
    const Data d = Decay(5.0, 0.7, 1.5, 0.02);
    vrn::LeastSquaresOptions o;
    o.maximumEvaluations = 3;
    const auto r = vrn::LeastSquares(DecayResidual(d), DecayJacobian(d), {20.0, 3.0, -5.0}, o);
    EXPECT_EQ(r.fit.status, static_cast<int>(vrn::LeastSquaresStatus::EvaluationLimit));
    EXPECT_FALSE(r.success);
    EXPECT_FALSE(r.warnings.empty());
    EXPECT_LT(r.fit.residualEvaluations, 20);
}

TEST(LeastSquares, NotANumberRegionEndsTheRun) {
    // log(b) is undefined for b <= 0; the start is near that edge and the data want b near 0.
    std::vector<double> t = {1, 2, 3, 4, 5, 6};
    auto res = [&](std::span<const double> p) {
        std::vector<double> r(t.size());
        for (size_t i = 0; i < t.size(); i++)
            r[i] = p[0] + std::log(p[1]) * t[i] - (2.0 - 30.0 * t[i]);
        return r;
    };
    const auto r = vrn::LeastSquares(res, nullptr, {1.0, 0.5});
    EXPECT_TRUE(std::isfinite(r.f));
    EXPECT_GT(r.x[1], 0.0);
    EXPECT_LT(r.iterations, 10000);
}

struct RefusalCase {
    vrn::LeastSquaresOptions options;
    std::vector<double> x0;
    const char* phrase;
};

TEST(LeastSquares, RefusesBadOptionsAndStarts) {
    const Data d = Decay(5.0, 0.7, 1.5, 0.0);
    auto with = [](auto f) {
        vrn::LeastSquaresOptions o;
        f(o);
        return o;
    };
    const std::vector<RefusalCase> cases = {
        {with([](auto& o) { o.method = 1; }), {1, 1, 1}, "method"},
        {with([](auto& o) { o.ftol = 1.0; }), {1, 1, 1}, "ftol"},
        {with([](auto& o) { o.xtol = -1.0; }), {1, 1, 1}, "xtol"},
        {with([](auto& o) { o.gtol = std::numeric_limits<double>::quiet_NaN(); }), {1, 1, 1}, "gtol"},
        {with([](auto& o) { o.lossScale = 0.0; }), {1, 1, 1}, "lossScale"},
        {with([](auto& o) { o.xScale = {1.0}; }), {1, 1, 1}, "xScale"},
        {with([](auto& o) { o.threads = 0; }), {1, 1, 1}, "threads"},
        {with([](auto& o) { o.itnlim = -1; }), {1, 1, 1}, "itnlim"},
        {with([](auto& o) { o.maximumEvaluations = 0; }), {1, 1, 1}, "maximumEvaluations"},
        // Options of a minimization that a fit has no use for.
        {with([](auto& o) {
             o.typicalX = {1, 1, 1};
         }),
         {1, 1, 1},
         "typicalX is not used by least-squares fits"},
        {with([](auto& o) { o.gradientTolerance = 1e-6; }), {1, 1, 1}, "gradientTolerance is not used"},
        {with([](auto& o) { o.driver = vrn::Driver::Tool; }), {1, 1, 1}, "must be engine"},
        {{}, {1, std::numeric_limits<double>::infinity(), 1}, "x0 must be finite"},
        {{}, {}, "no parameters"},
        {{}, {1, -1000, 1}, "not finite at the start point"},
    };
    for (const auto& c : cases) {
        const auto r = vrn::LeastSquares(DecayResidual(d), nullptr, c.x0, c.options);
        EXPECT_EQ(r.fit.status, static_cast<int>(vrn::LeastSquaresStatus::ImproperInput)) << c.phrase;
        EXPECT_FALSE(r.success);
        EXPECT_NE(r.message.find(c.phrase), std::string::npos) << r.message;
    }
    const auto empty =
        vrn::LeastSquares([](std::span<const double>) { return std::vector<double>{}; }, nullptr, {1.0});
    EXPECT_EQ(empty.fit.status, static_cast<int>(vrn::LeastSquaresStatus::ImproperInput));
    EXPECT_EQ(empty.outcome, vrn::Outcome::Refused);

    // And the other way round: a minimization refuses the fit's own options, in the
    // naming of its face.
    vrn::MinimizeOptions m;
    m.ftol = 1e-10;
    m.naming = vrn::OptionNaming::Python;
    const auto refused = vrn::Minimize([](std::span<const double> x) { return x[0] * x[0]; }, {1.0}, m);
    EXPECT_EQ(refused.outcome, vrn::Outcome::Refused);
    EXPECT_EQ(refused.message, "ftol is used by least-squares fits only") << refused.message;
}

TEST(LeastSquares, ChangingResidualLengthThrows) {
    int calls = 0;
    auto res = [&calls](std::span<const double> p) {
        return std::vector<double>(calls++ == 0 ? 3 : 4, p[0]);
    };
    EXPECT_THROW(vrn::LeastSquares(res, nullptr, {1.0}), std::length_error);
}

TEST(LeastSquares, RobustLossResistsOutliers) {
    Data d = Decay(5.0, 0.7, 1.5, 0.01, 40);
    d.y[5] += 8.0;
    d.y[17] -= 6.0;
    const auto plain = vrn::LeastSquares(DecayResidual(d), DecayJacobian(d), {4.0, 1.0, 1.0});
    double worstPlain = std::fabs(plain.x[1] - 0.7);
    for (vrn::Loss loss : {vrn::Loss::SoftL1, vrn::Loss::Huber, vrn::Loss::Cauchy}) {
        vrn::LeastSquaresOptions o;
        o.loss = loss;
        o.lossScale = 0.1;
        const auto r = vrn::LeastSquares(DecayResidual(d), DecayJacobian(d), {4.0, 1.0, 1.0}, o);
        EXPECT_TRUE(r.success) << vrn::LossName(loss) << "\n" << r.Summary();
        EXPECT_LT(std::fabs(r.x[1] - 0.7), 0.25 * worstPlain) << vrn::LossName(loss);
        EXPECT_LT(r.fit.optimality, 1e-5);
    }
}

TEST(LeastSquares, IterationCallbackStopsTheFit) {
    const Data d = Decay(5.0, 0.7, 1.5, 0.02);
    vrn::LeastSquaresOptions o;
    int seen = 0;
    o.onIteration = [&seen](int, std::span<const double>, double, std::span<const double>) {
        return ++seen < 2;
    };
    const auto r = vrn::LeastSquares(DecayResidual(d), DecayJacobian(d), {20.0, 3.0, -5.0}, o);
    EXPECT_EQ(seen, 2);
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.fit.status, static_cast<int>(vrn::LeastSquaresStatus::EvaluationLimit));
}

} // namespace

namespace {

TEST(LeastSquares, FailedFitIsTriedAgainFromTheStart) {
    // y = a exp(b / (x + c)) from a start where exp(b / (x + c)) is ~1e7: the
    // Jacobian's scales seen there hold a back, and both methods fail; the hook step with
    // typical sizes |x0| succeeds.
    std::vector<double> x, y;
    for (int i = 0; i < 16; i++) {
        x.push_back(50.0 + 5.0 * i);
        y.push_back(5.6e-3 * std::exp(6181.0 / (x.back() + 345.0)));
    }
    std::atomic<long> calls{0};
    auto res = [&](std::span<const double> p) {
        calls.fetch_add(1);
        std::vector<double> r(x.size());
        for (size_t i = 0; i < x.size(); i++)
            r[i] = p[0] * std::exp(p[1] / (x[i] + p[2])) - y[i];
        return r;
    };
    auto jac = [&](std::span<const double> p, std::span<double> j) {
        for (size_t i = 0; i < x.size(); i++) {
            const double u = x[i] + p[2];
            const double e = std::exp(p[1] / u);
            j[i * 3] = e;
            j[i * 3 + 1] = p[0] * e / u;
            j[i * 3 + 2] = -p[0] * e * p[1] / (u * u);
        }
    };
    const std::vector<double> x0 = {2.0, 4e5, 2.5e4};
    vrn::LeastSquaresOptions o;
    o.fallbacks = false;
    const auto alone = vrn::LeastSquares(res, jac, x0, o);
    ASSERT_FALSE(alone.success) << alone.Summary();
    o.fallbacks = true;
    calls = 0;
    const auto again = vrn::LeastSquares(res, jac, x0, o);
    ASSERT_TRUE(again.success) << again.Summary();
    EXPECT_NEAR(again.x[0], 5.6e-3, 1e-9);
    EXPECT_NEAR(again.x[1], 6181.0, 1e-4);
    EXPECT_NEAR(again.x[2], 345.0, 1e-5);
    bool noted = false;
    for (const auto& w : again.warnings)
        noted = noted || w.find("found by fit 3 (hook step, typical sizes |x0|)") != std::string::npos;
    EXPECT_TRUE(noted) << again.Summary();
    // Every call of all three fits is counted.
    EXPECT_EQ(calls.load(), again.fit.residualEvaluations);
    EXPECT_GT(again.fit.residualEvaluations, alone.fit.residualEvaluations);
    EXPECT_GT(again.iterations, alone.iterations);
}

} // namespace

namespace {

TEST(LeastSquares, ExactDataWithAParameterAtZero) {
    // y = 2 t + 0 t^2 exactly: the fit must be called a success although one answer is 0.
    std::vector<double> t = {0.5, 1, 1.5, 2, 3, 4};
    auto res = [&](std::span<const double> p) {
        std::vector<double> r(t.size());
        for (size_t i = 0; i < t.size(); i++)
            r[i] = p[0] * t[i] + p[1] * t[i] * t[i] - 2.0 * t[i];
        return r;
    };
    for (const std::vector<double>& x0 : {std::vector<double>{1.0, 1.0}, std::vector<double>{-3.0, 0.0}}) {
        const auto r = vrn::LeastSquares(res, nullptr, x0);
        EXPECT_TRUE(r.success) << r.Summary();
        EXPECT_NEAR(r.x[0], 2.0, 1e-7);
        EXPECT_NEAR(r.x[1], 0.0, 1e-7);
    }
}

} // namespace

namespace {

TEST(LeastSquares, DifferenceColumnsOfSmallCoefficientsAreAccurate) {
    // y = a exp(b x^3) with b = 1.2e-7 and x up to 300: a step of sqrt(eps) max(|b|, 1)
    // would move b by a tenth of its value (and the column by 20%); steps relative to
    // max(|b|, |b0|) keep it accurate.
    std::vector<double> x, y;
    for (int i = 0; i < 30; i++) {
        x.push_back(10.0 * (i + 1));
        const double c = x.back() * x.back() * x.back();
        y.push_back(2.0 * std::exp(1.2e-7 * c) * (1.0 + 0.001 * Noise(static_cast<size_t>(i))));
    }
    auto res = [&](std::span<const double> p) {
        std::vector<double> r(x.size());
        for (size_t i = 0; i < x.size(); i++)
            r[i] = p[0] * std::exp(p[1] * x[i] * x[i] * x[i]) - y[i];
        return r;
    };
    for (auto scheme : {vrn::DifferenceScheme::TwoPoint, vrn::DifferenceScheme::ThreePoint}) {
        vrn::LeastSquaresOptions o;
        o.differences = scheme;
        const auto r = vrn::LeastSquares(res, nullptr, {1.5, 1e-7}, o);
        ASSERT_TRUE(r.success) << r.Summary();
        EXPECT_NEAR(r.x[1], 1.2e-7, 1e-9);
        // Against the column's largest entry: rows where b x^3 is tiny carry rounding
        // of relative size eps / (step b x^3).
        const double c30 = x.back() * x.back() * x.back();
        const double largest = r.x[0] * c30 * std::exp(r.x[1] * c30);
        for (size_t i = 0; i < x.size(); i++) {
            const double c = x[i] * x[i] * x[i];
            const double exact = r.x[0] * c * std::exp(r.x[1] * c);
            EXPECT_NEAR(r.fit.jacobian[i * 2 + 1], exact, 1e-6 * largest) << i;
        }
    }
}

} // namespace

namespace {

// Serialized results compare every field the faces see.
bool SameFit(const vrn::LeastSquaresResult& a, const vrn::LeastSquaresResult& b) {
    return a.x == b.x && a.f == b.f && a.success == b.success && a.fit.jacobian == b.fit.jacobian &&
           a.fit.residualEvaluations == b.fit.residualEvaluations && a.iterations == b.iterations &&
           a.fit.uncertainty.covariance.size() == b.fit.uncertainty.covariance.size();
}

} // namespace

TEST(LeastSquares, BatchesOfFitsKeepEachItemAndNameTheBadOnes) {
    // 24 data sets, each its own decay; items 5 and 17 are hostile.
    std::vector<Data> data;
    for (size_t k = 0; k < 24; k++)
        data.push_back(
            Decay(2.0 + 0.1 * static_cast<double>(k), 0.3 + 0.02 * static_cast<double>(k), 0.5, 0.01, 25));
    std::vector<vrn::FitItem> items;
    for (size_t k = 0; k < data.size(); k++)
        items.push_back(
            {DecayResidual(data[k]), k % 3 == 0 ? DecayJacobian(data[k]) : nullptr, {1.0, 0.1, 0.0}});
    items[5].residual = [](std::span<const double>) -> std::vector<double> {
        throw std::runtime_error("bad file");
    };
    items[17].x0 = {1.0, std::numeric_limits<double>::quiet_NaN(), 0.0};

    const vrn::LeastSquaresOptions options;
    for (int threads : {1, 3}) {
        vrn::BatchOptions batch;
        batch.threads = threads;
        std::atomic<int> done{0};
        batch.onItemDone = [&done](size_t, const vrn::MinimizeResult&) { done++; };
        const auto results = vrn::LeastSquaresMany(items, options, batch);
        ASSERT_EQ(results.size(), items.size());
        EXPECT_EQ(done.load(), 24);
        for (size_t k = 0; k < items.size(); k++) {
            if (k == 5 || k == 17) {
                EXPECT_FALSE(results[k].success);
                EXPECT_EQ(results[k].outcome, vrn::Outcome::Refused);
                EXPECT_EQ(results[k].message.rfind("item " + std::to_string(k) + ": ", 0), 0u)
                    << results[k].message;
                continue;
            }
            const auto alone = vrn::LeastSquares(items[k].residual, items[k].jacobian, items[k].x0, options);
            EXPECT_TRUE(results[k].success) << k << "\n" << results[k].Summary();
            EXPECT_TRUE(SameFit(results[k], alone)) << k;
        }
        EXPECT_NE(results[5].message.find("bad file"), std::string::npos);
        EXPECT_NE(results[17].message.find("x0 must be finite"), std::string::npos);
    }
    vrn::BatchOptions rethrow;
    rethrow.rethrow = true;
    EXPECT_THROW(vrn::LeastSquaresMany(items, options, rethrow), std::runtime_error);
}

TEST(LeastSquares, APlateauIsNeverASuccessAndAMissedShapeIsNamed) {
    // A narrow peak at x = 5 on [0, 10], started with its centre at 100: the model is 0
    // to rounding on every point, the gradient vanishes, and nothing says where the peak is.
    std::vector<double> x, y;
    for (int i = 0; i <= 40; i++) {
        x.push_back(0.25 * i);
        y.push_back(2.0 * std::exp(-std::pow((0.25 * i - 5.0) / 0.7, 2)) +
                    0.001 * Noise(static_cast<size_t>(i)));
    }
    auto peak = [&](std::span<const double> p) {
        std::vector<double> r(x.size());
        for (size_t i = 0; i < x.size(); i++)
            r[i] = p[0] * std::exp(-std::pow((x[i] - p[1]) / p[2], 2)) - y[i];
        return r;
    };
    const auto off = vrn::LeastSquares(peak, nullptr, {1.0, 100.0, 1.0});
    EXPECT_FALSE(off.success) << off.Summary();
    EXPECT_TRUE(off.verdict.plateau) << off.Summary();
    bool named = false;
    for (const auto& w : off.warnings)
        named = named || w.find("on a plateau") != std::string::npos;
    EXPECT_TRUE(named) << off.Summary();
    const auto near = vrn::LeastSquares(peak, nullptr, {1.0, 4.5, 1.0});
    EXPECT_TRUE(near.success) << near.Summary();
    EXPECT_FALSE(near.verdict.plateau);

    // A straight line through a parabola is the best line (a success) but its residuals
    // run in three long stretches; a line through noisy line data is not flagged.
    auto line = [&x](const std::vector<double>& data) {
        return [&x, data](std::span<const double> p) {
            std::vector<double> r(x.size());
            for (size_t i = 0; i < x.size(); i++)
                r[i] = p[0] + p[1] * x[i] - data[i];
            return r;
        };
    };
    std::vector<double> parabola, straight;
    for (size_t i = 0; i < x.size(); i++) {
        parabola.push_back(x[i] * x[i]);
        straight.push_back(1.0 + 2.0 * x[i] + 0.1 * Noise(i));
    }
    auto runsWarning = [](const vrn::LeastSquaresResult& r) {
        for (const auto& w : r.warnings)
            if (w.find("runs test") != std::string::npos)
                return true;
        return false;
    };
    const auto bent = vrn::LeastSquares(line(parabola), nullptr, {0.0, 1.0});
    EXPECT_TRUE(bent.success) << bent.Summary();
    EXPECT_TRUE(runsWarning(bent)) << bent.Summary();
    const auto fine = vrn::LeastSquares(line(straight), nullptr, {0.0, 1.0});
    EXPECT_TRUE(fine.success) << fine.Summary();
    EXPECT_FALSE(runsWarning(fine)) << fine.Summary();
}
