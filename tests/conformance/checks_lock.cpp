// The marker lock as Windows runs it: the calls it rests on, an administrator taking it, and a
// second process waiting for a holder that is then killed.

#include <windows.h>

#include "platform/machine_facts.h"
#include "platform/win32/marker_lock_win.h"
#include "tests/conformance/check.h"
#include "tests/conformance/child_process.h"
#include "tests/conformance/machine_profile.h"

namespace {

const char kStandIn[] =
    "Wine lacks the private-namespace calls, so the lock was the Global\\ mutex that stands in "
    "for it under Wine alone";

CResult CheckNamespaceCalls(const SContext&) {
    static const char* const kCalls[] = {"CreateBoundaryDescriptorW", "AddSIDToBoundaryDescriptor",
                                         "DeleteBoundaryDescriptor",  "CreatePrivateNamespaceW",
                                         "OpenPrivateNamespaceW",     "ClosePrivateNamespace"};
    HMODULE hKernel = ::GetModuleHandleA("kernel32.dll");
    std::string strMissing;
    for (const char* pszCall : kCalls) {
        const bool bThere = hKernel != NULL && ::GetProcAddress(hKernel, pszCall) != NULL;
        Note("kernel32!%s: %s", pszCall, bThere ? "exported" : "missing");
        if (!bThere)
            strMissing += std::string(pszCall) + " ";
    }
    // The programs' own lookup must agree with the loader's answer.
    const bool bProgramSees = GetSystemMarkerLockCalls().HasPrivateNamespaces();
    if (bProgramSees != strMissing.empty())
        return CResult::Fail(
            "the programs' lookup of the namespace calls disagrees with the "
            "exports");
    if (strMissing.empty())
        return CResult::Pass();
    if (IsUnderWine())
        return CResult::WineGap("Wine does not export " + strMissing);
    return CResult::Fail("missing: " + strMissing);
}

// Skips where the account may not take the lock (which the account checks cover).
bool MayTakeLock(CResult* pSkip) {
    if (IsTokenElevated() || IsUnderWine())
        return true;
    *pSkip = CResult::WindowsSkip("not an elevated administrator (token elevation type " +
                                  ElevationTypeName() + "); run from an elevated prompt");
    return false;
}

// A pass where the namespace lock ran; where Wine's stand-in did, only a gap of Wine.
CResult PassedOn(const std::string& strWhat) {
    if (GetSystemMarkerLockCalls().HasPrivateNamespaces())
        return CResult::Pass();
    return CResult::WineGap(std::string(kStandIn) + ", and it " + strWhat);
}

CResult CheckAdministratorAcquires(const SContext&) {
    CResult skip = CResult::Pass();
    if (!MayTakeLock(&skip))
        return skip;
    CMachineFacts& machine = GetDefaultMachineFacts();
    VHLOCK hLock = nullptr;
    bool bAbandoned = false;
    const long nStatus = machine.AcquireMarkerLock(5000, &hLock, &bAbandoned);
    if (nStatus != 0)
        return CResult::Fail("AcquireMarkerLock gave status " + std::to_string(nStatus));
    Note("the lock was taken%s and is released at once", bAbandoned ? " (left abandoned)" : "");
    machine.ReleaseMarkerLock(hLock);
    hLock = nullptr;
    return PassedOn("was taken and released");
}

CResult CheckWaiterAfterHolderKilled(const SContext& context) {
    CResult skip = CResult::Pass();
    if (!MayTakeLock(&skip))
        return skip;
    CChildProcess holder;
    std::string strLine;
    if (!holder.Start(QuoteArgument(context.strSelf) + " --hold-lock"))
        return CResult::Fail("the holder could not be started");
    if (!holder.ReadLine(30000, &strLine) || strLine != "held")
        return CResult::Fail("the holder did not take the lock: " + strLine);
    Note("process %lu holds the lock", holder.ProcessId());

    // While it is held, another taker waits and gets nothing.
    CMachineFacts& machine = GetDefaultMachineFacts();
    VHLOCK hLock = nullptr;
    bool bAbandoned = false;
    const long nBusy = machine.AcquireMarkerLock(300, &hLock, &bAbandoned);
    if (nBusy != VERROR_WAIT_TIMEOUT) {
        if (nBusy == 0)
            machine.ReleaseMarkerLock(hLock);
        hLock = nullptr;
        return CResult::Fail("a second taker got status " + std::to_string(nBusy) +
                             " while the lock was held, not a time-out (258)");
    }
    Note("a second taker timed out after 300 ms while the lock was held");

    // A waiter that is waiting when the holder dies gets the lock.
    CChildProcess waiter;
    if (!waiter.Start(QuoteArgument(context.strSelf) + " --wait-lock 20000") ||
        !waiter.ReadLine(30000, &strLine) || strLine != "waiting")
        return CResult::Fail("the waiter did not start waiting");
    ::Sleep(500);
    const ULONGLONG nKilled = ::GetTickCount64();
    holder.Kill();
    DWORD nExitCode = 0;
    if (!waiter.Finish(60000, &nExitCode))
        return CResult::Fail("the waiter hung");
    const ULONGLONG nAfterKill = ::GetTickCount64() - nKilled;
    const std::string& strOutput = waiter.Output();
    Note("waiter: %s", strOutput.substr(strOutput.find('\n') + 1).c_str());
    if (nExitCode != 0)
        return CResult::Fail("the waiter did not get the lock after its holder was killed");
    Note("the waiter had the lock and ended %llu ms after the holder was killed", nAfterKill);
    return PassedOn("went to the waiter after its holder was killed");
}

typedef HANDLE(WINAPI* CreateBoundaryFn)(LPCWSTR, ULONG);
typedef BOOL(WINAPI* AddSidFn)(HANDLE*, PSID);
typedef VOID(WINAPI* DeleteBoundaryFn)(HANDLE);
typedef HANDLE(WINAPI* CreateNamespaceFn)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
typedef BOOLEAN(WINAPI* CloseNamespaceFn)(HANDLE, ULONG);

template <typename T>
T Kernel32Call(const char* pszName) {
    return reinterpret_cast<T>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), pszName)));
}

