#pragma once

// CMachineFacts: the operating-system services the computer ID is derived from: the Windows
// directory, the system volume, the root directory's creation time, the machine's marker key
// under HKEY_LOCAL_MACHINE\Software\Classes and the system clock; and the two that making a
// marker needs: the system's cryptographic random source and the lock that lets one process at a
// time write the marker.
//
// Each operation mirrors one Win32 call (or a fixed pair of them) with the same inputs and
// results, so that the derivation above it reads exactly as it would against the Windows API.
// The real implementation is GetDefaultMachineFacts(); tests derive a scripted double that can
// return any value or fail any call.
//
// Threading and ownership: implementations keep no state of their own beyond the lock, so one
// object may be used from any thread. Registry keys are owned by the caller that opened or
// created them and must be given back to CloseKey exactly once; a held lock likewise belongs to
// its taker until ReleaseMarkerLock.

#include <cstdint>

// A FILETIME as one value: 100-nanosecond units since 1 January 1601, UTC.
typedef std::uint64_t VFILETIME;

// An open registry key; null when no key is open.
typedef void* VHKEY;

// A held marker lock; null when none is held.
typedef void* VHLOCK;

// Calendar fields of a UTC time, laid out and valued as Win32's SYSTEMTIME.
struct VSYSTEMTIME {
    std::uint16_t wYear;
    std::uint16_t wMonth;      // 1 = January
    std::uint16_t wDayOfWeek;  // 0 = Sunday
    std::uint16_t wDay;
    std::uint16_t wHour;
    std::uint16_t wMinute;
    std::uint16_t wSecond;
    std::uint16_t wMilliseconds;
};

// Registry value types and access rights, with their Win32 values.
const std::uint32_t VREG_SZ = 1;
const std::uint32_t VREG_BINARY = 3;
const std::uint32_t VREG_DWORD = 4;
const std::uint32_t VKEY_ALL_ACCESS = 0xF003F;
const std::uint32_t VKEY_READ = 0x20019;

// Win32 status codes that the registry operations and ReadLastError return.
const long VERROR_SUCCESS = 0;
const long VERROR_FILE_NOT_FOUND = 2;
const long VERROR_ACCESS_DENIED = 5;
const long VERROR_NOT_ENOUGH_MEMORY = 8;
const long VERROR_INVALID_PARAMETER = 87;
const long VERROR_MORE_DATA = 234;
// WAIT_TIMEOUT, which FormatMessage also knows as a status: the wait operation timed out.
const long VERROR_WAIT_TIMEOUT = 258;

// What a registry key's owner and DACL let accounts other than LocalSystem, the Administrators
// group and TrustedInstaller do to the key itself (CMachineFacts::ReadKeyTrust,
// platform/key_trust.h).
enum EKeyTrust {
    kKeyTrustUnknown,  // not judged: the descriptor could not be read or was not understood
    kKeyTrusted,       // only those accounts may change the key, its values or its security
    // The DACL lets another account set a value, create a subkey, delete the key or change its
    // security (a missing DACL lets everyone do all of these).
    kKeyLooseDacl,
    // Another account owns the key: an owner may always rewrite the DACL, whatever it says. The
    // DACL may be loose as well.
    kKeyForeignOwner,
};

// The marker lock's name where the system has no private namespaces (Wine): a named mutex in the
// global namespace, shared by every session; versions before 2.2 took it everywhere.
const char kMarkerLockName[] = "Global\\Veltrane.Idrovan.InstallationMarker";

class CMachineFacts {
public:
    virtual ~CMachineFacts() {}

    // GetSystemWindowsDirectoryA: writes the system's Windows directory into the buffer when it
    // fits. Returns the path length as the Win32 call does; callers only look at the buffer.
    // The system's directory, not GetWindowsDirectoryA's: on a Remote Desktop host that one is
    // a private folder of each user for a program not marked as aware of terminal services
    // (Microsoft's documentation of both calls), and a DLL runs in whatever host loads it. On
    // every other machine the two give the same path (both are C:\windows under Wine, seen).
    virtual unsigned ReadWindowsDirectory(char* pszBuffer, unsigned nSize) = 0;

    // GetVolumeInformationA for a root path such as "C:\". True on success, with the serial
    // number and the file-system name filled in.
    virtual bool ReadVolumeInformation(const char* pszRoot, char* pszVolumeName,
                                       unsigned nVolumeNameSize, std::uint32_t* pSerialNumber,
                                       std::uint32_t* pMaxComponentLength,
                                       std::uint32_t* pFileSystemFlags, char* pszFileSystemName,
                                       unsigned nFileSystemNameSize) = 0;

    // GetFileAttributesExA with GetFileExInfoStandard; true on success, with the creation time
    // of the returned attribute record.
    virtual bool ReadCreationTime(const char* pszPath, VFILETIME* pCreationTime) = 0;

    // RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes\\" pszSubKey, 0, nAccess, pKey) in the
    // registry view that both builds share. The machine's own key, never HKEY_CLASSES_ROOT's
    // merged view, in which a key of the user's own under HKEY_CURRENT_USER\Software\Classes
    // would take its place. Returns the Win32 status.
    virtual long OpenClassesKey(const char* pszSubKey, std::uint32_t nAccess, VHKEY* pKey) = 0;

