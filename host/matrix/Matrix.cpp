#include "host/matrix/Matrix.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <utility>

CMatrix::CMatrix(int rows, int cols) {
    SetSize(rows, cols);
}

CMatrix::CMatrix(CMatrix&& other) noexcept
    : m_nRows(std::exchange(other.m_nRows, 0)), m_nCols(std::exchange(other.m_nCols, 0)),
      m_Data(std::move(other.m_Data)) {
    other.m_Data.clear();
}

CMatrix& CMatrix::operator=(CMatrix&& other) noexcept {
    if (this != &other) {
        m_nRows = std::exchange(other.m_nRows, 0);
        m_nCols = std::exchange(other.m_nCols, 0);
        m_Data = std::move(other.m_Data);
        other.m_Data.clear();
    }
    return *this;
}

void CMatrix::SetSize(int rows, int cols) {
    if (rows < 0)
        rows = 0;
    if (cols < 0)
        cols = 0;
    // A matrix with no rows or no columns holds nothing; keep both counts so
    // that shapes such as 0 x n are reported as asked.
    m_nRows = rows;
    m_nCols = cols;
    m_Data.assign(static_cast<size_t>(rows) * static_cast<size_t>(cols), 0.0);
}

void CMatrix::ATA(CMatrix& out) const {
    CMatrix r(m_nCols, m_nCols);
    for (int i = 0; i < m_nCols; ++i) {
        for (int j = 0; j < m_nCols; ++j) {
            double sum = 0.0;
            for (int k = 0; k < m_nRows; ++k)
                sum += (*this)[k][i] * (*this)[k][j];
            r[i][j] = sum;
        }
    }
    out = std::move(r);
}

void CMatrix::ATV(CMatrix& out, double* v, int n) const {
    if (n != m_nRows || (n > 0 && !v)) {
        out.SetSize(0, 0);
        return;
    }
    CMatrix r(m_nCols, 1);
    for (int i = 0; i < m_nCols; ++i) {
        double sum = 0.0;
        for (int k = 0; k < m_nRows; ++k)
            sum += (*this)[k][i] * v[k];
        r[i][0] = sum;
    }
    out = std::move(r);
}

CMatrix CMatrix::operator!() const {
    const int n = m_nRows;
    CMatrix nanResult(m_nRows, m_nCols);
    for (double& x : nanResult.m_Data)
        x = std::numeric_limits<double>::quiet_NaN();
    if (m_nRows != m_nCols)
        return nanResult;

    // Each row's largest magnitude: a pivot that is negligible against the row
    // it came from means the matrix is singular to working precision.
    CMatrix a(*this);
    std::vector<double> rowScale(static_cast<size_t>(n), 0.0);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const double v = std::fabs(a[i][j]);
            if (!(v <= rowScale[static_cast<size_t>(i)]))
                rowScale[static_cast<size_t>(i)] = v; // NaN propagates
        }
    }
    const double tolerance = 16.0 * n * DBL_EPSILON;

    CMatrix inv(n, n);
    for (int i = 0; i < n; ++i)
        inv[i][i] = 1.0;

    for (int col = 0; col < n; ++col) {
        int pivot = col;
        double best = std::fabs(a[col][col]);
        for (int r = col + 1; r < n; ++r) {
            const double v = std::fabs(a[r][col]);
            if (v > best) {
                best = v;
                pivot = r;
            }
        }
        if (!(best > tolerance * rowScale[static_cast<size_t>(pivot)]) || !std::isfinite(best))
            return nanResult;
        if (pivot != col) {
            for (int j = 0; j < n; ++j) {
                std::swap(a[pivot][j], a[col][j]);
                std::swap(inv[pivot][j], inv[col][j]);
            }
            std::swap(rowScale[static_cast<size_t>(pivot)], rowScale[static_cast<size_t>(col)]);
        }
        const double p = a[col][col];
        for (int j = 0; j < n; ++j) {
            a[col][j] /= p;
            inv[col][j] /= p;
        }
        for (int r = 0; r < n; ++r) {
            if (r == col)
                continue;
            const double f = a[r][col];
            if (f == 0.0)
                continue;
            for (int j = 0; j < n; ++j) {
                a[r][j] -= f * a[col][j];
                inv[r][j] -= f * inv[col][j];
            }
        }
    }
    for (double x : inv.m_Data)
        if (!std::isfinite(x))
            return nanResult;
    return inv;
}

CMatrix operator*(const CMatrix& a, const CMatrix& b) {
    if (a.m_nCols != b.m_nRows)
        return CMatrix();
    CMatrix r(a.m_nRows, b.m_nCols);
    for (int i = 0; i < a.m_nRows; ++i) {
        for (int j = 0; j < b.m_nCols; ++j) {
            double sum = 0.0;
            for (int k = 0; k < a.m_nCols; ++k)
                sum += a[i][k] * b[k][j];
            r[i][j] = sum;
        }
    }
    return r;
}
