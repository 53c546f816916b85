#pragma once

// Helper modes of the bundle for the lock's checks, each run as a process of its own, because the
// lock belongs to a process: the system frees it when its holder ends.
//   --hold-lock       takes the marker lock, prints "held" (or "failed <status>") and sleeps until
//                     it is killed.
//   --wait-lock MS    waits up to MS for the lock and prints "acquired <ms> abandoned <0|1>" or
//                     "status <status> after <ms>"; exits 0 when it got the lock.
// Both go through the programs' own lock (GetDefaultMachineFacts().AcquireMarkerLock).

#include <windows.h>

#include <string>

int HoldMarkerLockUntilKilled();
int WaitForMarkerLock(DWORD nTimeoutMs);
