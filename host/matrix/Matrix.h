#pragma once

#include <cstddef>
#include <vector>

// Dense matrix of doubles.
//
// Storage is row-major and contiguous: m[0] points at element (0, 0) and walks
// the whole matrix row after row, each row GetCols() doubles long, so a freshly
// sized matrix can be filled through one running pointer. Element (i, j) is
// m[i][j], both indices counted from 0. Copies are deep.
//
// Degenerate requests never touch memory out of bounds: negative sizes are
// treated as 0, products of mismatched shapes give an empty (0 x 0) matrix and
// the inverse of a singular or non-square matrix is a matrix of the same shape
// filled with NaN.
class CMatrix {
public:
    CMatrix() = default;
    CMatrix(int rows, int cols); // zero-filled
    CMatrix(const CMatrix& other) = default;
    CMatrix(CMatrix&& other) noexcept;
    CMatrix& operator=(const CMatrix& other) = default;
    CMatrix& operator=(CMatrix&& other) noexcept;
    virtual ~CMatrix() = default;

    // Gives the matrix rows x cols elements, all 0.0. Negative sizes count as 0.
    void SetSize(int rows, int cols);
    int GetRows() const { return m_nRows; }
    int GetCols() const { return m_nCols; }

    // Pointer to the first element of row i (no range check).
    double* operator[](int i) {
        return m_Data.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(m_nCols);
    }
    const double* operator[](int i) const {
        return m_Data.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(m_nCols);
    }

    // out := A^T A (cols x cols) for this matrix A. out may be this matrix.
    void ATA(CMatrix& out) const;
    // out := A^T v as a cols x 1 column; v must hold n == GetRows() values.
    // A length mismatch (or a null v with n > 0) gives an empty out.
    void ATV(CMatrix& out, double* v, int n) const;

    // Inverse by Gauss-Jordan elimination with partial pivoting. A singular or
    // non-square matrix gives a matrix of the same shape filled with NaN.
    CMatrix operator!() const;

    // Matrix product; a.GetCols() != b.GetRows() gives an empty matrix.
    friend CMatrix operator*(const CMatrix& a, const CMatrix& b);

private:
    int m_nRows = 0;
    int m_nCols = 0;
    std::vector<double> m_Data;
};
