#include "controls/static_field_mouse_timer.h"

#include "controls/static_field.h"
#include "identification/time_functions.h"

CStaticFieldMouseTimer::CStaticFieldMouseTimer()
    : m_pfnCurrentTime(static_cast<uint64_t (*)()>(&GetCurrentFileTime)),
      m_pfnGetCursorPos(&::GetCursorPos),
      m_trackedPos(POINT{0, 0}),
      m_trackStart(GetCurrentFileTime()) {
    m_period = kPeriodMs;
}

CStaticFieldMouseTimer::~CStaticFieldMouseTimer() {
    // OnTimer uses this object's members: the thread must end before they go.
    Shutdown();
}

void CStaticFieldMouseTimer::ResetTracking() {
    m_bTracking.store(false);
    m_trackStart.store(m_pfnCurrentTime());
    m_trackedPos.store(POINT{0, 0});
}

void CStaticFieldMouseTimer::OnTimer() {
    CStaticField* pOwner = m_pOwner.load();
    if (pOwner == nullptr || !pOwner->IsHoverTooltipOn()) {
        return;
    }
    POINT position{};
    if (!m_pfnGetCursorPos(&position)) {
        // No pointer position (a locked or switched desktop): no rest can be timed.
        ResetTracking();
        return;
    }
    const uint64_t now = m_pfnCurrentTime();
    if (!m_bTracking.load()) {
        m_trackStart.store(now);
        m_trackedPos.store(position);
        m_bTracking.store(true);
        return;
    }
    const POINT tracked = m_trackedPos.load();
    if (position.x != tracked.x || position.y != tracked.y) {
        ResetTracking();
        return;
    }
    const int64_t nElapsed = GetElapsedMilliseconds(m_trackStart.load(), now);
    if (nElapsed < 0) {
        // The clock was set back: the rest counts from here, as the tooltip's fades do, instead
        // of waiting for the clock to catch up with where it was.
        m_trackStart.store(now);
        return;
    }
    if (nElapsed < kRestMs) {
        return;
    }
    pOwner->PostHoverRequest(position);
    ResetTracking();
}
