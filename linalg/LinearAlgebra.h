#pragma once

#include "host/matrix/Matrix.h"

// Level-1 vector kernels in the manner of the reference BLAS, column variants
// working down one column of a CMatrix, and three small dense-matrix helpers.
//
// Conventions shared by every member:
// - Vectors are caller-owned arrays; nothing is allocated or freed.
// - A strided vector of n elements with increment inc occupies array positions
//   s0, s0+inc, ..., s0+(n-1)*inc with s0 = 0 for inc >= 0 and s0 = (1-n)*inc
//   for inc < 0, so a walk with a negative increment ends at position 0.
// - Unit-increment paths are unrolled (4 for the axpy family, 5 for dot, scal
//   and the matrix products, 3 for swaps, 7 for copies); the n mod depth
//   leading elements are handled first, one by one.
// - Sums are one running double from 0.0 in increasing index order; inside an
//   unrolled group the products are added to each other first and the group
//   total is then added to the running sum.
// - Column kernels walk n consecutive rows of one column from row `start`;
//   matrix helpers take explicit dimensions and never ask a matrix its size.
class CVRNLinearAlgebra {
public:
    // 0-based position (in elements of the strided vector) of the first element
    // of largest magnitude. n < 0 or incx < 1 -> -1; n == 0 -> 1.
    static int isamax(int n, double* const x, int incx);
    // Position k (0 .. n-1) of the first largest |a(start + k*inc, col)|.
    // n < 0 or n == 1 -> 0.
    static int colisamax(int n, CMatrix& a, int inc, int start, int col);
    // y := a*x + y. Nothing happens for n <= 0 or a == 0.
    static void daxpy(int n, double a, double* const x, int incx, double* const y, int incy);
    // Sum of x[i]*y[i]; n <= 0 -> 0.
    static double dot(int n, double* const x, int incx, double* const y, int incy);
    // x := a*x. Nothing for n < 0 or incx < 0; incx != 1 scales positions
    // 0, incx, ... below n*incx.
    static void dscal(int n, double a, double* const x, int incx);
    // Exchanges x and y; nothing for n <= 0.
    static void swap(int n, double* const x, int incx, double* const y, int incy);
    // Euclidean norm by a scaled sum of squares (no overflow);
    // n <= 0 or incx <= 0 -> 0.
    static double nrm2(int n, double* const x, int incx);
    // y := x; nothing for n <= 0.
    static void copy(int n, double* const x, int incx, double* const y, int incy);
    // Givens rotation from a = v[1], b = v[2]; on return v[1] = r, v[2] = z,
    // v[3] = cos, v[4] = sin. v[0] is not touched.
    static void rotg(double* const v);
    // m(i, coly) += a*m(i, colx) for rows start .. start+n-1.
    static void colaxpy(int n, double a, CMatrix& m, int start, int colx, int coly);
    // v[i] += a*m(i, col) for i = start .. start+n-1.
    static void colvaxpy(int n, double a, CMatrix& m, double* const v, int start, int col);
    // m(i, col) += a*v[i] for i = start .. start+n-1.
    static void colvraxpy(int n, double a, double* const v, CMatrix& m, int start, int col);
    // Sum of m(i, col1)*m(i, col2), i = start .. start+n-1.
    static double coldot(int n, CMatrix& m, int start, int col1, int col2);
    // Sum of m(i, col)*v[i], i = start .. start+n-1.
    static double colvdot(int n, CMatrix& m, double* const v, int start, int col);
    // m(i, col) := a*m(i, col), i = start .. start+n-1.
    static void colscal(int n, double a, CMatrix& m, int start, int col);
    // v[i] := a*v[i], i = start .. start+n-1.
    static void dscalp(int n, double a, double* const v, int start);
    // Exchanges columns col1 and col2 in rows 0 .. n-1.
    static void colswap(int n, CMatrix& m, int col1, int col2);
    // Euclidean norm of m(start .. start+n-1, col).
    static double colnrm2(int n, CMatrix& m, int start, int col);
    // Euclidean norm of v[start .. start+n-1].
    static double dnrm2p(int n, double* const v, int start);
    // y[i] := x[i], i = start .. start+n-1.
    static void dcopyp(int n, double* const x, double* const y, int start);
    // Plane rotation of columns col1, col2 in rows 0 .. n-1:
    // m(i, col1) := cs*x + sn*y, m(i, col2) := cs*y - sn*x (x, y the old values).
    static void colrot(int n, CMatrix& m, int col1, int col2, double cs, double sn);
    // |a| if b >= 0 (including -0.0), -|a| if b < 0.
    static double sign(double a, double b);
    // d(i, j) := sum over l < k of a(i, l)*b(l, j), i < m, j < p. If d is a or
    // b the product is formed in a temporary first.
    static void matmat(CMatrix& a, CMatrix& b, CMatrix& d, int m, int k, int p);
    // b(j, i) := a(i, j), i < m, j < n. If b is a the transpose is formed in a
    // temporary first.
    static void mattran(CMatrix& a, CMatrix& b, int m, int n);
    // y[i] := sum over j < k of a(i, j)*x[j], i < m.
    static void matvec(CMatrix& a, double* const x, double* const y, int m, int k);
};
