// The two event helpers shared by the worker thread and the periodic timer: an auto-reset
// event made the same way everywhere, and a wait that only says whether the event came.
#ifndef IDROVAN_SUPPORT_COMM_EVENTS_H
#define IDROVAN_SUPPORT_COMM_EVENTS_H

#include "platform/threads.h"

#include <cstdint>

// An unnamed auto-reset event that starts non-signalled, or null when it could not be made.
// The caller owns it and closes it with VCloseEvent.
VEVENT CreateAutoResetEvent();

// Waits up to nTimeoutMs milliseconds (VINFINITE: without limit). True only when the event was
// signalled; a time-out, a failed wait and a null event (which returns at once) give false.
bool WaitForSignal(VEVENT hEvent, uint32_t nTimeoutMs);

#endif
