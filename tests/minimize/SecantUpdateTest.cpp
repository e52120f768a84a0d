// Secant (BFGS) updates of the model Hessian: factored (methods 1, 2) and unfactored
// (method 3), the QR update underneath the factored one, and the start matrix.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tests/minimize/TrustRegionTestSupport.h"

using h4test::Probe;
using h4test::Snapshot;

namespace {

using Engine = CVRNUnconstrainedMinimization;

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i]))
            return false;
    return true;
}

// (L L^T v) from the lower triangle of a.
std::vector<double> LLtTimes(CMatrix& a, int n, const std::vector<double>& v) {
    std::vector<double> u(static_cast<size_t>(n), 0.0), r(static_cast<size_t>(n), 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = i; j < n; ++j)
            u[static_cast<size_t>(i)] += a[j][i] * v[static_cast<size_t>(j)];
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            r[static_cast<size_t>(i)] += a[i][j] * u[static_cast<size_t>(j)];
    return r;
}

// H v with H symmetric, read from the lower triangle with diagonal.
std::vector<double> SymTimes(CMatrix& a, int n, const std::vector<double>& v) {
    std::vector<double> r(static_cast<size_t>(n), 0.0);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            r[static_cast<size_t>(i)] += (j <= i ? a[i][j] : a[j][i]) * v[static_cast<size_t>(j)];
    return r;
}

class SecantTest : public ::testing::Test {
protected:
    void Setup(int n, int method) {
        problem = std::make_unique<h4test::FunctionProblem>(std::vector<double>(static_cast<size_t>(n), 0.0),
                                                            [](const double*) { return 0.0; });
        Probe::Attach(e, problem.get(), method);
        a = &Probe::Hessian(e);
    }

    // L = [[2,0,0],[0.5,1.5,0],[-0.3,0.4,1.2]] in the lower triangle, junk above it.
    void LoadFactor3() {
        const double l[3][3] = {{2.0, 0.0, 0.0}, {0.5, 1.5, 0.0}, {-0.3, 0.4, 1.2}};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                (*a)[i][j] = j <= i ? l[i][j] : 99.0;
    }

    Engine e;
    std::unique_ptr<h4test::FunctionProblem> problem;
    CMatrix* a = nullptr;
    // y = A s with A = [[5,1,0],[1,4,1],[0,1,3]] and s = (0.3,-0.3,0.2): s^T y = 0.63 > 0.
    std::vector<double> x{0.1, 0.2, 0.3}, xp{0.4, -0.1, 0.5};
    std::vector<double> g{1.0, 2.0, 3.0}, gp{2.2, 1.3, 3.3};
};

TEST_F(SecantTest, FactoredUpdateSatisfiesSecantEquationAndMirrorsFactor) {
    Setup(3, 1);
    LoadFactor3();
    std::vector<double> s(3), y(3);
    for (int i = 0; i < 3; ++i) {
        s[static_cast<size_t>(i)] = xp[static_cast<size_t>(i)] - x[static_cast<size_t>(i)];
        y[static_cast<size_t>(i)] = gp[static_cast<size_t>(i)] - g[static_cast<size_t>(i)];
    }
    const std::vector<double> hs = LLtTimes(*a, 3, s);
    double shs = 0.0, sy = 0.0;
    for (int i = 0; i < 3; ++i) {
        shs += s[static_cast<size_t>(i)] * hs[static_cast<size_t>(i)];
        sy += s[static_cast<size_t>(i)] * y[static_cast<size_t>(i)];
    }
    std::vector<std::vector<double>> hold(3, std::vector<double>(3));
    for (int j = 0; j < 3; ++j) {
        std::vector<double> ej(3, 0.0);
        ej[static_cast<size_t>(j)] = 1.0;
        std::vector<double> col = LLtTimes(*a, 3, ej);
        for (int i = 0; i < 3; ++i)
            hold[static_cast<size_t>(i)][static_cast<size_t>(j)] = col[static_cast<size_t>(i)];
    }

    Probe::SecantFactored(e, x.data(), g.data(), xp.data(), gp.data(), false);

    // L+ L+^T s = y.
    const std::vector<double> r = LLtTimes(*a, 3, s);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(r[static_cast<size_t>(i)], y[static_cast<size_t>(i)], 1e-13);
    // The upper triangle holds L+^T, element for element.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < i; ++j)
            EXPECT_EQ((*a)[j][i], (*a)[i][j]) << i << "," << j;
    // And L+ L+^T is the BFGS update of L L^T.
    for (int j = 0; j < 3; ++j) {
        std::vector<double> ej(3, 0.0);
        ej[static_cast<size_t>(j)] = 1.0;
        std::vector<double> col = LLtTimes(*a, 3, ej);
        for (int i = 0; i < 3; ++i) {
            const double expect = hold[static_cast<size_t>(i)][static_cast<size_t>(j)] +
                                  y[static_cast<size_t>(i)] * y[static_cast<size_t>(j)] / sy -
                                  hs[static_cast<size_t>(i)] * hs[static_cast<size_t>(j)] / shs;
            EXPECT_NEAR(col[static_cast<size_t>(i)], expect, 1e-12);
        }
    }
}

