#include "support/comm_threaded_executor.h"

#include "support/comm_events.h"

CCommThreadedExecutor::CCommThreadedExecutor()
    : m_hThread(nullptr),
      m_nThreadId(0),
      m_hStartedEvent(nullptr),
      m_hFinishedEvent(nullptr),
      m_bKeepRunning(true),
      m_bRunResult(false),
      m_bThreadAlive(false) {
    // Manual-reset: once the thread has begun (or finished) every wait sees it until the next
    // reset, so a wait by the owner never takes a signal that a later Stop then waits for.
    m_hStartedEvent = VCreateEvent(true, false);
    m_hFinishedEvent = VCreateEvent(true, false);
}

CCommThreadedExecutor::~CCommThreadedExecutor() {
    CCommThreadedExecutor::Stop();
    if (m_hStartedEvent != nullptr) {
        VCloseEvent(m_hStartedEvent);
        m_hStartedEvent = nullptr;
    }
    if (m_hFinishedEvent != nullptr) {
        VCloseEvent(m_hFinishedEvent);
        m_hFinishedEvent = nullptr;
    }
}

void CCommThreadedExecutor::Reset() {
    m_hThread = nullptr;
    m_nThreadId = 0;
    m_bKeepRunning = true;
    m_bThreadAlive = false;
    m_bRunResult = false;
    VResetEvent(m_hStartedEvent);
    VResetEvent(m_hFinishedEvent);
}

bool CCommThreadedExecutor::Start() {
    Stop();
    Reset();
    m_pfnBody = nullptr;
    if (!Launch()) {
        return false;
    }
    return WaitForStart();
}

bool CCommThreadedExecutor::StartFromConstructor(BodyFunction pfnBody) {
    Stop();
    Reset();
    m_pfnBody = pfnBody;
    if (!Launch()) {
        return false;
    }
    return true;
}

bool CCommThreadedExecutor::Launch() {
    // Without both events neither "begun" nor "finished" could be waited for, and the thread
    // could outlive the object; so no thread is made at all.
    if (m_hStartedEvent == nullptr || m_hFinishedEvent == nullptr) {
        return false;
    }
    uint32_t nThreadId = 0;
    VTHREAD hThread =
        VCreateSuspendedThread(&CCommThreadedExecutor::ThreadRoutine, this, &nThreadId);
    if (hThread == nullptr) {
        return false;
    }
    // Stored while the thread is still suspended, so the object knows its thread before the
    // thread runs any code.
    m_hThread = hThread;
    m_nThreadId = nThreadId;
    if (VResumeThread(m_hThread) == VRESUME_FAILED) {
        VCloseThread(m_hThread);
        m_hThread = nullptr;
        m_nThreadId = 0;
        return false;
    }
    return true;
}

bool CCommThreadedExecutor::Stop() {
    m_bKeepRunning = false;
    if (m_hWakeOnStop != nullptr) {
        VSetEvent(m_hWakeOnStop);
    }
    bool bResult = false;
    if (m_hThread != nullptr) {
        // The thread's own end, not the finished event: a thread killed on the way (as every
        // other thread is when the process exits, before the destructors of a DLL's objects
        // run) never signals it, and a wait for the event alone would never return.
        VJoinThread(m_hThread);
        // Begun and not yet waited for by WaitForFinish, and its body done.
        bResult = m_bThreadAlive && WaitForSignal(m_hFinishedEvent, 0);
        VCloseThread(m_hThread);
        m_hThread = nullptr;
    }
    Reset();
    return bResult;
}

bool CCommThreadedExecutor::Run() {
    return false;
}

bool CCommThreadedExecutor::OnRunFinished() {
    return false;
}

bool CCommThreadedExecutor::WaitForFinish() {
    if (m_hThread == nullptr) {
        return false;
    }
    // As in Stop: the thread's end comes also to a thread that was killed.
    VJoinThread(m_hThread);
    const bool bSignalled = WaitForSignal(m_hFinishedEvent, 0);
    m_bKeepRunning = false;
    m_bThreadAlive = false;
    return bSignalled;
}

bool CCommThreadedExecutor::WaitForStart() {
    if (m_hThread == nullptr) {
        return false;
    }
    return WaitForSignal(m_hStartedEvent, VINFINITE);
}

uint32_t CCommThreadedExecutor::ThreadRoutine(void* pParam) {
    if (pParam == nullptr) {
        return 0;
    }
    CCommThreadedExecutor* pExecutor = static_cast<CCommThreadedExecutor*>(pParam);
    pExecutor->m_bThreadAlive = true;
    VSetEvent(pExecutor->m_hStartedEvent);
    const bool bResult =
        pExecutor->m_pfnBody != nullptr ? pExecutor->m_pfnBody(pExecutor) : pExecutor->Run();
    pExecutor->m_bRunResult = bResult;
    pExecutor->OnRunFinished();
    // Once finished is signalled the owner goes on and may take the object apart: read what
    // is needed first and touch nothing of it afterwards.
    VEVENT hFinishedEvent = pExecutor->m_hFinishedEvent;
    if (hFinishedEvent != nullptr) {
        VSetEvent(hFinishedEvent);
    }
    return bResult ? 1 : 0;
}
