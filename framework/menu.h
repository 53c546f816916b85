// Wrapper of a menu handle. A CMenu made with CreatePopupMenu owns its menu and destroys it
// in its destructor; one from CMenu::FromHandle (for example a window's system menu) is a
// temporary borrowed wrapper, valid while the current message is handled. UI thread only.
#pragma once

#include <windows.h>

class CMenu {
public:
    CMenu() = default;
    virtual ~CMenu();

    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    // Temporary wrapper for hMenu; null for null.
    static CMenu* FromHandle(HMENU hMenu);

    HMENU GetSafeHmenu() const { return m_hMenu; }
    operator HMENU() const { return m_hMenu; }

    BOOL CreatePopupMenu();
    BOOL DestroyMenu();
    BOOL Attach(HMENU hMenu);  // takes ownership
    HMENU Detach();

    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR lpszNewItem = nullptr);
    int GetMenuItemCount() const;
    UINT GetMenuItemID(int nPos) const;
    UINT GetMenuState(UINT nID, UINT nFlags) const;
    int GetMenuString(UINT nIDItem, LPSTR lpString, int nMaxCount, UINT nFlags) const;

    HMENU m_hMenu = nullptr;
};
