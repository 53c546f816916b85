#include "tests/conformance/lock_helpers.h"

#include <cstdio>

#include "platform/machine_facts.h"

namespace {

// Longer than any check waits: the check kills the holder long before.
const DWORD kHoldMs = 120000;

}  // namespace

int HoldMarkerLockUntilKilled() {
    CMachineFacts& machine = GetDefaultMachineFacts();
    VHLOCK hLock = nullptr;
    bool bAbandoned = false;
    const long nStatus = machine.AcquireMarkerLock(10000, &hLock, &bAbandoned);
    if (nStatus != 0) {
        std::printf("failed %ld\n", nStatus);
        std::fflush(stdout);
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(kHoldMs);
    machine.ReleaseMarkerLock(hLock);
    hLock = nullptr;
    return 0;
}

int WaitForMarkerLock(DWORD nTimeoutMs) {
    CMachineFacts& machine = GetDefaultMachineFacts();
    VHLOCK hLock = nullptr;
    bool bAbandoned = false;
    std::printf("waiting\n");
    std::fflush(stdout);
    const ULONGLONG nStart = ::GetTickCount64();
    const long nStatus = machine.AcquireMarkerLock(nTimeoutMs, &hLock, &bAbandoned);
    const ULONGLONG nElapsed = ::GetTickCount64() - nStart;
    if (nStatus != 0) {
        std::printf("status %ld after %llu\n", nStatus, nElapsed);
        return 1;
    }
    std::printf("acquired %llu abandoned %d\n", nElapsed, bAbandoned ? 1 : 0);
    std::fflush(stdout);
    machine.ReleaseMarkerLock(hLock);
    hLock = nullptr;
    return 0;
}
