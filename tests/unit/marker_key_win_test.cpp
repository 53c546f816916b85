// The marker key's security on the platform's real registry: the owner and DACL a created key
// gets, and keys that other accounts may change, as the derivation, the C API (the DLL's code)
// and the console program report them; --new-marker's reset. Under Wine only: these tests remove
// and re-permission HKEY_CLASSES_ROOT\lrgDocID, which on Windows itself would change the
// computer's ID. Wine keeps a descriptor set with RegSetKeySecurity in the running wineserver's
// memory only, which lasts the test. The native build has no key security to read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/library_calls.h"
#include "cli/console_program.h"
#include "identification/drive_id.h"

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#endif

namespace {

// What the console program printed; status texts are left out.
class CNoMessages : public CStatusMessages {
public:
    void AppendStatusText(long, CTextBuilder*) override {}
};

struct SRun {
    int nExitCode;
    std::string strOut;
    std::string strErr;
};

SRun RunCli(std::vector<const char*> arguments) {
    CNoMessages messages;
    CConsoleOutput output;
    SRun run;
    run.nExitCode = RunConsoleProgram(static_cast<int>(arguments.size()), arguments.data(),
                                      GetDefaultMachineFacts(), messages, &output);
    run.strOut = output.out.GetText();
    run.strErr = output.err.GetText();
    return run;
}

bool Has(const std::string& strText, const std::string& strPart) {
    return strText.find(strPart) != std::string::npos;
}

#ifdef _WIN32

const char kCreatedSecurity[] = "O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";
const char kMarkerKeyPath[] = "Software\\Classes\\lrgDocID";

bool IsRunningUnderWine() {
    HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    return hNtdll != NULL && GetProcAddress(hNtdll, "wine_get_version") != NULL;
}

// The key's owner and DACL in SDDL, or the failure.
std::string ReadSecurity() {
    HKEY hKey = NULL;
    LONG nStatus =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKeyPath, 0, READ_CONTROL | KEY_WOW64_64KEY, &hKey);
    if (nStatus != ERROR_SUCCESS)
        return "open failed " + std::to_string(nStatus);
    std::vector<unsigned char> buffer(4096);
    DWORD nSize = static_cast<DWORD>(buffer.size());
    nStatus = RegGetKeySecurity(hKey, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                buffer.data(), &nSize);
    RegCloseKey(hKey);
    if (nStatus != ERROR_SUCCESS)
        return "RegGetKeySecurity failed " + std::to_string(nStatus);
    char* pszSddl = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
            buffer.data(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &pszSddl, nullptr))
        return "conversion failed " + std::to_string(GetLastError());
    const std::string strSddl = pszSddl;
    LocalFree(pszSddl);
    return strSddl;
}

// Sets the parts of the key's security that the SDDL names.
::testing::AssertionResult SetSecurity(const char* pszSddl) {
    HKEY hKey = NULL;
    LONG nStatus = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKeyPath, 0,
                                 WRITE_DAC | WRITE_OWNER | KEY_WOW64_64KEY, &hKey);
    if (nStatus != ERROR_SUCCESS)
        return ::testing::AssertionFailure() << "open failed " << nStatus;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    nStatus = ERROR_INVALID_PARAMETER;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(pszSddl, SDDL_REVISION_1, &pDescriptor,
                                                             nullptr)) {
        SECURITY_INFORMATION nWhat = 0;
        if (std::string(pszSddl).find("O:") != std::string::npos)
            nWhat |= OWNER_SECURITY_INFORMATION;
        if (std::string(pszSddl).find("D:") != std::string::npos)
            nWhat |= DACL_SECURITY_INFORMATION;
        nStatus = RegSetKeySecurity(hKey, nWhat, pDescriptor);
        LocalFree(pDescriptor);
    }
    RegCloseKey(hKey);
    if (nStatus != ERROR_SUCCESS)
        return ::testing::AssertionFailure() << pszSddl << " not set: " << nStatus;
    return ::testing::AssertionSuccess();
}

std::string Derive(EMarkerAccess eAccess, CDriveIDReport* pReport) {
    CDriveID driveID(GetDefaultMachineFacts(), eAccess);
    CVeltraneString strID = driveID.GetID(pReport);
    return strID.GetText();
}

class MarkerKeyWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!IsRunningUnderWine())
            GTEST_SKIP() << "leaves the machine's marker key alone outside Wine";
        const LONG nStatus =
            RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kMarkerKeyPath, KEY_WOW64_64KEY, 0);
        ASSERT_TRUE(nStatus == ERROR_SUCCESS || nStatus == ERROR_FILE_NOT_FOUND) << nStatus;
    }
};

