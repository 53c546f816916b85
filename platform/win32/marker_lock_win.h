#pragma once

// The marker lock on Windows: a mutex inside a private namespace whose boundary names the
// Administrators group, so that no account without administrator rights can make the lock first,
// open it, hold it or put another object in its place. The namespace and the mutex carry a DACL
// of LocalSystem and Administrators only.
//
// A private namespace is found by its name and its boundary, for the whole system: a boundary
// that is to keep it within one session must name that session, and ours names none. So one
// lock serves every session (the MSI's LocalSystem run in session 0, an administrator's dialog
// in another), as the Global\ name of earlier versions did.
//
// Wine (8.0) exports none of the namespace calls but CreateBoundaryDescriptorW; a program that
// imported them would not even load there, so they are looked up at run time, and where they are
// missing the lock falls back to the Global\ mutex kMarkerLockName with the same DACL.
//
// Any thread; the lock belongs to the thread that took it. The calls are a table so that tests
// can stand in for a system that has private namespaces, which Wine cannot show.

#include <windows.h>

#include "platform/machine_facts.h"

struct SMarkerLockCalls {
    HANDLE(WINAPI* pfnCreateBoundaryDescriptorW)(LPCWSTR pszName, ULONG nFlags);
    BOOL(WINAPI* pfnAddSIDToBoundaryDescriptor)(HANDLE* phBoundary, PSID pSid);
    VOID(WINAPI* pfnDeleteBoundaryDescriptor)(HANDLE hBoundary);
    HANDLE(WINAPI* pfnCreatePrivateNamespaceW)
    (LPSECURITY_ATTRIBUTES pAttributes, LPVOID pBoundary, LPCWSTR pszAlias);
    HANDLE(WINAPI* pfnOpenPrivateNamespaceW)(LPVOID pBoundary, LPCWSTR pszAlias);
    BOOLEAN(WINAPI* pfnClosePrivateNamespace)(HANDLE hNamespace, ULONG nFlags);
    // CreateMutexExW: the mutex inside the namespace, "Veltrane.Idrovan\InstallationMarker".
    HANDLE(WINAPI* pfnCreateMutexExW)
    (LPSECURITY_ATTRIBUTES pAttributes, LPCWSTR pszName, DWORD nFlags, DWORD nAccess);

    // True when every namespace call is there.
    bool HasPrivateNamespaces() const;
};

// The system's own calls; the namespace ones are null where the system lacks them.
const SMarkerLockCalls& GetSystemMarkerLockCalls();

// The SDDL of the namespace's and the mutex's descriptor.
extern const char kMarkerLockSddl[];
// The namespace's alias and the mutex's name inside it.
extern const wchar_t kMarkerLockNamespace[];
extern const wchar_t kMarkerLockMutexName[];

// CMachineFacts::AcquireMarkerLock and ReleaseMarkerLock through the given calls; the lock given
// is released through the same calls.
long AcquireMarkerLockWith(const SMarkerLockCalls& calls, DWORD nTimeoutMs, VHLOCK* phLock,
                           bool* pbAbandoned);
void ReleaseMarkerLockWith(const SMarkerLockCalls& calls, VHLOCK hLock);
