// The marker key's security as the first run leaves it, and the registry view the x86 build
// meets it in.

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

#include "tests/conformance/check.h"
#include "tests/conformance/child_process.h"
#include "tests/conformance/independent_id.h"
#include "tests/conformance/machine_profile.h"
#include "tests/conformance/undo_journal.h"

namespace {

const char kMarkerKey[] = "Software\\Classes\\lrgDocID";

bool IsWellKnown(PSID pSid, WELL_KNOWN_SID_TYPE eType) {
    BYTE aSid[SECURITY_MAX_SID_SIZE];
    DWORD nSid = sizeof(aSid);
    return ::CreateWellKnownSid(eType, NULL, aSid, &nSid) && ::EqualSid(pSid, aSid);
}

// The DACL's faults against exactly SY and BA full control and BU read, allowed, in any order.
std::string JudgeDacl(PACL pDacl) {
    if (pDacl == NULL)
        return "no DACL (everyone may do everything)";
    struct {
        WELL_KNOWN_SID_TYPE eType;
        const char* pszName;
        ACCESS_MASK nMask;
        int nSeen;
    } wanted[] = {{WinLocalSystemSid, "SY", KEY_ALL_ACCESS, 0},
                  {WinBuiltinAdministratorsSid, "BA", KEY_ALL_ACCESS, 0},
                  {WinBuiltinUsersSid, "BU", KEY_READ, 0}};
    std::string strFaults;
    for (WORD i = 0; i < pDacl->AceCount; ++i) {
        void* pAce = nullptr;
        if (!::GetAce(pDacl, i, &pAce))
            return "an ACE could not be read";
        const auto* pHeader = static_cast<ACE_HEADER*>(pAce);
        if (pHeader->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            strFaults += "an ACE of type " + std::to_string(pHeader->AceType) + "; ";
            continue;
        }
        const auto* pAllowed = static_cast<ACCESS_ALLOWED_ACE*>(pAce);
        PSID pSid = const_cast<DWORD*>(&pAllowed->SidStart);
        bool bKnown = false;
        for (auto& w : wanted) {
            if (!IsWellKnown(pSid, w.eType))
                continue;
            bKnown = true;
            ++w.nSeen;
            Note("ACE: allow %s 0x%08lx (flags 0x%02x)", w.pszName, pAllowed->Mask,
                 pHeader->AceFlags);
            if (pAllowed->Mask != w.nMask) {
                char szMask[16];
                std::snprintf(szMask, sizeof(szMask), "0x%08lx", pAllowed->Mask);
                strFaults += std::string(w.pszName) + " has access " + szMask + "; ";
            }
        }
        if (!bKnown)
            strFaults += "an ACE for another account; ";
    }
    for (const auto& w : wanted) {
        if (w.nSeen != 1)
            strFaults +=
                std::string(w.pszName) + " appears " + std::to_string(w.nSeen) + " times; ";
    }
    return strFaults;
}

CResult CheckKeySecurity(const SContext& context) {
    HKEY hKey = NULL;
    const LONG nStatus =
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKey, 0, READ_CONTROL | KEY_WOW64_64KEY, &hKey);
    if (nStatus == ERROR_FILE_NOT_FOUND)
        return CResult::WindowsSkip(
            "no marker on this machine: a first run (idrovan-cli as administrator, or "
            "--disposable-machine) makes one");
    if (nStatus != ERROR_SUCCESS)
        return CResult::Fail("the marker key could not be opened: " + std::to_string(nStatus));
    PSID pOwner = NULL;
    PACL pDacl = NULL;
    PSECURITY_DESCRIPTOR pDescriptor = NULL;
    const DWORD nRead = ::GetSecurityInfo(hKey, SE_REGISTRY_KEY,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                          &pOwner, NULL, &pDacl, NULL, &pDescriptor);
    ::RegCloseKey(hKey);
    hKey = NULL;
    if (nRead != ERROR_SUCCESS)
        return CResult::Fail("GetSecurityInfo failed: " + std::to_string(nRead));
    std::string strFaults;
    char* pszSddl = nullptr;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorA(
            pDescriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &pszSddl, NULL)) {
        Note("the key's security: %s", pszSddl);
        ::LocalFree(pszSddl);
        pszSddl = nullptr;
    }
    if (pOwner == NULL || !IsWellKnown(pOwner, WinBuiltinAdministratorsSid))
        strFaults += "the owner is not BA; ";
    SECURITY_DESCRIPTOR_CONTROL nControl = 0;
    DWORD nRevision = 0;
    if (!::GetSecurityDescriptorControl(pDescriptor, &nControl, &nRevision) ||
        !(nControl & SE_DACL_PROTECTED))
        strFaults += "the DACL is not protected; ";
    strFaults += JudgeDacl(pDacl);
    ::LocalFree(pDescriptor);
    pDescriptor = NULL;

    // The console judges the key as this check does.
    std::string strJson;
    const long nExit =
        RunCommand(QuoteArgument(context.strPrograms + "\\idrovan-cli.exe") + " --no-write --json",
                   30000, &strJson);
    Note("idrovan-cli --no-write --json exited %ld", nExit);
    if (strJson.find("\"marker_key\":\"trusted\"") == std::string::npos)
        strFaults += "the JSON report does not say the key is trusted; ";
    return strFaults.empty() ? CResult::Pass() : CResult::Fail(strFaults);
}

