#pragma once

// CScriptedMachineFacts: a machine whose facts and registry a test writes beforehand. Each fact
// can be given any value or made to fail; the marker key behaves like one registry key with one
// value, following RegOpenKeyExA/RegCreateKeyExA/RegQueryValueExA/RegSetValueExA, and every write
// and key handle is recorded. Calendar conversion is the real one unless a value is listed as
// unconvertible. The random source gives kScriptedRandom first, then other bytes on each call.
// m_calls records every call in order, with the arguments that decide what it does, so that tests
// can compare whole call sequences.
//
// The marker lock is a real one: a derivation on a second thread that asks for it while another
// holds it waits until it is released. m_beforeCall, when set, runs before each call is made, on
// the caller's thread, so that a test can start a second derivation at any point of the first.
// Apart from the lock, the machine is used by one thread at a time: a test that runs two
// derivations hands over between them through the lock and WaitUntilLockWaitedOrDone.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/machine_facts.h"

// The random source's first 16 bytes: the marker made from them is kNewMarker.
inline constexpr unsigned char kScriptedRandom[16] = {
    0x70, 0x90, 0x76, 0xcb, 0x38, 0xfa, 0x1a, 0x58, 0xae, 0x51, 0x4e, 0xa1, 0x91, 0x12, 0x81, 0xee};

class CScriptedMachineFacts : public CMachineFacts {
public:
    // ERROR_KEY_DELETED: what every use of a handle of a deleted key gives.
    static constexpr long kKeyDeleted = 1018;

    struct SWrite {
        std::string strName;
        std::uint32_t nType;
        std::string strData;
    };

    // The Windows directory; empty: the call leaves the buffer as it was.
    std::string m_strWindowsDirectory = "C:\\WINDOWS";
    // The only root whose volume and creation time can be read.
    std::string m_strRoot = "C:\\";
    bool m_bVolumeFails = false;
    std::uint32_t m_nSerialNumber = 0x5A3C00F1;
    std::string m_strFileSystem = "NTFS";
    // Fills the whole file-system name buffer with this character and no terminator.
    char m_chFileSystemFill = '\0';
    bool m_bCreationTimeFails = false;
    VFILETIME m_nCreationTime = 0;
    VFILETIME m_nNow = 0;
    std::set<VFILETIME> m_unconvertibleTimes;

    // The marker key and its one value.
    bool m_bKeyExists = false;
    bool m_bValueExists = false;
    std::uint32_t m_nValueType = 0;
    std::string m_strValueData;
    long m_nOpenStatus = VERROR_SUCCESS;    // forced result of every open, when not success
    long m_nCreateStatus = VERROR_SUCCESS;  // forced result of every create, when not success
    bool m_bCreateYieldsNullKey = false;
    bool m_bSetIsLost = false;           // writes report success but store nothing
    long m_nSetStatus = VERROR_SUCCESS;  // forced result of every write, when not success
    // The key grants read access only: opening it for all access and creating it are refused.
    bool m_bKeyReadOnly = false;
    // The account has a key of its own, HKEY_CURRENT_USER\Software\Classes\lrgDocID.
    bool m_bUserKeyExists = false;
    // What the key's owner and DACL allow, as ReadKeyTrust judges them; DeleteClassesKey's
    // forced result when not success; what a key made anew gets (the security CreateClassesKey
    // asks for, unless the system ignored it).
    EKeyTrust m_eKeyTrust = kKeyTrusted;
    long m_nDeleteStatus = VERROR_SUCCESS;
    EKeyTrust m_eNewKeyTrust = kKeyTrusted;
    // What ReadLastError answers.
    long m_nLastError = 21;  // ERROR_NOT_READY

    // The random source.
    bool m_bRandomFails = false;
    std::string m_strRandom{reinterpret_cast<const char*>(kScriptedRandom),
                            sizeof(kScriptedRandom)};
    // The marker lock: a forced result of every take, when not success; whether the next take
    // finds it abandoned by a holder that ended.
    long m_nLockStatus = VERROR_SUCCESS;
    bool m_bLockAbandoned = false;
    std::function<void(const std::string&)> m_beforeCall;

