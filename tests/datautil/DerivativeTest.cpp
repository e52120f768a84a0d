#include "datautil/Derivative.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

TEST(DerivativeSlope, TwoPointsGiveTheLineThroughThem) {
    double x[] = {1.0, 3.0};
    double y[] = {5.0, 9.0};
    CVRNiDerivative d;
    EXPECT_NEAR(d.PPD(x, y, 2, -1, 1.0), 2.0, 1e-12);
    EXPECT_NEAR(d.GetIntercept(), 3.0, 1e-12);
}

TEST(DerivativeSlope, LeastSquaresLineOfScatteredPoints) {
    double x[] = {0.0, 1.0, 2.0, 3.0};
    double y[] = {1.0, 3.0, 2.0, 5.0};
    CVRNiDerivative d;
    // Slope = Sxy / Sxx about the means (1.5, 2.75): 5.5 / 5 = 1.1.
    EXPECT_NEAR(d.PPD(x, y, 4, -1, 0.0), 1.1, 1e-12);
    EXPECT_NEAR(d.GetIntercept(), 2.75 - 1.1 * 1.5, 1e-12);
}

TEST(DerivativeWeights, PointsOnALineGiveItsSlopeWhateverTheWeight) {
    double x[] = {0.5, 1.0, 2.0, 4.0, 7.0};
    double y[5];
    for (int j = 0; j < 5; j++)
        y[j] = -0.75 * x[j] + 4.0;
    CVRNiDerivative d;
    for (double w : {0.0, 0.1, 1.0, 25.0})
        for (int i : {0, 2, 4}) {
            EXPECT_NEAR(d.PPD(x, y, 5, i, w), -0.75, 1e-12) << w << " " << i;
            EXPECT_NEAR(d.GetIntercept(), 4.0, 1e-12);
        }
}

TEST(DerivativeWeights, UnitWeightAndOutOfRangeIndicesAreUnweighted) {
    double x[] = {0.0, 1.0, 2.0, 3.0, 4.0};
    double y[] = {0.3, 1.9, 2.2, 3.8, 3.9};
    CVRNiDerivative d;
    const double plain = d.PPD(x, y, 5, -1, 7.0);
    EXPECT_DOUBLE_EQ(d.PPD(x, y, 5, 2, 1.0), plain);
    EXPECT_EQ(d.PPD(x, y, 5, 5, 7.0), plain);
    EXPECT_EQ(d.PPD(x, y, 5, -5, 7.0), plain);
}

TEST(DerivativeWeights, ZeroWeightDropsThePoint) {
    double x[] = {0.0, 1.0, 2.0, 3.0, 4.0};
    double y[] = {0.3, 1.9, 8.0, 3.8, 3.9};
    double xr[] = {0.0, 1.0, 3.0, 4.0};
    double yr[] = {0.3, 1.9, 3.8, 3.9};
    CVRNiDerivative d;
    const double reduced = d.PPD(xr, yr, 4, -1, 1.0);
    const double reducedIntercept = d.GetIntercept();
    EXPECT_NEAR(d.PPD(x, y, 5, 2, 0.0), reduced, 1e-12);
    EXPECT_NEAR(d.GetIntercept(), reducedIntercept, 1e-12);
}

TEST(DerivativeWeights, HeavyWeightPullsTheLineThroughThePoint) {
    double x[] = {0.0, 1.0, 2.0, 3.0};
    double y[] = {0.0, 1.0, 5.0, 3.0};
    CVRNiDerivative d;
    const double slope = d.PPD(x, y, 4, 2, 1e4);
    EXPECT_NEAR(slope * 2.0 + d.GetIntercept(), 5.0, 1e-6);
}

TEST(DerivativeWeights, WeightedOrdinateIsRestoredExactly) {
    double x[] = {0.0, 1.0, 2.0, 3.0};
    double y[] = {0.1, 0.7, 1.3, 1.9000000000000001};
    double before[4];
    std::memcpy(before, y, sizeof y);
    CVRNiDerivative d;
    d.PPD(x, y, 4, 1, 3.0);
    d.SemilogSlope(x + 1, y + 1, 3, 0, 0.1);
    EXPECT_EQ(std::memcmp(before, y, sizeof y), 0);
}

TEST(DerivativeSemilog, FitsAgainstTheNaturalLogarithm) {
    const double e = std::exp(1.0);
    double x[] = {1.0, e, e * e};
    double y[] = {2.0, 5.0, 8.0}; // 3 u + 2 for u = 0, 1, 2
    CVRNiDerivative d;
    EXPECT_NEAR(d.SemilogSlope(x, y, 3, -1, 1.0), 3.0, 1e-12);
    EXPECT_NEAR(d.GetIntercept(), 2.0, 1e-12);
}

TEST(DerivativeSemilog, NonPositiveAbscissaGivesANonFiniteSlope) {
    double x[] = {0.0, 1.0, 2.0};
    double y[] = {1.0, 2.0, 3.0};
    CVRNiDerivative d;
    EXPECT_FALSE(std::isfinite(d.SemilogSlope(x, y, 3, -1, 1.0)));
}

TEST(DerivativeCopy, CopyKeepsTheLastIntercept) {
    double x[] = {0.0, 2.0};
    double y[] = {1.0, 2.0};
    CVRNiDerivative d;
    d.PPD(x, y, 2, -1, 1.0);
    CVRNiDerivative copy(d);
    CVRNiDerivative assigned;
    assigned = d;
    EXPECT_EQ(copy.GetIntercept(), d.GetIntercept());
    EXPECT_EQ(assigned.GetIntercept(), d.GetIntercept());
}
