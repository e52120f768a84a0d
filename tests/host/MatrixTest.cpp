#include "host/matrix/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

CMatrix Make(int rows, int cols, std::initializer_list<double> values) {
    CMatrix m(rows, cols);
    double* p = m[0];
    for (double v : values)
        *p++ = v;
    return m;
}

bool AllNaN(const CMatrix& m) {
    for (int i = 0; i < m.GetRows(); ++i)
        for (int j = 0; j < m.GetCols(); ++j)
            if (!std::isnan(m[i][j]))
                return false;
    return true;
}

} // namespace

TEST(MatrixStorage, RowMajorContiguous) {
    CMatrix m(2, 3);
    double* p = m[0];
    for (int k = 0; k < 6; ++k)
        p[k] = k;
    EXPECT_EQ(m[1][0], 3.0);
    EXPECT_EQ(m[1][2], 5.0);
    EXPECT_EQ(m[1], m[0] + 3);
}

TEST(MatrixStorage, SetSizeZeroFillsAndClampsNegatives) {
    CMatrix m(2, 2);
    m[1][1] = 7;
    m.SetSize(3, 1);
    EXPECT_EQ(m.GetRows(), 3);
    EXPECT_EQ(m.GetCols(), 1);
    EXPECT_EQ(m[2][0], 0.0);
    m.SetSize(-3, 4);
    EXPECT_EQ(m.GetRows(), 0);
    EXPECT_EQ(m.GetCols(), 4);
    m.SetSize(2, -1);
    EXPECT_EQ(m.GetRows(), 2);
    EXPECT_EQ(m.GetCols(), 0);
    CMatrix n(-1, -1);
    EXPECT_EQ(n.GetRows(), 0);
    EXPECT_EQ(n.GetCols(), 0);
}

TEST(MatrixStorage, CopiesAreDeep) {
    CMatrix a = Make(1, 2, {1, 2});
    CMatrix b(a);
    CMatrix c;
    c = a;
    a[0][0] = 9;
    EXPECT_EQ(b[0][0], 1.0);
    EXPECT_EQ(c[0][0], 1.0);
    EXPECT_EQ(c.GetCols(), 2);
    CMatrix d(std::move(a));
    EXPECT_EQ(d[0][0], 9.0);
    EXPECT_EQ(a.GetRows(), 0);
    EXPECT_EQ(a.GetCols(), 0);
}

TEST(MatrixInverse, TwoByTwo) {
    CMatrix a = Make(2, 2, {4, 7, 2, 6});
    CMatrix inv = !a;
    ASSERT_EQ(inv.GetRows(), 2);
    EXPECT_NEAR(inv[0][0], 0.6, 1e-15);
    EXPECT_NEAR(inv[0][1], -0.7, 1e-15);
    EXPECT_NEAR(inv[1][0], -0.2, 1e-15);
    EXPECT_NEAR(inv[1][1], 0.4, 1e-15);
}

TEST(MatrixInverse, NeedsRowExchange) {
    CMatrix a = Make(2, 2, {0, 2, 1, 1});
    CMatrix inv = !a;
    EXPECT_DOUBLE_EQ(inv[0][0], -0.5);
    EXPECT_DOUBLE_EQ(inv[0][1], 1.0);
    EXPECT_DOUBLE_EQ(inv[1][0], 0.5);
    EXPECT_DOUBLE_EQ(inv[1][1], 0.0);
}

TEST(MatrixInverse, ThreeByThreeTimesOriginalIsIdentity) {
    CMatrix a = Make(3, 3, {2, -1, 0, -1, 2, -1, 0, -1, 2});
    CMatrix inv = !a;
    // Hand-computed: inverse of the 1-D Laplacian is [[3,2,1],[2,4,2],[1,2,3]]/4.
    EXPECT_NEAR(inv[0][0], 0.75, 1e-15);
    EXPECT_NEAR(inv[1][1], 1.0, 1e-15);
    EXPECT_NEAR(inv[0][2], 0.25, 1e-15);
    CMatrix id = a * inv;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(id[i][j], i == j ? 1.0 : 0.0, 1e-15);
}

TEST(MatrixInverse, BadlyScaledButRegularRowsAreInverted) {
    CMatrix a = Make(2, 2, {1e-20, 0, 0, 1});
    CMatrix inv = !a;
    EXPECT_DOUBLE_EQ(inv[0][0], 1e20);
    EXPECT_DOUBLE_EQ(inv[1][1], 1.0);
}

TEST(MatrixInverse, SingularGivesNaNOfSameShape) {
    CMatrix s = Make(2, 2, {1, 2, 2, 4});
    CMatrix inv = !s;
    EXPECT_EQ(inv.GetRows(), 2);
    EXPECT_EQ(inv.GetCols(), 2);
    EXPECT_TRUE(AllNaN(inv));
    EXPECT_TRUE(AllNaN(!Make(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9})));
    EXPECT_TRUE(AllNaN(!Make(2, 2, {0, 0, 0, 0})));
}