    // What the code under test did.
    std::vector<std::string> m_queriedPaths;
    std::vector<SWrite> m_writes;
    int m_nOpenCalls = 0;
    int m_nCreateCalls = 0;
    std::set<VHKEY> m_openKeys;
    std::set<VHKEY> m_deletedKeys;  // open handles of a key deleted since they were opened
    int m_nBadCloses = 0;
    std::vector<std::string> m_calls;
    int m_nLockTakes = 0;
    int m_nBadLockCalls = 0;  // a take by the holder itself, or a release of a lock not held

    bool IsLockHeld() const {
        std::lock_guard<std::mutex> guard(m_pLock->mutex);
        return m_pLock->bHeld;
    }

    // Waits until a derivation waits for the held lock, or until *pbDone (set by SetDone) says
    // the other derivation ended. False after 30 s without either.
    bool WaitUntilLockWaitedOrDone(const bool* pbDone) {
        std::unique_lock<std::mutex> guard(m_pLock->mutex);
        return m_pLock->changed.wait_for(guard, std::chrono::seconds(30),
                                         [&] { return m_pLock->nWaiting > 0 || *pbDone; });
    }

    void SetDone(bool* pbDone) {
        std::lock_guard<std::mutex> guard(m_pLock->mutex);
        *pbDone = true;
        m_pLock->changed.notify_all();
    }

    void SetMarker(std::uint32_t nType, const std::string& strData) {
        m_bKeyExists = true;
        m_bValueExists = true;
        m_nValueType = nType;
        m_strValueData = strData;
    }

    unsigned ReadWindowsDirectory(char* pszBuffer, unsigned nSize) override {
        Record("ReadWindowsDirectory " + std::to_string(nSize));
        if (m_strWindowsDirectory.empty() || m_strWindowsDirectory.size() >= nSize)
            return 0;
        std::memcpy(pszBuffer, m_strWindowsDirectory.c_str(), m_strWindowsDirectory.size() + 1);
        return static_cast<unsigned>(m_strWindowsDirectory.size());
    }

    bool ReadVolumeInformation(const char* pszRoot, char*, unsigned, std::uint32_t* pSerialNumber,
                               std::uint32_t*, std::uint32_t*, char* pszFileSystemName,
                               unsigned nFileSystemNameSize) override {
        Record(std::string("ReadVolumeInformation ") + pszRoot);
        m_queriedPaths.push_back(pszRoot);
        if (m_bVolumeFails || m_strRoot != pszRoot)
            return false;
        *pSerialNumber = m_nSerialNumber;
        if (m_chFileSystemFill != '\0')
            std::memset(pszFileSystemName, m_chFileSystemFill, nFileSystemNameSize);
        else if (m_strFileSystem.size() < nFileSystemNameSize)
            std::memcpy(pszFileSystemName, m_strFileSystem.c_str(), m_strFileSystem.size() + 1);
        return true;
    }

    bool ReadCreationTime(const char* pszPath, VFILETIME* pCreationTime) override {
        Record(std::string("ReadCreationTime ") + pszPath);
        m_queriedPaths.push_back(pszPath);
        if (m_bCreationTimeFails || m_strRoot != pszPath)
            return false;
        *pCreationTime = m_nCreationTime;
        return true;
    }

    long OpenClassesKey(const char* pszSubKey, std::uint32_t nAccess, VHKEY* pKey) override {
        Record(KeyCall("OpenClassesKey", pszSubKey, nAccess));
        ++m_nOpenCalls;
        *pKey = nullptr;
        if (m_nOpenStatus != VERROR_SUCCESS)
            return m_nOpenStatus;
        if (!IsMarkerKey(pszSubKey, nAccess) || !m_bKeyExists)
            return VERROR_FILE_NOT_FOUND;
        if (m_bKeyReadOnly && nAccess != VKEY_READ)
            return VERROR_ACCESS_DENIED;
        *pKey = NewKey();
        return VERROR_SUCCESS;
    }

