#include "linalg/LinearAlgebra.h"

#include <gtest/gtest.h>

using LA = CVRNLinearAlgebra;

namespace {

// 9 x 3 matrix: column 0 = i, column 1 = 10 + i, column 2 = -i.
CMatrix Sample() {
    CMatrix m(9, 3);
    for (int i = 0; i < 9; ++i) {
        m[i][0] = i;
        m[i][1] = 10 + i;
        m[i][2] = -i;
    }
    return m;
}

} // namespace

TEST(ColumnAxpy, RowsStartToStartPlusN) {
    for (int n = 1; n <= 7; ++n) {
        CMatrix m = Sample();
        LA::colaxpy(n, 2.0, m, 1, 0, 1);
        for (int i = 0; i < 9; ++i) {
            const double expect = (i >= 1 && i < 1 + n) ? 10 + i + 2.0 * i : 10 + i;
            EXPECT_EQ(m[i][1], expect) << "n=" << n << " row " << i;
            EXPECT_EQ(m[i][0], i);
        }
    }
}

TEST(ColumnAxpy, GuardsLeaveMatrixAlone) {
    CMatrix m = Sample();
    LA::colaxpy(0, 2.0, m, 0, 0, 1);
    LA::colaxpy(5, 0.0, m, 0, 0, 1);
    LA::colvaxpy(-1, 1.0, m, nullptr, 0, 0);
    LA::colvraxpy(3, 0.0, nullptr, m, 0, 0);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(m[i][1], 10 + i);
}

