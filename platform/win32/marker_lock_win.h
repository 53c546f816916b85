#pragma once

// The marker lock on Windows: a private namespace whose boundary names the Administrators group,
// so that no account without administrator rights can make the lock first, open it, hold it or
// put another object in its place. The namespace and the mutex in it carry a DACL of LocalSystem
// and Administrators only.
//
// A private namespace is found by its name and its boundary, for the whole system: a boundary
// that is to keep it within one session must name that session, and ours names none. So one
// lock serves every session (the MSI's LocalSystem run in session 0, an administrator's dialog
// in another), as the Global\ name of earlier versions did.
//
// The lock is held by the run that made the namespace, and by no other. Microsoft's pages on
// CreatePrivateNamespace and on object namespaces say that once the creator closes its handle to
// the namespace, or ends, later OpenPrivateNamespace calls fail while objects made in it live on;
// so a run that opened another's namespace and waited there for a mutex could hold that mutex
// while a third run made a new namespace and a new mutex under the same names. Here a run that
// finds the namespace made already only looks whether it may open it (so that an account outside
// the boundary is told so at once), closes it again and tries to make it anew every kPollMs
// until its time is up. The namespace lives exactly as long as its maker's handle, under that
// reading of the documentation and under the other one (while any handle is open) alike, because
// no waiting run keeps one. The maker also takes the mutex "Veltrane.Idrovan\InstallationMarker"
// inside, so that a run of a build that waited inside the namespace waits for it too.
// A run ends with its process: the system closes the maker's handle then, and the lock is free.
// A thread that ends without releasing leaves it held until its process ends.
//
// Wine (8.0) exports none of the namespace calls but CreateBoundaryDescriptorW; a program that
// imported them would not even load there, so they are looked up at run time. Where they are
// missing and the program runs under Wine (ntdll exports wine_get_version) the lock falls back
// to the Global\ mutex kMarkerLockName with the same DACL, owned by Administrators; an object
// under that name that is no mutex, or a mutex owned by another account than Administrators,
// LocalSystem or the caller's own (its token's user or default owner, which the mutexes of
// earlier versions got), or whose DACL
// grants any other account, was made by someone else and is refused (kMarkerLockSquatted). Anywhere
// else missing namespace calls are a failure (kMarkerLockNoNamespaces): a lock that any account
// could squat is no lock.
//
// Statuses besides those of the calls themselves: VERROR_WAIT_TIMEOUT when another run held the
// lock for the whole wait; ERROR_ACCESS_DENIED for an account outside the boundary (a standard
// user, or an administrator whose token is not elevated); kMarkerLockNoNamespaces,
// kMarkerLockSquatted; a call that failed without a status gives kMarkerLockNoStatus, never 0.
//
// Any thread; the lock is released on the thread that took it. The calls are a table so that
// tests can stand in for a system that has private namespaces, which Wine cannot show.

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
    // Whether the program runs under Wine, where the Global\ mutex stands in for the namespace.
    bool bUnderWine;

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
// How often a run that finds the namespace made by another tries to make it again.
const DWORD kMarkerLockPollMs = 25;

// ERROR_PROC_NOT_FOUND: the system lacks the namespace calls and is not Wine.
const long kMarkerLockNoNamespaces = ERROR_PROC_NOT_FOUND;
// ERROR_OBJECT_NAME_EXISTS (698, "an attempt was made to create an object and the object name
// already existed"; mingw-w64's winerror.h lacks it): the Global\ name is taken by an object
// that is not our administrators-only mutex.
const long kMarkerLockSquatted = 698;
// ERROR_INTERNAL_ERROR: a call failed and left no status of its own.
const long kMarkerLockNoStatus = ERROR_INTERNAL_ERROR;

// CMachineFacts::AcquireMarkerLock and ReleaseMarkerLock through the given calls; the lock given
// is released through the same calls.
long AcquireMarkerLockWith(const SMarkerLockCalls& calls, DWORD nTimeoutMs, VHLOCK* phLock,
                           bool* pbAbandoned);
void ReleaseMarkerLockWith(const SMarkerLockCalls& calls, VHLOCK hLock);
