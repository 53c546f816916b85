// The console program end to end on the scripted machine: the real derivation, the real output.
#include "cli/console_program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/id_output.h"
#include "tests/unit/cli_run.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"
#include "idrovan_version.h"

namespace {

const char kIDWithHandMarkerUpper[] = "1D7F953DB6E0A9AB13DF78AA1DB9F3B8";
const char kOtherID[] = "1d7f953db6e0a9ab13df78aa1db9f3b9";
// The fingerprints of the worked example's facts, computed independently with Python's hmac
// (identification/fact_fingerprint.h has the formula).
const char kRootFingerprint[] = "1f1";
const char kVolumeFingerprint[] = "353";

class CNoMessages : public CStatusMessages {
public:
    void AppendStatusText(long nStatus, CTextBuilder* pText) override {
        if (nStatus == 5)
            pText->Append("Access is denied");
    }
};

class CliConsoleProgramTest : public ::testing::Test {
protected:
    CliConsoleProgramTest() {
        m_machine.m_nCreationTime = kRootCreated;
        m_machine.m_nNow = kNow;
    }

    void TearDown() override {
        EXPECT_TRUE(m_machine.m_openKeys.empty());
        EXPECT_EQ(0, m_machine.m_nBadCloses);
    }

    SRun Run(const std::vector<std::string>& arguments) {
        CNoMessages messages;
        return RunCli(arguments, m_machine, messages);
    }

