#pragma once

// A scrolling view that shows a dense matrix, either as a table of numbers
// (one right-aligned cell per element, the diagonal on yellow, zeros left empty
// unless shown) or as a colour map of small squares coloured by sign (green
// positive, red negative, window colour zero). Key Z toggles the zeros, Enter
// toggles the colour map. The view reads the matrix at every paint and never
// changes or owns it.
//
// A picture of the whole matrix: give the view a client area as large as the
// scrollable area, paint, and save the paint record:
//
//     const CSize total = view.GetTotalSize();
//     view.SetClientSize(total.cx, total.cy);
//     view.UpdateWindow();
//     view.GetLastPaint().WriteSVG("hessian.svg");

#include "host/framework/DC.h"
#include "host/framework/ScrollView.h"
#include "host/matrix/Matrix.h"
#include "host/viewid/UniqueViewID.h"

#include <functional>

class CVRNMatrixView : public CScrollView, public CUniqueViewID {
    DECLARE_DYNCREATE(CVRNMatrixView)
public:
    CVRNMatrixView();
    ~CVRNMatrixView() override;

    void OnInitialUpdate() override;
    void OnActivateView(BOOL bActivate, CView* pActivateView, CView* pDeactiveView) override;
    void OnDraw(CDC* pDC) override;

    virtual void DrawMatrix(CDC* pDC);
    virtual void UpdateMatrixSize();
    virtual void SetCMatrix(CMatrix& m);
    virtual CMatrix* GetCMatrix();

    // Message handlers (routed by the view's message map).
    void OnSize(UINT nType, int cx, int cy);
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnMouseMove(UINT nFlags, CPoint point);

    // Read access to the presentation state.
    CSize GetCellSize() const { return m_CellSize; }
    CSize GetCharSize() const { return m_CharSize; }
    CSize GetTextCellSize() const { return m_TextCellSize; }
    CSize GetColorCellSize() const { return m_ColorCellSize; }
    CSize GetMatrixTotalSize() const { return m_TotalSize; }
    int GetLaidOutRows() const { return m_nRows; }
    int GetLaidOutCols() const { return m_nCols; }
    bool IsColorMap() const { return m_bColorMap; }
    bool IsShowingZeros() const { return m_bShowZeros; }
    bool IsRedrawAllPending() const { return m_bRedrawAll; }
    CPoint GetLastScrollPos() const { return m_LastScrollPos; }
    CFont* GetNumberFont() const { return m_pFont; }

    // Colours of the two presentations.
    static constexpr COLORREF DiagonalColor = RGB(255, 255, 0);
    static constexpr COLORREF PositiveColor = RGB(0, 225, 0);
    static constexpr COLORREF NegativeColor = RGB(225, 0, 0);

protected:
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

    // The layout of UpdateMatrixSize for a matrix of rows x cols.
    void LayoutMatrix(int rows, int cols);
    // The cells of DrawMatrix for a matrix with m_nRows x m_nCols laid out,
    // reading each visible element once through value(i, j).
    void DrawCells(CDC* pDC, const std::function<double(int, int)>& value);

    CMatrix* m_pMatrix;
    CPoint m_LastScrollPos;
    CSize m_CellSize;
    int m_nRows;
    int m_nCols;
    bool m_bColorMap;
    bool m_bShowZeros;
    CFont* m_pFont;
    bool m_bRedrawAll;
    CSize m_CharSize;
    CSize m_TextCellSize;
    CSize m_ColorCellSize;
    CSize m_TotalSize;
};