// A user's own HKCU\Software\Classes\lrgDocID, which any account may make: Windows' merged
// HKEY_CLASSES_ROOT shows it in place of the machine's, yet the programs must give the machine's
// ID and --explain must name the ignored key.
CResult CheckUserShadow(const SContext& context) {
    const char kUserKey[] = "Software\\Classes\\lrgDocID";
    const char kShadowMarker[] = "0000000000000000ffffffffffffffff";
    std::string strExpected;
    SIdFacts facts;
    std::string strWhy;
    if (!ReadIdFacts(&facts, &strWhy))
        return CResult::Fail("no machine marker to hold the programs against: " + strWhy);
    strExpected = DeriveId(facts);
    HKEY hKey = NULL;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kUserKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        ::RegCloseKey(hKey);
        hKey = NULL;
        return CResult::WindowsSkip(
            "this account has a key of that name already; it is not "
            "touched");
    }
    if (!JournalUserKeyToDelete(context.strJournal, kUserKey))
        return CResult::Fail("the undo journal could not be written");
    LONG nStatus = ::RegCreateKeyExA(HKEY_CURRENT_USER, kUserKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                     &hKey, NULL);
    if (nStatus == ERROR_SUCCESS) {
        nStatus =
            ::RegSetValueExA(hKey, "Rndund", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(kShadowMarker), sizeof(kShadowMarker));
        ::RegCloseKey(hKey);
    }
    hKey = NULL;
    if (nStatus != ERROR_SUCCESS)
        return CResult::Fail("the user's key could not be made: " + std::to_string(nStatus));

    std::string strFaults;
    const std::string strCli = QuoteArgument(context.strPrograms + "\\idrovan-cli.exe");
    std::string strOutput;
    const long nExit = RunCommand(strCli + " --no-write", 30000, &strOutput);
    if (nExit != 0 || strOutput.substr(0, strOutput.find_first_of("\r\n")) != strExpected)
        strFaults += "idrovan-cli --no-write did not give the machine's ID; ";
    RunCommand(strCli + " --explain", 30000, &strOutput);
    if (strOutput.find("HKEY_CURRENT_USER\\Software\\Classes\\lrgDocID exists and is ignored") ==
        std::string::npos)
        strFaults += "--explain does not name the ignored key; ";

    char szSeen[64] = {0};
    DWORD nSeen = sizeof(szSeen);
    const LONG nMerged = ::RegGetValueA(HKEY_CLASSES_ROOT, "lrgDocID", "Rndund", RRF_RT_REG_SZ,
                                        NULL, szSeen, &nSeen);
    const bool bShadowed = nMerged == ERROR_SUCCESS && std::string(szSeen) == kShadowMarker;
    Note("HKEY_CLASSES_ROOT\\lrgDocID shows %s",
         bShadowed ? "the user's key" : "the machine's key");
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kUserKey);
    if (!strFaults.empty())
        return CResult::Fail(strFaults);
    if (!bShadowed) {
        if (IsUnderWine())
            return CResult::WineGap(
                "Wine's HKEY_CLASSES_ROOT is the machine's key alone, so the "
                "shadow is not there to ignore (the ID and --explain held)");
        return CResult::Fail("the merged HKEY_CLASSES_ROOT did not show the user's key");
    }
    return CResult::Pass();
}

