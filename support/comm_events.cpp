#include "support/comm_events.h"

VEVENT CreateAutoResetEvent() {
    VEVENT hEvent = VCreateEvent(false, false);
    if (hEvent != nullptr) {
        VResetEvent(hEvent);
    }
    return hEvent;
}

bool WaitForSignal(VEVENT hEvent, uint32_t nTimeoutMs) {
    if (hEvent == nullptr) {
        return false;
    }
    return VWaitForEvent(hEvent, nTimeoutMs) == VWAIT_SIGNALLED;
}