// The first run creates the key with the explicit owner and protected DACL, not what
// HKEY_LOCAL_MACHINE\Software\Classes would pass on, and reports it trusted.
TEST_F(MarkerKeyWinTest, CreatedKeyHasItsOwnOwnerAndDacl) {
    CDriveIDReport report;
    const std::string strID = Derive(kMarkerReadFirst, &report);
    ASSERT_EQ(32u, strID.size());
    EXPECT_EQ(kMarkerCreated, report.eMarker);
    EXPECT_EQ(kCreatedSecurity, ReadSecurity());
    EXPECT_TRUE(report.bMarkerKeyOpened);
    EXPECT_EQ(kKeyTrusted, report.eMarkerKey);
}

// Keys that other accounts may change are reported loose by the derivation in every mode, by the
// C API's detail and by the console's --json and --explain, and still give the same ID; the key
// the program made is reported trusted.
TEST_F(MarkerKeyWinTest, LooseKeysAreReportedEverywhereAndKeepTheirID) {
    const std::string strID = Derive(kMarkerReadFirst, nullptr);
    ASSERT_EQ(32u, strID.size());
    const struct {
        const char* pszWhat;
        const char* pszSddl;
        EKeyTrust eTrust;
    } cases[] = {
        {"as created", kCreatedSecurity, kKeyTrusted},
        {"Everyone may write", "D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KA;;;WD)", kKeyLooseDacl},
        {"Users may write", "D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KW;;;BU)", kKeyLooseDacl},
        {"owned by an account", "O:S-1-5-21-1004336348-1177238915-682003330-1001D:(A;;KA;;;BA)",
         kKeyForeignOwner},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_TRUE(SetSecurity(c.pszSddl));
        const bool bLoose = c.eTrust != kKeyTrusted;
        for (EMarkerAccess eAccess : {kMarkerReadFirst, kMarkerReadOnly, kMarkerReadWrite}) {
            CDriveIDReport report;
            EXPECT_EQ(strID, Derive(eAccess, &report)) << eAccess;
            EXPECT_EQ(c.eTrust, report.eMarkerKey) << eAccess;
        }

        char szID[IDROVAN_ID_SIZE] = {};
        idrovan_detail detail = {};
        detail.size = sizeof(detail);
        EXPECT_EQ(IDROVAN_OK, GetComputerIDOn(GetDefaultMachineFacts(), 0, szID, sizeof(szID),
                                              nullptr, &detail));
        EXPECT_EQ(strID, szID);
        EXPECT_EQ(bLoose ? IDROVAN_MARKER_KEY_LOOSE : IDROVAN_MARKER_KEY_TRUSTED,
                  detail.marker_key);

        const SRun json = RunCli({"--json"});
        EXPECT_EQ(0, json.nExitCode);
        EXPECT_TRUE(
            Has(json.strOut, bLoose ? "\"marker_key\":\"loose\"" : "\"marker_key\":\"trusted\""))
            << json.strOut;
        const SRun explain = RunCli({"--explain"});
        EXPECT_EQ(0, explain.nExitCode);
        EXPECT_EQ(bLoose, Has(explain.strOut, "Marker key:   loose")) << explain.strOut;
        EXPECT_TRUE(Has(explain.strOut, strID)) << explain.strOut;
    }
}

// --new-marker over a loose key resets its owner and DACL to a created key's, and says so.
TEST_F(MarkerKeyWinTest, NewMarkerResetsALooseKey) {
    const std::string strID = Derive(kMarkerReadFirst, nullptr);
    ASSERT_EQ(32u, strID.size());
    ASSERT_TRUE(SetSecurity("D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KA;;;WD)"));
    const SRun renewal = RunCli({"--new-marker", strID.c_str()});
    EXPECT_EQ(0, renewal.nExitCode) << renewal.strErr;
    EXPECT_TRUE(Has(renewal.strOut, "The marker key's permissions were reset")) << renewal.strOut;
    EXPECT_EQ(kCreatedSecurity, ReadSecurity());
    CDriveIDReport report;
    EXPECT_NE(strID, Derive(kMarkerReadOnly, &report));
    EXPECT_EQ(kKeyTrusted, report.eMarkerKey);
}

#else

// No registry, so no key security: unknown, and nothing to reset.
TEST(MarkerKeyNativeTest, NoKeySecurityToReadOrReset) {
    EXPECT_EQ(kKeyTrustUnknown, GetDefaultMachineFacts().ReadKeyTrust(nullptr));
    EXPECT_EQ(50, GetDefaultMachineFacts().ResetKeySecurity(nullptr));
    const SRun json = RunCli({"--json", "--no-write"});
    EXPECT_TRUE(Has(json.strOut, "\"marker_key\":null")) << json.strOut;
}

#endif

}  // namespace