TEST_F(SecantTest, FactoredOneVariableGivesSecantSlope) {
    Setup(1, 2);
    (*a)[0][0] = 3.0;
    double x1 = 1.0, xp1 = 1.5, g1 = -1.0, gp1 = 1.0; // s = 0.5, y = 2
    Probe::SecantFactored(e, &x1, &g1, &xp1, &gp1, false);
    EXPECT_NEAR((*a)[0][0] * (*a)[0][0], 4.0, 1e-14);
}

TEST_F(SecantTest, FirstIterationRescalingAloneMatchesOneVariableSlope) {
    Setup(1, 1);
    (*a)[0][0] = 3.0;
    Probe::FirstIteration(e) = true;
    double x1 = 1.0, xp1 = 1.5, g1 = -1.0, gp1 = 1.0;
    Probe::SecantFactored(e, &x1, &g1, &xp1, &gp1, false);
    // The rescaling by sqrt(s^T y / s^T L L^T s) already gives L^2 = y/s; the skip test
    // then leaves it so.
    EXPECT_NEAR((*a)[0][0], 2.0, 1e-15);
    EXPECT_TRUE(Probe::FirstIteration(e)); // the flag belongs to the driver
}

TEST_F(SecantTest, SkippedUpdateKeepsRescaling) {
    Setup(3, 1);
    LoadFactor3();
    Probe::SetGradientFlag(e, false);
    std::vector<double> s{0.3, -0.3, 0.2};
    std::vector<double> y = LLtTimes(*a, 3, s);
    for (double& v : y)
        v = 4.0 * v; // y = 4 H s: the rescaled model predicts y exactly
    std::vector<double> gp4(3);
    for (int i = 0; i < 3; ++i)
        gp4[static_cast<size_t>(i)] = g[static_cast<size_t>(i)] + y[static_cast<size_t>(i)];
    const std::vector<double> before = Snapshot(*a, 3);
    Probe::SecantFactored(e, x.data(), g.data(), xp.data(), gp4.data(), true);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j)
            EXPECT_NEAR((*a)[i][j], 2.0 * before[static_cast<size_t>(i * 3 + j)], 1e-14);
    // Skipped: L was not moved into the upper triangle.
    for (int i = 0; i < 3; ++i)
        for (int j = i + 1; j < 3; ++j)
            EXPECT_EQ((*a)[i][j], 99.0);
}

TEST_F(SecantTest, NegativeCurvatureLeavesFactorBitForBit) {
    Setup(3, 2);
    LoadFactor3();
    Probe::FirstIteration(e) = true;                               // would rescale if the step got that far
    std::vector<double> gneg{2.2, 1.3, 3.3}, gpneg{1.0, 2.0, 3.0}; // y reversed: s^T y < 0
    const std::vector<double> before = Snapshot(*a, 3);
    Probe::SecantFactored(e, x.data(), gneg.data(), xp.data(), gpneg.data(), true);
    EXPECT_TRUE(SameBits(before, Snapshot(*a, 3)));
}

TEST_F(SecantTest, ZeroStepOrNonFiniteGradientLeavesFactorUnchanged) {
    Setup(3, 1);
    LoadFactor3();
    const std::vector<double> before = Snapshot(*a, 3);
    Probe::SecantFactored(e, x.data(), g.data(), x.data(), gp.data(), false);
    EXPECT_TRUE(SameBits(before, Snapshot(*a, 3)));
    std::vector<double> gnan{2.2, std::numeric_limits<double>::quiet_NaN(), 3.3};
    Probe::SecantFactored(e, x.data(), g.data(), xp.data(), gnan.data(), false);
    EXPECT_TRUE(SameBits(before, Snapshot(*a, 3)));
}

