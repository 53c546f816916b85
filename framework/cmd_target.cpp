#include "framework/cmd_target.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const {
    return GetThisMessageMap();
}

namespace {

bool EntryMatches(const AFX_MSGMAP_ENTRY& entry, UINT message, WPARAM wParam, LPARAM lParam) {
    if (entry.nMessage != message) {
        return false;
    }
    if (message != WM_COMMAND) {
        return true;
    }
    // Menus send code 0 and accelerators code 1, both without a control: both are commands.
    const UINT nCode = lParam == 0 ? 0 : HIWORD(wParam);
    const UINT nID = LOWORD(wParam);
    return entry.nCode == nCode && entry.nID <= nID && nID <= entry.nLastID;
}

}  // namespace

BOOL CCmdTarget::DispatchMapped(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    for (const AFX_MSGMAP* pMap = GetMessageMap(); pMap != nullptr;
         pMap = pMap->pfnGetBaseMap != nullptr ? pMap->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* pEntry = pMap->lpEntries; pEntry->pfnDispatch != nullptr;
             ++pEntry) {
            if (EntryMatches(*pEntry, message, wParam, lParam)) {
                const LRESULT result = pEntry->pfnDispatch(this, wParam, lParam);
                if (pResult != nullptr) {
                    *pResult = result;
                }
                return TRUE;
            }
        }
    }
    return FALSE;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID) {
    return DispatchMapped(WM_COMMAND, MAKEWPARAM(nID, 0), 0, nullptr);
}