#ifndef _WIN64
// A key made through HKEY_CLASSES_ROOT by a 32-bit process is the 64-bit view's key too.
CResult CheckWow64ClassesView(const SContext&) {
    if (!IsWow64())
        return CResult::WindowsSkip("32-bit Windows: there is only one registry view");
    if (!IsTokenElevated() && !IsUnderWine())
        return CResult::WindowsSkip(
            "not an elevated administrator: HKEY_CLASSES_ROOT writes "
            "would go to the user's classes");
    const std::string strName = "IdrovanConformance." + std::to_string(::GetCurrentProcessId()) +
                                "." + std::to_string(::GetTickCount());
    HKEY hKey = NULL;
    LONG nStatus = ::RegCreateKeyExA(HKEY_CLASSES_ROOT, strName.c_str(), 0, NULL,
                                     REG_OPTION_VOLATILE, KEY_ALL_ACCESS, NULL, &hKey, NULL);
    if (nStatus != ERROR_SUCCESS)
        return CResult::Fail("HKEY_CLASSES_ROOT\\" + strName +
                             " could not be made: " + std::to_string(nStatus));
    ::RegCloseKey(hKey);
    hKey = NULL;
    const std::string strPath = "Software\\Classes\\" + strName;
    nStatus =
        ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, strPath.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &hKey);
    if (hKey != NULL)
        ::RegCloseKey(hKey);
    hKey = NULL;
    Note("made HKCR\\%s (volatile) from the 32-bit process; 64-bit view's open: %ld",
         strName.c_str(), nStatus);
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, strName.c_str());
    if (nStatus != ERROR_SUCCESS)
        return CResult::Fail("the 64-bit view does not see the key");
    return CResult::Pass();
}
#endif

}  // namespace

void AddKeyChecks(std::vector<SCheck>& checks) {
    checks.push_back(
        {"key_security_after_first_run",
         "the marker key is owned by BA, with a protected DACL of exactly SY and BA full control "
         "and BU read, and idrovan-cli --json calls it trusted",
         "docs/security.md#a-marker-key-that-other-accounts-may-change",
         "https://learn.microsoft.com/windows/win32/sysinfo/registry-key-security-and-access-"
         "rights",
         false, CheckKeySecurity});
    checks.push_back(
        {"user_classes_shadow",
         "a user's own HKCU\\Software\\Classes\\lrgDocID shows in the merged HKEY_CLASSES_ROOT, "
         "yet idrovan-cli gives the machine's ID and --explain names the ignored key",
         "docs/security.md#where-it-writes",
         "https://learn.microsoft.com/windows/win32/sysinfo/merged-view-of-hkey-classes-root", true,
         CheckUserShadow});
    // Only a 32-bit process meets the redirection; the x64 bundle lists the check as the x86
    // build's and does not run it.
#ifdef _WIN64
    CResult (*const pfnWow64)(const SContext&) = nullptr;
#else
    CResult (*const pfnWow64)(const SContext&) = CheckWow64ClassesView;
#endif
    checks.push_back(
        {"wow64_classes_view",
         "a key the x86 build makes through HKEY_CLASSES_ROOT is seen in the 64-bit view, so "
         "that both builds meet one marker",
         "docs/design.md#wine-facts-the-tests-rely-on",
         "https://learn.microsoft.com/windows/win32/winprog64/shared-registry-keys", false,
         pfnWow64});
}
