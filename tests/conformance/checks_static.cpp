// What the files under test carry, read from the files: the flags and imports that decide how
// Windows loads them.

#include <windows.h>

#include <set>

#include "tests/conformance/check.h"
#include "tests/conformance/machine_profile.h"
#include "tests/conformance/pe_file.h"

namespace {

const WORD kTerminalServerAware = 0x8000;  // IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE

// Every shipped file of the given kind in the folders under test that hold it.
std::vector<std::string> FilesUnderTest(const SContext& context, bool bDllsToo) {
    std::vector<std::string> files;
    for (const std::string& strFolder : {context.strPrograms, context.strOtherPrograms}) {
        if (strFolder.empty())
            continue;
        files.push_back(strFolder + "\\idrovan.exe");
        files.push_back(strFolder + "\\idrovan-cli.exe");
        if (bDllsToo)
            files.push_back(strFolder + "\\idrovan.dll");
    }
    return files;
}

CResult CheckTerminalServerAware(const SContext& context) {
    std::string strFaults;
    for (const std::string& strPath : FilesUnderTest(context, false)) {
        CPeFile file;
        std::string strWhy;
        if (!file.Load(strPath, &strWhy)) {
            strFaults += strWhy + "; ";
            continue;
        }
        const bool bAware = (file.DllCharacteristics() & kTerminalServerAware) != 0;
        Note("%s: DllCharacteristics 0x%04x, %s", strPath.c_str(), file.DllCharacteristics(),
             bAware ? "terminal-server aware" : "NOT terminal-server aware");
        if (!bAware)
            strFaults += strPath + " lacks TERMINAL_SERVER_AWARE; ";
    }
    return strFaults.empty() ? CResult::Pass() : CResult::Fail(strFaults);
}

// The values of the KnownDLLs key, lowercase ("kernel32.dll"); false where there is no key.
bool ReadKnownDlls(std::set<std::string>* pNames) {
    HKEY hKey = NULL;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                        "System\\CurrentControlSet\\Control\\Session Manager\\KnownDLLs", 0,
                        KEY_READ | KEY_WOW64_64KEY, &hKey) != ERROR_SUCCESS)
        return false;
    for (DWORD i = 0;; ++i) {
        char szName[256];
        char szData[MAX_PATH];
        DWORD nName = sizeof(szName);
        DWORD nData = sizeof(szData) - 1;
        DWORD nType = 0;
        const LONG nStatus = ::RegEnumValueA(hKey, i, szName, &nName, NULL, &nType,
                                             reinterpret_cast<BYTE*>(szData), &nData);
        if (nStatus == ERROR_NO_MORE_ITEMS)
            break;
        if (nStatus != ERROR_SUCCESS || nType != REG_SZ)
            continue;
        szData[nData] = '\0';
        std::string strData = szData;
        for (char& c : strData)
            c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
        pNames->insert(strData);
    }
    ::RegCloseKey(hKey);
    hKey = NULL;
    return !pNames->empty();
}

CResult CheckImportsAreKnownDlls(const SContext& context) {
    std::set<std::string> known;
    if (!ReadKnownDlls(&known)) {
        if (IsUnderWine())
            return CResult::WineGap("Wine has no KnownDLLs key to hold the imports against");
        return CResult::Fail("the KnownDLLs key could not be read");
    }
    std::string strFaults;
    for (const std::string& strPath : FilesUnderTest(context, true)) {
        CPeFile file;
        std::string strWhy;
        if (!file.Load(strPath, &strWhy)) {
            strFaults += strWhy + "; ";
            continue;
        }
        std::string strList;
        for (const std::string& strImport : file.Imports()) {
            strList += strImport + " ";
            // comctl32 is no KnownDLL: the manifest's Common Controls 6 dependency brings it
            // from the side-by-side store (checked at build time with the manifest itself).
            if (known.count(strImport) == 0 && strImport != "comctl32.dll")
                strFaults += strPath + " imports " + strImport + "; ";
        }
        Note("%s imports %s", strPath.c_str(), strList.c_str());
    }
    return strFaults.empty() ? CResult::Pass() : CResult::Fail(strFaults);
}

}  // namespace

void AddStaticChecks(std::vector<SCheck>& checks) {
    checks.push_back(
        {"static_terminal_server_aware",
         "idrovan.exe and idrovan-cli.exe are TERMINAL_SERVER_AWARE, so that a Remote Desktop "
         "host gives them the system's Windows directory, not a per-user one",
         "docs/security.md#what-the-id-is-made-of",
         "https://learn.microsoft.com/windows/win32/api/sysinfoapi/"
         "nf-sysinfoapi-getsystemwindowsdirectoryw; "
         "https://learn.microsoft.com/cpp/build/reference/tsaware-create-terminal-server-aware-"
         "application",
         false, CheckTerminalServerAware});
    checks.push_back(
        {"static_imports_known_dlls",
         "the programs and idrovan.dll import only this machine's KnownDLLs (comctl32 through "
         "the manifest), so that no DLL in their folder is taken for a system one",
         "docs/design.md#what-ships",
         "https://learn.microsoft.com/windows/win32/dlls/dynamic-link-library-search-order", false,
         CheckImportsAreKnownDlls});
}
