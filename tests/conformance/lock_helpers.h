#pragma once

// Helper modes of the bundle, each run as a process of its own: the lock belongs to a process (the
// system frees it when its holder ends), and another account's rights belong to its process.
//   --hold-lock       takes the marker lock, prints "held" (or "failed <status>") and sleeps until
//                     it is killed.
//   --wait-lock MS    waits up to MS for the lock and prints "acquired <ms> abandoned <0|1>" or
//                     "status <status> after <ms>"; exits 0 when it got the lock.
//   --change-key      tries to set a value in the marker key and to delete it, and prints
//                     "set <status> delete <status>" (0 where it could).
//   --service NAME FILE
//                     runs as the one-shot service NAME: writes "user <SID>" and the outcome of
//                     --wait-lock 10000 into FILE, then stops.
// The lock modes go through the programs' own lock (GetDefaultMachineFacts().AcquireMarkerLock).

#include <windows.h>

#include <string>

int HoldMarkerLockUntilKilled();
int WaitForMarkerLock(DWORD nTimeoutMs);
int TryToChangeMarkerKey();
// Exit code 0 once the service ran and stopped; 3 when not started by the service manager.
int RunAsLockService(const std::string& strName, const std::string& strResultFile);
