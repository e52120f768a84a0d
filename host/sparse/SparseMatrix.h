#pragma once

// Sparse matrices of the host.
//
// CSparseMatrixBase is the abstract sparse matrix: its dimensions are two ints
// read without a virtual call (GetDim(0) rows, GetDim(1) columns), its elements
// are read and written through virtual GetAt / SetAt. Elements that were never
// set are 0.
//
// CSparseMatrix stores the non-zero elements row by row. It counts the calls of
// GetAt (GetAtCallCount), so that a reader's cost can be checked.

#include <cstddef>
#include <map>
#include <vector>

class CSparseMatrixBase {
public:
    CSparseMatrixBase(int rows = 0, int cols = 0);
    virtual ~CSparseMatrixBase() = default;

    // index 0: rows, 1: columns; any other index: 0.
    int GetDim(int index) const { return (index == 0 || index == 1) ? m_nDim[index] : 0; }

    virtual double GetAt(int row, int col) const = 0;
    virtual void SetAt(int row, int col, double value) = 0;
    // Number of stored (non-zero) elements.
    virtual std::size_t GetNonZeroCount() const = 0;

protected:
    int m_nDim[2];
};

class CSparseMatrix : public CSparseMatrixBase {
public:
    CSparseMatrix(int rows = 0, int cols = 0);

    // New dimensions (negative counts as 0); elements outside them are dropped.
    void SetSize(int rows, int cols);

    // Elements outside the matrix read 0; writing them does nothing. Writing 0
    // removes a stored element.
    double GetAt(int row, int col) const override;
    void SetAt(int row, int col, double value) override;
    std::size_t GetNonZeroCount() const override;

    long GetAtCallCount() const { return m_nGetAtCalls; }
    void ResetAtCallCount() { m_nGetAtCalls = 0; }

private:
    std::vector<std::map<int, double>> m_Rows;
    mutable long m_nGetAtCalls = 0;
};