TEST(ColumnAxpy, VectorForms) {
    for (int n = 1; n <= 6; ++n) {
        CMatrix m = Sample();
        double v[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
        LA::colvaxpy(n, 3.0, m, v, 2, 0); // v[i] += 3*m(i,0)
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(v[i], (i >= 2 && i < 2 + n) ? 1 + 3.0 * i : 1.0);
        LA::colvraxpy(n, -1.0, v, m, 2, 2); // m(i,2) -= v[i]
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(m[i][2], (i >= 2 && i < 2 + n) ? -i - (1 + 3.0 * i) : -i);
    }
}

TEST(ColumnDot, SumsOverRowRange) {
    CMatrix m = Sample();
    for (int n = 1; n <= 8; ++n) {
        double expect = 0.0;
        for (int i = 1; i < 1 + n; ++i)
            expect += i * (10.0 + i);
        EXPECT_EQ(LA::coldot(n, m, 1, 0, 1), expect) << n;
        double v[9];
        for (int i = 0; i < 9; ++i)
            v[i] = 2.0;
        double expectV = 0.0;
        for (int i = 1; i < 1 + n; ++i)
            expectV += (10.0 + i) * 2.0;
        EXPECT_EQ(LA::colvdot(n, m, v, 1, 1), expectV);
    }
    EXPECT_EQ(LA::coldot(0, m, 0, 0, 1), 0.0);
    EXPECT_EQ(LA::colvdot(-2, m, nullptr, 0, 1), 0.0);
}

TEST(ColumnDot, SevenRowsGroupAfterRemainder) {
    CMatrix m(7, 2);
    const double c0[7] = {1e17, 0, 3, 3, 3, 3, 3};
    for (int i = 0; i < 7; ++i) {
        m[i][0] = c0[i];
        m[i][1] = 1.0;
    }
    EXPECT_EQ(LA::coldot(7, m, 0, 0, 1), 1e17 + 16.0);
    double v[7] = {1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(LA::colvdot(7, m, v, 0, 0), 1e17 + 16.0);
}

TEST(ColumnScale, AndPartialVectorScale) {
    for (int n = 1; n <= 7; ++n) {
        CMatrix m = Sample();
        LA::colscal(n, -2.0, m, 2, 1);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(m[i][1], (i >= 2 && i < 2 + n) ? -2.0 * (10 + i) : 10 + i);
        double v[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        LA::dscalp(n, 0.5, v, 2);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(v[i], (i >= 2 && i < 2 + n) ? 0.5 * (i + 1) : i + 1.0);
    }
}

TEST(ColumnSwap, RowsZeroToN) {
    for (int n = 1; n <= 9; ++n) {
        CMatrix m = Sample();
        LA::colswap(n, m, 0, 2);
        for (int i = 0; i < 9; ++i) {
            EXPECT_EQ(m[i][0], i < n ? -i : i);
            EXPECT_EQ(m[i][2], i < n ? i : -i);
            EXPECT_EQ(m[i][1], 10 + i);
        }
    }
}

TEST(PartialCopy, CopiesOnlyTheRange) {
    for (int n = 1; n <= 12; ++n) {
        double x[16], y[16];
        for (int i = 0; i < 16; ++i) {
            x[i] = i;
            y[i] = -1;
        }
        LA::dcopyp(n, x, y, 3);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(y[i], (i >= 3 && i < 3 + n) ? i : -1.0) << n;
    }
}

TEST(ColumnRotation, UsesOldValues) {
    CMatrix m(3, 2);
    for (int i = 0; i < 3; ++i) {
        m[i][0] = 1.0 + i;
        m[i][1] = 2.0;
    }
    LA::colrot(2, m, 0, 1, 0.6, 0.8);
    EXPECT_DOUBLE_EQ(m[0][0], 0.6 * 1 + 0.8 * 2);
    EXPECT_DOUBLE_EQ(m[0][1], 0.6 * 2 - 0.8 * 1);
    EXPECT_DOUBLE_EQ(m[1][0], 0.6 * 2 + 0.8 * 2);
    EXPECT_DOUBLE_EQ(m[1][1], 0.6 * 2 - 0.8 * 2);
    EXPECT_EQ(m[2][0], 3.0);
    EXPECT_EQ(m[2][1], 2.0);
}

TEST(MatrixHelpers, ProductOfLeadingBlocks) {
    CMatrix a(2, 3), b(3, 2), d(2, 2);
    const double av[6] = {1, 2, 3, 4, 5, 6};
    const double bv[6] = {7, 8, 9, 10, 11, 12};
    for (int i = 0; i < 6; ++i) {
        a[0][i] = av[i];
        b[0][i] = bv[i];
    }
    LA::matmat(a, b, d, 2, 3, 2);
    EXPECT_EQ(d[0][0], 58.0);
    EXPECT_EQ(d[0][1], 64.0);
    EXPECT_EQ(d[1][0], 139.0);
    EXPECT_EQ(d[1][1], 154.0);
    // Only the first two inner terms.
    LA::matmat(a, b, d, 1, 2, 1);
    EXPECT_EQ(d[0][0], 1 * 7 + 2 * 9.0);
    EXPECT_EQ(d[1][1], 154.0);
}

TEST(MatrixHelpers, ProductIntoAnOperand) {
    CMatrix a(2, 2);
    a[0][0] = 1;
    a[0][1] = 2;
    a[1][0] = 3;
    a[1][1] = 4;
    LA::matmat(a, a, a, 2, 2, 2);
    EXPECT_EQ(a[0][0], 7.0);
    EXPECT_EQ(a[0][1], 10.0);
    EXPECT_EQ(a[1][0], 15.0);
    EXPECT_EQ(a[1][1], 22.0);
}

TEST(MatrixHelpers, LongInnerSumGroupsAfterRemainder) {
    // k = 7: remainder of two, then a group of five added as one.
    CMatrix a(1, 7), b(7, 1), d(1, 1);
    const double av[7] = {1e17, 0, 3, 3, 3, 3, 3};
    for (int l = 0; l < 7; ++l) {
        a[0][l] = av[l];
        b[l][0] = 1.0;
    }
    LA::matmat(a, b, d, 1, 7, 1);
    EXPECT_EQ(d[0][0], 1e17 + 16.0);
    double x[7] = {1, 1, 1, 1, 1, 1, 1};
    double y[1] = {0};
    LA::matvec(a, x, y, 1, 7);
    EXPECT_EQ(y[0], 1e17 + 16.0);
}

TEST(MatrixHelpers, TransposeAndVectorProduct) {
    CMatrix a(2, 3), b(3, 2);
    for (int i = 0; i < 6; ++i)
        a[0][i] = i + 1.0;
    LA::mattran(a, b, 2, 3);
    EXPECT_EQ(b[0][0], 1.0);
    EXPECT_EQ(b[0][1], 4.0);
    EXPECT_EQ(b[2][0], 3.0);
    EXPECT_EQ(b[2][1], 6.0);

    double x[3] = {1, 0, -1};
    double y[2] = {9, 9};
    LA::matvec(a, x, y, 2, 3);
    EXPECT_EQ(y[0], -2.0);
    EXPECT_EQ(y[1], -2.0);

    CMatrix s(2, 2);
    s[0][0] = 1;
    s[0][1] = 2;
    s[1][0] = 3;
    s[1][1] = 4;
    LA::mattran(s, s, 2, 2);
    EXPECT_EQ(s[0][1], 3.0);
    EXPECT_EQ(s[1][0], 2.0);
}
