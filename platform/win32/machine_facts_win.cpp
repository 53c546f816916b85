#include "platform/machine_facts.h"

#include <windows.h>
// windows.h first: sddl.h relies on its types.
#include <sddl.h>

#include <new>

#include "platform/key_trust.h"
#include "platform/win32/marker_lock_win.h"
#include "platform/win32/system_bcrypt_win.h"

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

namespace {

// The machine's classes: HKEY_CLASSES_ROOT shows an account the keys of
// HKEY_LOCAL_MACHINE\Software\Classes unless the account has one of its own of the same name
// under HKEY_CURRENT_USER\Software\Classes, which any account may create. The marker is read
// and written here so that such a key can give no account an ID of its own.
const char kClassesPath[] = "Software\\Classes\\";

// Which registry view: on 64-bit Windows (7 and later) HKLM\Software\Classes is one key for both
// views but for a listed set of subkeys (CLSID, Interface, DirectShow, Media Type,
// MediaFoundation and the like) that are redirected to Wow6432Node. lrgDocID is none of them, so
// the x86 and the x64 builds have always met one and the same key through HKEY_CLASSES_ROOT.
// KEY_WOW64_64KEY names that key explicitly, the one the x64 build sees, so that the two builds
// keep meeting it whatever a system redirects; 32-bit Windows ignores the flag.
const REGSAM kClassesView = KEY_WOW64_64KEY;

// The marker key's own security: owned by the Administrators group, with a protected DACL (no
// ACE of the parent's is inherited) that lets LocalSystem and Administrators do everything and
// Users read. CI passes the ACEs on to subkeys, of which the marker key has none.
const char kMarkerKeySecurity[] = "O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";
// The same DACL alone, for a system that refuses the caller the Administrators group as owner.
const char kMarkerKeyDacl[] = "D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";
// Room for the descriptor of an ordinary key; a larger one is read into memory of its own.
const DWORD kSecurityBufferSize = 512;

// A security descriptor made from SDDL; owns what ConvertStringSecurityDescriptor... allocated.
class CSecurityDescriptor {
public:
    explicit CSecurityDescriptor(const char* pszSddl) {
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(pszSddl, SDDL_REVISION_1,
                                                                    &m_pDescriptor, NULL))
            m_pDescriptor = NULL;
    }
    ~CSecurityDescriptor() {
        if (m_pDescriptor != NULL)
            ::LocalFree(m_pDescriptor);
        m_pDescriptor = NULL;
    }
    CSecurityDescriptor(const CSecurityDescriptor&) = delete;
    CSecurityDescriptor& operator=(const CSecurityDescriptor&) = delete;

    PSECURITY_DESCRIPTOR Get() const { return m_pDescriptor; }

private:
    PSECURITY_DESCRIPTOR m_pDescriptor = NULL;
};

// "Software\Classes\" followed by the subkey; false when it does not fit.
bool MakeClassesPath(const char* pszSubKey, char (&szPath)[MAX_PATH]) {
    const size_t nPrefix = sizeof(kClassesPath) - 1;
    const size_t nSubKey = ::lstrlenA(pszSubKey);
    if (nPrefix + nSubKey >= MAX_PATH)
        return false;
    ::CopyMemory(szPath, kClassesPath, nPrefix);
    ::CopyMemory(szPath + nPrefix, pszSubKey, nSubKey + 1);
    return true;
}

