#pragma once

// Window base of the framework stand-in.
//
// A CWnd here is a window without a screen: it has a style, a client size, an
// invalid/erase state and a message dispatch, and its painting is recorded by a
// device context (host/framework/DC.h) instead of reaching a display.
//
// Messages. SendMessage(msg, wParam, lParam) hands a message to OnWndMsg, the
// class's message routing. A class that routes messages overrides OnWndMsg,
// handles the messages of its own table and passes every other message to its
// base class's OnWndMsg; what no class routes gets DefWindowProc, the window's
// default processing. A handler that wants the default processing for the
// message it is handling calls Default(). The default processing counts every
// message it receives (GetDefaultCount), erases the background for
// WM_ERASEBKGND and validates the window for WM_PAINT.
//
// Painting. Invalidate() and RedrawWindow(RDW_INVALIDATE ...) only mark the
// window; UpdateWindow() (or RedrawWindow with RDW_UPDATENOW) paints a marked
// window at once, as a message loop would do later: it starts a new paint record
// (GetLastPaint), sends WM_ERASEBKGND first when an erase was requested, then
// WM_PAINT. Views draw in their OnPaint (see CView).

#include "host/framework/Object.h"
#include "host/framework/String.h"
#include "host/framework/WinTypes.h"

#include <memory>
#include <vector>

class CDC;
class CDocument;
class CRgn;
class CView;

struct CREATESTRUCT {
    void* lpCreateParams; // the CCreateContext* given to Create, or null
    const char* lpszClass;
    const char* lpszName;
    DWORD style;
    int x, y, cx, cy;
    class CWnd* pParent;
};

// What a document template hands to the window it creates.
struct CCreateContext {
    CDocument* m_pCurrentDoc = nullptr;
};

class CWnd : public CObject {
    DECLARE_DYNAMIC(CWnd)
public:
    CWnd();
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // ---- creation
    // Runs PreCreateWindow (which may change class name and style), gives the
    // window the rectangle's size as client size, sends WM_CREATE (lParam is the
    // CREATESTRUCT*) and WM_SIZE. Views created with a context join its document.
    virtual BOOL Create(const char* lpszClassName, const char* lpszWindowName, DWORD dwStyle,
                        const RECT& rect, CWnd* pParentWnd, UINT nID, CCreateContext* pContext = nullptr);
    virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
    HWND GetSafeHwnd() const { return m_hWnd; }
    DWORD GetStyle() const { return m_dwStyle; }
    const CString& GetWindowClassName() const { return m_strClassName; }
    CWnd* GetParent() const { return m_pParent; }

    // ---- size
    void GetClientRect(LPRECT lpRect) const;
    // Resizes the client area, as the frame does when the user drags it, and
    // sends WM_SIZE (SIZE_RESTORED, cx, cy).
    void SetClientSize(int cx, int cy);

    // ---- messages
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Number of messages that reached the default processing, all or of one kind.
    int GetDefaultCount() const { return m_nDefaultCount; }
    int GetDefaultCount(UINT message) const;

    // ---- invalidation and painting
    void Invalidate(BOOL bErase = TRUE);
    void ValidateRect(LPCRECT lpRect);
    BOOL RedrawWindow(LPCRECT lpRectUpdate = nullptr, CRgn* prgnUpdate = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    void UpdateWindow();
    bool IsInvalid() const { return m_bInvalid; }
    bool IsErasePending() const { return m_bErasePending; }
    int GetInvalidateCount() const { return m_nInvalidateCount; }
    int GetRedrawCount() const { return m_nRedrawCount; }
    UINT GetLastRedrawFlags() const { return m_nLastRedrawFlags; }
    int GetPaintCount() const { return m_nPaintCount; }
    // Everything drawn by the last paint (erase included).
    CDC& GetLastPaint() { return *m_pPaintDC; }

    // A device context for drawing or measuring outside painting; give it back
    // with ReleaseDC. Contexts not given back are freed with the window.
    CDC* GetDC();
    int ReleaseDC(CDC* pDC);

protected:
    // Message routing; see the header comment. Returns TRUE when the message was
    // handled, with its result in *pResult.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // The default processing of the message being handled.
    LRESULT Default();

    // WM_PAINT handler of the base window: begins and ends a paint without drawing.
    void OnPaint();
    // The paint protocol used by OnPaint handlers: BeginPaint starts a new paint
    // record, erases when requested and validates the window.
    CDC* BeginPaint();
    void EndPaint();

    HWND m_hWnd = nullptr;
    DWORD m_dwStyle = 0;
    CString m_strClassName;
    CWnd* m_pParent = nullptr;

private:
    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    int m_cxClient = 0;
    int m_cyClient = 0;
    bool m_bInvalid = false;
    bool m_bErasePending = false;
    int m_nInvalidateCount = 0;
    int m_nRedrawCount = 0;
    UINT m_nLastRedrawFlags = 0;
    int m_nPaintCount = 0;
    int m_nDefaultCount = 0;
    std::vector<UINT> m_DefaultMessages;
    std::vector<CurrentMessage> m_MessageStack;
    std::unique_ptr<CDC> m_pPaintDC;
    std::vector<std::unique_ptr<CDC>> m_ClientDCs;
};
