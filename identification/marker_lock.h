#pragma once

// CMarkerLock: holds the marker lock (CMachineFacts::AcquireMarkerLock) for one scope, so that
// reading, creating, writing and reading again the installation marker happen while no other
// process, in any session, can write it. Without it two first runs at once could both find no
// marker and both write one, and the first would have shown an ID that no later run gives.
//
// Made on the stack by the one derivation that may write; used by its thread only. Taken at most
// once; the destructor releases a held lock on every path. The machine is borrowed.

#include "platform/machine_facts.h"

class CMarkerLock {
public:
    // How long a writer waits for another one before it gives up and writes nothing.
    static const std::uint32_t kWaitMs = 10000;

    explicit CMarkerLock(CMachineFacts& machine) : m_pMachine(&machine), m_hLock(nullptr) {}
    ~CMarkerLock();
    CMarkerLock(const CMarkerLock&) = delete;
    CMarkerLock& operator=(const CMarkerLock&) = delete;

    // Takes the lock unless it is held already. True once held, also when its last holder ended
    // without releasing it; otherwise false with the failure's status in *pnStatus
    // (VERROR_WAIT_TIMEOUT after the whole wait; 0 when the system gave none), and nothing is held.
    bool Take(long* pnStatus);
    bool IsHeld() const { return m_hLock != nullptr; }

private:
    CMachineFacts* m_pMachine;
    VHLOCK m_hLock;
};
