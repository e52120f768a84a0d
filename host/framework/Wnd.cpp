#include "host/framework/Wnd.h"

#include "host/framework/DC.h"

#include <algorithm>

IMPLEMENT_DYNAMIC(CWnd, CObject)

CWnd::CWnd() : m_pPaintDC(std::make_unique<CDC>()) {}

CWnd::~CWnd() = default;

// ---------------------------------------------------------------- creation

BOOL CWnd::PreCreateWindow(CREATESTRUCT& /*cs*/) {
    return TRUE;
}

BOOL CWnd::Create(const char* lpszClassName, const char* lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT /*nID*/, CCreateContext* pContext) {
    if (m_hWnd)
        return FALSE; // already created
    CREATESTRUCT cs{};
    cs.lpCreateParams = pContext;
    cs.lpszClass = lpszClassName;
    cs.lpszName = lpszWindowName;
    cs.style = dwStyle;
    cs.x = static_cast<int>(rect.left);
    cs.y = static_cast<int>(rect.top);
    cs.cx = static_cast<int>(rect.right - rect.left);
    cs.cy = static_cast<int>(rect.bottom - rect.top);
    cs.pParent = pParentWnd;
    if (!PreCreateWindow(cs))
        return FALSE;
    m_hWnd = static_cast<HWND>(this);
    m_dwStyle = cs.style;
    m_strClassName = cs.lpszClass;
    m_pParent = cs.pParent;
    m_cxClient = cs.cx > 0 ? cs.cx : 0;
    m_cyClient = cs.cy > 0 ? cs.cy : 0;
    SendMessage(WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs));
    SendMessage(WM_SIZE, SIZE_RESTORED,
                MAKELPARAM(static_cast<unsigned>(m_cxClient), static_cast<unsigned>(m_cyClient)));
    Invalidate(TRUE);
    return TRUE;
}

// ---------------------------------------------------------------- size

void CWnd::GetClientRect(LPRECT lpRect) const {
    if (lpRect)
        *lpRect = CRect(0, 0, m_cxClient, m_cyClient);
}

void CWnd::SetClientSize(int cx, int cy) {
    m_cxClient = cx > 0 ? cx : 0;
    m_cyClient = cy > 0 ? cy : 0;
    SendMessage(WM_SIZE, SIZE_RESTORED,
                MAKELPARAM(static_cast<unsigned>(m_cxClient), static_cast<unsigned>(m_cyClient)));
    Invalidate(TRUE);
}

// ---------------------------------------------------------------- messages

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    m_MessageStack.push_back({message, wParam, lParam});
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    m_MessageStack.pop_back();
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/, LRESULT* pResult) {
    if (message == WM_PAINT) {
        OnPaint();
        *pResult = 0;
        return TRUE;
    }
    return FALSE;
}

LRESULT CWnd::Default() {
    if (m_MessageStack.empty())
        return 0;
    const CurrentMessage m = m_MessageStack.back();
    return DefWindowProc(m.message, m.wParam, m.lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    ++m_nDefaultCount;
    m_DefaultMessages.push_back(message);
    switch (message) {
    case WM_ERASEBKGND: {
        // The window class's background brush is the window colour.
        CDC* pDC = reinterpret_cast<CDC*>(wParam);
        if (!pDC)
            return 0;
        CRect rc;
        GetClientRect(&rc);
        const COLORREF oldBk = pDC->GetBkColor();
        pDC->FillSolidRect(&rc, GetSysColor(COLOR_WINDOW));
        pDC->SetBkColor(oldBk);
        return 1;
    }
    case WM_PAINT:
        BeginPaint();
        EndPaint();
        return 0;
    default:
        return 0;
    }
}

int CWnd::GetDefaultCount(UINT message) const {
    return static_cast<int>(std::count(m_DefaultMessages.begin(), m_DefaultMessages.end(), message));
}

// ---------------------------------------------------------------- invalidation and painting

void CWnd::Invalidate(BOOL bErase) {
    m_bInvalid = true;
    if (bErase)
        m_bErasePending = true;
    ++m_nInvalidateCount;
}

void CWnd::ValidateRect(LPCRECT /*lpRect*/) {
    m_bInvalid = false;
    m_bErasePending = false;
}

BOOL CWnd::RedrawWindow(LPCRECT /*lpRectUpdate*/, CRgn* /*prgnUpdate*/, UINT flags) {
    ++m_nRedrawCount;
    m_nLastRedrawFlags = flags;
    if (flags & RDW_INVALIDATE) {
        m_bInvalid = true;
        ++m_nInvalidateCount;
    }
    if (flags & RDW_ERASE)
        m_bErasePending = true;
    if (flags & RDW_NOERASE)
        m_bErasePending = false;
    if (flags & RDW_VALIDATE)
        ValidateRect(nullptr);
    if (flags & RDW_UPDATENOW)
        UpdateWindow();
    return TRUE;
}

void CWnd::UpdateWindow() {
    if (m_bInvalid)
        SendMessage(WM_PAINT);
}

void CWnd::OnPaint() {
    BeginPaint();
    EndPaint();
}

CDC* CWnd::BeginPaint() {
    m_pPaintDC = std::make_unique<CDC>();
    ++m_nPaintCount;
    CRect rc;
    GetClientRect(&rc);
    m_pPaintDC->SetSVGSize(rc.Width(), rc.Height());
    if (m_bErasePending) {
        m_bErasePending = false;
        SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(m_pPaintDC.get()), 0);
    }
    m_bInvalid = false;
    return m_pPaintDC.get();
}

void CWnd::EndPaint() {}

CDC* CWnd::GetDC() {
    m_ClientDCs.push_back(std::make_unique<CClientDC>(this));
    return m_ClientDCs.back().get();
}

int CWnd::ReleaseDC(CDC* pDC) {
    auto it = std::find_if(m_ClientDCs.begin(), m_ClientDCs.end(),
                           [pDC](const std::unique_ptr<CDC>& p) { return p.get() == pDC; });
    if (it == m_ClientDCs.end())
        return 0;
    m_ClientDCs.erase(it);
    return 1;
}
