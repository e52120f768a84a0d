// The Cholesky kernel sums several rows side by side for speed; its results must
// equal, bit for bit, those of the plain one-row-at-a-time loops, on every path
// (raised pivots, zero pivots, overflowing entries) and for every remainder of n
// modulo the number of rows summed together.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "minimize/UnconstrainedMinimization.h"

struct KernelTag {};

template <>
struct CVRNEngineProbe<KernelTag> {
    static void Cholesky(CVRNUnconstrainedMinimization& e, int n, CMatrix& a, double dmax, double tol,
                         double* added) {
        e.m_nParameters = n;
        e.CholeskyDecomposition(a, dmax, tol, added);
    }
};

namespace {

// The factorization written one row at a time, as the straightforward loops are.
void ReferenceCholesky(int n, CMatrix& a, double dmax, double tol, double* added) {
    *added = 0.0;
    const double root = std::sqrt(dmax * tol);
    const double theta = root * root;
    for (int j = 0; j < n; j++) {
        double sum = 0.0;
        for (int k = 0; k < j; k++) sum += a[j][k] * a[j][k];
        const double t = a[j][j] - sum;
        if (t >= theta) {
            a[j][j] = std::sqrt(t);
        } else {
            double w = 0.0;
            for (int i = j + 1; i < n; i++) {
                const double v = std::fabs(a[i][j]);
                if (v > w) w = v;
            }
            if (w <= theta) w = theta;
            a[j][j] = std::sqrt(w);
            const double grow = w - t;
            *added = *added > grow ? *added : grow;
        }
        for (int i = j + 1; i < n; i++) {
            double s = 0.0;
            for (int k = 0; k < j; k++) s += a[i][k] * a[j][k];
            if (a[j][j] == 0.0)
                a[i][j] = 0.0;
            else
                a[i][j] = (a[i][j] - s) / a[j][j];
            if (std::fabs(a[i][j]) >= 1e300) a[i][j] = 0.0;
        }
    }
}

enum class Kind { PositiveDefinite, Indefinite, ZeroColumns, Huge };

CMatrix MakeMatrix(int n, Kind kind, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    CMatrix a(n, n);
    for (int i = 0; i < n; i++)
        for (int j = 0; j <= i; j++) a[i][j] = a[j][i] = u(rng);
    for (int i = 0; i < n; i++) {
        switch (kind) {
        case Kind::PositiveDefinite: a[i][i] = static_cast<double>(n) + 1.0 + u(rng); break;
        case Kind::Indefinite: a[i][i] = 0.3 * u(rng); break;
        case Kind::ZeroColumns:
            if (i % 3 == 1)
                for (int j = 0; j < n; j++) a[i][j] = a[j][i] = 0.0;
            break;
        case Kind::Huge:
            a[i][i] = static_cast<double>(n) + 1.0;
            if (i % 4 == 2 && i > 0) a[i][0] = a[0][i] = 1e301;
            break;
        }
    }
    return a;
}

bool SameBits(const CMatrix& x, const CMatrix& y, int n, int& row, int& col) {
    for (row = 0; row < n; row++)
        for (col = 0; col < n; col++)
            if (std::memcmp(&x[row][col], &y[row][col], sizeof(double)) != 0) return false;
    return true;
}

TEST(CholeskyKernel, MatchesTheRowByRowLoopsBitForBit) {
    CVRNUnconstrainedMinimization engine;
    const double tol = std::sqrt(1.12e-16);
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 31, 64}) {
        for (Kind kind : {Kind::PositiveDefinite, Kind::Indefinite, Kind::ZeroColumns, Kind::Huge}) {
            for (double dmax : {0.0, 1.0, static_cast<double>(n) + 2.0}) {
                SCOPED_TRACE(::testing::Message() << "n " << n << ", kind " << static_cast<int>(kind) << ", dmax "
                                                  << dmax);
                const unsigned seed = static_cast<unsigned>(n * 17 + static_cast<int>(kind));
                CMatrix fast = MakeMatrix(n, kind, seed);
                CMatrix plain = fast;
                double addedFast = -1.0, addedPlain = -1.0;
                CVRNEngineProbe<KernelTag>::Cholesky(engine, n, fast, dmax, tol, &addedFast);
                ReferenceCholesky(n, plain, dmax, tol, &addedPlain);
                int row = 0, col = 0;
                EXPECT_TRUE(SameBits(fast, plain, n, row, col))
                    << "first difference at (" << row << ", " << col << ")";
                EXPECT_EQ(std::memcmp(&addedFast, &addedPlain, sizeof(double)), 0);
            }
        }
    }
}

TEST(CholeskyKernel, FactorsAPositiveDefiniteMatrix) {
    // L L^T reproduces the matrix, and nothing needed raising.
    CVRNUnconstrainedMinimization engine;
    const int n = 9;
    const CMatrix original = MakeMatrix(n, Kind::PositiveDefinite, 7u);
    CMatrix a = original;
    double added = -1.0;
    CVRNEngineProbe<KernelTag>::Cholesky(engine, n, a, 0.0, std::sqrt(1.12e-16), &added);
    EXPECT_EQ(added, 0.0);
    for (int i = 0; i < n; i++)
        for (int j = 0; j <= i; j++) {
            double s = 0.0;
            for (int k = 0; k <= j; k++) s += a[i][k] * a[j][k];
            EXPECT_NEAR(s, original[i][j], 1e-12 * static_cast<double>(n));
        }
}

}  // namespace