// Stored Hessian H = [[4,1,0.5],[1,3,-0.2],[0.5,-0.2,2]] as the factorization leaves it:
// off-diagonal in the strict upper triangle, diagonal in m_UDiag, a factor below.
void LoadStoredHessian(CMatrix& a, double* d) {
    const double h[3][3] = {{4.0, 1.0, 0.5}, {1.0, 3.0, -0.2}, {0.5, -0.2, 2.0}};
    for (int i = 0; i < 3; ++i) {
        d[i] = h[i][i];
        for (int j = 0; j < 3; ++j)
            a[i][j] = j > i ? h[i][j] : 7.0; // junk where the factor lives
    }
}

TEST_F(SecantTest, UnfactoredUpdateSatisfiesSecantEquation) {
    Setup(3, 3);
    LoadStoredHessian(*a, Probe::UDiag(e));
    const std::vector<double> before = Snapshot(*a, 3);
    const std::vector<double> dbefore(Probe::UDiag(e), Probe::UDiag(e) + 3);
    Probe::SecantUnfactored(e, x.data(), g.data(), xp.data(), gp.data(), false);
    std::vector<double> s(3), y(3);
    for (int i = 0; i < 3; ++i) {
        s[static_cast<size_t>(i)] = xp[static_cast<size_t>(i)] - x[static_cast<size_t>(i)];
        y[static_cast<size_t>(i)] = gp[static_cast<size_t>(i)] - g[static_cast<size_t>(i)];
    }
    const std::vector<double> r = SymTimes(*a, 3, s);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(r[static_cast<size_t>(i)], y[static_cast<size_t>(i)], 1e-13);
    // The strict upper triangle and the diagonal vector are not written.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Probe::UDiag(e)[i], dbefore[static_cast<size_t>(i)]);
        for (int j = i + 1; j < 3; ++j)
            EXPECT_EQ((*a)[i][j], before[static_cast<size_t>(i * 3 + j)]);
    }
}

TEST_F(SecantTest, UnfactoredNegativeCurvatureLeavesRebuiltHessian) {
    Setup(3, 3);
    LoadStoredHessian(*a, Probe::UDiag(e));
    Probe::FirstIteration(e) = true;
    std::vector<double> gneg{2.2, 1.3, 3.3}, gpneg{1.0, 2.0, 3.0};
    Probe::SecantUnfactored(e, x.data(), gneg.data(), xp.data(), gpneg.data(), true);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ((*a)[i][i], Probe::UDiag(e)[i]);
        for (int j = i + 1; j < 3; ++j)
            EXPECT_EQ((*a)[j][i], (*a)[i][j]);
    }
    EXPECT_EQ((*a)[1][0], 1.0);
    EXPECT_EQ((*a)[2][1], -0.2);
}

TEST_F(SecantTest, UnfactoredNoUpdateFlagRescalesToCurvature) {
    Setup(3, 3);
    LoadStoredHessian(*a, Probe::UDiag(e));
    Probe::SetGradientFlag(e, true);
    // y = 2 H s: the rescaled model 2H predicts y, so the update itself is skipped.
    std::vector<double> s{0.3, -0.3, 0.2};
    const double h[3][3] = {{4.0, 1.0, 0.5}, {1.0, 3.0, -0.2}, {0.5, -0.2, 2.0}};
    std::vector<double> gp2(3);
    for (int i = 0; i < 3; ++i) {
        double hs = 0.0;
        for (int j = 0; j < 3; ++j)
            hs += h[i][j] * s[static_cast<size_t>(j)];
        gp2[static_cast<size_t>(i)] = g[static_cast<size_t>(i)] + 2.0 * hs;
    }
    Probe::Noise(e) = 1e-10;
    Probe::SecantUnfactored(e, x.data(), g.data(), xp.data(), gp2.data(), true);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j <= i; ++j)
            EXPECT_NEAR((*a)[i][j], 2.0 * h[i][j], 1e-13);
}

