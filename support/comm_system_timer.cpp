#include "support/comm_system_timer.h"

#include "support/comm_events.h"
#include "support/startup_trace.h"

CCommSystemTimer::CCommSystemTimer()
    : m_period(2000),
      m_hWakeEvent(nullptr),
      m_hIdleEvent(nullptr),
      m_bActive(false),
      m_bInTick(false) {
    IDROVAN_TRACE("timer_construct");
    m_hWakeEvent = CreateAutoResetEvent();
    m_hIdleEvent = CreateAutoResetEvent();
    // Without both events the loop could never tick, so no thread is started for it.
    if (m_hWakeEvent != nullptr && m_hIdleEvent != nullptr) {
        StartFromConstructor(&CCommSystemTimer::RunFirstLoop);
        IDROVAN_TRACE("timer_thread_started");
        // A loop asleep while inactive must hear a Stop that comes without a Shutdown.
        SetWakeOnStop(m_hWakeEvent);
    }
    IDROVAN_TRACE("timer_constructed");
}

CCommSystemTimer::~CCommSystemTimer() {
    CCommSystemTimer::Deactivate();
    if (m_hWakeEvent != nullptr) {
        ClearKeepRunning();
        VSetEvent(m_hWakeEvent);
        Stop();
    }
    SetWakeOnStop(nullptr);
    if (m_hWakeEvent != nullptr) {
        VCloseEvent(m_hWakeEvent);
        m_hWakeEvent = nullptr;
    }
    if (m_hIdleEvent != nullptr) {
        VCloseEvent(m_hIdleEvent);
        m_hIdleEvent = nullptr;
    }
}

bool CCommSystemTimer::Run() {
    return RunLoop(false);
}

bool CCommSystemTimer::RunFirstLoop(CCommThreadedExecutor* pExecutor) {
    // Called by name, not through the virtual table: see the class comment.
    return static_cast<CCommSystemTimer*>(pExecutor)->RunLoop(true);
}

bool CCommSystemTimer::RunLoop(bool bKeepFirstWake) {
    if (m_hWakeEvent == nullptr || m_hIdleEvent == nullptr || !IsKeepRunning()) {
        return false;
    }
    bool bTicked = false;
    bool bReset = !bKeepFirstWake;
    do {
        if (bReset) {
            VResetEvent(m_hWakeEvent);
        }
        bReset = true;
        // Shutdown and the destructor clear keep-running before they signal. A wake-up of theirs
        // that the reset above wiped out has left that mark, so the loop ends now instead of
        // sleeping on.
        if (!IsKeepRunning()) {
            break;
        }
        // Read after the reset: an Activate, Shutdown or Stop from then on signals the event, and
        // one before it has already set the flags read here. So an inactive loop can sleep
        // without a time-out.
        WaitForSignal(m_hWakeEvent, m_bActive ? m_period.load() : VINFINITE);
        if (m_bActive) {
            m_tickLock.Lock();
            if (m_hIdleEvent != nullptr) {
                VResetEvent(m_hIdleEvent);
                m_bInTick = true;
            }
            m_tickLock.Unlock();
            OnTimer();
            m_tickLock.Lock();
            if (m_hIdleEvent != nullptr) {
                m_bInTick = false;
                VSetEvent(m_hIdleEvent);
            }
            m_tickLock.Unlock();
            bTicked = true;
        }
    } while (IsKeepRunning());
    return bTicked;
}

void CCommSystemTimer::OnTimer() {}

bool CCommSystemTimer::Activate() {
    if (m_hWakeEvent == nullptr) {
        return false;
    }
    m_bActive = true;
    VSetEvent(m_hWakeEvent);
    return true;
}

bool CCommSystemTimer::Deactivate() {
    if (m_hWakeEvent == nullptr) {
        return false;
    }
    m_bActive = false;
    return true;
}

bool CCommSystemTimer::Shutdown() {
    Deactivate();
    if (m_hWakeEvent == nullptr) {
        return false;
    }
    ClearKeepRunning();
    VSetEvent(m_hWakeEvent);
    Stop();
    return true;
}