    // RegCreateKeyExA of the same key: parent HKEY_LOCAL_MACHINE, "" as class, non-volatile,
    // nAccess, pKey, disposition, and the marker key's own security rather than what the parent
    // would pass on: owner the Administrators group, and a protected DACL that grants LocalSystem
    // and Administrators full access and Users reading (SDDL
    // "O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)"). Where the system refuses that owner
    // (ERROR_INVALID_OWNER) the key is created with the DACL alone. Returns the Win32 status.
    virtual long CreateClassesKey(const char* pszSubKey, std::uint32_t nAccess, VHKEY* pKey) = 0;

    // How far the owner and DACL of an open key (opened with READ_CONTROL, which KEY_READ and
    // KEY_ALL_ACCESS hold) can be trusted: RegGetKeySecurity, judged by JudgeKeySecurity. The
    // default answers kKeyTrustUnknown, for a system without key security.
    virtual EKeyTrust ReadKeyTrust(VHKEY hKey) {
        static_cast<void>(hKey);
        return kKeyTrustUnknown;
    }

    // RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes\\" pszSubKey, KEY_WOW64_64KEY, 0):
    // deletes the key with its values, in the view OpenClassesKey opens; a key with subkeys is
    // not deleted. A handle opened on the key before stays open, but every later use of it
    // fails with ERROR_KEY_DELETED (1018; seen under Wine), whatever access it was opened with.
    // Returns the Win32 status; the default answers ERROR_NOT_SUPPORTED (50).
    virtual long DeleteClassesKey(const char* pszSubKey) {
        static_cast<void>(pszSubKey);
        return 50;
    }

    // Whether HKEY_CURRENT_USER\Software\Classes\pszSubKey exists (it opens for reading, or its
    // opening is refused): a key that HKEY_CLASSES_ROOT would show the user in place of the
    // machine's. Only ever asked, never read. The default answers false, for a machine without
    // per-user classes.
    virtual bool HasUserClassesKey(const char* pszSubKey) {
        static_cast<void>(pszSubKey);
        return false;
    }

    // RegQueryValueExA: *pnSize holds the buffer size on entry and the value's size on return
    // (also when the value does not fit, in which case the buffer contents are undefined).
    virtual long QueryKeyValue(VHKEY hKey, const char* pszName, std::uint32_t* pnType,
                               unsigned char* pData, std::uint32_t* pnSize) = 0;

    // RegSetValueExA with exactly nSize bytes of data.
    virtual long SetKeyValue(VHKEY hKey, const char* pszName, std::uint32_t nType,
                             const unsigned char* pData, std::uint32_t nSize) = 0;

    // RegCloseKey.
    virtual void CloseKey(VHKEY hKey) = 0;

    // GetSystemTime followed by SystemTimeToFileTime: the current UTC time, to the millisecond.
    virtual VFILETIME ReadSystemTime() = 0;

    // FileTimeToSystemTime: false when the value has no calendar form (it lies at or above 2^63).
    virtual bool ConvertFileTime(VFILETIME nTime, VSYSTEMTIME* pCalendar) = 0;

    // Fills nSize bytes from the system's cryptographic random source (BCryptGenRandom with the
    // system's preferred generator on Windows, getrandom natively). False when the source fails;
    // the buffer is then undefined.
    virtual bool ReadRandomBytes(unsigned char* pBuffer, std::uint32_t nSize) = 0;

    // Takes the marker lock, waiting at most nTimeoutMs. VERROR_SUCCESS with *phLock set when
    // taken, also when its last holder ended without releasing it (then *pbAbandoned is true:
    // what that holder wrote must be read again); VERROR_WAIT_TIMEOUT when another holder kept it
    // for the whole wait; otherwise the Win32 status of the failure. On any failure *phLock is
    // null. Only LocalSystem and administrators (the accounts that may write the machine's
    // marker) can take, hold or make the lock; any other account gets VERROR_ACCESS_DENIED.
    // Windows also gives 127 (no private namespaces, outside Wine), 698 (the Global\ name taken
    // by someone else's object, under Wine) and 1359 (a call failed without a status).
    virtual long AcquireMarkerLock(std::uint32_t nTimeoutMs, VHLOCK* phLock, bool* pbAbandoned) = 0;

    // Releases a lock that AcquireMarkerLock gave, on the thread that took it, exactly once.
    virtual void ReleaseMarkerLock(VHLOCK hLock) = 0;

    // GetLastError: the status of the calling thread's last failed call. Only meaningful right
    // after ReadWindowsDirectory, ReadVolumeInformation or ReadCreationTime reported a failure.
    virtual long ReadLastError() = 0;
};

// The real services of the platform the program was built for. On Windows these are the Win32
// calls named above; the native build has the clock, the calendar conversion, the random source
// and a lock within the process (it has no registry for another process to write), and reports
// every machine fact and registry call as failed (its ReadLastError is always
// ERROR_NOT_SUPPORTED, 50). The object lives for the whole program.
CMachineFacts& GetDefaultMachineFacts();
