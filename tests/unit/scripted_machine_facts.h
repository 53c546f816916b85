#pragma once

// CScriptedMachineFacts: a machine whose facts and registry a test writes beforehand. Each fact
// can be given any value or made to fail; the marker key behaves like one registry key with one
// value, following RegOpenKeyExA/RegCreateKeyExA/RegQueryValueExA/RegSetValueExA, and every write
// and key handle is recorded. Calendar conversion is the real one unless a value is listed as
// unconvertible. m_calls records every call in order, with the arguments that decide what it
// does, so that tests can compare whole call sequences.

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/machine_facts.h"

class CScriptedMachineFacts : public CMachineFacts {
public:
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
    // What ReadLastError answers.
    long m_nLastError = 21;  // ERROR_NOT_READY

    // What the code under test did.
    std::vector<std::string> m_queriedPaths;
    std::vector<SWrite> m_writes;
    int m_nOpenCalls = 0;
    int m_nCreateCalls = 0;
    std::set<VHKEY> m_openKeys;
    int m_nBadCloses = 0;
    std::vector<std::string> m_calls;

    void SetMarker(std::uint32_t nType, const std::string& strData) {
        m_bKeyExists = true;
        m_bValueExists = true;
        m_nValueType = nType;
        m_strValueData = strData;
    }

    unsigned ReadWindowsDirectory(char* pszBuffer, unsigned nSize) override {
        m_calls.push_back("ReadWindowsDirectory " + std::to_string(nSize));
        if (m_strWindowsDirectory.empty() || m_strWindowsDirectory.size() >= nSize)
            return 0;
        std::memcpy(pszBuffer, m_strWindowsDirectory.c_str(), m_strWindowsDirectory.size() + 1);
        return static_cast<unsigned>(m_strWindowsDirectory.size());
    }

    bool ReadVolumeInformation(const char* pszRoot, char*, unsigned, std::uint32_t* pSerialNumber,
                               std::uint32_t*, std::uint32_t*, char* pszFileSystemName,
                               unsigned nFileSystemNameSize) override {
        m_calls.push_back(std::string("ReadVolumeInformation ") + pszRoot);
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
        m_calls.push_back(std::string("ReadCreationTime ") + pszPath);
        m_queriedPaths.push_back(pszPath);
        if (m_bCreationTimeFails || m_strRoot != pszPath)
            return false;
        *pCreationTime = m_nCreationTime;
        return true;
    }

    long OpenClassesKey(const char* pszSubKey, std::uint32_t nAccess, VHKEY* pKey) override {
        m_calls.push_back(KeyCall("OpenClassesKey", pszSubKey, nAccess));
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
        m_calls.push_back(KeyCall("CreateClassesKey", pszSubKey, nAccess));
        ++m_nCreateCalls;
        *pKey = nullptr;
        if (m_nCreateStatus != VERROR_SUCCESS)
            return m_nCreateStatus;
        if (!IsMarkerKey(pszSubKey, nAccess) || m_bKeyReadOnly)
            return VERROR_ACCESS_DENIED;
        m_bKeyExists = true;
        if (!m_bCreateYieldsNullKey)
            *pKey = NewKey();
        return VERROR_SUCCESS;
    }

    long QueryKeyValue(VHKEY hKey, const char* pszName, std::uint32_t* pnType, unsigned char* pData,
                       std::uint32_t* pnSize) override {
        m_calls.push_back(std::string("QueryKeyValue ") + pszName + " " + std::to_string(*pnSize));
        if (m_openKeys.count(hKey) == 0)
            return 6;  // ERROR_INVALID_HANDLE
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
        m_calls.push_back(std::string("SetKeyValue ") + pszName + " " + std::to_string(nType) +
                          " " + std::to_string(nSize));
        if (m_openKeys.count(hKey) == 0)
            return 6;  // ERROR_INVALID_HANDLE
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
        m_calls.push_back("CloseKey");
        if (m_openKeys.erase(hKey) == 0)
            ++m_nBadCloses;
    }

    VFILETIME ReadSystemTime() override {
        m_calls.push_back("ReadSystemTime");
        return m_nNow;
    }

    bool ConvertFileTime(VFILETIME nTime, VSYSTEMTIME* pCalendar) override {
        m_calls.push_back("ConvertFileTime " + std::to_string(nTime));
        if (m_unconvertibleTimes.count(nTime) != 0)
            return false;
        return GetDefaultMachineFacts().ConvertFileTime(nTime, pCalendar);
    }

    long ReadLastError() override {
        m_calls.push_back("ReadLastError");
        return m_nLastError;
    }

private:
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
};
