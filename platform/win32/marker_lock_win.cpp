#include "platform/win32/marker_lock_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <new>

const char kMarkerLockSddl[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";
const char kFallbackMutexSddl[] = "O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";
const wchar_t kMarkerLockNamespace[] = L"Veltrane.Idrovan";
const wchar_t kMarkerLockMutexName[] = L"Veltrane.Idrovan\\InstallationMarker";

namespace {

const wchar_t kBoundaryName[] = L"Veltrane.Idrovan.MarkerLock";
// All that waiting for the mutex and releasing it need; the Global\ mutex is also read for its
// DACL when another process made it first.
const DWORD kMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
const DWORD kFallbackMutexAccess = kMutexAccess | READ_CONTROL;

template <typename TFunction>
TFunction LookUp(HMODULE hModule, const char* pszName) {
    FARPROC pfn = hModule != NULL ? ::GetProcAddress(hModule, pszName) : NULL;
    // Through the one function type that GCC lets stand for any other.
    return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(pfn));
}

bool IsWine() {
    HMODULE hNtdll = ::GetModuleHandleW(L"ntdll.dll");
    return hNtdll != NULL && ::GetProcAddress(hNtdll, "wine_get_version") != NULL;
}

SMarkerLockCalls LookUpSystemCalls() {
    HMODULE hKernel = ::GetModuleHandleW(L"kernel32.dll");
    SMarkerLockCalls calls = {};
    calls.pfnCreateBoundaryDescriptorW =
        LookUp<decltype(calls.pfnCreateBoundaryDescriptorW)>(hKernel, "CreateBoundaryDescriptorW");
    calls.pfnAddSIDToBoundaryDescriptor = LookUp<decltype(calls.pfnAddSIDToBoundaryDescriptor)>(
        hKernel, "AddSIDToBoundaryDescriptor");
    calls.pfnDeleteBoundaryDescriptor =
        LookUp<decltype(calls.pfnDeleteBoundaryDescriptor)>(hKernel, "DeleteBoundaryDescriptor");
    calls.pfnCreatePrivateNamespaceW =
        LookUp<decltype(calls.pfnCreatePrivateNamespaceW)>(hKernel, "CreatePrivateNamespaceW");
    calls.pfnOpenPrivateNamespaceW =
        LookUp<decltype(calls.pfnOpenPrivateNamespaceW)>(hKernel, "OpenPrivateNamespaceW");
    calls.pfnClosePrivateNamespace =
        LookUp<decltype(calls.pfnClosePrivateNamespace)>(hKernel, "ClosePrivateNamespace");
    calls.pfnCreateMutexExW = &::CreateMutexExW;
    calls.bUnderWine = IsWine();
    return calls;
}

// The status of the call that just failed; never 0, which would read as success.
long FailureStatus() {
    const DWORD nError = ::GetLastError();
    return nError != ERROR_SUCCESS ? static_cast<long>(nError) : kMarkerLockNoStatus;
}

// The system does not document which of the two a namespace that is gone gives.
bool IsNotFound(long nStatus) {
    return nStatus == ERROR_PATH_NOT_FOUND || nStatus == ERROR_FILE_NOT_FOUND;
}

// The end of a wait of nTimeoutMs from now; INFINITE never ends.
class CDeadline {
public:
    explicit CDeadline(DWORD nTimeoutMs)
        : m_bInfinite(nTimeoutMs == INFINITE), m_nEnd(::GetTickCount64() + nTimeoutMs) {}

    DWORD GetRemainingMs() const {
        if (m_bInfinite)
            return INFINITE;
        const ULONGLONG nNow = ::GetTickCount64();
        return nNow >= m_nEnd ? 0 : static_cast<DWORD>(m_nEnd - nNow);
    }

private:
    bool m_bInfinite;
    ULONGLONG m_nEnd;
};

// A security descriptor made from SDDL, freed by its owner.
class CSecurityDescriptor {
public:
    explicit CSecurityDescriptor(const char* pszSddl) {
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(pszSddl, SDDL_REVISION_1,
                                                                    &m_pDescriptor, nullptr))
            m_pDescriptor = nullptr;
    }
    ~CSecurityDescriptor() {
        if (m_pDescriptor != nullptr)
            ::LocalFree(m_pDescriptor);
        m_pDescriptor = nullptr;
    }
    CSecurityDescriptor(const CSecurityDescriptor&) = delete;
    CSecurityDescriptor& operator=(const CSecurityDescriptor&) = delete;

    PSECURITY_DESCRIPTOR Get() const { return m_pDescriptor; }

private:
    PSECURITY_DESCRIPTOR m_pDescriptor = nullptr;
};

