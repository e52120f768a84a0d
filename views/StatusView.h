#pragma once

// The minimizer's status log: a one-column, report-style list in which every
// row is one line of text. The engine and the tool write to it with Print; the
// user clears, copies, cuts, jumps to the end and selects all through its
// context menu (right click), and Ctrl+A selects all when the host forwards
// key-down messages to OnKeyDown.

#include "host/framework/ListView.h"
#include "host/framework/String.h"
#include "host/viewid/UniqueViewID.h"
#include "minimize/MessageSink.h"

class CVRNStatusView : public CListView, public CUniqueViewID, public CVRNMessageSink {
    DECLARE_DYNCREATE(CVRNStatusView)
public:
    // Context-menu commands.
    enum MenuCommand { ID_CLEAR = 1, ID_COPY = 2, ID_CUT = 3, ID_END = 4, ID_SELECT_ALL = 5 };

    CVRNStatusView();
    ~CVRNStatusView() override;

    // Print (from the message sink) formats the arguments by the printf rules (any
    // length) and adds the result here, with AddLine.
    void AddMessage(const char* text) override;
    void Clear() override { DeleteAllItems(); }
    // Appends the text as rows, one per line: cut at every "\n"; an empty line
    // between others becomes a row holding " "; a final line feed adds no row.
    // New rows are scrolled into view unless the user has rows selected.
    void AddLine(CString& text);
    void DeleteAllItems();
    void SelectAll();
    // Scrolls so that the last row is visible.
    void OnMenuEnd();
    // Copies the selected rows (all rows when none is selected) to the
    // clipboard as text, each ended by "\r\n". An empty list leaves the
    // clipboard untouched.
    void OnMenuCopy();
    // Context menu: Clear, Copy, Cut, End, Select All. Sets *pResult to 0.
    void OnNMRclick(NMHDR* pNMHDR, LRESULT* pResult);
    // Ctrl+A selects all rows; every key then gets the default processing.
    void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
    void OnInitialUpdate() override;

    // Convenience readers of the rows. The text pointer stays valid until the
    // rows change; a row that does not exist reads "".
    int GetRowCount() const { return GetListCtrl().GetItemCount(); }
    const char* GetRowText(int i) const { return GetListCtrl().GetItemTextPtr(i); }

protected:
    // Routes the list control's reflected right click to OnNMRclick and gives a
    // right-button release the default processing.
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
};
