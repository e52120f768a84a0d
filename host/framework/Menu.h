#pragma once

// Pop-up menus, the cursor position and the keyboard state, with controls for
// tests.
//
// TrackPopupMenu does not wait for a user: it returns the command that the test
// chose beforehand with CMenu::SetNextChoice (0, a dismissed menu, when none was
// chosen; the choice is used once). Every shown menu is recorded
// (CMenu::GetLastShown) with its items, flags, position and owner.

#include "host/framework/String.h"
#include "host/framework/WinTypes.h"

#include <string>
#include <vector>

class CWnd;

class CMenu {
public:
    struct Item {
        UINT id;
        UINT flags;
        std::string label;
    };
    struct ShownMenu {
        std::vector<Item> items;
        UINT flags = 0;
        int x = 0;
        int y = 0;
        CWnd* owner = nullptr;
        UINT chosen = 0;
    };

    CMenu() = default;
    ~CMenu();
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    BOOL CreatePopupMenu();
    // With MF_BYPOSITION the item goes before position nPosition (past the end
    // appends); otherwise it is appended.
    BOOL InsertMenu(UINT nPosition, UINT nFlags, UINT nIDNewItem = 0, const char* lpszNewItem = nullptr);
    BOOL AppendMenu(UINT nFlags, UINT nIDNewItem = 0, const char* lpszNewItem = nullptr);
    // With TPM_RETURNCMD returns the chosen command (0 if dismissed); otherwise
    // returns TRUE when a command was chosen.
    BOOL TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd, LPCRECT lpRect = nullptr);
    BOOL DestroyMenu();

    int GetMenuItemCount() const { return m_bCreated ? static_cast<int>(m_Items.size()) : -1; }
    UINT GetMenuItemID(int nPos) const;
    CString GetMenuString(int nPos) const;

    // ---- test controls
    static void SetNextChoice(UINT nCommand);
    static const ShownMenu& GetLastShown();
    static int GetShownCount();
    // Menus created and not yet destroyed.
    static int GetLiveMenuCount();
    static void ResetStandIn();

private:
    bool m_bCreated = false;
    std::vector<Item> m_Items;
};

// Cursor position in screen coordinates; SetCursorPos moves it.
BOOL GetCursorPos(POINT* lpPoint);
BOOL SetCursorPos(int x, int y);

// Key state: negative while the key is down.
SHORT GetKeyState(int nVirtKey);
// Test control: presses or releases a key.
void SetKeyDownForTest(int nVirtKey, bool bDown);
