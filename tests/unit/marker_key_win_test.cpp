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
#include "tests/e2e/marker_key_security.h"
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

bool IsRunningUnderWine() {
    HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    return hNtdll != NULL && GetProcAddress(hNtdll, "wine_get_version") != NULL;
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
    EXPECT_EQ(kCreatedMarkerKeySecurity, ReadMarkerKeySecurity());
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
        {"as created", kCreatedMarkerKeySecurity, kKeyTrusted},
        {"Everyone may write", "D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KA;;;WD)", kKeyLooseDacl},
        {"Users may write", "D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KW;;;BU)", kKeyLooseDacl},
        {"owned by an account", "O:S-1-5-21-1004336348-1177238915-682003330-1001D:(A;;KA;;;BA)",
         kKeyForeignOwner},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        ASSERT_TRUE(SetMarkerKeySecurity(c.pszSddl));
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

// --new-marker over a loose key makes the key anew with a created key's owner and DACL, and
// says so; a handle opened for writing while the key was loose can write nothing afterwards,
// which a change of the key's security alone would not have taken from it (seen under Wine).
TEST_F(MarkerKeyWinTest, NewMarkerMakesALooseKeyAnew) {
    for (const bool bJson : {false, true}) {
        SCOPED_TRACE(bJson ? "--json" : "text");
        const std::string strID = Derive(kMarkerReadFirst, nullptr);
        ASSERT_EQ(32u, strID.size());
        ASSERT_TRUE(SetMarkerKeySecurity("D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KA;;;WD)"));
        HKEY hStale = NULL;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMarkerKeyPath, 0,
                                               KEY_SET_VALUE | KEY_WOW64_64KEY, &hStale));

        const SRun renewal = bJson ? RunCli({"--new-marker", strID.c_str(), "--json"})
                                   : RunCli({"--new-marker", strID.c_str()});
        EXPECT_EQ(0, renewal.nExitCode) << renewal.strErr;
        if (bJson) {
            EXPECT_TRUE(Has(renewal.strOut, "\"renewed\":true,")) << renewal.strOut;
            EXPECT_TRUE(Has(renewal.strOut, "\"marker_key\":\"trusted\",\"key_reset\":true,"))
                << renewal.strOut;
        } else {
            EXPECT_TRUE(Has(renewal.strOut, "The marker key's permissions were reset"))
                << renewal.strOut;
        }
        EXPECT_EQ(kCreatedMarkerKeySecurity, ReadMarkerKeySecurity());
        const char szChosen[] = "0123456789abcdef0123456789abcdef";
        EXPECT_EQ(ERROR_KEY_DELETED,
                  RegSetValueExA(hStale, "Rndund", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(szChosen), sizeof(szChosen) - 1));
        RegCloseKey(hStale);
        hStale = NULL;
        CDriveIDReport report;
        const std::string strAfter = Derive(kMarkerReadOnly, &report);
        EXPECT_EQ(32u, strAfter.size());
        EXPECT_NE(strID, strAfter);
        EXPECT_EQ(kKeyTrusted, report.eMarkerKey);
    }
}

// A loose key that cannot be deleted (it has a subkey) is not written into: no renewal, an
// error and a failing exit, the marker as it was.
TEST_F(MarkerKeyWinTest, NewMarkerWritesNothingWhenTheResetFails) {
    const std::string strID = Derive(kMarkerReadFirst, nullptr);
    ASSERT_EQ(32u, strID.size());
    HKEY hSubKey = NULL;
    const std::string strSubKey = std::string(kMarkerKeyPath) + "\\Pinned";
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, strSubKey.c_str(), 0, NULL, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, NULL, &hSubKey, NULL));
    RegCloseKey(hSubKey);
    ASSERT_TRUE(SetMarkerKeySecurity("D:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KA;;;WD)"));

    const SRun renewal = RunCli({"--new-marker", strID.c_str(), "--json"});
    EXPECT_NE(0, renewal.nExitCode);
    EXPECT_TRUE(Has(renewal.strOut, "\"renewed\":false")) << renewal.strOut;
    EXPECT_TRUE(Has(renewal.strOut, "\"key_reset\":false")) << renewal.strOut;
    EXPECT_TRUE(Has(renewal.strOut, "\"step\":\"marker_key\"")) << renewal.strOut;
    const SRun text = RunCli({"--new-marker", strID.c_str()});
    EXPECT_NE(0, text.nExitCode);
    EXPECT_TRUE(Has(text.strErr, "could not be reset")) << text.strErr;
    EXPECT_EQ(strID, Derive(kMarkerReadOnly, nullptr));

    EXPECT_EQ(ERROR_SUCCESS,
              RegDeleteKeyExA(HKEY_LOCAL_MACHINE, strSubKey.c_str(), KEY_WOW64_64KEY, 0));
}

#else

// No registry, so no key security: unknown, and nothing to reset.
TEST(MarkerKeyNativeTest, NoKeySecurityToReadOrReset) {
    EXPECT_EQ(kKeyTrustUnknown, GetDefaultMachineFacts().ReadKeyTrust(nullptr));
    EXPECT_EQ(50, GetDefaultMachineFacts().DeleteClassesKey("lrgDocID"));
    const SRun json = RunCli({"--json", "--no-write"});
    EXPECT_TRUE(Has(json.strOut, "\"marker_key\":null")) << json.strOut;
}

#endif

}  // namespace
