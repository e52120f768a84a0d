#include "views/MatrixView.h"

#include <cmath>
#include <cstdio>

IMPLEMENT_DYNCREATE(CVRNMatrixView, CScrollView)

CVRNMatrixView::CVRNMatrixView()
    : m_pMatrix(nullptr), m_LastScrollPos(-1, -1), m_CellSize(0, 0), m_nRows(0), m_nCols(0),
      m_bColorMap(false), m_bShowZeros(false), m_pFont(nullptr), m_bRedrawAll(true), m_CharSize(0, 0),
      m_TextCellSize(0, 0), m_ColorCellSize(6, 6), m_TotalSize(500, 500) {
    SetScrollSizes(MM_TEXT, CSize(10, 10), CSize(100, 100));
}

CVRNMatrixView::~CVRNMatrixView() {
    delete m_pFont;
}

// ---------------------------------------------------------------- matrix and layout

void CVRNMatrixView::SetCMatrix(CMatrix& m) {
    m_pMatrix = &m;
    UpdateMatrixSize();
}

CMatrix* CVRNMatrixView::GetCMatrix() {
    return m_pMatrix;
}

void CVRNMatrixView::UpdateMatrixSize() {
    if (!m_pMatrix)
        return;
    LayoutMatrix(m_pMatrix->GetRows(), m_pMatrix->GetCols());
}

void CVRNMatrixView::LayoutMatrix(int rows, int cols) {
    if (rows == m_nRows && cols == m_nCols)
        return;
    m_bRedrawAll = true;
    m_nRows = rows;
    m_nCols = cols;
    m_CellSize = m_bColorMap ? m_ColorCellSize : m_TextCellSize;
    m_TotalSize = CSize(cols * static_cast<int>(m_CellSize.cx), rows * static_cast<int>(m_CellSize.cy));
    SetScrollSizes(MM_TEXT, m_TotalSize, CSize(10 * m_CellSize.cx, 20 * m_CellSize.cy), m_CellSize);
    // Cells of the former layout may lie outside the new one: have them painted over.
    Invalidate(FALSE);
}

// ---------------------------------------------------------------- initial update and activation

void CVRNMatrixView::OnInitialUpdate() {
    CScrollView::OnInitialUpdate();
    if (!m_pFont) {
        CDC* pDC = GetDC();
        m_pFont = new CFont;
        m_pFont->CreatePointFont(80, "Arial", pDC);
        CFont* pOld = pDC->SelectObject(m_pFont);
        m_CharSize = pDC->GetTextExtent("0", 1);
        pDC->SelectObject(pOld);
        ReleaseDC(pDC);
        m_CellSize = m_CharSize;
        m_CellSize.cx *= 15;
        m_TextCellSize = m_CellSize;
    }
    if (m_pMatrix) {
        m_nRows = 0;
        m_nCols = 0;
        SetCMatrix(*m_pMatrix);
    } else {
        SetScrollSizes(MM_TEXT, CSize(10, 10));
    }
    ScrollToPosition(CPoint(0, 0));
}

void CVRNMatrixView::OnActivateView(BOOL bActivate, CView* /*pActivateView*/, CView* /*pDeactiveView*/) {
    if (bActivate)
        m_bRedrawAll = true;
}

// ---------------------------------------------------------------- painting

void CVRNMatrixView::OnDraw(CDC* pDC) {
    const CPoint p = GetDeviceScrollPosition();
    if (m_bRedrawAll || p != m_LastScrollPos) {
        CRect rc;
        GetClientRect(&rc);
        rc.MoveToXY(p);
        pDC->FillSolidRect(&rc, GetSysColor(COLOR_WINDOW));
        m_LastScrollPos = p;
        m_bRedrawAll = false;
    }
    DrawMatrix(pDC);
}

void CVRNMatrixView::DrawMatrix(CDC* pDC) {
    if (!m_pMatrix || m_pMatrix->GetRows() == 0)
        return;
    CMatrix& m = *m_pMatrix;
    DrawCells(pDC, [&m](int i, int j) { return m[i][j]; });
}

