#include "host/framework/ScrollView.h"

#include "host/framework/DC.h"

IMPLEMENT_DYNAMIC(CScrollView, CView)

const CSize CScrollView::sizeDefault(0, 0);

CScrollView::CScrollView() = default;

void CScrollView::SetScrollSizes(int nMapMode, SIZE sizeTotal, const SIZE& sizePage, const SIZE& sizeLine) {
    m_nMapMode = nMapMode;
    m_totalDev = CSize(sizeTotal.cx > 0 ? static_cast<int>(sizeTotal.cx) : 0,
                       sizeTotal.cy > 0 ? static_cast<int>(sizeTotal.cy) : 0);
    m_pageDev = CSize(sizePage);
    if (m_pageDev.cx <= 0)
        m_pageDev.cx = m_totalDev.cx / 10;
    if (m_pageDev.cy <= 0)
        m_pageDev.cy = m_totalDev.cy / 10;
    m_lineDev = CSize(sizeLine);
    if (m_lineDev.cx <= 0)
        m_lineDev.cx = m_pageDev.cx / 10;
    if (m_lineDev.cy <= 0)
        m_lineDev.cy = m_pageDev.cy / 10;
    if (m_pageDev.cx < 1)
        m_pageDev.cx = 1;
    if (m_pageDev.cy < 1)
        m_pageDev.cy = 1;
    if (m_lineDev.cx < 1)
        m_lineDev.cx = 1;
    if (m_lineDev.cy < 1)
        m_lineDev.cy = 1;
    ScrollToPosition(m_pos); // the range may have shrunk
}

void CScrollView::GetDeviceScrollSizes(int& nMapMode, SIZE& sizeTotal, SIZE& sizePage, SIZE& sizeLine) const {
    nMapMode = m_nMapMode;
    sizeTotal = m_totalDev;
    sizePage = m_pageDev;
    sizeLine = m_lineDev;
}

CPoint CScrollView::Clamped(CPoint p) const {
    CRect rc;
    GetClientRect(&rc);
    const long maxX = m_totalDev.cx - rc.Width() > 0 ? m_totalDev.cx - rc.Width() : 0;
    const long maxY = m_totalDev.cy - rc.Height() > 0 ? m_totalDev.cy - rc.Height() : 0;
    if (p.x > maxX)
        p.x = maxX;
    if (p.y > maxY)
        p.y = maxY;
    if (p.x < 0)
        p.x = 0;
    if (p.y < 0)
        p.y = 0;
    return p;
}

void CScrollView::ScrollToPosition(POINT pt) {
    const CPoint p = Clamped(CPoint(pt));
    if (p == m_pos)
        return;
    m_pos = p;
    Invalidate(TRUE);
}

BOOL CScrollView::OnScrollBy(CSize sizeScroll, BOOL bDoScroll) {
    CPoint target = m_pos;
    target.Offset(static_cast<int>(sizeScroll.cx), static_cast<int>(sizeScroll.cy));
    const CPoint p = Clamped(target);
    if (p == m_pos)
        return FALSE;
    if (bDoScroll)
        ScrollToPosition(p);
    return TRUE;
}

void CScrollView::OnPrepareDC(CDC* pDC, void* pInfo) {
    CView::OnPrepareDC(pDC, pInfo);
    if (!pDC)
        return;
    pDC->SetMapMode(MM_TEXT);
    pDC->SetViewportOrg(-static_cast<int>(m_pos.x), -static_cast<int>(m_pos.y));
}

void CScrollView::OnSize(UINT /*nType*/, int /*cx*/, int /*cy*/) {
    ScrollToPosition(m_pos);
}

BOOL CScrollView::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_SIZE) {
        OnSize(static_cast<UINT>(wParam), static_cast<int>(LOWORD(static_cast<std::uintptr_t>(lParam))),
               static_cast<int>(HIWORD(static_cast<std::uintptr_t>(lParam))));
        *pResult = 0;
        return TRUE;
    }
    return CView::OnWndMsg(message, wParam, lParam, pResult);
}
