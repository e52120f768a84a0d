#include "host/grid/GridView.h"

IMPLEMENT_DYNCREATE(CKelGridView, CView)

CKelGridView::CKelGridView() : CKelGridView(std::make_unique<CHdrGridDataSrc>()) {}

CKelGridView::CKelGridView(std::unique_ptr<CKelDataSource> pSource) : m_pSource(std::move(pSource)) {
    m_Grid.SetDataSource(m_pSource.get());
    m_Grid.AttachWindow(this);
}

CKelGridView::~CKelGridView() = default;

void CKelGridView::InstallSetup(CKelGridSetup* pSetup) {
    m_Setup = CRefHolder<CKelGridSetup>(pSetup);
}

BOOL CKelGridView::ApplySetup() {
    if (!m_Setup)
        return FALSE;
    ++m_nApplyCount;
    CRefHolder<CKelGridSetup> hold(m_Setup); // the setup may install another one while it runs
    if (!hold->GetKeepColumns() && m_pSource)
        m_pSource->ClearColumns();
    m_Grid.SetHeadings(hold->GetHeadingRows(), hold->GetSideHeadingCols());
    hold->Apply(m_Grid, m_pSource.get());
    Invalidate(TRUE);
    return TRUE;
}

void CKelGridView::OnDraw(CDC* pDC) {
    CRect rc;
    GetClientRect(&rc);
    m_Grid.Draw(pDC, rc.Height());
}
