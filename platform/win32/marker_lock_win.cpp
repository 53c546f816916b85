#include "platform/win32/marker_lock_win.h"

#include <sddl.h>

#include <new>

const char kMarkerLockSddl[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";
const wchar_t kMarkerLockNamespace[] = L"Veltrane.Idrovan";
const wchar_t kMarkerLockMutexName[] = L"Veltrane.Idrovan\\InstallationMarker";

namespace {

const wchar_t kBoundaryName[] = L"Veltrane.Idrovan.MarkerLock";
// How often the namespace is made anew when it vanished between a refused create and the open
// (its last user closed it in between); more than that is no race but a system that misbehaves.
const int kNamespaceTries = 3;
// All that waiting for the mutex and releasing it need.
const DWORD kMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

template <typename TFunction>
TFunction LookUp(HMODULE hModule, const char* pszName) {
    FARPROC pfn = hModule != NULL ? ::GetProcAddress(hModule, pszName) : NULL;
    // Through the one function type that GCC lets stand for any other.
    return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(pfn));
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
    return calls;
}

long LastStatus() {
    return static_cast<long>(::GetLastError());
}

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
            m_nStatus = LastStatus();
            return;
        }
        BYTE aSid[SECURITY_MAX_SID_SIZE];
        DWORD nSidSize = sizeof(aSid);
        if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, aSid, &nSidSize) ||
            !calls.pfnAddSIDToBoundaryDescriptor(&m_hBoundary, aSid)) {
            m_nStatus = LastStatus();
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

// Makes the namespace, or opens the one another process made. A caller outside the boundary
// cannot make it, and the namespace's DACL keeps it from opening one: both refusals end here
// with the first one's status (ERROR_ACCESS_DENIED for a standard user).
long OpenNamespace(const SMarkerLockCalls& calls, HANDLE hBoundary,
                   SECURITY_ATTRIBUTES* pAttributes, HANDLE* phNamespace) {
    long nStatus = VERROR_SUCCESS;
    for (int nTry = 0; nTry < kNamespaceTries; ++nTry) {
        *phNamespace =
            calls.pfnCreatePrivateNamespaceW(pAttributes, hBoundary, kMarkerLockNamespace);
        if (*phNamespace != NULL)
            return VERROR_SUCCESS;
        const long nCreateStatus = LastStatus();
        *phNamespace = calls.pfnOpenPrivateNamespaceW(hBoundary, kMarkerLockNamespace);
        if (*phNamespace != NULL)
            return VERROR_SUCCESS;
        const long nOpenStatus = LastStatus();
        nStatus = nCreateStatus == ERROR_ALREADY_EXISTS ? nOpenStatus : nCreateStatus;
        if (nCreateStatus != ERROR_ALREADY_EXISTS || nOpenStatus != ERROR_PATH_NOT_FOUND)
            break;
    }
    *phNamespace = NULL;
    return nStatus;
}

// What a held lock owns. The namespace stays open until the mutex is released: while any
// process that may wait for the mutex has the namespace open, it is the one every other
// process finds, and so is the mutex's name in it.
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
    CSecurityDescriptor descriptor(kMarkerLockSddl);
    if (descriptor.Get() == nullptr)
        return LastStatus();
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};

    HANDLE hNamespace = NULL;
    HANDLE hMutex = NULL;
    if (calls.HasPrivateNamespaces()) {
        CAdministratorsBoundary boundary(calls);
        if (boundary.Get() == NULL)
            return boundary.GetStatus();
        const long nStatus = OpenNamespace(calls, boundary.Get(), &attributes, &hNamespace);
        if (nStatus != VERROR_SUCCESS)
            return nStatus;
        hMutex = calls.pfnCreateMutexExW(&attributes, kMarkerLockMutexName, 0, kMutexAccess);
    } else {
        hMutex = ::CreateMutexExA(&attributes, kMarkerLockName, 0, kMutexAccess);
    }
    if (hMutex == NULL) {
        const long nStatus = LastStatus();
        CloseLock(calls, NULL, hNamespace);
        return nStatus;
    }

    SHeldLock* pHeld = new (std::nothrow) SHeldLock{hMutex, hNamespace};
    if (pHeld == nullptr) {
        CloseLock(calls, hMutex, hNamespace);
        return VERROR_NOT_ENOUGH_MEMORY;
    }
    const DWORD nWait = ::WaitForSingleObject(hMutex, nTimeoutMs);
    if (nWait == WAIT_OBJECT_0 || nWait == WAIT_ABANDONED) {
        *pbAbandoned = nWait == WAIT_ABANDONED;
        *phLock = pHeld;
        return VERROR_SUCCESS;
    }
    const long nStatus = nWait == WAIT_TIMEOUT ? VERROR_WAIT_TIMEOUT : LastStatus();
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