    CScriptedMachineFacts m_machine;
};

std::string Join(const std::vector<std::string>& arguments) {
    std::string strJoined;
    for (const std::string& strArgument : arguments)
        strJoined += strArgument + " ";
    return strJoined;
}

// The scripted key's security is the default one: "trusted" wherever the key was opened.
std::string JsonWith(const char* pszID, const char* pszMarker, const std::string& strError) {
    const bool bKey = std::string(pszMarker) != "missing";
    return std::string("{\"id\":") + (pszID ? "\"" + std::string(pszID) + "\"" : "null") +
           ",\"marker\":\"" + pszMarker + "\",\"marker_key\":" + (bKey ? "\"trusted\"" : "null") +
           ",\"root_created_fingerprint\":\"" + kRootFingerprint + "\",\"volume_fingerprint\":\"" +
           kVolumeFingerprint +
           "\",\"format\":2,\"version\":\"" IDROVAN_VERSION_TEXT "\",\"error\":" + strError + "}\n";
}

struct SCase {
    std::vector<std::string> arguments;
    int nExitCode;
    std::string strOut;  // exactly, or a part of it when bOutPart
    bool bOutPart;
    const char* pszErrPart;  // null: stderr stays empty
};

void ExpectOutput(const SCase& c, const SRun& run) {
    EXPECT_EQ(c.nExitCode, run.nExitCode);
    if (c.bOutPart) {
        EXPECT_NE(std::string::npos, run.strOut.find(c.strOut)) << run.strOut;
    } else {
        EXPECT_EQ(c.strOut, run.strOut);
    }
    if (c.pszErrPart != nullptr) {
        EXPECT_NE(std::string::npos, run.strErr.find(c.pszErrPart)) << run.strErr;
    } else {
        EXPECT_EQ("", run.strErr);
    }
}

// With a marker in place every mode gives the ID it makes, writes nothing, and no output of any
// mode holds the marker's value.
TEST_F(CliConsoleProgramTest, MarkerPresentEveryModeReadsAndNoneShowsTheMarker) {
    const SCase cases[] = {
        {{}, 0, std::string(kIDWithHandMarker) + "\n", false, nullptr},
        {{"--no-write"}, 0, std::string(kIDWithHandMarker) + "\n", false, nullptr},
        {{"--verify", kIDWithHandMarker},
         0,
         "The ID matches this computer's ID.\n",
         false,
         nullptr},
        {{"--verify", kIDWithHandMarkerUpper},
         0,
         "The ID matches this computer's ID.\n",
         false,
         nullptr},
        {{"--verify", kOtherID}, 1, "The ID differs from this computer's ID.\n", false, nullptr},
        {{"--json"}, 0, JsonWith(kIDWithHandMarker, "present", "null"), false, nullptr},
        {{"--no-write", "--json"},
         0,
         JsonWith(kIDWithHandMarker, "present", "null"),
         false,
         nullptr},
        {{"--explain"},
         0,
         std::string("Root created: fingerprint ") + kRootFingerprint +
             "\nVolume:       fingerprint " + kVolumeFingerprint +
             "\nMarker:       present\nID:           " + kIDWithHandMarker + "\n",
         false,
         nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(Join(c.arguments));
        m_machine.SetMarker(VREG_SZ, kHandMarker);
        m_machine.m_nCreateCalls = 0;
        const SRun run = Run(c.arguments);
        EXPECT_EQ(c.nExitCode, run.nExitCode);
        EXPECT_EQ(c.strOut, run.strOut);
        EXPECT_EQ("", run.strErr);
        EXPECT_EQ(std::string::npos, (run.strOut + run.strErr).find(kHandMarker));
        EXPECT_TRUE(m_machine.m_writes.empty());
        EXPECT_EQ(0, m_machine.m_nCreateCalls);
    }
}

// --app-specific: every mode prints or compares the application's ID (computed independently with
// Python's hmac over kIDWithHandMarker), and no output holds the computer's own ID, the marker,
// or the facts that would let two applications match a machine.
TEST_F(CliConsoleProgramTest, ApplicationIDTakesThePlaceOfTheComputersEverywhere) {
    const char kVendorA[] = "a3f9fd7e4d8a55f3b6137833f3af7fe9";
    const char kVendorAUpper[] = "A3F9FD7E4D8A55F3B6137833F3AF7FE9";
    const char kVendorB[] = "cd87efd52ba55ba11092838b30b1ea29";
    const char kQuoted[] = "3e39c97305fd72e55a772e177c90924d";
    const char kCafe[] = "9e0bd5a77bd9b3e35e5bfca3cc99e672";
    const char kMixed[] = "d60171a41e48f82fe841cc2b155bc7a5";
    const std::string strMatches = "The ID matches this computer's ID for the application.\n";
    const std::string strDiffers = "The ID differs from this computer's ID for the application.\n";
    const SCase cases[] = {
        {{"--app-specific", "Vendor A"}, 0, std::string(kVendorA) + "\n", false, nullptr},
        {{"--no-write", "--app-specific", "Vendor B"},
         0,
         std::string(kVendorB) + "\n",
         false,
         nullptr},
        {{"--app-specific", "Vendor A", "--verify", kVendorAUpper}, 0, strMatches, false, nullptr},
        {{"--app-specific", "Vendor B", "--verify", kVendorA}, 1, strDiffers, false, nullptr},
        // The computer's own ID is no answer for an application.
        {{"--app-specific", "Vendor A", "--verify", kIDWithHandMarker},
         1,
         strDiffers,
         false,
         nullptr},
        {{"--json", "--app-specific", "Vendor A"},
         0,
         std::string("{\"id\":\"") + kVendorA +
             "\",\"app\":\"Vendor "
             "A\",\"marker\":\"present\",\"marker_key\":\"trusted\",\"format\":2,\"version\":"
             "\"" IDROVAN_VERSION_TEXT "\",\"error\":null}\n",
         false,
         nullptr},
        // A UTF-8 name: its bytes hashed, and JSON that gives the name back as it was given.
        {{"--app-specific", "Caf\xC3\xA9"}, 0, std::string(kCafe) + "\n", false, nullptr},
        {{"--json", "--app-specific", "Caf\xC3\xA9 \xE6\x95\xB0 \xF0\x9F\x94\x91"},
         0,
         std::string("{\"id\":\"") + kMixed +
             "\",\"app\":\"Caf\\u00e9 \\u6570 \\ud83d\\udd11\",\"marker\":\"present\","
             "\"marker_key\":\"trusted\",\"format\":2,\"version\":\"" IDROVAN_VERSION_TEXT
             "\",\"error\":null}\n",
         false,
         nullptr},
        {{"--json", "--app-specific", "say \"hi\" \\ bye"},
         0,
         std::string("{\"id\":\"") + kQuoted +
             "\",\"app\":\"say \\\"hi\\\" \\\\ "
             "bye\",\"marker\":\"present\",\"marker_key\":\"trusted\",\"format\":2,"
             "\"version\":\"" IDROVAN_VERSION_TEXT "\",\"error\":null}\n",
         false,
         nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(Join(c.arguments));
        m_machine.SetMarker(VREG_SZ, kHandMarker);
        const SRun run = Run(c.arguments);
        ExpectOutput(c, run);
        const std::string strAll = run.strOut + run.strErr;
        for (const char* pszHidden : {kIDWithHandMarker, kHandMarker, "5A3C00F1", "2019"})
            EXPECT_EQ(std::string::npos, strAll.find(pszHidden)) << pszHidden;
        EXPECT_TRUE(m_machine.m_writes.empty());
    }
}

// Without an ID there is no application's ID either: the failure is the derivation's, as ever.
TEST_F(CliConsoleProgramTest, ApplicationWithoutAMarkerReportsTheDerivationsFailure) {
    const SRun run = Run({"--no-write", "--json", "--app-specific", "Vendor A"});
    EXPECT_EQ(4, run.nExitCode);
    EXPECT_EQ(
        "{\"id\":null,\"app\":\"Vendor "
        "A\",\"marker\":\"missing\",\"marker_key\":null,\"format\":2,\"version\":"
        "\"" IDROVAN_VERSION_TEXT
        "\",\"error\":{\"step\":\"marker_key\",\"code\":2,\"message\":null}}\n",
        run.strOut);
    EXPECT_TRUE(m_machine.m_writes.empty());
}

// A fresh machine: the modes that may write create the marker once, as the dialog does; the
// read-only ones, --explain among them (a diagnosis must not change what it diagnoses), touch
// nothing and exit 4.
TEST_F(CliConsoleProgramTest, FreshMachineWritingModesCreateTheMarkerReadOnlyOnesExit4) {
    const std::string strNoMarkerError = "{\"step\":\"marker_key\",\"code\":2,\"message\":null}";
    const char* pszNoMarkerLine = "there is no installation marker yet";
    const SCase cases[] = {
        {{}, 0, std::string(kIDWithNewMarker) + "\n", false, nullptr},
        {{"--json"}, 0, JsonWith(kIDWithNewMarker, "created", "null"), false, nullptr},
        {{"--explain"}, 4, "Failed step:  marker_key: ", true, nullptr},
        {{"--no-write"}, 4, "", false, pszNoMarkerLine},
        {{"--verify", kIDWithNewMarker}, 4, "", false, pszNoMarkerLine},
        {{"--json", "--no-write"},
         4,
         JsonWith(nullptr, "missing", strNoMarkerError),
         false,
         nullptr},
        {{"--no-write", "--explain"}, 4, "Failed step:  marker_key: ", true, nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(Join(c.arguments));
        m_machine = CScriptedMachineFacts();
        m_machine.m_nCreationTime = kRootCreated;
        m_machine.m_nNow = kNow;
        const bool bWrites = c.nExitCode == 0;

        const SRun run = Run(c.arguments);
        ExpectOutput(c, run);
        EXPECT_EQ(std::string::npos, (run.strOut + run.strErr).find(kNewMarker));
        EXPECT_EQ(bWrites ? 1u : 0u, m_machine.m_writes.size());
        EXPECT_EQ(bWrites, m_machine.m_bKeyExists);
        if (!bWrites) {
            EXPECT_EQ(0, m_machine.m_nCreateCalls);
        }
    }
}

// A standard user's view of the key (read access only): every mode reads the stored marker with
// read access and gives the ID, without asking for the lock.
TEST_F(CliConsoleProgramTest, KeyGrantingOnlyReadGivesTheIDInEveryMode) {
    const SCase cases[] = {
        {{}, 0, std::string(kIDWithHandMarker) + "\n", false, nullptr},
        {{"--json"}, 0, JsonWith(kIDWithHandMarker, "present", "null"), false, nullptr},
        {{"--explain"}, 0, std::string("ID:           ") + kIDWithHandMarker + "\n", true, nullptr},
        {{"--no-write"}, 0, std::string(kIDWithHandMarker) + "\n", false, nullptr},
        {{"--no-write", "--json"},
         0,
         JsonWith(kIDWithHandMarker, "present", "null"),
         false,
         nullptr},
        {{"--verify", kIDWithHandMarker},
         0,
         "The ID matches this computer's ID.\n",
         false,
         nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(Join(c.arguments));
        m_machine.SetMarker(VREG_SZ, kHandMarker);
        m_machine.m_bKeyReadOnly = true;
        // Another run holds the lock all along: a run that finds a marker must not wait for it.
        m_machine.m_nLockStatus = VERROR_WAIT_TIMEOUT;
        const SRun run = Run(c.arguments);
        ExpectOutput(c, run);
        EXPECT_TRUE(m_machine.m_writes.empty());
        for (const std::string& strCall : m_machine.m_calls)
            EXPECT_EQ(std::string::npos, strCall.find("MarkerLock")) << strCall;
    }
    // A key that refuses even reading is "no rights", and no advice to read with less access.
    m_machine.m_nOpenStatus = VERROR_ACCESS_DENIED;
    const SRun refused = Run({});
    EXPECT_EQ(3, refused.nExitCode);
    EXPECT_EQ(
        "idrovan-cli: no rights to the marker key HKEY_LOCAL_MACHINE\\Software\\Classes\\lrgDocID "
        "(status 5: Access is denied); making the installation marker needs an administrator: "
        "run as administrator once (idrovan-cli --first-run asks for it)\n",
        refused.strErr);
}

// No marker at all, and an account without administrator rights (or one whose token is not
// elevated): the lock refuses it, which is "no rights" (exit 3) as for the key, at once and with
// nothing written; every output names the lock and elevation.
TEST_F(CliConsoleProgramTest, LockRefusedToAStandardUserExits3) {
    const SCase cases[] = {
        {{},
         3,
         "",
         false,
         "the marker lock admits administrators only, so no marker was written (status 5: Access "
         "is denied); run as administrator once (idrovan-cli --first-run asks for it)\n"},
        {{"--json"},
         3,
         "\"error\":{\"step\":\"marker_lock\",\"code\":5,\"message\":\"Access is denied: the "
         "marker lock admits administrators only, so no marker was written; run as administrator "
         "once (idrovan-cli --first-run asks for it)\"}}\n",
         true,
         nullptr},
        {{"--new-marker", "none"},
         3,
         "",
         false,
         "the marker lock admits administrators only, so no marker was written (status 5: Access "
         "is denied); a new marker needs an administrator: run it as administrator\n"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(Join(c.arguments));
        m_machine.m_nLockStatus = VERROR_ACCESS_DENIED;
        const SRun run = Run(c.arguments);
        ExpectOutput(c, run);
        EXPECT_TRUE(m_machine.m_writes.empty());
        EXPECT_EQ(0, m_machine.m_nCreateCalls);
    }
}

// A key of the account's own under HKEY_CURRENT_USER\Software\Classes changes no ID; --explain
// says that it is there and ignored.
TEST_F(CliConsoleProgramTest, ExplainSaysThatAPerUserKeyIsIgnored) {
    m_machine.SetMarker(VREG_SZ, kHandMarker);
    m_machine.m_bUserKeyExists = true;
    const SRun run = Run({"--explain"});
    EXPECT_EQ(0, run.nExitCode);
    EXPECT_EQ(std::string("Root created: fingerprint ") + kRootFingerprint +
                  "\nVolume:       fingerprint " + kVolumeFingerprint +
                  "\nMarker:       present\nPer-user key: "
                  "HKEY_CURRENT_USER\\Software\\Classes\\lrgDocID exists and is ignored\n"
                  "ID:           " +
                  kIDWithHandMarker + "\n",
              run.strOut);
    EXPECT_EQ(std::string(kIDWithHandMarker) + "\n", Run({}).strOut);
}

// Each machine fact that fails names its step and status in the JSON and exits 6; the plain run
// prints nothing on stdout and one line on stderr; read-only runs never create or write.
TEST_F(CliConsoleProgramTest, EachFailingFactGivesItsStepAndStatus) {
    struct SFailure {
        const char* pszName;
        void (*pfnBreak)(CScriptedMachineFacts& machine);
        const char* pszError;
        int nExitCode;
    };
    const SFailure failures[] = {
        {"Windows directory",
         [](CScriptedMachineFacts& machine) {
             machine.m_strWindowsDirectory.clear();
             machine.m_nLastError = 0;
         },
         "{\"step\":\"windows_directory\",\"code\":0,\"message\":null}", 6},
        {"volume",
         [](CScriptedMachineFacts& machine) {
             machine.m_bVolumeFails = true;
             machine.m_nLastError = 21;
         },
         "{\"step\":\"volume\",\"code\":21,\"message\":null}", 6},
        {"root creation time",
         [](CScriptedMachineFacts& machine) {
             machine.m_bCreationTimeFails = true;
             machine.m_nLastError = 5;
         },
         "{\"step\":\"root_created\",\"code\":5,\"message\":\"Access is denied\"}", 6},
        {"marker key with another status",
         [](CScriptedMachineFacts& machine) { machine.m_nOpenStatus = 1018; },
         "{\"step\":\"marker_key\",\"code\":1018,\"message\":null}", 6},
        {"marker of another type",
         [](CScriptedMachineFacts& machine) { machine.SetMarker(VREG_DWORD, "abcd"); }, nullptr, 0},
    };
    for (const SFailure& failure : failures) {
        for (const bool bReadOnly : {false, true}) {
            SCOPED_TRACE(std::string(failure.pszName) + (bReadOnly ? " read-only" : ""));
            m_machine = CScriptedMachineFacts();
            m_machine.m_nCreationTime = kRootCreated;
            m_machine.m_nNow = kNow;
            m_machine.SetMarker(VREG_SZ, kHandMarker);
            failure.pfnBreak(m_machine);

            std::vector<std::string> arguments = {"--json"};
            if (bReadOnly)
                arguments.push_back("--no-write");
            const SRun json = Run(arguments);
            if (failure.pszError == nullptr) {
                // Replaced by a fresh marker when the mode may write; otherwise no marker.
                EXPECT_EQ(bReadOnly ? 4 : 0, json.nExitCode) << json.strOut;
                EXPECT_EQ(bReadOnly ? std::string::npos : 0u,
                          json.strOut.find("{\"id\":\"5b2af0c6"))
                    << json.strOut;
            } else {
                EXPECT_EQ(failure.nExitCode, json.nExitCode);
                EXPECT_NE(std::string::npos,
                          json.strOut.find(std::string("\"error\":") + failure.pszError + "}\n"))
                    << json.strOut;
                const SRun plain = Run(bReadOnly ? std::vector<std::string>{"--no-write"}
                                                 : std::vector<std::string>{});
                EXPECT_EQ(failure.nExitCode, plain.nExitCode);
                EXPECT_EQ("", plain.strOut);
                EXPECT_EQ(0u, plain.strErr.find("idrovan-cli: ")) << plain.strErr;
                EXPECT_EQ(plain.strErr.size() - 1, plain.strErr.find('\n')) << plain.strErr;
            }
            if (bReadOnly) {
                EXPECT_EQ(0, m_machine.m_nCreateCalls);
                EXPECT_TRUE(m_machine.m_writes.empty());
            }
        }
    }
}

// The fact texts (and the marker) can be searched for from a report that holds them and the ID,
// so no mode, in no state of the machine, prints them in any form: only their fingerprints.
TEST_F(CliConsoleProgramTest, NoModeInAnyStatePrintsAFactTextOrTheMarker) {
    m_machine.SetMarker(VREG_SZ, kHandMarker);
    const SRun saved = Run({"--json"});
    ASSERT_EQ(0, saved.nExitCode);
    const char kSavedFile[] = "cli_console_saved_report.json";
    std::FILE* pFile = std::fopen(kSavedFile, "wb");
    ASSERT_NE(nullptr, pFile);
    std::fwrite(saved.strOut.data(), 1, saved.strOut.size(), pFile);
    std::fclose(pFile);

    const struct {
        const char* pszName;
        void (*pfnSet)(CScriptedMachineFacts& machine);
    } states[] = {
        {"marker", [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); }},
        {"no marker", [](CScriptedMachineFacts&) {}},
        {"read-only key",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bKeyReadOnly = true;
         }},
        {"short hand-stored marker",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, "0123"); }},
        {"marker too long to use",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, std::string(261, 'k')); }},
        {"volume fails",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bVolumeFails = true;
         }},
        {"root fails",
         [](CScriptedMachineFacts& m) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bCreationTimeFails = true;
         }},
    };
    const std::vector<std::vector<std::string>> modes = {
        {},
        {"--no-write"},
        {"--explain"},
        {"--no-write", "--explain"},
        {"--json"},
        {"--no-write", "--json"},
        {"--verify", kIDWithHandMarker},
        {"--compare", kSavedFile},
        {"--compare", kSavedFile, "--json"},
        {"--json", "--app-specific", "Vendor A"},
        {"--new-marker", "none"},
        {"--new-marker", "none", "--json"},
        {"--new-marker", kIDWithHandMarker, "--json"},
    };
    const std::vector<std::string> hidden = {kRootCreatedText, "09:05:07", "03_04_2019", "5A3C00F1",
                                             "5a3c00f1",       "NTFS",     kHandMarker,  kNewMarker,
                                             "kkkk",           "0123"};
    for (const auto& state : states) {
        for (const std::vector<std::string>& arguments : modes) {
            SCOPED_TRACE(std::string(state.pszName) + ": " + Join(arguments));
            m_machine = CScriptedMachineFacts();
            m_machine.m_nCreationTime = kRootCreated;
            m_machine.m_nNow = kNow;
            state.pfnSet(m_machine);
            const SRun run = Run(arguments);
            EXPECT_FALSE(run.strOut.empty() && run.strErr.empty());
            for (const std::string& strHidden : hidden)
                EXPECT_EQ(std::string::npos, (run.strOut + run.strErr).find(strHidden))
                    << strHidden << " in\n"
                    << run.strOut << run.strErr;
        }
    }
}

