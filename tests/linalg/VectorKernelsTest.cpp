#include "linalg/LinearAlgebra.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using LA = CVRNLinearAlgebra;

namespace {
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
} // namespace

// ------------------------------------------------------------------ daxpy

TEST(Daxpy, ZeroMultiplierLeavesYUntouchedEvenWithNonFiniteX) {
    double x[5] = {kNaN, kInf, -kInf, 1.0, 2.0};
    double y[5] = {1, 2, 3, 4, 5};
    LA::daxpy(5, 0.0, x, 1, y, 1);
    LA::daxpy(5, 0.0, x, 2, y, -1);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(y[i], i + 1.0);
}

TEST(Daxpy, NonPositiveCountDoesNothing) {
    double x[2] = {1, 1};
    double y[2] = {5, 6};
    LA::daxpy(0, 2.0, x, 1, y, 1);
    LA::daxpy(-4, 2.0, x, 1, y, 1);
    EXPECT_EQ(y[0], 5.0);
    EXPECT_EQ(y[1], 6.0);
}

TEST(Daxpy, UnrolledPathMatchesElementwiseForEveryRemainder) {
    for (int n = 1; n <= 13; ++n) {
        std::vector<double> x(n), y(n), expect(n);
        for (int i = 0; i < n; ++i) {
            x[i] = 0.5 * i - 1.25;
            y[i] = 3.0 - i;
            expect[i] = 1.5 * x[i] + y[i];
        }
        LA::daxpy(n, 1.5, x.data(), 1, y.data(), 1);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(y[i], expect[i]) << "n=" << n << " i=" << i;
    }
}

TEST(Daxpy, NegativeIncrementWalksFromTheEnd) {
    double x[3] = {1, 2, 3};
    double y[3] = {10, 20, 30};
    // Element k of x is x[n-1-k]: y[k] += x[2-k].
    LA::daxpy(3, 1.0, x, -1, y, 1);
    EXPECT_EQ(y[0], 13.0);
    EXPECT_EQ(y[1], 22.0);
    EXPECT_EQ(y[2], 31.0);
}