TEST(MatrixInverse, NormalMatrixOfRepeatedAbscissaIsSingular) {
    // Least-squares normal matrix [[n, sum x], [sum x, sum x^2]] with every x
    // equal: rounding must not turn it into a plausible inverse.
    for (double c : {0.1, 3.7, 12.345, 1e3 / 7.0, 2.2e5}) {
        for (int n : {2, 3, 7, 25}) {
            double sx = 0.0, sxx = 0.0;
            for (int k = 0; k < n; ++k) {
                sx += c;
                sxx += c * c;
            }
            CMatrix a = Make(2, 2, {static_cast<double>(n), sx, sx, sxx});
            EXPECT_TRUE(AllNaN(!a)) << "c=" << c << " n=" << n;
        }
    }
}

TEST(MatrixInverse, NonSquareGivesNaNOfSameShape) {
    CMatrix inv = !Make(2, 3, {1, 0, 0, 0, 1, 0});
    EXPECT_EQ(inv.GetRows(), 2);
    EXPECT_EQ(inv.GetCols(), 3);
    EXPECT_TRUE(AllNaN(inv));
}

TEST(MatrixProduct, HandComputed) {
    CMatrix a = Make(2, 3, {1, 2, 3, 4, 5, 6});
    CMatrix b = Make(3, 2, {7, 8, 9, 10, 11, 12});
    CMatrix p = a * b;
    ASSERT_EQ(p.GetRows(), 2);
    ASSERT_EQ(p.GetCols(), 2);
    EXPECT_EQ(p[0][0], 58.0);
    EXPECT_EQ(p[0][1], 64.0);
    EXPECT_EQ(p[1][0], 139.0);
    EXPECT_EQ(p[1][1], 154.0);
}

TEST(MatrixProduct, MismatchGivesEmpty) {
    CMatrix p = Make(2, 3, {1, 2, 3, 4, 5, 6}) * Make(2, 2, {1, 0, 0, 1});
    EXPECT_EQ(p.GetRows(), 0);
    EXPECT_EQ(p.GetCols(), 0);
}

TEST(MatrixNormal, ATAHandComputed) {
    CMatrix a = Make(3, 2, {1, 2, 3, 4, 5, 6});
    CMatrix out;
    a.ATA(out);
    ASSERT_EQ(out.GetRows(), 2);
    ASSERT_EQ(out.GetCols(), 2);
    EXPECT_EQ(out[0][0], 35.0);
    EXPECT_EQ(out[0][1], 44.0);
    EXPECT_EQ(out[1][0], 44.0);
    EXPECT_EQ(out[1][1], 56.0);
    // Into itself.
    a.ATA(a);
    EXPECT_EQ(a.GetRows(), 2);
    EXPECT_EQ(a[1][1], 56.0);
}

TEST(MatrixNormal, ATVHandComputed) {
    CMatrix a = Make(3, 2, {1, 2, 3, 4, 5, 6});
    double v[3] = {1, -1, 2};
    CMatrix out;
    a.ATV(out, v, 3);
    ASSERT_EQ(out.GetRows(), 2);
    ASSERT_EQ(out.GetCols(), 1);
    EXPECT_EQ(out[0][0], 1 - 3 + 10.0);
    EXPECT_EQ(out[1][0], 2 - 4 + 12.0);
}

TEST(MatrixNormal, ATVLengthMismatchGivesEmpty) {
    CMatrix a = Make(3, 2, {1, 2, 3, 4, 5, 6});
    double v[2] = {1, 1};
    CMatrix out(5, 5);
    a.ATV(out, v, 2);
    EXPECT_EQ(out.GetRows(), 0);
    EXPECT_EQ(out.GetCols(), 0);
    out.SetSize(1, 1);
    a.ATV(out, nullptr, 3);
    EXPECT_EQ(out.GetRows(), 0);
}

TEST(MatrixNormal, LeastSquaresLineThroughNormalEquations) {
    // y = 1 + 2x exactly on x = 0..3: (A^T A)^-1 A^T y recovers (1, 2).
    CMatrix a(4, 2);
    double y[4];
    for (int i = 0; i < 4; ++i) {
        a[i][0] = 1.0;
        a[i][1] = i;
        y[i] = 1.0 + 2.0 * i;
    }
    CMatrix n, r;
    a.ATA(n);
    a.ATV(r, y, 4);
    CMatrix c = (!n) * r;
    EXPECT_NEAR(c[0][0], 1.0, 1e-14);
    EXPECT_NEAR(c[1][0], 2.0, 1e-14);
}
