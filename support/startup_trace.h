// Start-up trace points. The instrumented build idrovan_startup_trace (tests/e2e/startup/)
// defines IDROVAN_STARTUP_TRACE and records the time of each point, so that
// startup_breakdown.sh can show where start-up time goes. In every other build a point
// expands to nothing: the program itself carries no measuring code.
#ifndef IDROVAN_SUPPORT_STARTUP_TRACE_H
#define IDROVAN_SUPPORT_STARTUP_TRACE_H

#ifdef IDROVAN_STARTUP_TRACE
// Records pName (a string literal) with the current time. Any thread.
void StartupTracePoint(const char* pName);
// Records the messages of the start-up that matter (painting, colours, showing) as they enter
// (bEnter) and leave a window procedure.
void StartupTraceMessage(void* hWnd, unsigned message, unsigned long long wParam, long long lParam,
                         bool bEnter);
#define IDROVAN_TRACE(name) StartupTracePoint(name)
#define IDROVAN_TRACE_MESSAGE(hWnd, message, wParam, lParam, bEnter)            \
    StartupTraceMessage(hWnd, message, static_cast<unsigned long long>(wParam), \
                        static_cast<long long>(lParam), bEnter)
#else
#define IDROVAN_TRACE(name) static_cast<void>(0)
#define IDROVAN_TRACE_MESSAGE(hWnd, message, wParam, lParam, bEnter) static_cast<void>(0)
#endif

#endif
