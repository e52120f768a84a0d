#pragma once

// View and document of the framework stand-in.
//
// A CDocument keeps a list of the views that show it (AddView, RemoveView,
// GetFirstViewPosition / GetNextView, or FindView with a predicate). The list
// does not own its views unless they were given with AdoptView; a view removes
// itself from its document when it is destroyed, and a document that goes away
// first detaches its remaining views.
//
// A CView draws itself in OnDraw(CDC*). Painting (CWnd::UpdateWindow) calls
// OnPrepareDC and then OnDraw with the paint record's device context; a host or
// test can also draw a view into any context of its own:
//
//     CDC dc;  view.OnPrepareDC(&dc);  view.OnDraw(&dc);  dc.WriteSVG("view.svg");
//
// OnInitialUpdate is called by the host once the view belongs to its document
// (the base calls OnUpdate, which invalidates the view). OnActivateView is
// called by the host when the view becomes (or stops being) the active one.

#include "host/framework/Wnd.h"

#include <functional>
#include <memory>
#include <vector>

class CView;

class CDocument : public CObject {
    DECLARE_DYNAMIC(CDocument)
public:
    CDocument();
    ~CDocument() override;
    CDocument(const CDocument&) = delete;
    CDocument& operator=(const CDocument&) = delete;

    // Adds the view (if not already there) and makes this its document; a view
    // of another document is moved here.
    void AddView(CView* pView);
    // As AddView, and the document deletes the view when it is destroyed.
    void AdoptView(CView* pView);
    // Removes the view from the list (an adopted view is deleted by the caller then).
    void RemoveView(CView* pView);

    POSITION GetFirstViewPosition() const;
    CView* GetNextView(POSITION& rPosition) const;
    int GetViewCount() const { return static_cast<int>(m_Views.size()); }
    // The first view, in list order, that the predicate accepts, or null.
    CView* FindView(const std::function<bool(CView*)>& pred) const;

    const CString& GetTitle() const { return m_strTitle; }
    virtual void SetTitle(const char* lpszTitle) { m_strTitle = lpszTitle; }

    // Calls OnUpdate of every view except the sender.
    void UpdateAllViews(CView* pSender, LPARAM lHint = 0, CObject* pHint = nullptr);

private:
    std::vector<CView*> m_Views;
    std::vector<CView*> m_Owned;
    CString m_strTitle;
};

class CView : public CWnd {
    DECLARE_DYNAMIC(CView)
public:
    ~CView() override;

    CDocument* GetDocument() const { return m_pDocument; }

    virtual void OnInitialUpdate();
    virtual void OnUpdate(CView* pSender, LPARAM lHint, CObject* pHint);
    virtual void OnActivateView(BOOL bActivate, CView* pActivateView, CView* pDeactiveView);
    // Prepares a context for drawing this view (scroll views set the viewport origin).
    virtual void OnPrepareDC(CDC* pDC, void* pInfo = nullptr);
    virtual void OnDraw(CDC* pDC) = 0;

    bool IsActive() const { return m_bActive; }

protected:
    CView() = default;
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    // WM_PAINT: draws the view into the paint record.
    void OnPaint();

private:
    friend class CDocument;
    CDocument* m_pDocument = nullptr;
    bool m_bActive = false;
};
