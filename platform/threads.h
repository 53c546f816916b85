// Threads, events and critical sections: the part of the operating system that the worker
// thread, the periodic timer and the re-entrant lock are built on.
//
// Windows gives these through kernel handles (win32/threads_win.cpp); the native build gives
// the same behaviour on the C++ standard library (posix/threads_posix.cpp). Handles are opaque
// types of our own so that no caller needs <windows.h>.
//
// Threading: every function may be called from any thread. A handle belongs to whoever created
// it; that owner closes it exactly once and must not close it while another thread is still
// inside a call on it. Null handles are refused: false, VWAIT_FAILED or no effect.
#ifndef IDROVAN_PLATFORM_THREADS_H
#define IDROVAN_PLATFORM_THREADS_H

#include <cstdint>

typedef struct VEventObject* VEVENT;
typedef struct VThreadObject* VTHREAD;

// The entry point of a thread; its value becomes the thread's exit code.
typedef uint32_t (*VTHREAD_ROUTINE)(void* pParam);

// A time-out that never ends.
const uint32_t VINFINITE = 0xFFFFFFFFu;

// What VResumeThread returns when the thread could not be resumed.
const uint32_t VRESUME_FAILED = 0xFFFFFFFFu;

enum VWaitResult {
    VWAIT_SIGNALLED,  // the event was signalled (an auto-reset event is reset by the wait)
    VWAIT_TIMEOUT,    // the time-out passed first
    VWAIT_FAILED,     // null or broken handle, or an abandoned wait
};

// An unnamed event, null when it could not be made. An auto-reset event lets exactly one
// wait through per signal and then is non-signalled again; a manual-reset event stays
// signalled, releasing every waiter, until it is reset.
VEVENT VCreateEvent(bool bManualReset, bool bInitiallySignalled);
bool VSetEvent(VEVENT hEvent);
bool VResetEvent(VEVENT hEvent);
// Waits up to nTimeoutMs milliseconds, or without limit for VINFINITE.
VWaitResult VWaitForEvent(VEVENT hEvent, uint32_t nTimeoutMs);
bool VCloseEvent(VEVENT hEvent);

// A new thread that runs no code of ours until VResumeThread; null when it could not be made.
// *pThreadId (when given) receives the identifier that VGetCurrentThreadId reports on the
// new thread.
VTHREAD VCreateSuspendedThread(VTHREAD_ROUTINE pfnRoutine, void* pParam, uint32_t* pThreadId);
// Returns the suspend count before the call (1 for a thread that was waiting to start, 0 for
// one already running), or VRESUME_FAILED.
uint32_t VResumeThread(VTHREAD hThread);
// Waits without limit until the thread has returned from its routine. False for a null
// handle and, where the platform can tell, for a thread that would wait for itself.
bool VJoinThread(VTHREAD hThread);
// Gives the handle up; the thread itself goes on if it runs. A thread that was never resumed
// never runs its routine.
bool VCloseThread(VTHREAD hThread);

// Identifier of the calling thread, never 0.
uint32_t VGetCurrentThreadId();

// Mutual exclusion between threads. Callers never enter it twice on one thread (Windows would
// let them, the native build would block for ever), and the thread that entered it is the one
// that leaves it.
class CPlatformCriticalSection {
public:
    CPlatformCriticalSection();
    ~CPlatformCriticalSection();

    CPlatformCriticalSection(const CPlatformCriticalSection&) = delete;
    CPlatformCriticalSection& operator=(const CPlatformCriticalSection&) = delete;

    void Enter();
    void Leave();

private:
    // Room for the native object, which lives here without a heap allocation that could fail.
    alignas(16) unsigned char m_storage[128];
};

// Test seam: bit i of nMask makes the i-th event creation (or thread creation) from now on
// fail as if the system had refused it; later creations succeed again. 0 clears it.
void VFailEventCreations(uint32_t nMask);
void VFailThreadCreations(uint32_t nMask);

#endif
