#include "host/sparse/SparseMatrix.h"

CSparseMatrixBase::CSparseMatrixBase(int rows, int cols) : m_nDim{rows > 0 ? rows : 0, cols > 0 ? cols : 0} {}

CSparseMatrix::CSparseMatrix(int rows, int cols) : CSparseMatrixBase(rows, cols) {
    m_Rows.resize(static_cast<std::size_t>(m_nDim[0]));
}

void CSparseMatrix::SetSize(int rows, int cols) {
    m_nDim[0] = rows > 0 ? rows : 0;
    m_nDim[1] = cols > 0 ? cols : 0;
    m_Rows.resize(static_cast<std::size_t>(m_nDim[0]));
    for (auto& row : m_Rows)
        row.erase(row.lower_bound(m_nDim[1]), row.end());
}

double CSparseMatrix::GetAt(int row, int col) const {
    ++m_nGetAtCalls;
    if (row < 0 || row >= m_nDim[0] || col < 0 || col >= m_nDim[1])
        return 0.0;
    const auto& r = m_Rows[static_cast<std::size_t>(row)];
    const auto it = r.find(col);
    return it == r.end() ? 0.0 : it->second;
}

void CSparseMatrix::SetAt(int row, int col, double value) {
    if (row < 0 || row >= m_nDim[0] || col < 0 || col >= m_nDim[1])
        return;
    auto& r = m_Rows[static_cast<std::size_t>(row)];
    if (value == 0.0)
        r.erase(col);
    else
        r[col] = value;
}

std::size_t CSparseMatrix::GetNonZeroCount() const {
    std::size_t n = 0;
    for (const auto& r : m_Rows)
        n += r.size();
    return n;
}
