#include "identification/marker_lock.h"

CMarkerLock::~CMarkerLock() {
    if (m_hLock != nullptr)
        m_pMachine->ReleaseMarkerLock(m_hLock);
    m_hLock = nullptr;
}

bool CMarkerLock::Take(long* pnStatus) {
    *pnStatus = VERROR_SUCCESS;
    if (m_hLock != nullptr)
        return true;
    // An abandoned lock is taken all the same: the caller reads the marker again under it anyway,
    // which is all that a holder that ended half-way calls for.
    bool bAbandoned = false;
    VHLOCK hLock = nullptr;
    *pnStatus = m_pMachine->AcquireMarkerLock(kWaitMs, &hLock, &bAbandoned);
    if (*pnStatus != VERROR_SUCCESS || hLock == nullptr)
        return false;
    m_hLock = hLock;
    return true;
}
