#include "platform/threads.h"
#include "platform/threads_seam.h"

#include <windows.h>

#include <new>

namespace {

HANDLE ToHandle(VEVENT hEvent) {
    return reinterpret_cast<HANDLE>(hEvent);
}
HANDLE ToHandle(VTHREAD hThread) {
    return reinterpret_cast<HANDLE>(hThread);
}

// CreateThread wants a WINAPI routine taking LPVOID; ours is portable. The start block carries
// the routine across and belongs to the new thread once CreateThread has succeeded.
struct VThreadStart {
    VTHREAD_ROUTINE pfnRoutine;
    void* pParam;
};

DWORD WINAPI ThreadStartRoutine(LPVOID pStart) {
    const VThreadStart start = *static_cast<VThreadStart*>(pStart);
    delete static_cast<VThreadStart*>(pStart);
    return start.pfnRoutine(start.pParam);
}

CRITICAL_SECTION* Native(unsigned char* pStorage) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(pStorage));
}

}  // namespace

VEVENT VCreateEvent(bool bManualReset, bool bInitiallySignalled) {
    if (VTakeEventCreationFailure()) {
        return nullptr;
    }
    HANDLE hEvent = CreateEventA(nullptr, bManualReset ? TRUE : FALSE,
                                 bInitiallySignalled ? TRUE : FALSE, nullptr);
    return reinterpret_cast<VEVENT>(hEvent);
}

bool VSetEvent(VEVENT hEvent) {
    return hEvent != nullptr && SetEvent(ToHandle(hEvent)) != FALSE;
}

bool VResetEvent(VEVENT hEvent) {
    return hEvent != nullptr && ResetEvent(ToHandle(hEvent)) != FALSE;
}

VWaitResult VWaitForEvent(VEVENT hEvent, uint32_t nTimeoutMs) {
    if (hEvent == nullptr) {
        return VWAIT_FAILED;
    }
    switch (WaitForSingleObject(ToHandle(hEvent), nTimeoutMs)) {
        case WAIT_OBJECT_0:
            return VWAIT_SIGNALLED;
        case WAIT_TIMEOUT:
            return VWAIT_TIMEOUT;
        default:
            return VWAIT_FAILED;
    }
}

bool VCloseEvent(VEVENT hEvent) {
    return hEvent != nullptr && CloseHandle(ToHandle(hEvent)) != FALSE;
}

VTHREAD VCreateSuspendedThread(VTHREAD_ROUTINE pfnRoutine, void* pParam, uint32_t* pThreadId) {
    if (pfnRoutine == nullptr || VTakeThreadCreationFailure()) {
        return nullptr;
    }
    VThreadStart* pStart = new (std::nothrow) VThreadStart{pfnRoutine, pParam};
    if (pStart == nullptr) {
        return nullptr;
    }
    DWORD nThreadId = 0;
    HANDLE hThread =
        CreateThread(nullptr, 0, &ThreadStartRoutine, pStart, CREATE_SUSPENDED, &nThreadId);
    if (hThread == nullptr) {
        delete pStart;
        return nullptr;
    }
    if (pThreadId != nullptr) {
        *pThreadId = nThreadId;
    }
    return reinterpret_cast<VTHREAD>(hThread);
}

uint32_t VResumeThread(VTHREAD hThread) {
    if (hThread == nullptr) {
        return VRESUME_FAILED;
    }
    const DWORD nPrevious = ResumeThread(ToHandle(hThread));
    return nPrevious == static_cast<DWORD>(-1) ? VRESUME_FAILED : nPrevious;
}

bool VJoinThread(VTHREAD hThread) {
    return hThread != nullptr && WaitForSingleObject(ToHandle(hThread), INFINITE) == WAIT_OBJECT_0;
}

bool VCloseThread(VTHREAD hThread) {
    return hThread != nullptr && CloseHandle(ToHandle(hThread)) != FALSE;
}

uint32_t VGetCurrentThreadId() {
    return GetCurrentThreadId();
}

CPlatformCriticalSection::CPlatformCriticalSection() {
    static_assert(sizeof(CRITICAL_SECTION) <= sizeof(m_storage), "storage too small");
    static_assert(alignof(CRITICAL_SECTION) <= 16, "storage under-aligned");
    InitializeCriticalSection(new (m_storage) CRITICAL_SECTION);
}

CPlatformCriticalSection::~CPlatformCriticalSection() {
    DeleteCriticalSection(Native(m_storage));
}

void CPlatformCriticalSection::Enter() {
    EnterCriticalSection(Native(m_storage));
}

void CPlatformCriticalSection::Leave() {
    LeaveCriticalSection(Native(m_storage));
}
