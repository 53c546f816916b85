#include "support/comm_system_timer.h"

#include "support/comm_events.h"

CCommSystemTimer::CCommSystemTimer()
    : m_period(2000),
      m_hWakeEvent(nullptr),
      m_hIdleEvent(nullptr),
      m_bActive(false),
      m_bInTick(false) {
    m_hWakeEvent = CreateAutoResetEvent();
    m_hIdleEvent = CreateAutoResetEvent();
    // Without both events the loop could never tick, so no thread is started for it. With
    // them, wait until the loop signals that it is waiting: by then the thread has entered
    // Run, so a derived constructor that runs after this one cannot race with that call, and
    // an Activate sent from now on cannot be wiped out by the loop's first reset.
    if (m_hWakeEvent != nullptr && m_hIdleEvent != nullptr && Start()) {
        WaitForSignal(m_hIdleEvent, VINFINITE);
    }
}

CCommSystemTimer::~CCommSystemTimer() {
    CCommSystemTimer::Deactivate();
    if (m_hWakeEvent != nullptr) {
        ClearKeepRunning();
        VSetEvent(m_hWakeEvent);
        Stop();
    }
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
    if (m_hWakeEvent == nullptr || m_hIdleEvent == nullptr || !IsKeepRunning()) {
        return false;
    }
    bool bTicked = false;
    bool bFirstPass = true;
    do {
        VResetEvent(m_hWakeEvent);
        if (bFirstPass) {
            bFirstPass = false;
            m_tickLock.Lock();
            VSetEvent(m_hIdleEvent);
            m_tickLock.Unlock();
        }
        // Shutdown and the destructor clear keep-running before they signal. A wake-up of theirs
        // that the reset above wiped out has left that mark, so the loop ends now instead of a
        // whole period late; any other wake-up still waits for the next period.
        if (!IsKeepRunning()) {
            break;
        }
        WaitForSignal(m_hWakeEvent, m_period);
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
