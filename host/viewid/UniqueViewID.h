#pragma once

// Identity record that lets a host find a view in a document by an identifier
// string. Views carry it as a second base next to their framework view class:
//
//     class CMyView : public CScrollView, public CUniqueViewID { ... };
//     view.SetUniqueViewID("Hessian");
//     CMyView* p = FindUniqueView<CMyView>(&doc, "Hessian");

#include "host/framework/String.h"
#include "host/framework/View.h"

class CUniqueViewID {
public:
    CUniqueViewID() = default;
    virtual ~CUniqueViewID() = default;

    void SetUniqueViewID(const char* id) { m_strUniqueID = id; }
    const CString& GetUniqueViewID() const { return m_strUniqueID; }
    // True when the view was given this identifier; an empty or null identifier matches nothing.
    bool IsUniqueID(const char* id) const { return id && *id && m_strUniqueID == id; }

private:
    CString m_strUniqueID;
};

// The first view of the document, in list order, that is of class T (or derived
// from it) and bears the identifier; null if there is none. T must declare its
// run-time class and derive from CUniqueViewID.
template <class T> T* FindUniqueView(CDocument* pDoc, const char* id) {
    if (!pDoc)
        return nullptr;
    POSITION pos = pDoc->GetFirstViewPosition();
    while (pos) {
        CView* pView = pDoc->GetNextView(pos);
        if (pView && pView->IsKindOf(RUNTIME_CLASS(T))) {
            // A class without a run-time class of its own answers for its base,
            // so the cast is checked as well.
            T* p = dynamic_cast<T*>(pView);
            if (p && p->IsUniqueID(id))
                return p;
        }
    }
    return nullptr;
}
