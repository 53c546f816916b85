// The root of every class that has a message map: the application object and every window.
// It only knows how to look a message up in the chain of tables (see message_map.h); windows
// add the window procedure around it. Used on the thread that owns the object's window.
#pragma once

#include <windows.h>

#include "framework/message_map.h"

class CCmdTarget {
public:
    CCmdTarget() = default;
    virtual ~CCmdTarget() = default;

    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    // Looks message up in this object's map chain and runs the first matching row. True when a
    // row matched; its result is in *pResult (which may be null).
    BOOL DispatchMapped(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    // Runs the handler of command nID (an ON_COMMAND row: a menu, accelerator or button
    // command), if any.
    BOOL OnCmdMsg(UINT nID);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};
