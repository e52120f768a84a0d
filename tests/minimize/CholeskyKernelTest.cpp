// The Cholesky kernel and the forward solve work on several rows (and columns) side
// by side, with vector registers where the processor has them; their results must
// equal, bit for bit, those of the plain one-row-at-a-time loops, on every path
// (raised pivots, zero pivots, overflowing entries, NaN) and for every remainder of
// n modulo the panel and block sizes, with every instruction set this machine runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "minimize/CholeskyKernels.h"
#include "minimize/UnconstrainedMinimization.h"

struct KernelTag {};

template <> struct CVRNEngineProbe<KernelTag> {
    static void Cholesky(CVRNUnconstrainedMinimization& e, int n, CMatrix& a, double dmax, double tol,
                         double* added) {
        e.m_nParameters = n;
        e.CholeskyDecomposition(a, dmax, tol, added);
    }
    static void LLTransposeSolve(CVRNUnconstrainedMinimization& e, int n, CMatrix& l, double* x, double* b) {
        e.m_nParameters = n;
        e.LLTransposeSolve(l, x, b);
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
        for (int k = 0; k < j; k++)
            sum += a[j][k] * a[j][k];
        const double t = a[j][j] - sum;
        if (t >= theta) {
            a[j][j] = std::sqrt(t);
        } else {
            double w = 0.0;
            for (int i = j + 1; i < n; i++) {
                const double v = std::fabs(a[i][j]);
                if (v > w)
                    w = v;
            }
            if (w <= theta)
                w = theta;
            a[j][j] = std::sqrt(w);
            const double grow = w - t;
            *added = *added > grow ? *added : grow;
        }
        for (int i = j + 1; i < n; i++) {
            double s = 0.0;
            for (int k = 0; k < j; k++)
                s += a[i][k] * a[j][k];
            if (a[j][j] == 0.0)
                a[i][j] = 0.0;
            else
                a[i][j] = (a[i][j] - s) / a[j][j];
            if (std::fabs(a[i][j]) >= 1e300)
                a[i][j] = 0.0;
        }
    }
}

enum class Kind { PositiveDefinite, Indefinite, ZeroColumns, Huge, NearSingular, WithNaN };

CMatrix MakeMatrix(int n, Kind kind, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    CMatrix a(n, n);
    for (int i = 0; i < n; i++)
        for (int j = 0; j <= i; j++)
            a[i][j] = a[j][i] = u(rng);
    for (int i = 0; i < n; i++) {
        switch (kind) {
        case Kind::PositiveDefinite:
            a[i][i] = static_cast<double>(n) + 1.0 + u(rng);
            break;
        case Kind::Indefinite:
            a[i][i] = 0.3 * u(rng);
            break;
        case Kind::ZeroColumns:
            if (i % 3 == 1)
                for (int j = 0; j < n; j++)
                    a[i][j] = a[j][i] = 0.0;
            break;
        case Kind::Huge:
            a[i][i] = static_cast<double>(n) + 1.0;
            if (i % 4 == 2 && i > 0)
                a[i][0] = a[0][i] = 1e301;
            break;
        case Kind::NearSingular:
            break;
        case Kind::WithNaN:
            a[i][i] = static_cast<double>(n) + 1.0;
            if (i == n / 2)
                a[i][0] = a[0][i] = std::nan("");
            break;
        }
    }
    if (kind == Kind::NearSingular) {
        // B B^T with B of n x (n/2 + 1), plus 1e-13 on the diagonal: positive
        // semi-definite up to rounding, so that late pivots come out tiny or negative.
        const int m = n / 2 + 1;
        std::vector<double> bm(static_cast<size_t>(n) * static_cast<size_t>(m));
        for (double& v : bm)
            v = u(rng);
        for (int i = 0; i < n; i++)
            for (int j = 0; j <= i; j++) {
                double s = 0.0;
                for (int k = 0; k < m; k++)
                    s += bm[static_cast<size_t>(i * m + k)] * bm[static_cast<size_t>(j * m + k)];
                a[i][j] = a[j][i] = s;
            }
        for (int i = 0; i < n; i++)
            a[i][i] = a[i][i] + 1e-13;
    }
    return a;
}

bool SameBits(const CMatrix& x, const CMatrix& y, int n, int& row, int& col) {
    for (row = 0; row < n; row++)
        for (col = 0; col < n; col++)
            if (std::memcmp(&x[row][col], &y[row][col], sizeof(double)) != 0)
                return false;
    return true;
}