// --new-marker: renews only while the ID is the one given (or, given none, where no usable marker
// is stored), prints the ID before and after, and exits 0, 1, 3, 4 or 6; nothing is written
// otherwise, and no output holds a marker.
TEST_F(CliConsoleProgramTest, NewMarkerRenewsOnlyTheGivenIDAndSaysWhatItDid) {
    const std::string strRenewed =
        std::string("Old ID: ") + kIDWithHandMarker + "\nNew ID: " + kIDWithNewMarker + "\n";
    const std::string strJsonRenewed =
        std::string("{\"id\":\"") + kIDWithNewMarker + "\",\"previous_id\":\"" + kIDWithHandMarker +
        "\",\"renewed\":true,\"marker\":\"created\","
        "\"marker_key\":\"trusted\",\"key_reset\":false,\"format\":1,"
        "\"version\":\"" IDROVAN_VERSION_TEXT "\",\"error\":null}\n";
    const struct {
        const char* pszWhat;
        void (*pfnSetUp)(CScriptedMachineFacts&);
        SCase c;
        bool bWrites;
    } cases[] = {
        {"the ID given",
         [](CScriptedMachineFacts&) {},
         {{"--new-marker", kIDWithHandMarkerUpper}, 0, strRenewed, false, nullptr},
         true},
        {"the ID given, JSON",
         [](CScriptedMachineFacts&) {},
         {{"--new-marker", kIDWithHandMarker, "--json"}, 0, strJsonRenewed, false, nullptr},
         true},
        {"another ID",
         [](CScriptedMachineFacts&) {},
         {{"--new-marker", kOtherID},
          1,
          std::string("This computer's ID is ") + kIDWithHandMarker +
              ", not the one given; the marker was not changed.\n",
          false,
          nullptr},
         false},
        {"none, with a marker",
         [](CScriptedMachineFacts&) {},
         {{"--new-marker", "none", "--json"},
          1,
          "\"previous_id\":\"" + std::string(kIDWithHandMarker) +
              "\",\"renewed\":false,\"marker\":\"present\"",
          true,
          nullptr},
         false},
        {"none, on a fresh machine",
         [](CScriptedMachineFacts& m) { m = CScriptedMachineFacts(); },
         {{"--new-marker", "none"},
          0,
          std::string("Old ID: none\nNew ID: ") + kIDWithNewMarker + "\n",
          false,
          nullptr},
         true},
        // A marker that is there, with a fact that cannot be read, is a failure (6, as a
        // read-only run gives it), never "no marker yet".
        {"none, with a marker, the volume unreadable",
         [](CScriptedMachineFacts& m) {
             m.m_bVolumeFails = true;
             m.m_nLastError = 21;
         },
         {{"--new-marker", "none"},
          6,
          "",
          false,
          "idrovan-cli: the system volume's serial number and file system could not be read "
          "(status 21)"},
         false},
        // No ID to compare with is not "another ID": the derivation's own exit code, 4 as a
        // read-only run gives it without a marker, 6 for one too long to use.
        {"an ID, on a fresh machine",
         [](CScriptedMachineFacts& m) { m = CScriptedMachineFacts(); },
         {{"--new-marker", kIDWithHandMarker},
          4,
          "",
          false,
          "idrovan-cli: this computer has no ID to renew: there is no installation marker yet; "
          "idrovan-cli --new-marker none makes one. The marker was not changed.\n"},
         false},
        {"an ID, on a fresh machine, JSON",
         [](CScriptedMachineFacts& m) { m = CScriptedMachineFacts(); },
         {{"--new-marker", kIDWithHandMarker, "--json"},
          4,
          "{\"id\":null,\"previous_id\":null,\"renewed\":false,\"marker\":\"missing\","
          "\"marker_key\":null,\"key_reset\":false,\"format\":1,"
          "\"version\":\"" IDROVAN_VERSION_TEXT
          "\",\"error\":{\"step\":\"marker_key\",\"code\":2,\"message\":null}}\n",
          false,
          nullptr},
         false},
        {"an ID, over a marker too long to use",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, std::string(261, 'k')); },
         {{"--new-marker", kIDWithHandMarker},
          6,
          "",
          false,
          "idrovan-cli: this computer has no ID to renew: the marker key holds a stored value of "
          "261 bytes that cannot be used; idrovan-cli --new-marker none replaces it"},
         false},
        {"an ID, over a marker too long to use, JSON",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, std::string(261, 'k')); },
         {{"--new-marker", kIDWithHandMarker, "--json"},
          6,
          "\"renewed\":false,\"marker\":\"unusable\"",
          true,
          nullptr},
         false},
        {"key grants reading only",
         [](CScriptedMachineFacts& m) { m.m_bKeyReadOnly = true; },
         {{"--new-marker", kIDWithHandMarker},
          3,
          "",
          false,
          "(status 5: Access is denied); a new marker needs an administrator: run it as "
          "administrator\n"},
         false},
        {"lock held elsewhere",
         [](CScriptedMachineFacts& m) { m.m_nLockStatus = 258; },
         {{"--new-marker", kIDWithHandMarker},
          6,
          "",
          false,
          "another run held the marker lock for 10 seconds, so no marker was written"},
         false},
        {"lock name taken by another program's object",
         [](CScriptedMachineFacts& m) { m.m_nLockStatus = 698; },
         {{"--new-marker", kIDWithHandMarker},
          6,
          "",
          false,
          "another program made an object under the marker lock's name, so no marker was written"},
         false},
        {"no private namespace for the lock",
         [](CScriptedMachineFacts& m) { m.m_nLockStatus = 127; },
         {{"--new-marker", kIDWithHandMarker},
          6,
          "",
          false,
          "this Windows offers no private namespace for the marker lock, so no marker was written"},
         false},
        {"random source fails",
         [](CScriptedMachineFacts& m) { m.m_bRandomFails = true; },
         {{"--new-marker", kIDWithHandMarker, "--json"},
          6,
          "\"error\":{\"step\":\"marker_random\",\"code\":0,\"message\":null}}\n",
          true,
          nullptr},
         false},
        // The registry took the new marker, then it could not be read back: the old ID is gone,
        // and the output says so instead of "not renewed".
        {"written, not read back",
         [](CScriptedMachineFacts& m) {
             m.m_beforeCall = [&m](const std::string& strCall) {
                 if (strCall.rfind("SetKeyValue", 0) == 0)
                     m.m_nOpenStatus = 1450;
             };
         },
         {{"--new-marker", kIDWithHandMarker},
          6,
          std::string("Old ID: ") + kIDWithHandMarker + "\nNew ID: not read\n",
          false,
          "idrovan-cli: a new marker was written, so the old ID is gone, but the ID it gives could "
          "not be read: "},
         true},
        {"written, not read back, JSON",
         [](CScriptedMachineFacts& m) {
             m.m_beforeCall = [&m](const std::string& strCall) {
                 if (strCall.rfind("SetKeyValue", 0) == 0)
                     m.m_nOpenStatus = 1450;
             };
         },
         {{"--new-marker", kIDWithHandMarker, "--json"},
          6,
          std::string("{\"id\":null,\"previous_id\":\"") + kIDWithHandMarker +
              "\",\"renewed\":true,\"marker\":\"missing\",\"marker_key\":null,"
              "\"key_reset\":false,\"format\":1,\"version\":"
              "\"" IDROVAN_VERSION_TEXT
              "\",\"error\":{\"step\":\"marker_key\",\"code\":1450,\"message\":null}}\n",
          false,
          nullptr},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        m_machine = CScriptedMachineFacts();
        m_machine.SetMarker(VREG_SZ, kHandMarker);
        c.pfnSetUp(m_machine);
        m_machine.m_nCreationTime = kRootCreated;
        const std::string strStored = m_machine.m_strValueData;

        const SRun run = Run(c.c.arguments);
        ExpectOutput(c.c, run);
        EXPECT_EQ(c.bWrites ? 1u : 0u, m_machine.m_writes.size());
        if (!c.bWrites) {
            EXPECT_EQ(strStored, m_machine.m_strValueData);
        }
        for (const char* pszMarker : {kHandMarker, kNewMarker})
            EXPECT_EQ(std::string::npos, (run.strOut + run.strErr).find(pszMarker));
        EXPECT_FALSE(m_machine.IsLockHeld());
    }
}

