#include "linalg/LinearAlgebra.h"

#include <cmath>

namespace {

// First array position of a strided vector of n elements.
inline int StartOf(int n, int inc) {
    return inc < 0 ? (1 - n) * inc : 0;
}

// Scaled sum-of-squares accumulation of one element into (scale, sum).
inline void AddToNorm(double x, double& scale, double& sum) {
    if (x == 0.0)
        return;
    const double a = std::fabs(x);
    if (scale < a) {
        const double r = scale / a;
        sum = 1.0 + sum * (r * r);
        scale = a;
    } else {
        const double r = a / scale;
        sum = sum + r * r;
    }
}

} // namespace

int CVRNLinearAlgebra::isamax(int n, double* const x, int incx) {
    if (n < 0 || incx < 1)
        return -1;
    if (n == 0)
        return 1;
    int best = 0;
    double dmax = std::fabs(x[0]);
    for (int i = 1, ix = incx; i < n; ++i, ix += incx) {
        const double v = std::fabs(x[ix]);
        if (v > dmax) {
            best = i;
            dmax = v;
        }
    }
    return best;
}

int CVRNLinearAlgebra::colisamax(int n, CMatrix& a, int inc, int start, int col) {
    if (n <= 1)
        return 0;
    int best = 0;
    double dmax = std::fabs(a[start][col]);
    for (int k = 1, row = start + inc; k < n; ++k, row += inc) {
        const double v = std::fabs(a[row][col]);
        if (v > dmax) {
            best = k;
            dmax = v;
        }
    }
    return best;
}

void CVRNLinearAlgebra::daxpy(int n, double a, double* const x, int incx, double* const y, int incy) {
    if (n <= 0 || a == 0.0)
        return;
    if (incx == 1 && incy == 1) {
        const int m = n % 4;
        for (int i = 0; i < m; ++i)
            y[i] = a * x[i] + y[i];
        for (int i = m; i < n; i += 4) {
            y[i] = a * x[i] + y[i];
            y[i + 1] = a * x[i + 1] + y[i + 1];
            y[i + 2] = a * x[i + 2] + y[i + 2];
            y[i + 3] = a * x[i + 3] + y[i + 3];
        }
        return;
    }
    int ix = StartOf(n, incx);
    int iy = StartOf(n, incy);
    for (int i = 0; i < n; ++i, ix += incx, iy += incy)
        y[iy] = a * x[ix] + y[iy];
}

double CVRNLinearAlgebra::dot(int n, double* const x, int incx, double* const y, int incy) {
    double sum = 0.0;
    if (n <= 0)
        return sum;
    if (incx == 1 && incy == 1) {
        const int m = n % 5;
        for (int i = 0; i < m; ++i)
            sum += x[i] * y[i];
        for (int i = m; i < n; i += 5)
            sum += x[i] * y[i] + x[i + 1] * y[i + 1] + x[i + 2] * y[i + 2] + x[i + 3] * y[i + 3] +
                   x[i + 4] * y[i + 4];
        return sum;
    }
    int ix = StartOf(n, incx);
    int iy = StartOf(n, incy);
    for (int i = 0; i < n; ++i, ix += incx, iy += incy)
        sum += x[ix] * y[iy];
    return sum;
}

void CVRNLinearAlgebra::dscal(int n, double a, double* const x, int incx) {
    if (n < 0 || incx < 0)
        return;
    if (incx == 1) {
        const int m = n % 5;
        for (int i = 0; i < m; ++i)
            x[i] = a * x[i];
        for (int i = m; i < n; i += 5) {
            x[i] = a * x[i];
            x[i + 1] = a * x[i + 1];
            x[i + 2] = a * x[i + 2];
            x[i + 3] = a * x[i + 3];
            x[i + 4] = a * x[i + 4];
        }
        return;
    }
    if (incx == 0)
        return;
    const long long end = static_cast<long long>(n) * incx;
    for (long long i = 0; i < end; i += incx)
        x[i] = a * x[i];
}

