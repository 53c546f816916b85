#include "framework/menu.h"

#include "framework/thread_state.h"

CMenu::~CMenu() {
    DestroyMenu();
}

CMenu* CMenu::FromHandle(HMENU hMenu) {
    if (hMenu == nullptr) {
        return nullptr;
    }
    return AfxTempObject(AfxGetThreadState().tempMenus, hMenu);
}

BOOL CMenu::CreatePopupMenu() {
    if (m_hMenu != nullptr) {
        return FALSE;
    }
    m_hMenu = ::CreatePopupMenu();
    return m_hMenu != nullptr;
}

BOOL CMenu::DestroyMenu() {
    if (m_hMenu == nullptr) {
        return FALSE;
    }
    const BOOL bResult = ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    return bResult;
}

BOOL CMenu::Attach(HMENU hMenu) {
    if (m_hMenu != nullptr || hMenu == nullptr) {
        return FALSE;
    }
    m_hMenu = hMenu;
    return TRUE;
}

HMENU CMenu::Detach() {
    const HMENU hMenu = m_hMenu;
    m_hMenu = nullptr;
    return hMenu;
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCSTR lpszNewItem) {
    return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
}

int CMenu::GetMenuItemCount() const {
    return ::GetMenuItemCount(m_hMenu);
}

UINT CMenu::GetMenuItemID(int nPos) const {
    return ::GetMenuItemID(m_hMenu, nPos);
}

UINT CMenu::GetMenuState(UINT nID, UINT nFlags) const {
    return ::GetMenuState(m_hMenu, nID, nFlags);
}

int CMenu::GetMenuString(UINT nIDItem, LPSTR lpString, int nMaxCount, UINT nFlags) const {
    if (lpString == nullptr || nMaxCount <= 0) {
        return 0;
    }
    return ::GetMenuStringA(m_hMenu, nIDItem, lpString, nMaxCount, nFlags);
}