TEST_F(SecantTest, QRUpdateReproducesRankOneChange) {
    Setup(4, 1);
    const double r[4][4] = {
        {2.0, -1.0, 0.5, 3.0}, {0.0, 1.5, 0.7, -0.4}, {0.0, 0.0, 0.9, 1.1}, {0.0, 0.0, 0.0, 2.5}};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            (*a)[i][j] = r[i][j];
    std::vector<double> u{0.3, 0.0, -1.2, 0.5}, v{1.0, 2.0, -1.0, 0.5};
    double m[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] = r[i][j] + u[static_cast<size_t>(i)] * v[static_cast<size_t>(j)];

    Probe::QRUpdate(e, u.data(), v.data());

    // Q R* = R + u v^T with Q orthogonal: R*^T R* = M^T M, R* upper triangular.
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            double lhs = 0.0, rhs = 0.0;
            for (int k = 0; k < 4; ++k) {
                const double rki = k <= i ? (*a)[k][i] : 0.0;
                const double rkj = k <= j ? (*a)[k][j] : 0.0;
                lhs += rki * rkj;
                rhs += m[k][i] * m[k][j];
            }
            EXPECT_NEAR(lhs, rhs, 1e-12) << i << "," << j;
        }
    }
    for (int i = 1; i < 4; ++i)
        for (int j = 0; j < i; ++j)
            EXPECT_NEAR((*a)[i][j], 0.0, 1e-14) << i << "," << j;
}

TEST_F(SecantTest, QRUpdateWithFirstUnitVectorOnlyChangesRowZero) {
    Setup(3, 1);
    const double r[3][3] = {{2.0, -1.0, 0.5}, {0.0, 1.5, 0.7}, {0.0, 0.0, 0.9}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            (*a)[i][j] = r[i][j];
    std::vector<double> u{0.7, 0.0, 0.0}, v{1.0, 2.0, -1.0};
    Probe::QRUpdate(e, u.data(), v.data());
    for (int j = 0; j < 3; ++j)
        EXPECT_EQ((*a)[0][j], r[0][j] + 0.7 * v[static_cast<size_t>(j)]);
    for (int i = 1; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ((*a)[i][j], r[i][j]);
}

TEST_F(SecantTest, RowHelpersWorkFromColumnIOnward) {
    Setup(3, 1);
    double vals = 1.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            (*a)[i][j] = vals++;
    Probe::QRAuxFxn1(e, 1); // rows 1 and 2, columns 1..2
    EXPECT_EQ((*a)[1][0], 4.0);
    EXPECT_EQ((*a)[2][0], 7.0);
    EXPECT_EQ((*a)[1][1], 8.0);
    EXPECT_EQ((*a)[2][2], 6.0);

    Probe::QRAuxFxn2(e, 0, 3.0, 4.0); // cs = 0.6, sn = 0.8 on rows 0 and 1
    EXPECT_DOUBLE_EQ((*a)[0][0], 0.6 * 1.0 - 0.8 * 4.0);
    EXPECT_DOUBLE_EQ((*a)[1][0], 0.8 * 1.0 + 0.6 * 4.0);
    EXPECT_DOUBLE_EQ((*a)[0][2], 0.6 * 3.0 - 0.8 * 9.0);
    EXPECT_EQ((*a)[2][0], 7.0);
}

TEST_F(SecantTest, StartMatrixDependsOnMethod) {
    Setup(2, 3);
    Probe::ScaleX(e)[0] = 2.0;
    Probe::ScaleX(e)[1] = 0.5;
    (*a)[1][0] = 5.0;
    Probe::InitializeSecant(e);
    EXPECT_EQ((*a)[0][0], 4.0);
    EXPECT_EQ((*a)[1][1], 0.25);
    EXPECT_EQ((*a)[1][0], 0.0);
    EXPECT_EQ(Probe::UDiag(e)[0], 4.0);
    EXPECT_EQ(Probe::UDiag(e)[1], 0.25);

    Probe::Method(e) = 2;
    (*a)[1][0] = 5.0;
    Probe::InitializeSecant(e);
    EXPECT_EQ((*a)[0][0], 2.0);
    EXPECT_EQ((*a)[1][1], 0.5);
    EXPECT_EQ((*a)[1][0], 0.0);
    EXPECT_EQ(Probe::UDiag(e)[1], 0.5);
}

} // namespace
