#include "controls/static_field_mouse_timer.h"

#include "controls/static_field.h"
#include "identification/time_functions.h"

CStaticFieldMouseTimer::CStaticFieldMouseTimer()
    : m_trackedPos(POINT{0, 0}), m_trackStart(GetCurrentFileTime()) {
    m_period = kPeriodMs;
}

CStaticFieldMouseTimer::~CStaticFieldMouseTimer() {
    // OnTimer uses this object's members: the thread must end before they go.
    Shutdown();
}

void CStaticFieldMouseTimer::ResetTracking() {
    m_bTracking.store(false);
    m_trackStart.store(GetCurrentFileTime());
    m_trackedPos.store(POINT{0, 0});
}

void CStaticFieldMouseTimer::OnTimer() {
    CStaticField* pOwner = m_pOwner.load();
    if (pOwner == nullptr || !pOwner->IsHoverTooltipOn()) {
        return;
    }
    POINT position{};
    if (!::GetCursorPos(&position)) {
        // No pointer position (a locked or switched desktop): no rest can be timed.
        ResetTracking();
        return;
    }
    if (!m_bTracking.load()) {
        m_trackStart.store(GetCurrentFileTime());
        m_trackedPos.store(position);
        m_bTracking.store(true);
        return;
    }
    const POINT tracked = m_trackedPos.load();
    if (position.x != tracked.x || position.y != tracked.y) {
        ResetTracking();
        return;
    }
    if (GetElapsedMilliseconds(m_trackStart.load(), GetCurrentFileTime()) < kRestMs) {
        return;
    }
    pOwner->PostHoverRequest(position);
    ResetTracking();
}
