#include "support/comm_reentrant_lock.h"

CCommReentrantLock::CCommReentrantLock()
    : m_bLocked(false), m_nOwner(0), m_nDepth(0), m_hReleaseEvent(nullptr) {
    m_hReleaseEvent = VCreateEvent(true, false);
    if (m_hReleaseEvent != nullptr) {
        VResetEvent(m_hReleaseEvent);
    }
}

CCommReentrantLock::~CCommReentrantLock() {
    if (m_hReleaseEvent != nullptr) {
        VSetEvent(m_hReleaseEvent);
        VCloseEvent(m_hReleaseEvent);
        m_hReleaseEvent = nullptr;
    }
}

void CCommReentrantLock::Lock() {
    const uint32_t nSelf = VGetCurrentThreadId();
    for (;;) {
        bool bTaken = false;
        m_guard.Enter();
        if (m_bLocked) {
            if (m_nOwner == nSelf) {
                ++m_nDepth;
                bTaken = true;
            }
        } else {
            m_holder.Enter();
            m_bLocked = true;
            m_nOwner = nSelf;
            VResetEvent(m_hReleaseEvent);
            ++m_nDepth;
            bTaken = true;
        }
        m_guard.Leave();
        if (bTaken) {
            return;
        }
        if (m_hReleaseEvent != nullptr) {
            VWaitForEvent(m_hReleaseEvent, VINFINITE);
        }
    }
}

void CCommReentrantLock::Unlock() {
    m_guard.Enter();
    const bool bLocked = m_bLocked;
    m_guard.Leave();
    if (!bLocked) {
        return;
    }
    bool bRelease = false;
    m_guard.Enter();
    if (m_nDepth > 0 && m_nOwner == VGetCurrentThreadId()) {
        --m_nDepth;
        if (m_nDepth == 0) {
            m_bLocked = false;
            m_nOwner = 0;
            bRelease = true;
        }
    }
    m_guard.Leave();
    if (bRelease) {
        VSetEvent(m_hReleaseEvent);
        m_holder.Leave();
    }
}