void CVRNMatrixView::DrawCells(CDC* pDC, const std::function<double(int, int)>& value) {
    // Before the initial update there is no cell size to lay the cells out with.
    if (m_CellSize.cx <= 0 || m_CellSize.cy <= 0)
        return;
    CRect client;
    GetClientRect(&client);
    UpdateMatrixSize(); // virtual: a matrix whose dimensions changed is laid out first
    if (m_CellSize.cx <= 0 || m_CellSize.cy <= 0)
        return;

    const CPoint p = GetDeviceScrollPosition();
    const int cw = static_cast<int>(m_CellSize.cx);
    const int ch = static_cast<int>(m_CellSize.cy);
    auto atMost = [](int v, int limit) { return v < limit ? v : limit; };
    const int r0 = atMost(static_cast<int>(p.y) / ch, m_nRows);
    const int c0 = atMost(static_cast<int>(p.x) / cw, m_nCols);
    const int r1 = atMost((static_cast<int>(p.y) + client.Height()) / ch + 2, m_nRows);
    const int c1 = atMost((static_cast<int>(p.x) + client.Width()) / cw + 2, m_nCols);

    if (m_bColorMap) {
        for (int i = r0; i < r1; ++i)
            for (int j = c0; j < c1; ++j) {
                const double v = value(i, j);
                COLORREF color = GetSysColor(COLOR_WINDOW);
                if (v > 0)
                    color = PositiveColor;
                else if (v < 0)
                    color = NegativeColor;
                pDC->FillSolidRect(j * cw, i * ch, cw, ch, color);
            }
        return;
    }

    CFont* pOldFont = pDC->SelectObject(m_pFont);
    const UINT oldAlign = pDC->SetTextAlign(TA_RIGHT);
    char text[64];
    for (int i = r0; i < r1; ++i)
        for (int j = c0; j < c1; ++j) {
            const double v = value(i, j);
            const int x = (j + 1) * cw;
            const int y = i * ch;
            if (v == 0 && !m_bShowZeros)
                continue;
            if (v == 0)
                std::snprintf(text, sizeof text, "0");
            else if (std::fabs(v) > 1e8 || std::fabs(v) < 0.01)
                std::snprintf(text, sizeof text, "%14.8le", v);
            else
                std::snprintf(text, sizeof text, "%14.5lf", v);
            if (i == j) {
                pDC->FillSolidRect(x - cw, y, cw, ch, DiagonalColor);
                pDC->TextOut(x, y, text);
                pDC->SetBkColor(GetSysColor(COLOR_WINDOW));
            } else {
                pDC->TextOut(x, y, text);
            }
        }
    pDC->SetTextAlign(oldAlign);
    pDC->SelectObject(pOldFont);
}

// ---------------------------------------------------------------- messages

void CVRNMatrixView::OnSize(UINT nType, int cx, int cy) {
    CScrollView::OnSize(nType, cx, cy);
    if (cx > 0 && cy > 0)
        m_bRedrawAll = true;
}

BOOL CVRNMatrixView::OnEraseBkgnd(CDC* /*pDC*/) {
    return TRUE;
}

void CVRNMatrixView::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
    if (nChar == 0x5A || nChar == 0x7A) {
        m_bShowZeros = !m_bShowZeros;
        m_bRedrawAll = true;
        Invalidate(TRUE);
    } else if (nChar == VK_RETURN) {
        m_bColorMap = !m_bColorMap;
        m_bRedrawAll = true;
        Invalidate(TRUE);
        m_nRows = 0;
        m_nCols = 0;
        UpdateMatrixSize();
    }
    DefWindowProc(WM_KEYDOWN, nChar, MAKELPARAM(nRepCnt, nFlags));
}

void CVRNMatrixView::OnMouseMove(UINT nFlags, CPoint point) {
    DefWindowProc(WM_MOUSEMOVE, nFlags,
                  MAKELPARAM(static_cast<unsigned>(point.x), static_cast<unsigned>(point.y)));
}

BOOL CVRNMatrixView::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    const auto lo = static_cast<int>(LOWORD(static_cast<std::uintptr_t>(lParam)));
    const auto hi = static_cast<int>(HIWORD(static_cast<std::uintptr_t>(lParam)));
    switch (message) {
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam), lo, hi);
        *pResult = 0;
        return TRUE;
    case WM_ERASEBKGND:
        *pResult = OnEraseBkgnd(reinterpret_cast<CDC*>(wParam));
        return TRUE;
    case WM_KEYDOWN:
        OnKeyDown(static_cast<UINT>(wParam), static_cast<UINT>(lo), static_cast<UINT>(hi));
        *pResult = 0;
        return TRUE;
    case WM_MOUSEMOVE:
        OnMouseMove(static_cast<UINT>(wParam), CPoint(lo, hi));
        *pResult = 0;
        return TRUE;
    default:
        return CScrollView::OnWndMsg(message, wParam, lParam, pResult);
    }
}
