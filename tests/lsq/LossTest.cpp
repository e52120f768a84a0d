// The robust losses and their reweighting against their definitions.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "lsq/Loss.h"

namespace {

struct LossCase {
    vrn::Loss loss;
    double z, rho, d1, d2;
};

TEST(Loss, ValuesAndDerivatives) {
    const double s5 = std::sqrt(5.0);
    const std::vector<LossCase> cases = {
        {vrn::Loss::Linear, 4.0, 4.0, 1.0, 0.0},
        {vrn::Loss::SoftL1, 4.0, 2.0 * (s5 - 1.0), 1.0 / s5, -0.5 / (5.0 * s5)},
        {vrn::Loss::Huber, 0.25, 0.25, 1.0, 0.0},
        {vrn::Loss::Huber, 4.0, 3.0, 0.5, -0.5 / 8.0},
        {vrn::Loss::Cauchy, 4.0, std::log(5.0), 0.2, -0.04},
        {vrn::Loss::Arctan, 2.0, std::atan(2.0), 0.2, -4.0 / 25.0},
    };
    for (const auto& c : cases) {
        const auto v = vrn::EvaluateLoss(c.loss, c.z);
        EXPECT_NEAR(v.rho, c.rho, 1e-15) << vrn::LossName(c.loss);
        EXPECT_NEAR(v.d1, c.d1, 1e-15) << vrn::LossName(c.loss);
        EXPECT_NEAR(v.d2, c.d2, 1e-15) << vrn::LossName(c.loss);
        // The derivative against a central difference of rho.
        const double h = 1e-6;
        const double fd =
            (vrn::EvaluateLoss(c.loss, c.z + h).rho - vrn::EvaluateLoss(c.loss, c.z - h).rho) / (2 * h);
        EXPECT_NEAR(v.d1, fd, 1e-8) << vrn::LossName(c.loss);
    }
}

TEST(Loss, NamesRoundTrip) {
    for (vrn::Loss l :
         {vrn::Loss::Linear, vrn::Loss::SoftL1, vrn::Loss::Huber, vrn::Loss::Cauchy, vrn::Loss::Arctan})
        EXPECT_EQ(vrn::LossFromName(vrn::LossName(l)), l);
    EXPECT_FALSE(vrn::LossFromName("l2").has_value());
}

TEST(Loss, ReweightingGivesTheGradientOfTheCost) {
    // d cost / d r = C^2 / 2 rho'(z) 2 r / C^2 = rho'(z) r = rowFactor * reweighted residual.
    for (vrn::Loss l : {vrn::Loss::SoftL1, vrn::Loss::Huber, vrn::Loss::Cauchy}) {
        for (double r : {-3.0, -0.2, 0.0, 0.5, 7.0}) {
            const double c = 0.7;
            const auto w = vrn::ReweightResidual(l, c, r);
            const double h = 1e-6;
            const std::vector<double> up = {r + h}, down = {r - h};
            const double fd = (vrn::LossCost(l, c, up) - vrn::LossCost(l, c, down)) / (2 * h);
            EXPECT_NEAR(w.rowFactor * w.residual, fd, 1e-7) << vrn::LossName(l) << " r=" << r;
            EXPECT_GE(w.rowFactor, std::sqrt(DBL_EPSILON));
        }
    }
    const auto lin = vrn::ReweightResidual(vrn::Loss::Linear, 2.0, 3.0);
    EXPECT_EQ(lin.rowFactor, 1.0);
    EXPECT_EQ(lin.residual, 3.0);
}

} // namespace
