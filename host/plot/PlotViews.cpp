#include "host/plot/PlotViews.h"

#include "host/framework/DC.h"

// ---------------------------------------------------------------- CKelPlotDllView

IMPLEMENT_DYNCREATE(CKelPlotDllView, CView)

CKelPlotDllView::CKelPlotDllView() = default;
CKelPlotDllView::~CKelPlotDllView() = default;

CRect CKelPlotDllView::PictureRect() const {
    CRect rc;
    GetClientRect(&rc);
    if (rc.IsRectEmpty())
        rc = CRect(0, 0, 640, 400);
    return rc;
}

void CKelPlotDllView::OnDraw(CDC* pDC) {
    CRect rc;
    GetClientRect(&rc);
    m_Plot.Draw(pDC, rc);
}

std::string CKelPlotDllView::GetPlotSVG() {
    const CRect rc = PictureRect();
    CDC dc;
    dc.SetSVGSize(rc.Width(), rc.Height());
    m_Plot.Draw(&dc, rc);
    return dc.GetSVG();
}

bool CKelPlotDllView::WritePlotSVG(const char* path) {
    const CRect rc = PictureRect();
    CDC dc;
    dc.SetSVGSize(rc.Width(), rc.Height());
    m_Plot.Draw(&dc, rc);
    return dc.WriteSVG(path);
}

BOOL CKelPlotDllView::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_ERASEBKGND) {
        // The plot paints every pixel of the client area itself.
        *pResult = TRUE;
        return TRUE;
    }
    return CView::OnWndMsg(message, wParam, lParam, pResult);
}

// ---------------------------------------------------------------- CPlotFrameView

IMPLEMENT_DYNCREATE(CPlotFrameView, CKelPlotDllView)

CPlotFrameView::CPlotFrameView() = default;
CPlotFrameView::~CPlotFrameView() = default;

void CPlotFrameView::InstallSetup(CPlotSetup* pSetup) {
    m_Setup = CRefHolder<CPlotSetup>(pSetup);
}

BOOL CPlotFrameView::ProcessSetup() {
    if (!m_Setup)
        return FALSE;
    ++m_nProcessCount;
    CRefHolder<CPlotSetup> hold(m_Setup); // the setup may install another one while it runs
    hold->Apply(this, GetPlot());
    Invalidate(TRUE);
    return TRUE;
}
