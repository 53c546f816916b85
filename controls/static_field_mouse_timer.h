// CStaticFieldMouseTimer: the hover timer of a CStaticField. While the field keeps it active it
// wakes once a second on its own thread, watches the mouse pointer, and when the pointer has
// rested on one spot for two seconds asks the field (by a posted message) to show its tooltip.
// A clock set back during a rest restarts the rest at the new time.
//
// Threads. The field constructs, activates, deactivates and destroys the timer on its window's
// thread; OnTimer runs on the timer thread and only reads the pointer position and posts to the
// field's window, never touching a window itself. The tracking members are written from both
// threads (ticks, and ResetTracking from the field's handlers); each is atomic, and a reset that
// interleaves with a tick only costs one rest period or causes one extra request.
//
// Ownership. The owner field is borrowed and must outlive the timer thread: the destructor shuts
// the thread down before anything of this object (or of the field around it) is taken apart.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "support/comm_system_timer.h"

class CStaticField;

class CStaticFieldMouseTimer : public CCommSystemTimer {
public:
    // Ticks once a second while active.
    static constexpr uint32_t kPeriodMs = 1000;
    // How long the pointer must stay put before the field is asked for its tooltip.
    static constexpr int64_t kRestMs = 2000;

    CStaticFieldMouseTimer();
    ~CStaticFieldMouseTimer() override;

    // The field that this timer serves; set once by the field's constructor.
    void SetOwner(CStaticField* pOwner) { m_pOwner.store(pOwner); }

    // Forgets the rest being timed; the next tick starts a new one.
    void ResetTracking();

protected:
    void OnTimer() override;

    // The clock and the pointer that the ticks and ResetTracking read: GetCurrentFileTime and
    // GetCursorPos. A test may give the timer others before it is first activated.
    uint64_t (*m_pfnCurrentTime)();
    BOOL(WINAPI* m_pfnGetCursorPos)(LPPOINT);

private:
    std::atomic<CStaticField*> m_pOwner{nullptr};
    std::atomic<POINT> m_trackedPos;     // screen position at which the current rest began
    std::atomic<uint64_t> m_trackStart;  // FILETIME at which the current rest began
    std::atomic<bool> m_bTracking{false};

    static_assert(std::atomic<POINT>::is_always_lock_free, "a point is updated in one step");
};
