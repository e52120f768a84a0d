#include "host/framework/View.h"

#include "host/framework/DC.h"

#include <algorithm>
#include <cstdint>

namespace {

POSITION IndexToPosition(size_t i) {
    return reinterpret_cast<POSITION>(static_cast<std::uintptr_t>(i + 1));
}
size_t PositionToIndex(POSITION p) {
    return static_cast<size_t>(reinterpret_cast<std::uintptr_t>(p)) - 1;
}

} // namespace

// ---------------------------------------------------------------- CDocument

IMPLEMENT_DYNAMIC(CDocument, CObject)

CDocument::CDocument() = default;

CDocument::~CDocument() {
    std::vector<CView*> owned;
    owned.swap(m_Owned);
    for (CView* v : m_Views)
        v->m_pDocument = nullptr;
    m_Views.clear();
    for (CView* v : owned)
        delete v;
}

void CDocument::AddView(CView* pView) {
    if (!pView)
        return;
    if (pView->m_pDocument == this)
        return;
    if (pView->m_pDocument)
        pView->m_pDocument->RemoveView(pView);
    m_Views.push_back(pView);
    pView->m_pDocument = this;
}

void CDocument::AdoptView(CView* pView) {
    if (!pView)
        return;
    AddView(pView);
    if (std::find(m_Owned.begin(), m_Owned.end(), pView) == m_Owned.end())
        m_Owned.push_back(pView);
}

void CDocument::RemoveView(CView* pView) {
    auto it = std::find(m_Views.begin(), m_Views.end(), pView);
    if (it == m_Views.end())
        return;
    m_Views.erase(it);
    m_Owned.erase(std::remove(m_Owned.begin(), m_Owned.end(), pView), m_Owned.end());
    pView->m_pDocument = nullptr;
}

POSITION CDocument::GetFirstViewPosition() const {
    return m_Views.empty() ? nullptr : IndexToPosition(0);
}

CView* CDocument::GetNextView(POSITION& rPosition) const {
    if (!rPosition)
        return nullptr;
    const size_t i = PositionToIndex(rPosition);
    if (i >= m_Views.size()) {
        rPosition = nullptr;
        return nullptr;
    }
    rPosition = (i + 1 < m_Views.size()) ? IndexToPosition(i + 1) : nullptr;
    return m_Views[i];
}

CView* CDocument::FindView(const std::function<bool(CView*)>& pred) const {
    for (CView* v : m_Views)
        if (pred(v))
            return v;
    return nullptr;
}

void CDocument::UpdateAllViews(CView* pSender, LPARAM lHint, CObject* pHint) {
    const std::vector<CView*> views = m_Views; // a view may leave during its update
    for (CView* v : views)
        if (v != pSender)
            v->OnUpdate(pSender, lHint, pHint);
}

// ---------------------------------------------------------------- CView

IMPLEMENT_DYNAMIC(CView, CWnd)

CView::~CView() {
    if (m_pDocument)
        m_pDocument->RemoveView(this);
}

void CView::OnInitialUpdate() {
    OnUpdate(nullptr, 0, nullptr);
}

void CView::OnUpdate(CView* /*pSender*/, LPARAM /*lHint*/, CObject* /*pHint*/) {
    Invalidate(TRUE);
}

void CView::OnActivateView(BOOL bActivate, CView* /*pActivateView*/, CView* /*pDeactiveView*/) {
    m_bActive = bActivate != FALSE;
}

void CView::OnPrepareDC(CDC* /*pDC*/, void* /*pInfo*/) {}

BOOL CView::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    switch (message) {
    case WM_CREATE: {
        // A view created by a document template joins the template's document.
        const CREATESTRUCT* cs = reinterpret_cast<const CREATESTRUCT*>(lParam);
        const CCreateContext* ctx = cs ? static_cast<const CCreateContext*>(cs->lpCreateParams) : nullptr;
        if (ctx && ctx->m_pCurrentDoc)
            ctx->m_pCurrentDoc->AddView(this);
        *pResult = 0;
        return TRUE;
    }
    case WM_PAINT:
        OnPaint();
        *pResult = 0;
        return TRUE;
    default:
        return CWnd::OnWndMsg(message, wParam, lParam, pResult);
    }
}

void CView::OnPaint() {
    CDC* pDC = BeginPaint();
    OnPrepareDC(pDC);
    OnDraw(pDC);
    EndPaint();
}
