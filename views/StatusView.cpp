#include "views/StatusView.h"

#include "host/framework/Clipboard.h"
#include "host/framework/Menu.h"

#include <cstdarg>
#include <cstring>
#include <string>

IMPLEMENT_DYNCREATE(CVRNStatusView, CListView)

CVRNStatusView::CVRNStatusView() {
    m_dwDefaultStyle |= LVS_REPORT;
    SetUniqueViewID("Status");
}

CVRNStatusView::~CVRNStatusView() = default;

void CVRNStatusView::AddMessage(const char* text) {
    CString line(text);
    AddLine(line);
}

void CVRNStatusView::AddLine(CString& text) {
    CListCtrl& list = GetListCtrl();
    ForEachStatusRow(text.GetString(), static_cast<size_t>(text.GetLength()),
                     [&list](std::string_view piece) {
                         const int n = list.GetItemCount();
                         list.InsertItem(n, std::string(piece).c_str());
                         // Keep the newest row in view, unless the user is looking at a selection.
                         if (list.GetSelectedCount() == 0)
                             list.EnsureVisible(n, TRUE);
                     });
}

void CVRNStatusView::DeleteAllItems() {
    GetListCtrl().DeleteAllItems();
}

void CVRNStatusView::SelectAll() {
    CListCtrl& list = GetListCtrl();
    const int n = list.GetItemCount();
    for (int i = 0; i < n; ++i)
        list.SetItemState(i, LVIS_SELECTED, LVIS_SELECTED);
}

void CVRNStatusView::OnMenuEnd() {
    CListCtrl& list = GetListCtrl();
    list.EnsureVisible(list.GetItemCount() - 1, TRUE);
}

void CVRNStatusView::OnMenuCopy() {
    CListCtrl& list = GetListCtrl();
    std::string text;
    POSITION pos = list.GetFirstSelectedItemPosition();
    while (pos) {
        const int i = list.GetNextSelectedItem(pos);
        text += list.GetItemTextPtr(i);
        text += "\r\n";
    }
    if (text.empty()) {
        const int n = list.GetItemCount();
        for (int i = 0; i < n; ++i) {
            text += list.GetItemTextPtr(i);
            text += "\r\n";
        }
    }
    if (text.empty())
        return;

    if (!OpenClipboard(GetSafeHwnd()))
        return;
    if (!EmptyClipboard()) {
        CloseClipboard();
        return;
    }
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (!hMem) {
        CloseClipboard();
        return;
    }
    char* dst = static_cast<char*>(GlobalLock(hMem));
    std::memcpy(dst, text.c_str(), text.size() + 1);
    GlobalUnlock(hMem);
    // A refused block still belongs to us.
    if (!SetClipboardData(CF_TEXT, hMem))
        GlobalFree(hMem);
    CloseClipboard();
}

void CVRNStatusView::OnNMRclick(NMHDR* /*pNMHDR*/, LRESULT* pResult) {
    CMenu menu;
    menu.CreatePopupMenu();
    menu.InsertMenu(0, MF_BYPOSITION | MF_STRING, ID_CLEAR, "Clear");
    menu.InsertMenu(1, MF_BYPOSITION | MF_STRING, ID_COPY, "Copy");
    menu.InsertMenu(2, MF_BYPOSITION | MF_STRING, ID_CUT, "Cut");
    menu.InsertMenu(3, MF_BYPOSITION | MF_STRING, ID_END, "End");
    menu.InsertMenu(4, MF_BYPOSITION | MF_STRING, ID_SELECT_ALL, "Select All");

    POINT pt{0, 0};
    GetCursorPos(&pt);
    const int command = menu.TrackPopupMenu(TPM_RETURNCMD | TPM_NONOTIFY, static_cast<int>(pt.x),
                                            static_cast<int>(pt.y), this);
    switch (command) {
    case ID_CLEAR:
        DeleteAllItems();
        break;
    case ID_COPY:
        OnMenuCopy();
        break;
    case ID_CUT:
        OnMenuCopy();
        DeleteAllItems();
        break;
    case ID_END:
        OnMenuEnd();
        break;
    case ID_SELECT_ALL:
        SelectAll();
        break;
    default:
        break; // dismissed
    }
    if (pResult)
        *pResult = 0;
    menu.DestroyMenu();
}

void CVRNStatusView::OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags) {
    if (nChar == 'A' && GetKeyState(VK_CONTROL) < 0)
        SelectAll();
    DefWindowProc(WM_KEYDOWN, nChar, MAKELPARAM(nRepCnt, nFlags));
}

void CVRNStatusView::OnInitialUpdate() {
    CListView::OnInitialUpdate();
    // One "Text" column; a repeated initial update does not add a second one.
    CListCtrl& list = GetListCtrl();
    if (list.GetColumnCount() == 0)
        list.InsertColumn(0, "Text", LVCFMT_LEFT, 1024);
}

BOOL CVRNStatusView::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_REFLECT_BASE + WM_NOTIFY) {
        NMHDR* pNMHDR = reinterpret_cast<NMHDR*>(lParam);
        if (pNMHDR && pNMHDR->code == NM_RCLICK) {
            OnNMRclick(pNMHDR, pResult);
            return TRUE;
        }
    } else if (message == WM_RBUTTONUP) {
        *pResult = Default();
        return TRUE;
    }
    return CListView::OnWndMsg(message, wParam, lParam, pResult);
}