VFILETIME FromFileTime(const FILETIME& ft) {
    return (static_cast<VFILETIME>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

class CWin32MachineFacts : public CMachineFacts {
public:
    unsigned ReadWindowsDirectory(char* pszBuffer, unsigned nSize) override {
        return ::GetSystemWindowsDirectoryA(pszBuffer, nSize);
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
        *pKey = nullptr;
        char szPath[MAX_PATH];
        if (!MakeClassesPath(pszSubKey, szPath))
            return ERROR_INVALID_PARAMETER;
        HKEY hKey = NULL;
        LONG nStatus =
            ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, szPath, 0, nAccess | kClassesView, &hKey);
        *pKey = hKey;
        return nStatus;
    }

    long CreateClassesKey(const char* pszSubKey, std::uint32_t nAccess, VHKEY* pKey) override {
        *pKey = nullptr;
        char szPath[MAX_PATH];
        if (!MakeClassesPath(pszSubKey, szPath))
            return ERROR_INVALID_PARAMETER;
        LONG nStatus = CreateKey(szPath, nAccess, kMarkerKeySecurity, pKey);
        if (nStatus == ERROR_INVALID_OWNER)
            nStatus = CreateKey(szPath, nAccess, kMarkerKeyDacl, pKey);
        return nStatus;
    }

    EKeyTrust ReadKeyTrust(VHKEY hKey) override {
        const SECURITY_INFORMATION nWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
        unsigned char aBuffer[kSecurityBufferSize];
        DWORD nSize = sizeof(aBuffer);
        LONG nStatus = ::RegGetKeySecurity(static_cast<HKEY>(hKey), nWhat, aBuffer, &nSize);
        if (nStatus == ERROR_SUCCESS)
            return JudgeKeySecurity(aBuffer, nSize);
        if (nStatus != ERROR_INSUFFICIENT_BUFFER || nSize <= sizeof(aBuffer))
            return kKeyTrustUnknown;
        unsigned char* pLarge = new (std::nothrow) unsigned char[nSize];
        if (pLarge == nullptr)
            return kKeyTrustUnknown;
        nStatus = ::RegGetKeySecurity(static_cast<HKEY>(hKey), nWhat, pLarge, &nSize);
        const EKeyTrust eTrust =
            nStatus == ERROR_SUCCESS ? JudgeKeySecurity(pLarge, nSize) : kKeyTrustUnknown;
        delete[] pLarge;
        pLarge = nullptr;
        return eTrust;
    }

    long DeleteClassesKey(const char* pszSubKey) override {
        char szPath[MAX_PATH];
        if (!MakeClassesPath(pszSubKey, szPath))
            return ERROR_INVALID_PARAMETER;
        return ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, szPath, kClassesView, 0);
    }

    bool HasUserClassesKey(const char* pszSubKey) override {
        char szPath[MAX_PATH];
        if (!MakeClassesPath(pszSubKey, szPath))
            return false;
        HKEY hKey = NULL;
        const LONG nStatus =
            ::RegOpenKeyExA(HKEY_CURRENT_USER, szPath, 0, KEY_READ | kClassesView, &hKey);
        if (nStatus == ERROR_SUCCESS)
            ::RegCloseKey(hKey);
        hKey = NULL;
        return nStatus == ERROR_SUCCESS || nStatus == ERROR_ACCESS_DENIED;
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

    // BCryptGenRandom from System32's bcrypt.dll, loaded for the call only (a new marker is
    // made once per machine). Not RtlGenRandom: Windows' advapi32 forwards SystemFunction036 to
    // cryptbase.dll (reasoned, not seen: Wine's advapi32 does not), which is no KnownDLL, so
    // the import could let a cryptbase.dll beside the program give the marker's randomness.
    bool ReadRandomBytes(unsigned char* pBuffer, std::uint32_t nSize) override {
        return GenerateSystemRandom(pBuffer, nSize);
    }

    long AcquireMarkerLock(std::uint32_t nTimeoutMs, VHLOCK* phLock, bool* pbAbandoned) override {
        return AcquireMarkerLockWith(GetSystemMarkerLockCalls(), nTimeoutMs, phLock, pbAbandoned);
    }

    void ReleaseMarkerLock(VHLOCK hLock) override {
        ReleaseMarkerLockWith(GetSystemMarkerLockCalls(), hLock);
    }

    long ReadLastError() override { return static_cast<long>(::GetLastError()); }

private:
    // The parts of a key's security that one of the SDDL texts above sets.
    static SECURITY_INFORMATION SecurityParts(const char* pszSecurity) {
        const SECURITY_INFORMATION nDacl =
            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
        return pszSecurity == kMarkerKeySecurity ? OWNER_SECURITY_INFORMATION | nDacl : nDacl;
    }

    static LONG CreateKey(const char* pszPath, std::uint32_t nAccess, const char* pszSecurity,
                          VHKEY* pKey) {
        *pKey = nullptr;
        CSecurityDescriptor descriptor(pszSecurity);
        if (descriptor.Get() == NULL)
            return static_cast<LONG>(::GetLastError());
        SECURITY_ATTRIBUTES attributes;
        attributes.nLength = sizeof(attributes);
        attributes.lpSecurityDescriptor = descriptor.Get();
        attributes.bInheritHandle = FALSE;
        char szClass[] = "";
        HKEY hKey = NULL;
        DWORD nDisposition = 0;
        const LONG nStatus =
            ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, pszPath, 0, szClass, REG_OPTION_NON_VOLATILE,
                              nAccess | kClassesView, &attributes, &hKey, &nDisposition);
        // Windows applies the create's descriptor to a new key (Microsoft's documentation of
        // RegCreateKeyEx); Wine 8 ignores it and gives the parent's (seen). Set once more on the
        // key just made, so that it has its own security either way; a key that was there
        // already keeps its own. A refusal leaves the key as made: reading reports it.
        if (nStatus == ERROR_SUCCESS && nDisposition == REG_CREATED_NEW_KEY &&
            (nAccess & (WRITE_DAC | WRITE_OWNER)) == (WRITE_DAC | WRITE_OWNER))
            ::RegSetKeySecurity(hKey, SecurityParts(pszSecurity), descriptor.Get());
        *pKey = hKey;
        return nStatus;
    }
};

}  // namespace

CMachineFacts& GetDefaultMachineFacts() {
    static CWin32MachineFacts s_facts;
    return s_facts;
}