// The boundary that only a token holding the Administrators group is within, deleted by its
// owner. Null, with the failure's status, when it could not be made.
class CAdministratorsBoundary {
public:
    explicit CAdministratorsBoundary(const SMarkerLockCalls& calls) : m_pCalls(&calls) {
        m_hBoundary = calls.pfnCreateBoundaryDescriptorW(kBoundaryName, 0);
        if (m_hBoundary == NULL) {
            m_nStatus = FailureStatus();
            return;
        }
        BYTE aSid[SECURITY_MAX_SID_SIZE];
        DWORD nSidSize = sizeof(aSid);
        if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, aSid, &nSidSize) ||
            !calls.pfnAddSIDToBoundaryDescriptor(&m_hBoundary, aSid)) {
            m_nStatus = FailureStatus();
            Delete();
        }
    }
    ~CAdministratorsBoundary() { Delete(); }
    CAdministratorsBoundary(const CAdministratorsBoundary&) = delete;
    CAdministratorsBoundary& operator=(const CAdministratorsBoundary&) = delete;

    HANDLE Get() const { return m_hBoundary; }
    long GetStatus() const { return m_nStatus; }

private:
    void Delete() {
        if (m_hBoundary != NULL)
            m_pCalls->pfnDeleteBoundaryDescriptor(m_hBoundary);
        m_hBoundary = NULL;
    }

    const SMarkerLockCalls* m_pCalls;
    HANDLE m_hBoundary = NULL;
    long m_nStatus = VERROR_SUCCESS;
};

// Whether the namespace that another run made may be opened: VERROR_SUCCESS when it may (the
// handle is closed again at once, so that it never keeps the namespace alive), its status when
// not. A caller outside the boundary cannot make the namespace, and its DACL keeps one that
// exists from opening: ERROR_ACCESS_DENIED for a standard user.
long ProbeNamespace(const SMarkerLockCalls& calls, HANDLE hBoundary) {
    HANDLE hNamespace = calls.pfnOpenPrivateNamespaceW(hBoundary, kMarkerLockNamespace);
    if (hNamespace == NULL)
        return FailureStatus();
    calls.pfnClosePrivateNamespace(hNamespace, 0);
    hNamespace = NULL;
    return VERROR_SUCCESS;
}

// Makes the namespace, which is holding the lock, waiting while another run has it. The run that
// made it is the only one that holds a handle to it for longer than a look.
long MakeNamespace(const SMarkerLockCalls& calls, SECURITY_ATTRIBUTES* pAttributes,
                   const CDeadline& deadline, HANDLE* phNamespace) {
    *phNamespace = NULL;
    CAdministratorsBoundary boundary(calls);
    if (boundary.Get() == NULL)
        return boundary.GetStatus();
    for (;;) {
        *phNamespace =
            calls.pfnCreatePrivateNamespaceW(pAttributes, boundary.Get(), kMarkerLockNamespace);
        if (*phNamespace != NULL)
            return VERROR_SUCCESS;
        const long nCreateStatus = FailureStatus();
        if (nCreateStatus != ERROR_ALREADY_EXISTS)
            return nCreateStatus;
        // Made by another run. Gone between the two calls, or no longer to be opened since its
        // maker closed it while others still look: either way it is tried again.
        const long nOpenStatus = ProbeNamespace(calls, boundary.Get());
        if (nOpenStatus != VERROR_SUCCESS && !IsNotFound(nOpenStatus))
            return nOpenStatus;
        const DWORD nRemainingMs = deadline.GetRemainingMs();
        if (nRemainingMs == 0)
            return VERROR_WAIT_TIMEOUT;
        ::Sleep(nRemainingMs < kMarkerLockPollMs ? nRemainingMs : kMarkerLockPollMs);
    }
}