TEST(CholeskyKernel, MatchesTheRowByRowLoopsBitForBit) {
    CVRNUnconstrainedMinimization engine;
    const double tol = std::sqrt(1.12e-16);
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 31, 64}) {
        for (Kind kind : {Kind::PositiveDefinite, Kind::Indefinite, Kind::ZeroColumns, Kind::Huge}) {
            for (double dmax : {0.0, 1.0, static_cast<double>(n) + 2.0}) {
                SCOPED_TRACE(::testing::Message()
                             << "n " << n << ", kind " << static_cast<int>(kind) << ", dmax " << dmax);
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
            for (int k = 0; k <= j; k++)
                s += a[i][k] * a[j][k];
            EXPECT_NEAR(s, original[i][j], 1e-12 * static_cast<double>(n));
        }
}

// Equal bits, or NaN on both sides (a NaN's payload may depend on operand order).
bool SameValue(double x, double y) {
    return std::memcmp(&x, &y, sizeof(double)) == 0 || (std::isnan(x) && std::isnan(y));
}

bool SameMatrix(const CMatrix& x, const CMatrix& y, int n, int& row, int& col) {
    for (row = 0; row < n; row++)
        for (col = 0; col < n; col++)
            if (!SameValue(x[row][col], y[row][col]))
                return false;
    return true;
}

void ReferenceForward(int n, const CMatrix& l, double* x, const double* b) {
    x[0] = l[0][0] == 0.0 ? 0.0 : b[0] / l[0][0];
    for (int i = 1; i < n; i++) {
        double sum = 0.0;
        for (int j = 0; j < i; j++)
            sum += l[i][j] * x[j];
        x[i] = l[i][i] == 0.0 ? 0.0 : (b[i] - sum) / l[i][i];
    }
}

void ReferenceBack(int n, const CMatrix& l, double* x, const double* b) {
    x[n - 1] = l[n - 1][n - 1] == 0.0 ? 0.0 : b[n - 1] / l[n - 1][n - 1];
    for (int i = n - 2; i >= 0; i--) {
        double sum = 0.0;
        for (int k = i + 1; k < n; k++)
            sum += l[k][i] * x[k];
        x[i] = l[i][i] == 0.0 ? 0.0 : (b[i] - sum) / l[i][i];
    }
}

const char* IsaName(vrn::cholesky::Isa isa) {
    switch (isa) {
    case vrn::cholesky::Isa::Portable:
        return "portable";
    case vrn::cholesky::Isa::Sse2:
        return "sse2";
    case vrn::cholesky::Isa::Avx:
        return "avx";
    }
    return "?";
}

std::vector<vrn::cholesky::Isa> SupportedIsas() {
    std::vector<vrn::cholesky::Isa> isas;
    for (auto isa : {vrn::cholesky::Isa::Portable, vrn::cholesky::Isa::Sse2, vrn::cholesky::Isa::Avx})
        if (vrn::cholesky::Supported(isa))
            isas.push_back(isa);
    return isas;
}

std::vector<int> TableSizes() {
    std::vector<int> sizes;
    for (int n = 1; n <= 64; n++)
        sizes.push_back(n);
    sizes.push_back(400);
    return sizes;
}

const Kind kAllKinds[] = {Kind::PositiveDefinite, Kind::Indefinite, Kind::ZeroColumns, Kind::Huge,
                          Kind::NearSingular,     Kind::WithNaN};

TEST(CholeskyKernel, TheFastestInstructionSetIsSupported) {
    EXPECT_TRUE(vrn::cholesky::Supported(vrn::cholesky::Fastest()));
    EXPECT_TRUE(vrn::cholesky::Supported(vrn::cholesky::Isa::Portable));
}

// Every instruction set, every size 1 .. 64 and 400, every kind of matrix, with and
// without a pivot threshold: factor, then solve with the factor (x and b apart and
// the same array), against the plain loops.
TEST(CholeskyKernel, EveryInstructionSetMatchesThePlainLoopsBitForBit) {
    const double tol = std::sqrt(1.12e-16);
    for (vrn::cholesky::Isa isa : SupportedIsas()) {
        for (int n : TableSizes()) {
            for (Kind kind : kAllKinds) {
                const double dmaxes[] = {0.0, static_cast<double>(n) + 2.0};
                for (double dmax : dmaxes) {
                    SCOPED_TRACE(::testing::Message() << IsaName(isa) << ", n " << n << ", kind "
                                                      << static_cast<int>(kind) << ", dmax " << dmax);
                    const unsigned seed = static_cast<unsigned>(n * 31 + static_cast<int>(kind));
                    CMatrix fast = MakeMatrix(n, kind, seed);
                    // The strict upper triangle must come through untouched.
                    for (int i = 0; i < n; i++)
                        for (int j = i + 1; j < n; j++)
                            fast[i][j] = -7.0 - static_cast<double>(i + j);
                    CMatrix plain = fast;
                    const double root = std::sqrt(dmax * tol);
                    const double theta = root * root;
                    const double addedFast = vrn::cholesky::Factor(isa, fast[0], fast.GetCols(), n, theta);
                    double addedPlain = -1.0;
                    ReferenceCholesky(n, plain, dmax, tol, &addedPlain);
                    int row = 0, col = 0;
                    ASSERT_TRUE(SameMatrix(fast, plain, n, row, col))
                        << "factor: first difference at (" << row << ", " << col << ")";
                    ASSERT_TRUE(SameValue(addedFast, addedPlain));

                    std::mt19937_64 rng(seed + 1u);
                    std::uniform_real_distribution<double> u(-1.0, 1.0);
                    std::vector<double> b(static_cast<size_t>(n));
                    for (double& v : b)
                        v = u(rng);
                    std::vector<double> xf(b.size()), xp(b.size());
                    vrn::cholesky::ForwardSolve(isa, fast[0], fast.GetCols(), n, xf.data(), b.data());
                    ReferenceForward(n, plain, xp.data(), b.data());
                    std::vector<double> inPlace = b;
                    vrn::cholesky::ForwardSolve(isa, fast[0], fast.GetCols(), n, inPlace.data(),
                                                inPlace.data());
                    for (int i = 0; i < n; i++) {
                        ASSERT_TRUE(SameValue(xf[static_cast<size_t>(i)], xp[static_cast<size_t>(i)]))
                            << "forward solve, component " << i;
                        ASSERT_TRUE(SameValue(inPlace[static_cast<size_t>(i)], xp[static_cast<size_t>(i)]))
                            << "forward solve in place, component " << i;
                    }
                    vrn::cholesky::BackSolve(fast[0], fast.GetCols(), n, xf.data(), b.data());
                    ReferenceBack(n, plain, xp.data(), b.data());
                    inPlace = b;
                    vrn::cholesky::BackSolve(fast[0], fast.GetCols(), n, inPlace.data(), inPlace.data());
                    for (int i = 0; i < n; i++) {
                        ASSERT_TRUE(SameValue(xf[static_cast<size_t>(i)], xp[static_cast<size_t>(i)]))
                            << "back solve, component " << i;
                        ASSERT_TRUE(SameValue(inPlace[static_cast<size_t>(i)], xp[static_cast<size_t>(i)]))
                            << "back solve in place, component " << i;
                    }
                }
            }
        }
    }
}

// The engine's own solve with L L^T, through the instruction set it picked: b stays
// unchanged and x equals the plain forward-then-back loops.
TEST(CholeskyKernel, EngineSolveMatchesThePlainLoops) {
    CVRNUnconstrainedMinimization engine;
    const double tol = std::sqrt(1.12e-16);
    for (int n : {1, 3, 8, 9, 17, 64, 400}) {
        for (Kind kind : {Kind::PositiveDefinite, Kind::NearSingular}) {
            SCOPED_TRACE(::testing::Message() << "n " << n << ", kind " << static_cast<int>(kind));
            CMatrix l = MakeMatrix(n, kind, static_cast<unsigned>(n + 5));
            double added = 0.0;
            CVRNEngineProbe<KernelTag>::Cholesky(engine, n, l, 0.0, tol, &added);
            std::vector<double> b(static_cast<size_t>(n));
            for (int i = 0; i < n; i++)
                b[static_cast<size_t>(i)] = 1.0 / (1.0 + i);
            const std::vector<double> b0 = b;
            std::vector<double> x(b.size()), y(b.size());
            CVRNEngineProbe<KernelTag>::LLTransposeSolve(engine, n, l, x.data(), b.data());
            ReferenceForward(n, l, y.data(), b0.data());
            ReferenceBack(n, l, y.data(), y.data());
            EXPECT_EQ(std::memcmp(b.data(), b0.data(), b.size() * sizeof(double)), 0);
            EXPECT_EQ(std::memcmp(x.data(), y.data(), x.size() * sizeof(double)), 0);
        }
    }
}

} // namespace