    long CreateClassesKey(const char* pszSubKey, std::uint32_t nAccess, VHKEY* pKey) override {
        Record(KeyCall("CreateClassesKey", pszSubKey, nAccess));
        ++m_nCreateCalls;
        *pKey = nullptr;
        if (m_nCreateStatus != VERROR_SUCCESS)
            return m_nCreateStatus;
        if (!IsMarkerKey(pszSubKey, nAccess) || m_bKeyReadOnly)
            return VERROR_ACCESS_DENIED;
        if (!m_bKeyExists)
            m_eKeyTrust = m_eNewKeyTrust;
        m_bKeyExists = true;
        if (!m_bCreateYieldsNullKey)
            *pKey = NewKey();
        return VERROR_SUCCESS;
    }

    EKeyTrust ReadKeyTrust(VHKEY hKey) override {
        Record("ReadKeyTrust");
        return m_openKeys.count(hKey) != 0 && m_deletedKeys.count(hKey) == 0 ? m_eKeyTrust
                                                                             : kKeyTrustUnknown;
    }

    // Handles open on the key stay open, but are of a deleted key from then on.
    long DeleteClassesKey(const char* pszSubKey) override {
        Record(std::string("DeleteClassesKey ") + pszSubKey);
        if (m_nDeleteStatus != VERROR_SUCCESS)
            return m_nDeleteStatus;
        if (std::string(pszSubKey) != "lrgDocID" || !m_bKeyExists)
            return VERROR_FILE_NOT_FOUND;
        m_bKeyExists = false;
        m_bValueExists = false;
        m_strValueData.clear();
        m_deletedKeys.insert(m_openKeys.begin(), m_openKeys.end());
        return VERROR_SUCCESS;
    }

    bool HasUserClassesKey(const char* pszSubKey) override {
        Record(std::string("HasUserClassesKey ") + pszSubKey);
        return m_bUserKeyExists && std::string(pszSubKey) == "lrgDocID";
    }

    long QueryKeyValue(VHKEY hKey, const char* pszName, std::uint32_t* pnType, unsigned char* pData,
                       std::uint32_t* pnSize) override {
        Record(std::string("QueryKeyValue ") + pszName + " " + std::to_string(*pnSize));
        if (m_openKeys.count(hKey) == 0)
            return 6;  // ERROR_INVALID_HANDLE
        if (m_deletedKeys.count(hKey) != 0)
            return kKeyDeleted;
        if (!m_bValueExists || std::string(pszName) != "Rndund")
            return VERROR_FILE_NOT_FOUND;
        *pnType = m_nValueType;
        const std::uint32_t nCapacity = *pnSize;
        *pnSize = static_cast<std::uint32_t>(m_strValueData.size());
        if (m_strValueData.size() > nCapacity) {
            // The buffer's contents are undefined after this answer; make them look like text.
            std::memset(pData, 'Z', nCapacity);
            return VERROR_MORE_DATA;
        }
        std::memcpy(pData, m_strValueData.data(), m_strValueData.size());
        return VERROR_SUCCESS;
    }

    long SetKeyValue(VHKEY hKey, const char* pszName, std::uint32_t nType,
                     const unsigned char* pData, std::uint32_t nSize) override {
        Record(std::string("SetKeyValue ") + pszName + " " + std::to_string(nType) + " " +
               std::to_string(nSize));
        if (m_openKeys.count(hKey) == 0)
            return 6;  // ERROR_INVALID_HANDLE
        if (m_deletedKeys.count(hKey) != 0)
            return kKeyDeleted;
        if (m_nSetStatus != VERROR_SUCCESS)
            return m_nSetStatus;
        m_writes.push_back(
            {pszName, nType, std::string(reinterpret_cast<const char*>(pData), nSize)});
        if (!m_bSetIsLost && std::string(pszName) == "Rndund") {
            m_bValueExists = true;
            m_nValueType = nType;
            m_strValueData = m_writes.back().strData;
        }
        return VERROR_SUCCESS;
    }

    void CloseKey(VHKEY hKey) override {
        Record("CloseKey");
        if (m_openKeys.erase(hKey) == 0)
            ++m_nBadCloses;
        m_deletedKeys.erase(hKey);
    }

    VFILETIME ReadSystemTime() override {
        Record("ReadSystemTime");
        return m_nNow;
    }