// A REG_SZ value too long to read: every mode says what is stored (its length, never its bytes)
// and what replaces it, exits 6 without writing, and none calls it a missing marker or names an
// option that was not given. --new-marker none then replaces it.
TEST_F(CliConsoleProgramTest, MarkerTooLongToUseIsNamedInEveryModeAndReplacedOnlyOnRequest) {
    const std::string strStored(261, 'k');
    const char kLine[] =
        "idrovan-cli: no ID: the marker key holds a stored value of 261 bytes that cannot be used; "
        "idrovan-cli --new-marker none replaces it, which gives a new ID\n";
    const SCase cases[] = {
        {{}, 6, "", false, kLine},
        {{"--no-write"}, 6, "", false, kLine},
        {{"--verify", kIDWithHandMarker}, 6, "", false, kLine},
        {{"--explain"},
         6,
         "Marker:       unusable (a stored value of 261 bytes that cannot be used; idrovan-cli "
         "--new-marker none replaces it, which gives a new ID)\n",
         true,
         nullptr},
        {{"--json", "--no-write"},
         6,
         "\"marker\":\"unusable\",\"marker_key\":\"trusted\",\"root_created_fingerprint\":\"" +
             std::string(kRootFingerprint) + "\",\"volume_fingerprint\":\"" + kVolumeFingerprint +
             "\",\"format\":2,\"version\":\"" IDROVAN_VERSION_TEXT "\",\"error\":{\"step\":"
             "\"marker_value\",\"code\":234,\"message\":\"a stored value of 261 bytes that "
             "cannot be used; idrovan-cli --new-marker none replaces it, which gives a new "
             "ID\"}}\n",
         true,
         nullptr},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(Join(c.arguments));
        m_machine.SetMarker(VREG_SZ, strStored);
        const SRun run = Run(c.arguments);
        ExpectOutput(c, run);
        const std::string strAll = run.strOut + run.strErr;
        EXPECT_EQ(std::string::npos, strAll.find("no installation marker yet")) << strAll;
        EXPECT_EQ(std::string::npos, strAll.find("kkkk")) << strAll;
        if (c.arguments.empty() || c.arguments[0] != "--no-write") {
            EXPECT_EQ(std::string::npos, strAll.find("--no-write")) << strAll;
        }
        EXPECT_TRUE(m_machine.m_writes.empty());
        EXPECT_EQ(strStored, m_machine.m_strValueData);
    }

    const SRun renew = Run({"--new-marker", "none"});
    EXPECT_EQ(0, renew.nExitCode);
    EXPECT_EQ(std::string("Old ID: none\nNew ID: ") + kIDWithNewMarker + "\n", renew.strOut);
    EXPECT_EQ(kIDWithNewMarker + std::string("\n"), Run({}).strOut);
}

