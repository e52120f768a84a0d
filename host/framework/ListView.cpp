#include "host/framework/ListView.h"

#include <cstdint>

// ---------------------------------------------------------------- rows

int CListCtrl::InsertItem(int nItem, const char* lpszItem) {
    if (nItem < 0)
        return -1;
    if (nItem > GetItemCount())
        nItem = GetItemCount();
    Item item;
    item.texts.emplace_back(lpszItem ? lpszItem : "");
    m_Items.insert(m_Items.begin() + nItem, std::move(item));
    return nItem;
}

BOOL CListCtrl::DeleteItem(int nItem) {
    if (!Valid(nItem))
        return FALSE;
    if (IsSelected(m_Items[static_cast<size_t>(nItem)]))
        --m_nSelected;
    m_Items.erase(m_Items.begin() + nItem);
    if (m_nTopIndex >= GetItemCount())
        m_nTopIndex = GetItemCount() > 0 ? GetItemCount() - 1 : 0;
    return TRUE;
}

BOOL CListCtrl::DeleteAllItems() {
    m_Items.clear();
    m_nSelected = 0;
    m_nTopIndex = 0;
    return TRUE;
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
    if (!Valid(nItem) || nSubItem < 0)
        return CString();
    const Item& item = m_Items[static_cast<size_t>(nItem)];
    if (static_cast<size_t>(nSubItem) >= item.texts.size())
        return CString();
    return CString(item.texts[static_cast<size_t>(nSubItem)]);
}

const char* CListCtrl::GetItemTextPtr(int nItem) const {
    return Valid(nItem) ? m_Items[static_cast<size_t>(nItem)].texts[0].c_str() : "";
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, const char* lpszText) {
    if (!Valid(nItem) || nSubItem < 0)
        return FALSE;
    Item& item = m_Items[static_cast<size_t>(nItem)];
    if (static_cast<size_t>(nSubItem) >= item.texts.size())
        item.texts.resize(static_cast<size_t>(nSubItem) + 1);
    item.texts[static_cast<size_t>(nSubItem)] = lpszText ? lpszText : "";
    return TRUE;
}

// ---------------------------------------------------------------- states

UINT CListCtrl::GetItemState(int nItem, UINT nMask) const {
    return Valid(nItem) ? (m_Items[static_cast<size_t>(nItem)].state & nMask) : 0U;
}

BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask) {
    auto apply = [this, nState, nMask](Item& item) {
        const bool was = IsSelected(item);
        item.state = (item.state & ~nMask) | (nState & nMask);
        const bool is = IsSelected(item);
        if (is && !was)
            ++m_nSelected;
        else if (was && !is)
            --m_nSelected;
    };
    if (nItem == -1) {
        for (Item& item : m_Items)
            apply(item);
        return TRUE;
    }
    if (!Valid(nItem))
        return FALSE;
    apply(m_Items[static_cast<size_t>(nItem)]);
    return TRUE;
}

namespace {

POSITION IndexToPosition(int i) {
    return reinterpret_cast<POSITION>(static_cast<std::uintptr_t>(i) + 1);
}
int PositionToIndex(POSITION p) {
    return static_cast<int>(reinterpret_cast<std::uintptr_t>(p) - 1);
}

} // namespace

POSITION CListCtrl::GetFirstSelectedItemPosition() const {
    for (int i = 0; i < GetItemCount(); ++i) {
        ++m_nRowsWalked;
        if (m_Items[static_cast<size_t>(i)].state & LVIS_SELECTED)
            return IndexToPosition(i);
    }
    return nullptr;
}

int CListCtrl::GetNextSelectedItem(POSITION& pos) const {
    if (!pos)
        return -1;
    const int i = PositionToIndex(pos);
    pos = nullptr;
    for (int j = i + 1; j < GetItemCount(); ++j) {
        ++m_nRowsWalked;
        if (m_Items[static_cast<size_t>(j)].state & LVIS_SELECTED) {
            pos = IndexToPosition(j);
            break;
        }
    }
    return i;
}

// ---------------------------------------------------------------- columns

int CListCtrl::InsertColumn(int nCol, const char* lpszColumnHeading, int nFormat, int nWidth,
                            int /*nSubItem*/) {
    if (nCol < 0)
        return -1;
    if (nCol > GetColumnCount())
        nCol = GetColumnCount();
    m_Columns.insert(m_Columns.begin() + nCol,
                     Column{lpszColumnHeading ? lpszColumnHeading : "", nFormat, nWidth});
    return nCol;
}

CString CListCtrl::GetColumnHeading(int nCol) const {
    return (nCol >= 0 && nCol < GetColumnCount()) ? CString(m_Columns[static_cast<size_t>(nCol)].heading)
                                                  : CString();
}

int CListCtrl::GetColumnFormat(int nCol) const {
    return (nCol >= 0 && nCol < GetColumnCount()) ? m_Columns[static_cast<size_t>(nCol)].format : -1;
}

int CListCtrl::GetColumnWidth(int nCol) const {
    return (nCol >= 0 && nCol < GetColumnCount()) ? m_Columns[static_cast<size_t>(nCol)].width : 0;
}

// ---------------------------------------------------------------- scrolling

BOOL CListCtrl::EnsureVisible(int nItem, BOOL /*bPartialOK*/) {
    if (!Valid(nItem))
        return FALSE;
    m_nLastEnsureVisible = nItem;
    ++m_nEnsureVisibleCount;
    if (nItem < m_nTopIndex)
        m_nTopIndex = nItem;
    else if (nItem >= m_nTopIndex + m_nCountPerPage)
        m_nTopIndex = nItem - m_nCountPerPage + 1;
    return TRUE;
}

// ---------------------------------------------------------------- views

IMPLEMENT_DYNAMIC(CCtrlView, CView)

CCtrlView::CCtrlView(const char* lpszClass, DWORD dwStyle)
    : m_strClass(lpszClass), m_dwDefaultStyle(dwStyle) {}

void CCtrlView::OnDraw(CDC* /*pDC*/) {}

BOOL CCtrlView::PreCreateWindow(CREATESTRUCT& cs) {
    cs.lpszClass = m_strClass;
    cs.style |= m_dwDefaultStyle;
    return CView::PreCreateWindow(cs);
}

IMPLEMENT_DYNAMIC(CListView, CCtrlView)

CListView::CListView() : CCtrlView("SysListView32", AFX_WS_DEFAULT_VIEW) {}