TEST(Daxpy, StridedIncrementsTouchOnlyTheirElements) {
    double x[6] = {1, 100, 2, 100, 3, 100};
    double y[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    LA::daxpy(3, 2.0, x, 2, y, 3);
    const double expect[9] = {2, 0, 0, 4, 0, 0, 6, 0, 0};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(y[i], expect[i]) << i;
}

// ------------------------------------------------------------------ dot

TEST(Dot, SevenElementsAddRemainderFirstThenTheGroupOfFive) {
    // At 1e17 the spacing of doubles is 16: each 3 added on its own is lost,
    // the group total 15 added at once rounds up to 16.
    double x[7] = {1e17, 0, 3, 3, 3, 3, 3};
    double y[7] = {1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(LA::dot(7, x, 1, y, 1), 1e17 + 16.0);
    // The strided path is a plain running sum: each 3 is lost on its own.
    double xs[14] = {1e17, -1, 0, -1, 3, -1, 3, -1, 3, -1, 3, -1, 3, -1};
    EXPECT_EQ(LA::dot(7, xs, 2, y, 1), 1e17);
}

TEST(Dot, NonPositiveCountIsZero) {
    double x[1] = {1};
    EXPECT_EQ(LA::dot(0, x, 1, x, 1), 0.0);
    EXPECT_EQ(LA::dot(-3, x, 1, x, 1), 0.0);
}

TEST(Dot, NegativeIncrementPairsReversedElements) {
    double x[3] = {1, 2, 3};
    double y[3] = {100, 10, 1};
    // x walked backwards: 3*100 + 2*10 + 1*1.
    EXPECT_EQ(LA::dot(3, x, -1, y, 1), 321.0);
    EXPECT_EQ(LA::dot(3, x, 1, y, -1), 1 * 1 + 2 * 10 + 3 * 100.0);
}

TEST(Dot, MixedStrides) {
    double x[6] = {1, -1, 2, -1, 3, -1};
    double y[3] = {4, 5, 6};
    EXPECT_EQ(LA::dot(3, x, 2, y, 1), 32.0);
}

// ------------------------------------------------------------------ isamax

TEST(Isamax, FirstMaximumWins) {
    double x[3] = {1, -3, 3};
    EXPECT_EQ(LA::isamax(3, x, 1), 1);
}

TEST(Isamax, Guards) {
    double x[1] = {7};
    EXPECT_EQ(LA::isamax(0, x, 1), 1);
    EXPECT_EQ(LA::isamax(-1, x, 1), -1);
    EXPECT_EQ(LA::isamax(1, x, 1), 0);
    EXPECT_EQ(LA::isamax(1, x, 0), -1);
}

TEST(Isamax, PositionCountsElementsNotArraySlots) {
    double x[5] = {1, 100, 2, 100, -5};
    EXPECT_EQ(LA::isamax(3, x, 2), 2);
}

TEST(Colisamax, StrideTwoOverRowsZeroTwoFour) {
    CMatrix m(5, 2);
    const double col1[5] = {1, 50, -7, 60, 3};
    for (int i = 0; i < 5; ++i)
        m[i][1] = col1[i];
    EXPECT_EQ(LA::colisamax(3, m, 2, 0, 1), 1); // rows 0, 2, 4: |-7| is largest
    m[4][1] = -9;
    EXPECT_EQ(LA::colisamax(3, m, 2, 0, 1), 2);
    m[0][1] = 9;
    EXPECT_EQ(LA::colisamax(3, m, 2, 0, 1), 0); // tie with row 4: first wins
    EXPECT_EQ(LA::colisamax(2, m, 1, 2, 1), 1); // rows 2, 3 from start 2
}

TEST(Colisamax, Guards) {
    CMatrix m(2, 1);
    m[0][0] = 1;
    m[1][0] = 5;
    EXPECT_EQ(LA::colisamax(1, m, 1, 0, 0), 0);
    EXPECT_EQ(LA::colisamax(-2, m, 1, 0, 0), 0);
}

// ------------------------------------------------------------------ dscal, swap, copy

TEST(Dscal, UnitAndStridedPaths) {
    for (int n = 1; n <= 11; ++n) {
        std::vector<double> x(n);
        for (int i = 0; i < n; ++i)
            x[i] = i + 1.0;
        LA::dscal(n, -2.0, x.data(), 1);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(x[i], -2.0 * (i + 1.0));
    }
    double y[6] = {1, 1, 1, 1, 1, 1};
    LA::dscal(3, 3.0, y, 2);
    const double expect[6] = {3, 1, 3, 1, 3, 1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(y[i], expect[i]);
}

TEST(Dscal, NegativeIncrementOrCountDoesNothing) {
    double x[3] = {1, 2, 3};
    LA::dscal(3, 5.0, x, -1);
    LA::dscal(-3, 5.0, x, 1);
    EXPECT_EQ(x[0], 1.0);
    EXPECT_EQ(x[1], 2.0);
    EXPECT_EQ(x[2], 3.0);
}

TEST(Swap, UnrolledAndReversed) {
    for (int n = 1; n <= 8; ++n) {
        std::vector<double> x(n), y(n);
        for (int i = 0; i < n; ++i) {
            x[i] = i;
            y[i] = -i - 1.0;
        }
        LA::swap(n, x.data(), 1, y.data(), 1);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(x[i], -i - 1.0);
            EXPECT_EQ(y[i], i);
        }
    }
    double x[3] = {1, 2, 3};
    double y[3] = {7, 8, 9};
    LA::swap(3, x, -1, y, 1); // pairs x[2]<->y[0], x[1]<->y[1], x[0]<->y[2]
    EXPECT_EQ(x[0], 9.0);
    EXPECT_EQ(x[1], 8.0);
    EXPECT_EQ(x[2], 7.0);
    EXPECT_EQ(y[0], 3.0);
    EXPECT_EQ(y[1], 2.0);
    EXPECT_EQ(y[2], 1.0);
}

TEST(Copy, UnrolledAndReversed) {
    for (int n = 1; n <= 16; ++n) {
        std::vector<double> x(n), y(n + 1, -1.0);
        for (int i = 0; i < n; ++i)
            x[i] = i * 1.5;
        LA::copy(n, x.data(), 1, y.data(), 1);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(y[i], x[i]);
        EXPECT_EQ(y[n], -1.0) << "copied past the end for n=" << n;
    }
    double x[4] = {1, 2, 3, 4};
    double y[4] = {0, 0, 0, 0};
    LA::copy(4, x, 1, y, -1);
    EXPECT_EQ(y[0], 4.0);
    EXPECT_EQ(y[3], 1.0);
    LA::copy(0, y, 1, x, 1);
    EXPECT_EQ(x[0], 1.0);
}

// ------------------------------------------------------------------ norms

TEST(Nrm2, SimpleAndLargeValuesWithoutOverflow) {
    double a[2] = {3, 4};
    EXPECT_DOUBLE_EQ(LA::nrm2(2, a, 1), 5.0);
    double big[2] = {1e200, 1e200};
    const double r = LA::nrm2(2, big, 1);
    EXPECT_TRUE(std::isfinite(r));
    EXPECT_NEAR(r / 1e200, std::sqrt(2.0), 1e-15);
    double tiny[2] = {3e-200, 4e-200};
    EXPECT_NEAR(LA::nrm2(2, tiny, 1) / 1e-200, 5.0, 1e-14);
}

TEST(Nrm2, GuardsAndZeros) {
    double z[3] = {0, 0, 0};
    EXPECT_EQ(LA::nrm2(3, z, 1), 0.0);
    double x[3] = {-7, 1, 1};
    EXPECT_EQ(LA::nrm2(1, x, 1), 7.0);
    EXPECT_EQ(LA::nrm2(0, x, 1), 0.0);
    EXPECT_EQ(LA::nrm2(3, x, 0), 0.0);
    EXPECT_EQ(LA::nrm2(3, x, -1), 0.0);
    double s[4] = {3, 99, 4, 99};
    EXPECT_DOUBLE_EQ(LA::nrm2(2, s, 2), 5.0);
}

TEST(Nrm2, ScaledSumOfSquaresOrder) {
    // Scale 2 first, then 4 replaces it: q = 1 + 1*(2/4)^2 = 1.25; 4*sqrt(1.25).
    double x[2] = {2, 4};
    EXPECT_EQ(LA::nrm2(2, x, 1), 4.0 * std::sqrt(1.25));
}

TEST(ColumnNorms, MatchVectorNorm) {
    CMatrix m(4, 2);
    double v[4] = {0, 3, 0, 4};
    for (int i = 0; i < 4; ++i)
        m[i][1] = v[i];
    EXPECT_DOUBLE_EQ(LA::colnrm2(3, m, 1, 1), 5.0);
    EXPECT_EQ(LA::colnrm2(1, m, 3, 1), 4.0);
    EXPECT_EQ(LA::colnrm2(0, m, 0, 1), 0.0);
    EXPECT_DOUBLE_EQ(LA::dnrm2p(3, v, 1), 5.0);
    EXPECT_EQ(LA::dnrm2p(1, v, 1), 3.0);
    EXPECT_EQ(LA::dnrm2p(-1, v, 0), 0.0);
}

// ------------------------------------------------------------------ sign, rotg

TEST(Sign, NegativeZeroCountsAsPositive) {
    EXPECT_EQ(LA::sign(2, -0.0), 2.0);
    EXPECT_EQ(LA::sign(-2, 0.0), 2.0);
    EXPECT_EQ(LA::sign(-2, -1), -2.0);
    EXPECT_EQ(LA::sign(2, -1e-300), -2.0);
}

TEST(Rotg, BothZero) {
    double v[5] = {42, 0, 0, 9, 9};
    LA::rotg(v);
    EXPECT_EQ(v[0], 42.0);
    EXPECT_EQ(v[1], 0.0);
    EXPECT_EQ(v[2], 0.0);
    EXPECT_EQ(v[3], 1.0);
    EXPECT_EQ(v[4], 0.0);
}

TEST(Rotg, LargerA) {
    double v[5] = {42, -4, 3, 0, 0};
    LA::rotg(v);
    EXPECT_DOUBLE_EQ(v[1], -5.0); // r takes the sign of a, the larger one
    EXPECT_DOUBLE_EQ(v[3], 0.8);
    EXPECT_DOUBLE_EQ(v[4], -0.6);
    EXPECT_DOUBLE_EQ(v[2], -0.6); // z = sn
    EXPECT_EQ(v[0], 42.0);
}

TEST(Rotg, LargerB) {
    double v[5] = {0, 3, 4, 0, 0};
    LA::rotg(v);
    EXPECT_DOUBLE_EQ(v[1], 5.0);
    EXPECT_DOUBLE_EQ(v[3], 0.6);
    EXPECT_DOUBLE_EQ(v[4], 0.8);
    EXPECT_DOUBLE_EQ(v[2], 1.0 / 0.6); // z = 1/cs
}

TEST(Rotg, ZeroAGivesUnitZ) {
    double v[5] = {0, 0, -2, 0, 0};
    LA::rotg(v);
    EXPECT_EQ(v[1], -2.0);
    EXPECT_EQ(v[3], 0.0);
    EXPECT_EQ(v[4], 1.0);
    EXPECT_EQ(v[2], 1.0); // cs == 0: z stays 1
}