// The system's elevation as --first-run meets it. The elevated run, when it starts, is a plain run
// of the program on the same machine, as the real one is: what it writes and how it ends follow
// from the machine's state, not from the test.
class CScriptedElevation : public CElevation {
public:
    explicit CScriptedElevation(CScriptedMachineFacts& machine) : m_machine(machine) {}

    bool IsElevated() override { return m_bElevated; }

    bool RunElevated(long* pnExitCode, long* pnStatus) override {
        ++m_nRuns;
        if (m_beforeRun)
            m_beforeRun(m_machine);
        m_strStoredBeforeRun = m_machine.m_strValueData;
        if (m_nStartStatus != 0) {
            *pnStatus = m_nStartStatus;
            return false;
        }
        CNoMessages messages;
        *pnExitCode = RunCli({}, m_machine, messages).nExitCode;
        if (m_nExitCodeSeen >= 0)
            *pnExitCode = m_nExitCodeSeen;
        return true;
    }

    CScriptedMachineFacts& m_machine;
    bool m_bElevated = false;
    long m_nStartStatus = 0;  // the status of a run that never started (1223: declined)
    // What changes while the prompt is up (also when the run then never starts).
    std::function<void(CScriptedMachineFacts&)> m_beforeRun;
    // The exit code the system hands back in place of the run's own (-1: its own), as for an
    // elevated run that wrote the marker and then failed on something else.
    long m_nExitCodeSeen = -1;
    int m_nRuns = 0;
    std::string m_strStoredBeforeRun;  // the marker as the elevated run would find it
};

