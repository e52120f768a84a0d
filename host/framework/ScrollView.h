#pragma once

// A view whose content is larger than its window and scrolls.
//
// The content has a total size; the window shows the part that starts at the
// scroll position (GetScrollPosition) and is as large as the client area. The
// position is kept within 0 ... total - client in each direction, also when the
// total or the client size changes. Painting draws through OnPrepareDC, which
// sets the viewport origin to minus the scroll position, so OnDraw works in
// content coordinates. Only MM_TEXT is supported: device and logical positions
// are the same.
//
// Scroll sizes left at sizeDefault get the usual defaults: a page is a tenth of
// the total, a line a tenth of a page, each at least 1 pixel.

#include "host/framework/View.h"

class CScrollView : public CView {
    DECLARE_DYNAMIC(CScrollView)
public:
    static const CSize sizeDefault;

    void SetScrollSizes(int nMapMode, SIZE sizeTotal, const SIZE& sizePage = sizeDefault,
                        const SIZE& sizeLine = sizeDefault);
    void GetDeviceScrollSizes(int& nMapMode, SIZE& sizeTotal, SIZE& sizePage, SIZE& sizeLine) const;
    CSize GetTotalSize() const { return m_totalDev; }
    CSize GetPageSize() const { return m_pageDev; }
    CSize GetLineSize() const { return m_lineDev; }
    int GetScrollMapMode() const { return m_nMapMode; }

    CPoint GetScrollPosition() const { return m_pos; }
    CPoint GetDeviceScrollPosition() const { return m_pos; }
    // Scrolls to the position (kept within range); the window is invalidated
    // when the position changes.
    void ScrollToPosition(POINT pt);
    // Scrolls by the given amount, as the scroll bars do; returns whether the position changed.
    BOOL OnScrollBy(CSize sizeScroll, BOOL bDoScroll = TRUE);

    void OnPrepareDC(CDC* pDC, void* pInfo = nullptr) override;

protected:
    CScrollView();
    // WM_SIZE: keeps the scroll position within the new range.
    void OnSize(UINT nType, int cx, int cy);
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

private:
    CPoint Clamped(CPoint p) const;

    int m_nMapMode = 0;
    CSize m_totalDev;
    CSize m_pageDev;
    CSize m_lineDev;
    CPoint m_pos;
};
