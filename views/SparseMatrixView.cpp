#include "views/SparseMatrixView.h"

CVRNSparseMatrixView::CVRNSparseMatrixView() : m_pSparseMatrix(nullptr) {}

CVRNSparseMatrixView::~CVRNSparseMatrixView() = default;

void CVRNSparseMatrixView::SetSparseMatrix(CSparseMatrixBase& m) {
    m_pSparseMatrix = &m;
    UpdateMatrixSize();
}

CSparseMatrixBase& CVRNSparseMatrixView::GetSparseMatrix() {
    return *m_pSparseMatrix;
}

void CVRNSparseMatrixView::SetCMatrix(CMatrix& /*m*/) {}

CMatrix* CVRNSparseMatrixView::GetCMatrix() {
    return nullptr;
}

void CVRNSparseMatrixView::OnInitialUpdate() {
    CVRNMatrixView::OnInitialUpdate();
    // The base set the default scroll sizes while the laid-out dimensions stayed
    // recorded; without a new layout the matrix could not be scrolled.
    if (m_pSparseMatrix) {
        m_nRows = 0;
        m_nCols = 0;
        UpdateMatrixSize();
        ScrollToPosition(CPoint(0, 0));
    }
}

void CVRNSparseMatrixView::UpdateMatrixSize() {
    if (!m_pSparseMatrix)
        return;
    LayoutMatrix(m_pSparseMatrix->GetDim(0), m_pSparseMatrix->GetDim(1));
}

void CVRNSparseMatrixView::DrawMatrix(CDC* pDC) {
    if (!m_pSparseMatrix || m_pSparseMatrix->GetDim(0) == 0)
        return;
    const CSparseMatrixBase& m = *m_pSparseMatrix;
    DrawCells(pDC, [&m](int i, int j) { return m.GetAt(i, j); });
}