void CVRNLinearAlgebra::swap(int n, double* const x, int incx, double* const y, int incy) {
    if (n <= 0)
        return;
    if (incx == 1 && incy == 1) {
        const int m = n % 3;
        for (int i = 0; i < m; ++i) {
            const double t = x[i];
            x[i] = y[i];
            y[i] = t;
        }
        for (int i = m; i < n; i += 3) {
            double t = x[i];
            x[i] = y[i];
            y[i] = t;
            t = x[i + 1];
            x[i + 1] = y[i + 1];
            y[i + 1] = t;
            t = x[i + 2];
            x[i + 2] = y[i + 2];
            y[i + 2] = t;
        }
        return;
    }
    int ix = StartOf(n, incx);
    int iy = StartOf(n, incy);
    for (int i = 0; i < n; ++i, ix += incx, iy += incy) {
        const double t = x[ix];
        x[ix] = y[iy];
        y[iy] = t;
    }
}

double CVRNLinearAlgebra::nrm2(int n, double* const x, int incx) {
    if (n <= 0 || incx <= 0)
        return 0.0;
    if (n == 1)
        return std::fabs(x[0]);
    double scale = 0.0;
    double sum = 1.0;
    for (int i = 0, ix = 0; i < n; ++i, ix += incx)
        AddToNorm(x[ix], scale, sum);
    return scale * std::sqrt(sum);
}

void CVRNLinearAlgebra::copy(int n, double* const x, int incx, double* const y, int incy) {
    if (n <= 0)
        return;
    if (incx == 1 && incy == 1) {
        const int m = n % 7;
        for (int i = 0; i < m; ++i)
            y[i] = x[i];
        for (int i = m; i < n; i += 7) {
            y[i] = x[i];
            y[i + 1] = x[i + 1];
            y[i + 2] = x[i + 2];
            y[i + 3] = x[i + 3];
            y[i + 4] = x[i + 4];
            y[i + 5] = x[i + 5];
            y[i + 6] = x[i + 6];
        }
        return;
    }
    int ix = StartOf(n, incx);
    int iy = StartOf(n, incy);
    for (int i = 0; i < n; ++i, ix += incx, iy += incy)
        y[iy] = x[ix];
}

void CVRNLinearAlgebra::rotg(double* const v) {
    const double a = v[1];
    const double b = v[2];
    const double roe = std::fabs(a) > std::fabs(b) ? a : b;
    const double scale = std::fabs(a) + std::fabs(b);
    double r, z, cs, sn;
    if (scale == 0.0) {
        cs = 1.0;
        sn = 0.0;
        r = 0.0;
        z = 0.0;
    } else {
        const double as = a / scale;
        const double bs = b / scale;
        r = scale * std::sqrt(as * as + bs * bs);
        r = sign(1.0, roe) * r;
        cs = a / r;
        sn = b / r;
        z = std::fabs(a) > std::fabs(b) ? sn : 1.0;
        if (std::fabs(b) >= std::fabs(a) && cs != 0.0)
            z = 1.0 / cs;
    }
    v[1] = r;
    v[2] = z;
    v[3] = cs;
    v[4] = sn;
}

void CVRNLinearAlgebra::colaxpy(int n, double a, CMatrix& m, int start, int colx, int coly) {
    if (n <= 0 || a == 0.0)
        return;
    const int end = start + n;
    const int first = start + n % 4;
    for (int i = start; i < first; ++i)
        m[i][coly] = a * m[i][colx] + m[i][coly];
    for (int i = first; i < end; i += 4) {
        m[i][coly] = a * m[i][colx] + m[i][coly];
        m[i + 1][coly] = a * m[i + 1][colx] + m[i + 1][coly];
        m[i + 2][coly] = a * m[i + 2][colx] + m[i + 2][coly];
        m[i + 3][coly] = a * m[i + 3][colx] + m[i + 3][coly];
    }
}

