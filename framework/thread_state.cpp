#include "framework/thread_state.h"

#include "framework/dc.h"
#include "framework/menu.h"
#include "framework/wnd.h"

CThreadState::CThreadState() = default;

CThreadState::~CThreadState() {
    DeleteTempObjects();
}

void CThreadState::DeleteTempObjects() {
    // The wrappers only borrow their handles: let go before deleting.
    for (auto& entry : tempWnds) {
        entry.second->Detach();
    }
    for (auto& entry : tempDCs) {
        entry.second->Detach();
    }
    for (auto& entry : tempMenus) {
        entry.second->Detach();
    }
    tempWnds.clear();
    tempDCs.clear();
    tempMenus.clear();
}

CThreadState& AfxGetThreadState() {
    static thread_local CThreadState state;
    return state;
}