    bool ConvertFileTime(VFILETIME nTime, VSYSTEMTIME* pCalendar) override {
        Record("ConvertFileTime " + std::to_string(nTime));
        if (m_unconvertibleTimes.count(nTime) != 0)
            return false;
        return GetDefaultMachineFacts().ConvertFileTime(nTime, pCalendar);
    }

    long ReadLastError() override {
        Record("ReadLastError");
        return m_nLastError;
    }

    bool ReadRandomBytes(unsigned char* pBuffer, std::uint32_t nSize) override {
        Record("ReadRandomBytes " + std::to_string(nSize));
        if (m_bRandomFails || m_strRandom.empty())
            return false;
        for (std::uint32_t i = 0; i < nSize; ++i)
            pBuffer[i] = static_cast<unsigned char>(m_strRandom[i % m_strRandom.size()]);
        // No two markers alike.
        m_strRandom.back() = static_cast<char>(m_strRandom.back() + 1);
        return true;
    }

    long AcquireMarkerLock(std::uint32_t nTimeoutMs, VHLOCK* phLock, bool* pbAbandoned) override {
        Record("AcquireMarkerLock " + std::to_string(nTimeoutMs));
        *phLock = nullptr;
        *pbAbandoned = false;
        if (m_nLockStatus != VERROR_SUCCESS)
            return m_nLockStatus;
        std::unique_lock<std::mutex> guard(m_pLock->mutex);
        if (m_pLock->bHeld && m_pLock->holder == std::this_thread::get_id()) {
            ++m_nBadLockCalls;
            return 6;  // ERROR_INVALID_HANDLE: the caller would wait for itself
        }
        if (m_pLock->bHeld) {
            ++m_pLock->nWaiting;
            m_pLock->changed.notify_all();
            // A bound of its own, so that a test with a lost release fails instead of hanging.
            const bool bFree = m_pLock->changed.wait_for(guard, std::chrono::seconds(30),
                                                         [&] { return !m_pLock->bHeld; });
            --m_pLock->nWaiting;
            if (!bFree)
                return VERROR_WAIT_TIMEOUT;
        }
        m_pLock->bHeld = true;
        m_pLock->holder = std::this_thread::get_id();
        ++m_nLockTakes;
        *pbAbandoned = m_bLockAbandoned;
        m_bLockAbandoned = false;
        *phLock = &m_pLock->bHeld;
        return VERROR_SUCCESS;
    }

    void ReleaseMarkerLock(VHLOCK hLock) override {
        if (m_beforeCall)
            m_beforeCall("ReleaseMarkerLock");
        std::lock_guard<std::mutex> guard(m_pLock->mutex);
        // Recorded under the lock: the next holder's calls come after it.
        m_calls.push_back("ReleaseMarkerLock");
        if (hLock != &m_pLock->bHeld || !m_pLock->bHeld ||
            m_pLock->holder != std::this_thread::get_id()) {
            ++m_nBadLockCalls;
            return;
        }
        m_pLock->bHeld = false;
        m_pLock->changed.notify_all();
    }

private:
    struct SLock {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool bHeld = false;
        std::thread::id holder;
        int nWaiting = 0;
    };

    void Record(const std::string& strCall) {
        if (m_beforeCall)
            m_beforeCall(strCall);
        m_calls.push_back(strCall);
    }

    static bool IsMarkerKey(const char* pszSubKey, std::uint32_t nAccess) {
        return std::string(pszSubKey) == "lrgDocID" &&
               (nAccess == VKEY_ALL_ACCESS || nAccess == VKEY_READ);
    }

    static std::string KeyCall(const char* pszCall, const char* pszSubKey, std::uint32_t nAccess) {
        return std::string(pszCall) + " " + pszSubKey + " " + std::to_string(nAccess);
    }

    VHKEY NewKey() {
        VHKEY hKey = reinterpret_cast<VHKEY>(static_cast<std::uintptr_t>(0x1000 + m_nNextKey++));
        m_openKeys.insert(hKey);
        return hKey;
    }

    int m_nNextKey = 0;
    std::shared_ptr<SLock> m_pLock = std::make_shared<SLock>();
};