void CVRNLinearAlgebra::colvaxpy(int n, double a, CMatrix& m, double* const v, int start, int col) {
    if (n <= 0 || a == 0.0)
        return;
    const int end = start + n;
    const int first = start + n % 4;
    for (int i = start; i < first; ++i)
        v[i] = a * m[i][col] + v[i];
    for (int i = first; i < end; i += 4) {
        v[i] = a * m[i][col] + v[i];
        v[i + 1] = a * m[i + 1][col] + v[i + 1];
        v[i + 2] = a * m[i + 2][col] + v[i + 2];
        v[i + 3] = a * m[i + 3][col] + v[i + 3];
    }
}

void CVRNLinearAlgebra::colvraxpy(int n, double a, double* const v, CMatrix& m, int start, int col) {
    if (n <= 0 || a == 0.0)
        return;
    const int end = start + n;
    const int first = start + n % 4;
    for (int i = start; i < first; ++i)
        m[i][col] = a * v[i] + m[i][col];
    for (int i = first; i < end; i += 4) {
        m[i][col] = a * v[i] + m[i][col];
        m[i + 1][col] = a * v[i + 1] + m[i + 1][col];
        m[i + 2][col] = a * v[i + 2] + m[i + 2][col];
        m[i + 3][col] = a * v[i + 3] + m[i + 3][col];
    }
}

double CVRNLinearAlgebra::coldot(int n, CMatrix& m, int start, int col1, int col2) {
    double sum = 0.0;
    if (n <= 0)
        return sum;
    const int end = start + n;
    const int first = start + n % 5;
    for (int i = start; i < first; ++i)
        sum += m[i][col1] * m[i][col2];
    for (int i = first; i < end; i += 5)
        sum += m[i][col1] * m[i][col2] + m[i + 1][col1] * m[i + 1][col2] + m[i + 2][col1] * m[i + 2][col2] +
               m[i + 3][col1] * m[i + 3][col2] + m[i + 4][col1] * m[i + 4][col2];
    return sum;
}

double CVRNLinearAlgebra::colvdot(int n, CMatrix& m, double* const v, int start, int col) {
    double sum = 0.0;
    if (n <= 0)
        return sum;
    const int end = start + n;
    const int first = start + n % 5;
    for (int i = start; i < first; ++i)
        sum += m[i][col] * v[i];
    for (int i = first; i < end; i += 5)
        sum += m[i][col] * v[i] + m[i + 1][col] * v[i + 1] + m[i + 2][col] * v[i + 2] +
               m[i + 3][col] * v[i + 3] + m[i + 4][col] * v[i + 4];
    return sum;
}

void CVRNLinearAlgebra::colscal(int n, double a, CMatrix& m, int start, int col) {
    if (n <= 0)
        return;
    const int end = start + n;
    const int first = start + n % 5;
    for (int i = start; i < first; ++i)
        m[i][col] = a * m[i][col];
    for (int i = first; i < end; i += 5) {
        m[i][col] = a * m[i][col];
        m[i + 1][col] = a * m[i + 1][col];
        m[i + 2][col] = a * m[i + 2][col];
        m[i + 3][col] = a * m[i + 3][col];
        m[i + 4][col] = a * m[i + 4][col];
    }
}

void CVRNLinearAlgebra::dscalp(int n, double a, double* const v, int start) {
    if (n <= 0)
        return;
    const int end = start + n;
    const int first = start + n % 5;
    for (int i = start; i < first; ++i)
        v[i] = a * v[i];
    for (int i = first; i < end; i += 5) {
        v[i] = a * v[i];
        v[i + 1] = a * v[i + 1];
        v[i + 2] = a * v[i + 2];
        v[i + 3] = a * v[i + 3];
        v[i + 4] = a * v[i + 4];
    }
}

void CVRNLinearAlgebra::colswap(int n, CMatrix& m, int col1, int col2) {
    if (n <= 0)
        return;
    const int first = n % 3;
    for (int i = 0; i < first; ++i) {
        const double t = m[i][col1];
        m[i][col1] = m[i][col2];
        m[i][col2] = t;
    }
    for (int i = first; i < n; i += 3) {
        double t = m[i][col1];
        m[i][col1] = m[i][col2];
        m[i][col2] = t;
        t = m[i + 1][col1];
        m[i + 1][col1] = m[i + 1][col2];
        m[i + 1][col2] = t;
        t = m[i + 2][col1];
        m[i + 2][col1] = m[i + 2][col2];
        m[i + 2][col2] = t;
    }
}

