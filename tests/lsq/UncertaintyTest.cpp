// Singular values and the covariance from a Jacobian, against hand-computed cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "lsq/Uncertainty.h"

namespace {

TEST(Uncertainty, SingularValuesOfKnownMatrices) {
    struct Case {
        std::vector<double> a;
        size_t m, n;
        std::vector<double> sigma;
    };
    const std::vector<Case> cases = {
        {{3, 0, 0, 4}, 2, 2, {4, 3}},
        {{1, 1, 1, 1}, 2, 2, {2, 0}},
        {{1, 0, 0, 1, 0, 0}, 3, 2, {1, 1}},
        {{2, 0, 0, 1e-9, 0, 0}, 3, 2, {2, 1e-9}},
        {{3, 4}, 1, 2, {5, 0}},
    };
    for (const Case& c : cases) {
        std::vector<double> sigma, v;
        vrn::SingularValueDecomposition(c.a, c.m, c.n, sigma, v);
        ASSERT_EQ(sigma.size(), c.n);
        for (size_t k = 0; k < c.n; k++)
            EXPECT_NEAR(sigma[k], c.sigma[k], 1e-14 * std::max(1.0, c.sigma[k]));
        // V is orthogonal.
        for (size_t p = 0; p < c.n; p++)
            for (size_t q = 0; q < c.n; q++) {
                double d = 0.0;
                for (size_t i = 0; i < c.n; i++)
                    d += v[i * c.n + p] * v[i * c.n + q];
                EXPECT_NEAR(d, p == q ? 1.0 : 0.0, 1e-14);
            }
    }
}

TEST(Uncertainty, ZeroColumnIsUndetermined) {
    // The second parameter has no effect on the residuals.
    const std::vector<double> jac = {1, 0, 1, 0, 1, 0, 1, 0};
    const auto u = vrn::ComputeUncertainty(jac, 4, 2, 2.0);
    ASSERT_TRUE(u.computed);
    EXPECT_EQ(u.rank, 1);
    EXPECT_EQ(u.undetermined, std::vector<int>{1});
    EXPECT_TRUE(std::isinf(u.conditionNumber));
    EXPECT_NEAR(u.covariance[0], (2.0 * 2.0 / 2.0) / 4.0, 1e-15); // s^2 (J^T J)^-1 = (4/2) / 4
    EXPECT_TRUE(std::isnan(u.covariance[3]));
    EXPECT_TRUE(std::isnan(u.standardErrors[1]));
    EXPECT_EQ(vrn::UndeterminedWarning(u, {"a", "b"}).rfind("the data cannot determine b:", 0), 0u);
}

TEST(Uncertainty, NoDegreesOfFreedomOrNoFiniteJacobian) {
    const auto square = vrn::ComputeUncertainty(std::vector<double>{1, 0, 0, 2}, 2, 2, 1.0);
    EXPECT_EQ(square.dof, 0);
    EXPECT_TRUE(std::isnan(square.residualVariance));
    EXPECT_TRUE(std::isnan(square.standardErrors[0]));
    const auto absolute = vrn::ComputeUncertainty(std::vector<double>{1, 0, 0, 2}, 2, 2, 1.0, true);
    EXPECT_NEAR(absolute.covariance[3], 0.25, 1e-15);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto bad = vrn::ComputeUncertainty(std::vector<double>{1, nan, 0, 2, 1, 1}, 3, 2, 1.0);
    EXPECT_FALSE(bad.computed);
    EXPECT_TRUE(bad.covariance.empty());
    EXPECT_TRUE(vrn::UndeterminedWarning(bad, {}).empty());
}

TEST(Uncertainty, BadlyScaledColumnsKeepTheirAccuracy) {
    // Orthogonal columns: the covariance diagonal is 1 / norm^2, however different the
    // norms: the rank does not depend on the units of the parameters.
    const std::vector<double> jac = {1e6, 0, 0, 1e-12, 0, 0};
    const auto u = vrn::ComputeUncertainty(jac, 3, 2, 0.0, true);
    EXPECT_EQ(u.rank, 2);
    EXPECT_TRUE(u.undetermined.empty());
    EXPECT_NEAR(u.covariance[3], 1e24, 1e10);
    // Parallel columns of very different norms: one direction is undetermined, and both
    // parameters take part in it.
    const std::vector<double> parallel = {1e6, 1e-12, 2e6, 2e-12, 3e6, 3e-12};
    const auto p = vrn::ComputeUncertainty(parallel, 3, 2, 0.0, true);
    EXPECT_EQ(p.rank, 1);
    EXPECT_EQ(p.undetermined, (std::vector<int>{0, 1}));
    const std::vector<double> wide = {1e6, 0, 0, 1e-6, 0, 0};
    const auto v = vrn::ComputeUncertainty(wide, 3, 2, 0.0, true);
    EXPECT_EQ(v.rank, 2);
    EXPECT_NEAR(v.covariance[3], 1e12, 1e-3);
    const std::vector<double> mild = {1e4, 0, 0, 1e-4, 0, 0};
    const auto w = vrn::ComputeUncertainty(mild, 3, 2, 0.0, true);
    EXPECT_EQ(w.rank, 2);
    EXPECT_NEAR(w.covariance[0], 1e-8, 1e-22);
    EXPECT_NEAR(w.covariance[3], 1e8, 1e-6);
}

} // namespace