// True when every ACE of the DACL allows, and only LocalSystem and Administrators.
bool IsAdministratorsOnlyDacl(const ACL* pDacl) {
    if (pDacl == nullptr || pDacl->AceCount == 0)
        return false;
    for (WORD nAce = 0; nAce < pDacl->AceCount; ++nAce) {
        void* pAce = nullptr;
        if (!::GetAce(const_cast<ACL*>(pDacl), nAce, &pAce))
            return false;
        const ACE_HEADER* pHeader = static_cast<const ACE_HEADER*>(pAce);
        if (pHeader->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false;
        PSID pSid = &static_cast<ACCESS_ALLOWED_ACE*>(pAce)->SidStart;
        if (!::IsWellKnownSid(pSid, WinLocalSystemSid) &&
            !::IsWellKnownSid(pSid, WinBuiltinAdministratorsSid))
            return false;
    }
    return true;
}

// Whether the SID is this process's own: the user of its token, or the token's default owner,
// which every object that this account makes without naming an owner gets. Such a mutex was
// made by this account, by a run of this or an earlier version (earlier versions named no owner;
// under Wine the default owner is the group S-1-5-21-0-0-0-513, seen).
bool IsOwnSid(PSID pSid) {
    HANDLE hToken = NULL;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return false;
    union {
        TOKEN_USER user;
        TOKEN_OWNER owner;
        BYTE aBytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD nSize = 0;
    bool bOwn = ::GetTokenInformation(hToken, TokenUser, &buffer, sizeof(buffer), &nSize) &&
                ::EqualSid(buffer.user.User.Sid, pSid);
    if (!bOwn)
        bOwn = ::GetTokenInformation(hToken, TokenOwner, &buffer, sizeof(buffer), &nSize) &&
               ::EqualSid(buffer.owner.Owner, pSid);
    ::CloseHandle(hToken);
    hToken = NULL;
    return bOwn;
}

// Whether a mutex that existed under the Global\ name is ours: owned by Administrators,
// LocalSystem or this very account (IsOwnSid), and its DACL grants no account but the first two.
// Any other was made by someone else, who can hold it or let anyone hold it; an owner may rewrite
// the DACL at any time.
bool IsOurMutex(HANDLE hMutex) {
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    if (::GetSecurityInfo(hMutex, SE_KERNEL_OBJECT,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pOwner, nullptr,
                          &pDacl, nullptr, &pDescriptor) != ERROR_SUCCESS)
        return false;
    const bool bOurs =
        pOwner != nullptr &&
        (::IsWellKnownSid(pOwner, WinLocalSystemSid) ||
         ::IsWellKnownSid(pOwner, WinBuiltinAdministratorsSid) || IsOwnSid(pOwner)) &&
        IsAdministratorsOnlyDacl(pDacl);
    ::LocalFree(pDescriptor);
    pDescriptor = nullptr;
    return bOurs;
}

// Whether the caller's token holds the Administrators group, enabled (LocalSystem's does too).
bool IsAdministrator() {
    BYTE aSid[SECURITY_MAX_SID_SIZE];
    DWORD nSidSize = sizeof(aSid);
    BOOL bMember = FALSE;
    return ::CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, aSid, &nSidSize) &&
           ::CheckTokenMembership(NULL, aSid, &bMember) && bMember;
}

// The Global\ mutex, where the system has no private namespaces (Wine). CreateMutex fails with
// ERROR_INVALID_HANDLE when the name belongs to an object of another type, and an administrator
// is refused only by an object that is not ours, which grants Administrators everything.
long MakeFallbackMutex(SECURITY_ATTRIBUTES* pAttributes, HANDLE* phMutex) {
    *phMutex = ::CreateMutexExA(pAttributes, kMarkerLockName, 0, kFallbackMutexAccess);
    if (*phMutex == NULL) {
        const long nStatus = FailureStatus();
        if (nStatus == ERROR_INVALID_HANDLE ||
            (nStatus == ERROR_ACCESS_DENIED && IsAdministrator()))
            return kMarkerLockSquatted;
        return nStatus;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS || IsOurMutex(*phMutex))
        return VERROR_SUCCESS;
    ::CloseHandle(*phMutex);
    *phMutex = NULL;
    return kMarkerLockSquatted;
}

// What a held lock owns. The namespace stays open until the mutex is released: its handle is
// what keeps every other run from making it.
struct SHeldLock {
    HANDLE hMutex;
    HANDLE hNamespace;  // null for the Global\ fallback
};

void CloseLock(const SMarkerLockCalls& calls, HANDLE hMutex, HANDLE hNamespace) {
    if (hMutex != NULL)
        ::CloseHandle(hMutex);
    if (hNamespace != NULL)
        calls.pfnClosePrivateNamespace(hNamespace, 0);
}

}  // namespace

