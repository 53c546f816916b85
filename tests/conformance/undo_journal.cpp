#include "tests/conformance/undo_journal.h"

#include <windows.h>
#include <lm.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "tests/conformance/accounts.h"
#include "tests/conformance/child_process.h"
#include "tests/conformance/machine_profile.h"

namespace {

const DWORD kNerrUserNotFound = 2221;

bool AppendLine(const std::string& strJournal, const std::string& strLine) {
    HANDLE hFile =
        ::CreateFileA(strJournal.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    const std::string strText = strLine + "\r\n";
    DWORD nWritten = 0;
    // Flushed before the change is made: the change must never be on the machine alone.
    const bool bOk =
        ::WriteFile(hFile, strText.data(), static_cast<DWORD>(strText.size()), &nWritten, NULL) &&
        nWritten == strText.size() && ::FlushFileBuffers(hFile);
    ::CloseHandle(hFile);
    hFile = NULL;
    return bOk;
}

std::vector<std::string> ReadLines(const std::string& strJournal) {
    std::vector<std::string> lines;
    FILE* pFile = std::fopen(strJournal.c_str(), "rb");
    if (pFile == nullptr)
        return lines;
    char szLine[1024];
    while (std::fgets(szLine, sizeof(szLine), pFile) != nullptr) {
        std::string strLine = szLine;
        while (!strLine.empty() && (strLine.back() == '\n' || strLine.back() == '\r'))
            strLine.pop_back();
        if (!strLine.empty())
            lines.push_back(strLine);
    }
    std::fclose(pFile);
    pFile = nullptr;
    return lines;
}

std::wstring Widen(const std::string& strText) {
    return std::wstring(strText.begin(), strText.end());
}

// Stops the service if it runs and deletes it; one that is not there counts as deleted.
bool RemoveService(const std::string& strName, const char* pszPrefix) {
    SC_HANDLE hManager = ::OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    DWORD nStatus = hManager == NULL ? ::GetLastError() : ERROR_SUCCESS;
    if (hManager != NULL) {
        SC_HANDLE hService =
            ::OpenServiceA(hManager, strName.c_str(), SERVICE_STOP | DELETE | SERVICE_QUERY_STATUS);
        if (hService == NULL) {
            nStatus = ::GetLastError();
        } else {
            SERVICE_STATUS status;
            ::ControlService(hService, SERVICE_CONTROL_STOP, &status);
            nStatus = ::DeleteService(hService) ? ERROR_SUCCESS : ::GetLastError();
            ::CloseServiceHandle(hService);
            hService = NULL;
        }
        ::CloseServiceHandle(hManager);
        hManager = NULL;
    }
    const bool bDone = nStatus == ERROR_SUCCESS || nStatus == ERROR_SERVICE_DOES_NOT_EXIST ||
                       nStatus == ERROR_SERVICE_MARKED_FOR_DELETE;
    std::printf("%sundo: deleted the service %s: %s (%lu)\n", pszPrefix, strName.c_str(),
                bDone ? "done" : "FAILED", nStatus);
    return bDone;
}

bool Undo(const std::string& strLine, const char* pszPrefix) {
    const size_t nSpace = strLine.find(' ');
    const std::string strKind = strLine.substr(0, nSpace);
    const std::string strWhat = nSpace == std::string::npos ? "" : strLine.substr(nSpace + 1);
    if (strKind == "key64" || strKind == "userkey") {
        const bool bMachine = strKind == "key64";
        const char* const pszRoot = bMachine ? "HKLM" : "HKCU";
        // Only a named key below Software\Classes: a damaged line must never delete more.
        const std::string strBase = "Software\\Classes\\";
        const size_t nLast = strWhat.rfind('\\');
        if (strWhat.compare(0, strBase.size(), strBase) != 0 || strWhat.size() == strBase.size() ||
            nLast + 1 == strWhat.size()) {
            std::printf("%sundo: refused to delete %s\\%s\n", pszPrefix, pszRoot, strWhat.c_str());
            return false;
        }
        HKEY hParent = NULL;
        LONG nStatus = ::RegOpenKeyExA(bMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                                       strWhat.substr(0, nLast).c_str(), 0,
                                       KEY_ALL_ACCESS | KEY_WOW64_64KEY, &hParent);
        if (nStatus == ERROR_SUCCESS) {
            // With a subkey named, the key goes too, not only what it holds.
            nStatus = ::RegDeleteTreeA(hParent, strWhat.substr(nLast + 1).c_str());
            ::RegCloseKey(hParent);
            hParent = NULL;
        }
        const bool bDone = nStatus == ERROR_SUCCESS || nStatus == ERROR_FILE_NOT_FOUND;
        std::printf("%sundo: deleted %s\\%s: %s (%ld)\n", pszPrefix, pszRoot, strWhat.c_str(),
                    bDone ? "done" : "FAILED", nStatus);
        return bDone;
    }
    if (strKind == "timezone") {
        DYNAMIC_TIME_ZONE_INFORMATION zone;
        bool bDone = strWhat.size() == 2 * sizeof(zone);
        for (size_t i = 0; bDone && i < sizeof(zone); ++i) {
            unsigned nByte = 0;
            bDone = std::sscanf(strWhat.c_str() + 2 * i, "%2x", &nByte) == 1;
            reinterpret_cast<unsigned char*>(&zone)[i] = static_cast<unsigned char>(nByte);
        }
        // A zone that is as it was (the change failed, or was set back) needs nothing.
        DYNAMIC_TIME_ZONE_INFORMATION current;
        ZeroMemory(&current, sizeof(current));
        ::GetDynamicTimeZoneInformation(&current);
        bDone =
            bDone && (std::memcmp(&current, &zone, sizeof(zone)) == 0 || SetSystemTimeZone(&zone));
        std::printf("%sundo: set the time zone back: %s\n", pszPrefix, bDone ? "done" : "FAILED");
        return bDone;
    }
    if (strKind == "user" && !strWhat.empty()) {
        const DWORD nStatus = DeleteLocalUser(Widen(strWhat));
        const bool bDone = nStatus == NERR_Success || nStatus == kNerrUserNotFound;
        std::printf("%sundo: deleted the account %s: %s (%lu)\n", pszPrefix, strWhat.c_str(),
                    bDone ? "done" : "FAILED", nStatus);
        return bDone;
    }
    if (strKind == "msi" && !strWhat.empty()) {
        // 1605: the package is not installed (never was, or was removed already).
        std::string strOutput;
        const long nStatus =
            RunCommand(MsiexecPath() + " /x " + QuoteArgument(strWhat) + " /qn /norestart", 120000,
                       &strOutput);
        const bool bDone = nStatus == 0 || nStatus == ERROR_UNKNOWN_PRODUCT;
        std::printf("%sundo: removed the package of %s: %s (%ld)\n", pszPrefix, strWhat.c_str(),
                    bDone ? "done" : "FAILED", nStatus);
        return bDone;
    }
    if (strKind == "service" && !strWhat.empty())
        return RemoveService(strWhat, pszPrefix);
    std::printf("%sundo: a journal line not understood: %s\n", pszPrefix, strLine.c_str());
    return false;
}

}  // namespace

bool JournalKeyToDelete(const std::string& strJournal, const std::string& strHklmPath) {
    return AppendLine(strJournal, "key64 " + strHklmPath);
}

bool JournalUserKeyToDelete(const std::string& strJournal, const std::string& strHkcuPath) {
    return AppendLine(strJournal, "userkey " + strHkcuPath);
}

bool JournalTimeZoneToRestore(const std::string& strJournal) {
    DYNAMIC_TIME_ZONE_INFORMATION zone;
    ZeroMemory(&zone, sizeof(zone));
    if (::GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID)
        return false;
    std::string strHex;
    char szByte[3];
    for (size_t i = 0; i < sizeof(zone); ++i) {
        std::snprintf(szByte, sizeof(szByte), "%02x", reinterpret_cast<unsigned char*>(&zone)[i]);
        strHex += szByte;
    }
    return AppendLine(strJournal, "timezone " + strHex);
}

bool SetSystemTimeZone(const void* pDynamicInformation) {
    HANDLE hToken = NULL;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken))
        return false;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // A system that knows no such privilege (Wine) is asked all the same: the call says
    // whether it needs it.
    if (::LookupPrivilegeValueA(NULL, "SeTimeZonePrivilege", &privileges.Privileges[0].Luid))
        ::AdjustTokenPrivileges(hToken, FALSE, &privileges, 0, NULL, NULL);
    ::CloseHandle(hToken);
    hToken = NULL;
    auto* pZone =
        static_cast<DYNAMIC_TIME_ZONE_INFORMATION*>(const_cast<void*>(pDynamicInformation));
    return ::SetDynamicTimeZoneInformation(pZone) != FALSE;
}

bool JournalUserToDelete(const std::string& strJournal, const std::string& strUser) {
    return AppendLine(strJournal, "user " + strUser);
}

bool JournalServiceToDelete(const std::string& strJournal, const std::string& strService) {
    return AppendLine(strJournal, "service " + strService);
}

bool JournalMsiToRemove(const std::string& strJournal, const std::string& strMsi) {
    return AppendLine(strJournal, "msi " + strMsi);
}

bool JournalHasEntries(const std::string& strJournal) {
    return !ReadLines(strJournal).empty();
}

bool ReplayJournal(const std::string& strJournal, const char* pszPrefix) {
    const std::vector<std::string> lines = ReadLines(strJournal);
    bool bAll = true;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        bAll = Undo(*it, pszPrefix) && bAll;
    if (bAll)
        ::DeleteFileA(strJournal.c_str());
    return bAll;
}