// A namespace of the lock's alias whose boundary names Users, which a standard user may make:
// a namespace is known by its name and its boundary, so it must not block the lock.
CResult CheckSquattedAliasDoesNotBlock(const SContext&) {
    CResult skip = CResult::Pass();
    if (!MayTakeLock(&skip))
        return skip;
    const auto pfnCreateBoundary = Kernel32Call<CreateBoundaryFn>("CreateBoundaryDescriptorW");
    const auto pfnAddSid = Kernel32Call<AddSidFn>("AddSIDToBoundaryDescriptor");
    const auto pfnDeleteBoundary = Kernel32Call<DeleteBoundaryFn>("DeleteBoundaryDescriptor");
    const auto pfnCreateNamespace = Kernel32Call<CreateNamespaceFn>("CreatePrivateNamespaceW");
    const auto pfnCloseNamespace = Kernel32Call<CloseNamespaceFn>("ClosePrivateNamespace");
    if (pfnCreateBoundary == nullptr || pfnAddSid == nullptr || pfnDeleteBoundary == nullptr ||
        pfnCreateNamespace == nullptr || pfnCloseNamespace == nullptr) {
        if (IsUnderWine())
            return CResult::WineGap(
                "Wine lacks the private-namespace calls: no namespace can "
                "be made to squat the alias");
        return CResult::Fail("the private-namespace calls are missing");
    }
    BYTE aUsers[SECURITY_MAX_SID_SIZE];
    DWORD nUsers = sizeof(aUsers);
    HANDLE hBoundary = pfnCreateBoundary(L"Veltrane.Idrovan.MarkerLock", 0);
    if (hBoundary == NULL || !::CreateWellKnownSid(WinBuiltinUsersSid, NULL, aUsers, &nUsers) ||
        !pfnAddSid(&hBoundary, aUsers)) {
        if (hBoundary != NULL)
            pfnDeleteBoundary(hBoundary);
        return CResult::Fail("the squatting boundary could not be made");
    }
    HANDLE hSquat = pfnCreateNamespace(NULL, hBoundary, kMarkerLockNamespace);
    const DWORD nSquatError = ::GetLastError();
    Note("a namespace of the alias with a Users boundary: %s (%lu)",
         hSquat != NULL ? "made" : "not made", nSquatError);
    CMachineFacts& machine = GetDefaultMachineFacts();
    VHLOCK hLock = nullptr;
    bool bAbandoned = false;
    const long nStatus = hSquat != NULL ? machine.AcquireMarkerLock(5000, &hLock, &bAbandoned) : -1;
    if (nStatus == 0)
        machine.ReleaseMarkerLock(hLock);
    hLock = nullptr;
    if (hSquat != NULL)
        pfnCloseNamespace(hSquat, 0);
    hSquat = NULL;
    pfnDeleteBoundary(hBoundary);
    hBoundary = NULL;
    if (nStatus == -1)
        return CResult::Fail("the squatting namespace could not be made: " +
                             std::to_string(nSquatError));
    if (nStatus != 0)
        return CResult::Fail("with the alias squatted, the lock gave status " +
                             std::to_string(nStatus));
    return CResult::Pass();
}

}  // namespace

void AddLockChecks(std::vector<SCheck>& checks) {
    checks.push_back({"lock_namespace_calls",
                      "kernel32 exports the six private-namespace calls the marker lock is made of",
                      "docs/security.md#the-marker-lock-what-it-rests-on",
                      "https://learn.microsoft.com/windows/win32/api/namespaceapi/"
                      "nf-namespaceapi-createprivatenamespacew",
                      false, CheckNamespaceCalls});
    checks.push_back({"lock_administrator_acquires",
                      "an elevated administrator takes and releases the marker lock",
                      "docs/security.md#the-marker-lock-what-it-rests-on",
                      "https://learn.microsoft.com/windows/win32/sync/object-namespaces", false,
                      CheckAdministratorAcquires});
    checks.push_back(
        {"lock_waiter_gets_it_after_holder_killed",
         "while a process holds the lock another waits; once the holder is killed the waiter "
         "gets it",
         "docs/security.md#the-marker-lock-what-it-rests-on",
         "https://learn.microsoft.com/windows/win32/api/namespaceapi/"
         "nf-namespaceapi-closeprivatenamespace",
         false, CheckWaiterAfterHolderKilled});
    checks.push_back(
        {"lock_alias_with_other_boundary_does_not_block",
         "a namespace of the lock's name with another boundary (one a standard user may make) "
         "does not keep an administrator from the lock",
         "docs/security.md#the-marker-lock-what-it-rests-on",
         "https://learn.microsoft.com/windows/win32/sync/object-namespaces", false,
         CheckSquattedAliasDoesNotBlock});
}
