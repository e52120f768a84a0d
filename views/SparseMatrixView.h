#pragma once

// Shows a sparse matrix in the two presentations of the dense matrix view,
// reading each visible element through GetAt and nothing else: a paint costs
// one element read per visible cell, whatever the matrix size. Fonts, cell
// sizes, scrolling, keys and background handling are the dense view's.
// The view does not own the matrix.

#include "host/sparse/SparseMatrix.h"
#include "views/MatrixView.h"

class CVRNSparseMatrixView : public CVRNMatrixView {
public:
    CVRNSparseMatrixView();
    ~CVRNSparseMatrixView() override;

    void SetSparseMatrix(CSparseMatrixBase& m);
    // The matrix set last; one must have been set.
    CSparseMatrixBase& GetSparseMatrix();
    bool HasSparseMatrix() const { return m_pSparseMatrix != nullptr; }

    // The view shows no dense matrix: setting one does nothing, reading gives null.
    void SetCMatrix(CMatrix& m) override;
    CMatrix* GetCMatrix() override;

    // The dense view's initial update, then the sparse matrix (if one was set
    // before) is laid out again, so that its whole area can be scrolled.
    void OnInitialUpdate() override;

private:
    void DrawMatrix(CDC* pDC) override;
    void UpdateMatrixSize() override;

    CSparseMatrixBase* m_pSparseMatrix;
};
