#include "platform/threads.h"
#include "platform/threads_seam.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

struct VEventObject {
    std::mutex mutex;
    std::condition_variable signalled;
    bool bManualReset = false;
    bool bSignalled = false;
};

namespace {

enum class EThreadStart { kSuspended, kResumed, kAbandoned };

// What the new thread and its handle share: the handle may be closed while the thread runs on.
struct VThreadState {
    std::mutex mutex;
    std::condition_variable changed;
    EThreadStart eStart = EThreadStart::kSuspended;
    VTHREAD_ROUTINE pfnRoutine = nullptr;
    void* pParam = nullptr;
    uint32_t nThreadId = 0;
};

std::atomic<uint32_t> g_nNextThreadId{1};
thread_local uint32_t t_nThreadId = 0;

uint32_t NewThreadId() {
    uint32_t nId = g_nNextThreadId.fetch_add(1);
    while (nId == 0) {
        nId = g_nNextThreadId.fetch_add(1);
    }
    return nId;
}

// The body of every thread made here: it waits to be resumed before it runs the routine, and
// leaves without running it if its handle is given up first.
void RunThread(std::shared_ptr<VThreadState> pState) {
    t_nThreadId = pState->nThreadId;
    {
        std::unique_lock<std::mutex> lock(pState->mutex);
        pState->changed.wait(lock, [&] { return pState->eStart != EThreadStart::kSuspended; });
        if (pState->eStart == EThreadStart::kAbandoned) {
            return;
        }
    }
    pState->pfnRoutine(pState->pParam);
}

// A critical section as a binary semaphore: the mutex is held only inside Enter and Leave,
// never across the section. The re-entrant lock keeps its holder section entered across calls
// that take its guard briefly, and enters the holder under the guard only while the lock is
// free; that cannot deadlock, but a std::mutex held across the section would make
// ThreadSanitizer's lock-order check report a cycle. Leave still synchronises with the next
// Enter through the mutex.
struct VCriticalSectionState {
    std::mutex mutex;
    std::condition_variable left;
    bool bEntered = false;
};

VCriticalSectionState* Native(unsigned char* pStorage) {
    return std::launder(reinterpret_cast<VCriticalSectionState*>(pStorage));
}

}  // namespace

struct VThreadObject {
    std::shared_ptr<VThreadState> pState;
    std::thread thread;
};

VEVENT VCreateEvent(bool bManualReset, bool bInitiallySignalled) {
    if (VTakeEventCreationFailure()) {
        return nullptr;
    }
    VEventObject* pEvent = new (std::nothrow) VEventObject;
    if (pEvent != nullptr) {
        pEvent->bManualReset = bManualReset;
        pEvent->bSignalled = bInitiallySignalled;
    }
    return pEvent;
}

bool VSetEvent(VEVENT hEvent) {
    if (hEvent == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(hEvent->mutex);
    hEvent->bSignalled = true;
    if (hEvent->bManualReset) {
        hEvent->signalled.notify_all();
    } else {
        hEvent->signalled.notify_one();
    }
    return true;
}

bool VResetEvent(VEVENT hEvent) {
    if (hEvent == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(hEvent->mutex);
    hEvent->bSignalled = false;
    return true;
}

VWaitResult VWaitForEvent(VEVENT hEvent, uint32_t nTimeoutMs) {
    if (hEvent == nullptr) {
        return VWAIT_FAILED;
    }
    std::unique_lock<std::mutex> lock(hEvent->mutex);
    auto isSignalled = [hEvent] { return hEvent->bSignalled; };
    if (nTimeoutMs == VINFINITE) {
        hEvent->signalled.wait(lock, isSignalled);
    } else if (!hEvent->signalled.wait_for(lock, std::chrono::milliseconds(nTimeoutMs),
                                           isSignalled)) {
        return VWAIT_TIMEOUT;
    }
    if (!hEvent->bManualReset) {
        hEvent->bSignalled = false;
    }
    return VWAIT_SIGNALLED;
}

bool VCloseEvent(VEVENT hEvent) {
    if (hEvent == nullptr) {
        return false;
    }
    delete hEvent;
    return true;
}

VTHREAD VCreateSuspendedThread(VTHREAD_ROUTINE pfnRoutine, void* pParam, uint32_t* pThreadId) {
    if (pfnRoutine == nullptr || VTakeThreadCreationFailure()) {
        return nullptr;
    }
    try {
        std::unique_ptr<VThreadObject> pThread(new VThreadObject);
        pThread->pState = std::make_shared<VThreadState>();
        pThread->pState->pfnRoutine = pfnRoutine;
        pThread->pState->pParam = pParam;
        pThread->pState->nThreadId = NewThreadId();
        pThread->thread = std::thread(&RunThread, pThread->pState);
        if (pThreadId != nullptr) {
            *pThreadId = pThread->pState->nThreadId;
        }
        return pThread.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::system_error&) {
        return nullptr;
    }
}

uint32_t VResumeThread(VTHREAD hThread) {
    if (hThread == nullptr) {
        return VRESUME_FAILED;
    }
    std::lock_guard<std::mutex> lock(hThread->pState->mutex);
    if (hThread->pState->eStart != EThreadStart::kSuspended) {
        return 0;
    }
    hThread->pState->eStart = EThreadStart::kResumed;
    hThread->pState->changed.notify_all();
    return 1;
}

bool VJoinThread(VTHREAD hThread) {
    if (hThread == nullptr) {
        return false;
    }
    if (!hThread->thread.joinable()) {
        return true;
    }
    if (hThread->thread.get_id() == std::this_thread::get_id()) {
        return false;
    }
    hThread->thread.join();
    return true;
}

bool VCloseThread(VTHREAD hThread) {
    if (hThread == nullptr) {
        return false;
    }
    if (hThread->thread.joinable()) {
        bool bNeverResumed = false;
        {
            std::lock_guard<std::mutex> lock(hThread->pState->mutex);
            if (hThread->pState->eStart == EThreadStart::kSuspended) {
                hThread->pState->eStart = EThreadStart::kAbandoned;
                hThread->pState->changed.notify_all();
                bNeverResumed = true;
            }
        }
        // A thread that was never resumed leaves at once without running the routine; one that
        // runs goes on by itself, as a Windows thread does when its handle is closed.
        if (bNeverResumed) {
            hThread->thread.join();
        } else {
            hThread->thread.detach();
        }
    }
    delete hThread;
    return true;
}

uint32_t VGetCurrentThreadId() {
    if (t_nThreadId == 0) {
        t_nThreadId = NewThreadId();
    }
    return t_nThreadId;
}

CPlatformCriticalSection::CPlatformCriticalSection() {
    static_assert(sizeof(VCriticalSectionState) <= sizeof(m_storage), "storage too small");
    static_assert(alignof(VCriticalSectionState) <= 16, "storage under-aligned");
    new (m_storage) VCriticalSectionState;
}

CPlatformCriticalSection::~CPlatformCriticalSection() {
    Native(m_storage)->~VCriticalSectionState();
}

void CPlatformCriticalSection::Enter() {
    VCriticalSectionState* pState = Native(m_storage);
    std::unique_lock<std::mutex> lock(pState->mutex);
    pState->left.wait(lock, [pState] { return !pState->bEntered; });
    pState->bEntered = true;
}

void CPlatformCriticalSection::Leave() {
    VCriticalSectionState* pState = Native(m_storage);
    std::lock_guard<std::mutex> lock(pState->mutex);
    pState->bEntered = false;
    pState->left.notify_one();
}