double CVRNLinearAlgebra::colnrm2(int n, CMatrix& m, int start, int col) {
    if (n <= 0)
        return 0.0;
    if (n == 1)
        return std::fabs(m[start][col]);
    double scale = 0.0;
    double sum = 1.0;
    for (int i = start; i < start + n; ++i)
        AddToNorm(m[i][col], scale, sum);
    return scale * std::sqrt(sum);
}

double CVRNLinearAlgebra::dnrm2p(int n, double* const v, int start) {
    if (n <= 0)
        return 0.0;
    if (n == 1)
        return std::fabs(v[start]);
    double scale = 0.0;
    double sum = 1.0;
    for (int i = start; i < start + n; ++i)
        AddToNorm(v[i], scale, sum);
    return scale * std::sqrt(sum);
}

void CVRNLinearAlgebra::dcopyp(int n, double* const x, double* const y, int start) {
    if (n <= 0)
        return;
    const int end = start + n;
    const int first = start + n % 7;
    for (int i = start; i < first; ++i)
        y[i] = x[i];
    for (int i = first; i < end; i += 7) {
        y[i] = x[i];
        y[i + 1] = x[i + 1];
        y[i + 2] = x[i + 2];
        y[i + 3] = x[i + 3];
        y[i + 4] = x[i + 4];
        y[i + 5] = x[i + 5];
        y[i + 6] = x[i + 6];
    }
}

void CVRNLinearAlgebra::colrot(int n, CMatrix& m, int col1, int col2, double cs, double sn) {
    if (n <= 0)
        return;
    for (int i = 0; i < n; ++i) {
        const double x = m[i][col1];
        const double y = m[i][col2];
        m[i][col1] = cs * x + sn * y;
        m[i][col2] = cs * y - sn * x;
    }
}

double CVRNLinearAlgebra::sign(double a, double b) {
    return b >= 0.0 ? std::fabs(a) : -std::fabs(a);
}

void CVRNLinearAlgebra::matmat(CMatrix& a, CMatrix& b, CMatrix& d, int m, int k, int p) {
    if (&d == &a || &d == &b) {
        // Form the product apart from its operands, then copy it over.
        CMatrix t(d);
        matmat(a, b, t, m, k, p);
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < p; ++j)
                d[i][j] = t[i][j];
        return;
    }
    const int first = k > 0 ? k % 5 : 0;
    for (int i = 0; i < m; ++i) {
        const double* ai = a[i];
        for (int j = 0; j < p; ++j) {
            double sum = 0.0;
            for (int l = 0; l < first; ++l)
                sum += ai[l] * b[l][j];
            for (int l = first; l < k; l += 5)
                sum += ai[l] * b[l][j] + ai[l + 1] * b[l + 1][j] + ai[l + 2] * b[l + 2][j] +
                       ai[l + 3] * b[l + 3][j] + ai[l + 4] * b[l + 4][j];
            d[i][j] = sum;
        }
    }
}

void CVRNLinearAlgebra::mattran(CMatrix& a, CMatrix& b, int m, int n) {
    if (&a == &b) {
        const CMatrix t(a);
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < n; ++j)
                b[j][i] = t[i][j];
        return;
    }
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j)
            b[j][i] = a[i][j];
}

void CVRNLinearAlgebra::matvec(CMatrix& a, double* const x, double* const y, int m, int k) {
    const int first = k > 0 ? k % 5 : 0;
    for (int i = 0; i < m; ++i) {
        const double* ai = a[i];
        double sum = 0.0;
        for (int j = 0; j < first; ++j)
            sum += ai[j] * x[j];
        for (int j = first; j < k; j += 5)
            sum += ai[j] * x[j] + ai[j + 1] * x[j + 1] + ai[j + 2] * x[j + 2] + ai[j + 3] * x[j + 3] +
                   ai[j + 4] * x[j + 4];
        y[i] = sum;
    }
}