struct SFirstRunCase {
    const char* pszName;
    std::function<void(CScriptedMachineFacts&, CScriptedElevation&)> arrange;
    int nExitCode;
    const char* pszOut;  // stdout, exactly
    const char* pszErrPart;
    int nElevatedRuns;
    bool bWrites;  // one new marker stored
};

// --first-run: a stored marker is read and never written over, without asking for elevation; a
// missing one is written in this process when it runs elevated, else by the elevated plain run,
// whose outcome (declined, not started, no rights, failed) the first console reports.
TEST_F(CliConsoleProgramTest, FirstRunMakesOnlyAMissingMarkerAsAnAdministrator) {
    const std::string strHandID = std::string(kIDWithHandMarker) + "\n";
    const std::string strNewID = std::string(kIDWithNewMarker) + "\n";
    const SFirstRunCase cases[] = {
        {"marker stored, not elevated",
         [](CScriptedMachineFacts& m, CScriptedElevation&) { m.SetMarker(VREG_SZ, kHandMarker); },
         0, strHandID.c_str(), "the installation marker is stored already; nothing was written", 0,
         false},
        {"marker stored, elevated",
         [](CScriptedMachineFacts& m, CScriptedElevation& e) {
             m.SetMarker(VREG_SZ, kHandMarker);
             e.m_bElevated = true;
         },
         0, strHandID.c_str(), "stored already", 0, false},
        {"no marker, elevated: written here",
         [](CScriptedMachineFacts&, CScriptedElevation& e) { e.m_bElevated = true; }, 0,
         strNewID.c_str(), "idrovan-cli: the installation marker was written\n", 0, true},
        {"no marker, not elevated: the elevated run writes it",
         [](CScriptedMachineFacts&, CScriptedElevation&) {}, 0, strNewID.c_str(),
         "idrovan-cli: the run as administrator stored the installation marker\n", 1, true},
        {"prompt declined",
         [](CScriptedMachineFacts&, CScriptedElevation& e) { e.m_nStartStatus = 1223; }, 3, "",
         "idrovan-cli: the request to run as administrator was declined, so no marker was "
         "written; making it needs an administrator's consent\n",
         1, false},
        {"elevated run not started",
         [](CScriptedMachineFacts&, CScriptedElevation& e) { e.m_nStartStatus = 5; }, 6, "",
         "idrovan-cli: idrovan-cli could not be started as administrator (status 5: Access is "
         "denied), so no marker was written\n",
         1, false},
        // Not an administrator even so (consent given with a standard account's credentials
        // where UAC is off): the elevated run's lock refuses it.
        {"elevated run has no rights",
         [](CScriptedMachineFacts&, CScriptedElevation& e) {
             e.m_beforeRun = [](CScriptedMachineFacts& m) {
                 m.m_nLockStatus = VERROR_ACCESS_DENIED;
             };
         },
         3, "", "ended with exit code 3: it had no rights to make the marker either", 1, false},
        {"elevated run fails",
         [](CScriptedMachineFacts&, CScriptedElevation& e) {
             e.m_beforeRun = [](CScriptedMachineFacts& m) {
                 m.m_nLockStatus = VERROR_WAIT_TIMEOUT;
             };
         },
         6, "", "ended with exit code 6; idrovan-cli --explain, run as administrator, says", 1,
         false},
        // What is stored decides: a marker written by a run that then failed, or by another run
        // while the prompt was declined, gives the ID.
        {"elevated run writes the marker, then fails",
         [](CScriptedMachineFacts&, CScriptedElevation& e) { e.m_nExitCodeSeen = 6; }, 0,
         strNewID.c_str(),
         "idrovan-cli: the run as administrator ended with exit code 6, but the installation "
         "marker is stored\n",
         1, true},
        {"prompt declined, marker stored by another run meanwhile",
         [](CScriptedMachineFacts&, CScriptedElevation& e) {
             e.m_nStartStatus = 1223;
             e.m_beforeRun = [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kHandMarker); };
         },
         0, strHandID.c_str(), "but another run has stored the installation marker meanwhile", 1,
         false},
        // Rights mend no marker too long to use, nor a fact that cannot be read.
        {"marker too long to use",
         [](CScriptedMachineFacts& m, CScriptedElevation&) {
             m.SetMarker(VREG_SZ, std::string(261, 'k'));
         },
         6, "", "--new-marker none replaces it", 0, false},
        {"volume fails",
         [](CScriptedMachineFacts& m, CScriptedElevation&) {
             m.SetMarker(VREG_SZ, kHandMarker);
             m.m_bVolumeFails = true;
         },
         6, "", "the system volume's serial number", 0, false},
    };
    for (const SFirstRunCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_machine = CScriptedMachineFacts();
        m_machine.m_nCreationTime = kRootCreated;
        m_machine.m_nNow = kNow;
        CScriptedElevation elevation(m_machine);
        c.arrange(m_machine, elevation);
        const std::string strStored = m_machine.m_strValueData;

        const char* const ppArguments[] = {"--first-run"};
        CNoMessages messages;
        CSystemReportFile reportFile;
        CConsoleOutput output;
        EXPECT_EQ(c.nExitCode, RunConsoleProgram(1, ppArguments, m_machine, messages, reportFile,
                                                 elevation, &output));
        EXPECT_EQ(c.pszOut, std::string(output.out.GetText()));
        EXPECT_NE(std::string::npos, std::string(output.err.GetText()).find(c.pszErrPart))
            << output.err.GetText();
        EXPECT_EQ(c.nElevatedRuns, elevation.m_nRuns);
        EXPECT_EQ(c.bWrites ? 1u : 0u, m_machine.m_writes.size());
        if (!c.bWrites) {
            EXPECT_EQ(elevation.m_nRuns > 0 ? elevation.m_strStoredBeforeRun : strStored,
                      m_machine.m_strValueData);
        }
        EXPECT_FALSE(m_machine.IsLockHeld());
    }
}

// Comparing never writes, and its message names no option the user did not give.
TEST_F(CliConsoleProgramTest, VerifyOnAFreshMachineNamesNoOptionThatWasNotGiven) {
    const SRun run = Run({"--verify", kIDWithHandMarker});
    EXPECT_EQ(4, run.nExitCode);
    EXPECT_EQ("", run.strOut);
    EXPECT_EQ(
        "idrovan-cli: there is no installation marker yet, and comparing does not write one; an "
        "administrator must run idrovan-cli once to make it: idrovan-cli --first-run from any "
        "console asks for elevation\n",
        run.strErr);
    EXPECT_TRUE(m_machine.m_writes.empty());
}

}  // namespace
