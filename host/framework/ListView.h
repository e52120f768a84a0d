#pragma once

// Report-style list control and the list view that owns one.
//
// CListCtrl keeps rows (items) with a text per column and a state (selected,
// focused), the columns with heading, format and width, and a model of what is
// in view: a page of GetCountPerPage() rows starting at GetTopIndex().
// EnsureVisible scrolls that page so the row is in it and records the request
// (GetLastEnsureVisible, GetEnsureVisibleCount), so callers can tell whether an
// operation scrolled the list. It also counts the rows it walks to answer
// selection queries (GetRowsWalked), so callers can tell what a query cost.
//
// CListView is reached as usual: view.GetListCtrl().GetItemCount(),
// GetItemText(i, 0), GetItemState(i, LVIS_SELECTED), ...

#include "host/framework/View.h"

#include <string>
#include <vector>

class CListCtrl {
public:
    CListCtrl() = default;

    // ---- rows
    int GetItemCount() const { return static_cast<int>(m_Items.size()); }
    // Inserts a row; an index past the end appends. Returns the new row's index,
    // or -1 for a negative index.
    int InsertItem(int nItem, const char* lpszItem);
    BOOL DeleteItem(int nItem);
    BOOL DeleteAllItems();
    CString GetItemText(int nItem, int nSubItem) const;
    // The text of column 0, valid until the rows change; "" for a row that does not exist.
    const char* GetItemTextPtr(int nItem) const;
    BOOL SetItemText(int nItem, int nSubItem, const char* lpszText);

    // ---- states
    UINT GetItemState(int nItem, UINT nMask) const;
    // nItem -1 applies to every row.
    BOOL SetItemState(int nItem, UINT nState, UINT nMask);
    // Kept up to date by every call that inserts, deletes or changes states,
    // so asking costs nothing however long the list is.
    UINT GetSelectedCount() const { return m_nSelected; }
    // The selected rows in increasing index: pos = GetFirstSelectedItemPosition();
    // while (pos) { int i = GetNextSelectedItem(pos); ... }
    POSITION GetFirstSelectedItemPosition() const;
    int GetNextSelectedItem(POSITION& pos) const;

    // ---- columns
    int InsertColumn(int nCol, const char* lpszColumnHeading, int nFormat = LVCFMT_LEFT, int nWidth = -1,
                     int nSubItem = -1);
    int GetColumnCount() const { return static_cast<int>(m_Columns.size()); }
    CString GetColumnHeading(int nCol) const;
    int GetColumnFormat(int nCol) const;
    int GetColumnWidth(int nCol) const;

    // ---- scrolling
    BOOL EnsureVisible(int nItem, BOOL bPartialOK);
    int GetTopIndex() const { return m_nTopIndex; }
    int GetCountPerPage() const { return m_nCountPerPage; }
    void SetCountPerPage(int n) { m_nCountPerPage = n > 0 ? n : 1; }
    // The row of the last EnsureVisible (-1 if none since construction) and the number of requests.
    int GetLastEnsureVisible() const { return m_nLastEnsureVisible; }
    int GetEnsureVisibleCount() const { return m_nEnsureVisibleCount; }
    bool IsItemVisible(int nItem) const {
        return nItem >= m_nTopIndex && nItem < m_nTopIndex + m_nCountPerPage;
    }

    // ---- cost record
    // Rows visited by GetFirstSelectedItemPosition and GetNextSelectedItem
    // since construction (GetSelectedCount visits none).
    long long GetRowsWalked() const { return m_nRowsWalked; }

private:
    struct Item {
        std::vector<std::string> texts; // one per sub-item, column 0 first
        UINT state = 0;
    };
    struct Column {
        std::string heading;
        int format;
        int width;
    };
    bool Valid(int nItem) const { return nItem >= 0 && nItem < GetItemCount(); }
    static bool IsSelected(const Item& item) { return (item.state & LVIS_SELECTED) != 0; }

    std::vector<Item> m_Items;
    std::vector<Column> m_Columns;
    UINT m_nSelected = 0; // rows whose state holds LVIS_SELECTED
    int m_nTopIndex = 0;
    int m_nCountPerPage = 20;
    int m_nLastEnsureVisible = -1;
    int m_nEnsureVisibleCount = 0;
    mutable long long m_nRowsWalked = 0;
};

// A view that is a common control of a given window class.
class CCtrlView : public CView {
    DECLARE_DYNAMIC(CCtrlView)
public:
    CCtrlView(const char* lpszClass, DWORD dwStyle);
    void OnDraw(CDC* pDC) override; // the control draws itself
    DWORD GetDefaultStyle() const { return m_dwDefaultStyle; }

protected:
    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    CString m_strClass;
    DWORD m_dwDefaultStyle;
};

class CListView : public CCtrlView {
    DECLARE_DYNAMIC(CListView)
public:
    CListView();
    CListCtrl& GetListCtrl() { return m_ListCtrl; }
    const CListCtrl& GetListCtrl() const { return m_ListCtrl; }

private:
    CListCtrl m_ListCtrl;
};