bool SMarkerLockCalls::HasPrivateNamespaces() const {
    return pfnCreateBoundaryDescriptorW != nullptr && pfnAddSIDToBoundaryDescriptor != nullptr &&
           pfnDeleteBoundaryDescriptor != nullptr && pfnCreatePrivateNamespaceW != nullptr &&
           pfnOpenPrivateNamespaceW != nullptr && pfnClosePrivateNamespace != nullptr;
}

const SMarkerLockCalls& GetSystemMarkerLockCalls() {
    static const SMarkerLockCalls s_calls = LookUpSystemCalls();
    return s_calls;
}

long AcquireMarkerLockWith(const SMarkerLockCalls& calls, DWORD nTimeoutMs, VHLOCK* phLock,
                           bool* pbAbandoned) {
    *phLock = nullptr;
    *pbAbandoned = false;
    if (!calls.HasPrivateNamespaces() && !calls.bUnderWine)
        return kMarkerLockNoNamespaces;
    CSecurityDescriptor descriptor(kMarkerLockSddl);
    if (descriptor.Get() == nullptr)
        return FailureStatus();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
    const CDeadline deadline(nTimeoutMs);

    HANDLE hNamespace = NULL;
    HANDLE hMutex = NULL;
    if (calls.HasPrivateNamespaces()) {
        const long nStatus = MakeNamespace(calls, &attributes, deadline, &hNamespace);
        if (nStatus != VERROR_SUCCESS)
            return nStatus;
        hMutex = calls.pfnCreateMutexExW(&attributes, kMarkerLockMutexName, 0, kMutexAccess);
        if (hMutex == NULL) {
            const long nMutexStatus = FailureStatus();
            CloseLock(calls, NULL, hNamespace);
            return nMutexStatus;
        }
    } else {
        // Owned by Administrators, as the check of a mutex found under the name demands.
        CSecurityDescriptor fallback(kFallbackMutexSddl);
        if (fallback.Get() == nullptr)
            return FailureStatus();
        SECURITY_ATTRIBUTES fallbackAttributes = {sizeof(fallbackAttributes), fallback.Get(),
                                                  FALSE};
        const long nStatus = MakeFallbackMutex(&fallbackAttributes, &hMutex);
        if (nStatus != VERROR_SUCCESS)
            return nStatus;
    }

    SHeldLock* pHeld = new (std::nothrow) SHeldLock{hMutex, hNamespace};
    if (pHeld == nullptr) {
        CloseLock(calls, hMutex, hNamespace);
        return VERROR_NOT_ENOUGH_MEMORY;
    }
    const DWORD nWait = ::WaitForSingleObject(hMutex, deadline.GetRemainingMs());
    if (nWait == WAIT_OBJECT_0 || nWait == WAIT_ABANDONED) {
        *pbAbandoned = nWait == WAIT_ABANDONED;
        *phLock = pHeld;
        return VERROR_SUCCESS;
    }
    const long nStatus = nWait == WAIT_TIMEOUT ? VERROR_WAIT_TIMEOUT : FailureStatus();
    CloseLock(calls, hMutex, hNamespace);
    delete pHeld;
    return nStatus;
}

void ReleaseMarkerLockWith(const SMarkerLockCalls& calls, VHLOCK hLock) {
    SHeldLock* pHeld = static_cast<SHeldLock*>(hLock);
    ::ReleaseMutex(pHeld->hMutex);
    CloseLock(calls, pHeld->hMutex, pHeld->hNamespace);
    delete pHeld;
}
