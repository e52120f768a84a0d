#include "host/framework/Menu.h"

#include <array>

namespace {

struct MenuState {
    UINT nextChoice = 0;
    CMenu::ShownMenu lastShown;
    int shownCount = 0;
    int liveMenus = 0;
    POINT cursor{0, 0};
    std::array<bool, 256> keys{};
};

MenuState& State() {
    static MenuState s;
    return s;
}

} // namespace

CMenu::~CMenu() {
    DestroyMenu();
}

BOOL CMenu::CreatePopupMenu() {
    if (m_bCreated)
        return FALSE;
    m_bCreated = true;
    m_Items.clear();
    ++State().liveMenus;
    return TRUE;
}

BOOL CMenu::InsertMenu(UINT nPosition, UINT nFlags, UINT nIDNewItem, const char* lpszNewItem) {
    if (!m_bCreated)
        return FALSE;
    Item item{nIDNewItem, nFlags & ~MF_BYPOSITION, lpszNewItem ? lpszNewItem : ""};
    if ((nFlags & MF_BYPOSITION) && nPosition < m_Items.size())
        m_Items.insert(m_Items.begin() + nPosition, item);
    else
        m_Items.push_back(item);
    return TRUE;
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT nIDNewItem, const char* lpszNewItem) {
    return InsertMenu(0xFFFFFFFFu, nFlags | MF_BYPOSITION, nIDNewItem, lpszNewItem);
}

BOOL CMenu::TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd, LPCRECT /*lpRect*/) {
    if (!m_bCreated)
        return FALSE;
    MenuState& s = State();
    UINT chosen = s.nextChoice;
    s.nextChoice = 0;
    // Only the command of an item of this menu can be chosen.
    bool found = false;
    for (const Item& item : m_Items)
        if (item.id == chosen && !(item.flags & MF_SEPARATOR))
            found = true;
    if (!found)
        chosen = 0;
    s.lastShown.items = m_Items;
    s.lastShown.flags = nFlags;
    s.lastShown.x = x;
    s.lastShown.y = y;
    s.lastShown.owner = pWnd;
    s.lastShown.chosen = chosen;
    ++s.shownCount;
    if (nFlags & TPM_RETURNCMD)
        return static_cast<BOOL>(chosen);
    return chosen != 0 ? TRUE : FALSE;
}

BOOL CMenu::DestroyMenu() {
    if (!m_bCreated)
        return FALSE;
    m_bCreated = false;
    m_Items.clear();
    --State().liveMenus;
    return TRUE;
}

UINT CMenu::GetMenuItemID(int nPos) const {
    if (nPos < 0 || static_cast<size_t>(nPos) >= m_Items.size())
        return 0xFFFFFFFFu;
    return m_Items[static_cast<size_t>(nPos)].id;
}

CString CMenu::GetMenuString(int nPos) const {
    if (nPos < 0 || static_cast<size_t>(nPos) >= m_Items.size())
        return CString();
    return CString(m_Items[static_cast<size_t>(nPos)].label);
}

void CMenu::SetNextChoice(UINT nCommand) {
    State().nextChoice = nCommand;
}
const CMenu::ShownMenu& CMenu::GetLastShown() {
    return State().lastShown;
}
int CMenu::GetShownCount() {
    return State().shownCount;
}
int CMenu::GetLiveMenuCount() {
    return State().liveMenus;
}

void CMenu::ResetStandIn() {
    MenuState& s = State();
    s.nextChoice = 0;
    s.lastShown = ShownMenu();
    s.shownCount = 0;
}

BOOL GetCursorPos(POINT* lpPoint) {
    if (!lpPoint)
        return FALSE;
    *lpPoint = State().cursor;
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    State().cursor = POINT{x, y};
    return TRUE;
}

SHORT GetKeyState(int nVirtKey) {
    if (nVirtKey < 0 || nVirtKey > 255)
        return 0;
    return State().keys[static_cast<size_t>(nVirtKey)] ? static_cast<SHORT>(-128) : static_cast<SHORT>(0);
}

void SetKeyDownForTest(int nVirtKey, bool bDown) {
    if (nVirtKey >= 0 && nVirtKey <= 255)
        State().keys[static_cast<size_t>(nVirtKey)] = bDown;
}
