#include "platform/machine_facts.h"

#include <windows.h>
// windows.h first: both rely on its types.
#include <ntsecapi.h>
#include <sddl.h>

static_assert(VREG_SZ == REG_SZ && VREG_BINARY == REG_BINARY && VREG_DWORD == REG_DWORD,
              "registry value types");
static_assert(VKEY_ALL_ACCESS == KEY_ALL_ACCESS && VKEY_READ == KEY_READ, "registry access rights");
static_assert(VERROR_SUCCESS == ERROR_SUCCESS && VERROR_FILE_NOT_FOUND == ERROR_FILE_NOT_FOUND &&
                  VERROR_ACCESS_DENIED == ERROR_ACCESS_DENIED &&
                  VERROR_NOT_ENOUGH_MEMORY == ERROR_NOT_ENOUGH_MEMORY &&
                  VERROR_INVALID_PARAMETER == ERROR_INVALID_PARAMETER &&
                  VERROR_MORE_DATA == ERROR_MORE_DATA && VERROR_WAIT_TIMEOUT == WAIT_TIMEOUT,
              "Win32 status codes");
static_assert(sizeof(VHKEY) == sizeof(HKEY), "key handles");
static_assert(sizeof(VHLOCK) == sizeof(HANDLE), "lock handles");

namespace {

// Whoever may write the marker (LocalSystem, an administrator, or a user to whom the key's own
// descriptor grants writing) must be able to wait for the lock and release it; only LocalSystem
// and administrators may do more. The descriptor is given explicitly: the creator's default one
// would shut out every other account, so that the first process to create the lock decided who
// may write the marker after it.
const char kMarkerLockDescriptor[] = "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";
const DWORD kMarkerLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

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

VFILETIME FromFileTime(const FILETIME& ft) {
    return (static_cast<VFILETIME>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

class CWin32MachineFacts : public CMachineFacts {
public:
    unsigned ReadWindowsDirectory(char* pszBuffer, unsigned nSize) override {
        return ::GetWindowsDirectoryA(pszBuffer, nSize);
    }

    bool ReadVolumeInformation(const char* pszRoot, char* pszVolumeName, unsigned nVolumeNameSize,
                               std::uint32_t* pSerialNumber, std::uint32_t* pMaxComponentLength,
                               std::uint32_t* pFileSystemFlags, char* pszFileSystemName,
                               unsigned nFileSystemNameSize) override {
        DWORD nSerial = *pSerialNumber;
        DWORD nMaxComponent = *pMaxComponentLength;
        DWORD nFlags = *pFileSystemFlags;
        BOOL bOk = ::GetVolumeInformationA(pszRoot, pszVolumeName, nVolumeNameSize, &nSerial,
                                           &nMaxComponent, &nFlags, pszFileSystemName,
                                           nFileSystemNameSize);
        *pSerialNumber = nSerial;
        *pMaxComponentLength = nMaxComponent;
        *pFileSystemFlags = nFlags;
        return bOk != FALSE;
    }

    bool ReadCreationTime(const char* pszPath, VFILETIME* pCreationTime) override {
        WIN32_FILE_ATTRIBUTE_DATA data;
        ZeroMemory(&data, sizeof(data));
        if (!::GetFileAttributesExA(pszPath, GetFileExInfoStandard, &data))
            return false;
        *pCreationTime = FromFileTime(data.ftCreationTime);
        return true;
    }

    long OpenClassesKey(const char* pszSubKey, std::uint32_t nAccess, VHKEY* pKey) override {
        HKEY hKey = NULL;
        LONG nStatus = ::RegOpenKeyExA(HKEY_CLASSES_ROOT, pszSubKey, 0, nAccess, &hKey);
        *pKey = hKey;
        return nStatus;
    }

    long CreateClassesKey(const char* pszSubKey, std::uint32_t nAccess, VHKEY* pKey) override {
        char szClass[] = "";
        HKEY hKey = NULL;
        DWORD nDisposition = 0;
        LONG nStatus =
            ::RegCreateKeyExA(HKEY_CLASSES_ROOT, pszSubKey, 0, szClass, REG_OPTION_NON_VOLATILE,
                              nAccess, NULL, &hKey, &nDisposition);
        *pKey = hKey;
        return nStatus;
    }

    long QueryKeyValue(VHKEY hKey, const char* pszName, std::uint32_t* pnType, unsigned char* pData,
                       std::uint32_t* pnSize) override {
        DWORD nType = *pnType;
        DWORD nSize = *pnSize;
        LONG nStatus =
            ::RegQueryValueExA(static_cast<HKEY>(hKey), pszName, NULL, &nType, pData, &nSize);
        *pnType = nType;
        *pnSize = nSize;
        return nStatus;
    }

    long SetKeyValue(VHKEY hKey, const char* pszName, std::uint32_t nType,
                     const unsigned char* pData, std::uint32_t nSize) override {
        return ::RegSetValueExA(static_cast<HKEY>(hKey), pszName, 0, nType, pData, nSize);
    }

    void CloseKey(VHKEY hKey) override { ::RegCloseKey(static_cast<HKEY>(hKey)); }

    VFILETIME ReadSystemTime() override {
        SYSTEMTIME st;
        ::GetSystemTime(&st);
        FILETIME ft = {0, 0};
        ::SystemTimeToFileTime(&st, &ft);
        return FromFileTime(ft);
    }

    bool ConvertFileTime(VFILETIME nTime, VSYSTEMTIME* pCalendar) override {
        FILETIME ft;
        ft.dwLowDateTime = static_cast<DWORD>(nTime);
        ft.dwHighDateTime = static_cast<DWORD>(nTime >> 32);
        SYSTEMTIME st;
        if (!::FileTimeToSystemTime(&ft, &st))
            return false;
        pCalendar->wYear = st.wYear;
        pCalendar->wMonth = st.wMonth;
        pCalendar->wDayOfWeek = st.wDayOfWeek;
        pCalendar->wDay = st.wDay;
        pCalendar->wHour = st.wHour;
        pCalendar->wMinute = st.wMinute;
        pCalendar->wSecond = st.wSecond;
        pCalendar->wMilliseconds = st.wMilliseconds;
        return true;
    }

    // RtlGenRandom (advapi32, which the program imports anyway) rather than BCryptGenRandom: the
    // same system generator, without loading bcrypt.dll into the dialog at start-up.
    bool ReadRandomBytes(unsigned char* pBuffer, std::uint32_t nSize) override {
        return ::RtlGenRandom(pBuffer, nSize) != FALSE;
    }

    long AcquireMarkerLock(std::uint32_t nTimeoutMs, VHLOCK* phLock, bool* pbAbandoned) override {
        *phLock = nullptr;
        *pbAbandoned = false;
        CSecurityDescriptor descriptor(kMarkerLockDescriptor);
        if (descriptor.Get() == nullptr)
            return static_cast<long>(::GetLastError());
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor.Get(), FALSE};
        // Only the rights the descriptor grants everyone: an existing lock opens for any account.
        HANDLE hMutex = ::CreateMutexExA(&attributes, kMarkerLockName, 0, kMarkerLockAccess);
        if (hMutex == nullptr)
            return static_cast<long>(::GetLastError());
        const DWORD nWait = ::WaitForSingleObject(hMutex, nTimeoutMs);
        if (nWait == WAIT_OBJECT_0 || nWait == WAIT_ABANDONED) {
            *pbAbandoned = nWait == WAIT_ABANDONED;
            *phLock = hMutex;
            return VERROR_SUCCESS;
        }
        const long nStatus =
            nWait == WAIT_TIMEOUT ? VERROR_WAIT_TIMEOUT : static_cast<long>(::GetLastError());
        ::CloseHandle(hMutex);
        return nStatus;
    }

    void ReleaseMarkerLock(VHLOCK hLock) override {
        ::ReleaseMutex(static_cast<HANDLE>(hLock));
        ::CloseHandle(static_cast<HANDLE>(hLock));
    }

    long ReadLastError() override { return static_cast<long>(::GetLastError()); }
};

}  // namespace

CMachineFacts& GetDefaultMachineFacts() {
    static CWin32MachineFacts s_facts;
    return s_facts;
}
