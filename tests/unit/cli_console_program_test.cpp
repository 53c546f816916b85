// The console program end to end on the scripted machine: the real derivation, the real output.
#include "cli/console_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/id_output.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

namespace {

const char kIDWithHandMarkerUpper[] = "1D7F953DB6E0A9AB13DF78AA1DB9F3B8";
const char kOtherID[] = "1d7f953db6e0a9ab13df78aa1db9f3b9";

class CNoMessages : public CStatusMessages {
public:
    void AppendStatusText(long nStatus, CTextBuilder* pText) override {
        if (nStatus == 5)
            pText->Append("Access is denied");
    }
};

struct SRun {
    int nExitCode;
    std::string strOut;
    std::string strErr;
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
        std::vector<const char*> pointers;
        for (const std::string& strArgument : arguments)
            pointers.push_back(strArgument.c_str());
        CNoMessages messages;
        CConsoleOutput output;
        SRun run;
        run.nExitCode = RunConsoleProgram(static_cast<int>(pointers.size()), pointers.data(),
                                          m_machine, messages, &output);
        run.strOut = output.out.GetText();
        run.strErr = output.err.GetText();
        return run;
    }

    CScriptedMachineFacts m_machine;
};

std::string Join(const std::vector<std::string>& arguments) {
    std::string strJoined;
    for (const std::string& strArgument : arguments)
        strJoined += strArgument + " ";
    return strJoined;
}

std::string JsonWith(const char* pszID, const char* pszMarker, const std::string& strError) {
    return std::string("{\"id\":") + (pszID ? "\"" + std::string(pszID) + "\"" : "null") +
           ",\"marker\":\"" + pszMarker + "\",\"root_created\":\"" + kRootCreatedText +
           "\",\"volume\":\"5A3C00F1NTFS\",\"version\":\"2.1.31.0\",\"error\":" + strError + "}\n";
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
         std::string("Root created: ") + kRootCreatedText +
             "\nVolume:       5A3C00F1NTFS\nMarker:       present\nID:           " +
             kIDWithHandMarker + "\n",
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

// A fresh machine: the modes that may write create the marker once, as the dialog does; the
// read-only ones touch nothing and exit 4.
TEST_F(CliConsoleProgramTest, FreshMachineWritingModesCreateTheMarkerReadOnlyOnesExit4) {
    const std::string strNoMarkerError = "{\"step\":\"marker_key\",\"code\":2,\"message\":null}";
    const char* pszNoMarkerLine = "there is no installation marker yet";
    const SCase cases[] = {
        {{}, 0, std::string(kIDWithMarkerMadeNow) + "\n", false, nullptr},
        {{"--json"}, 0, JsonWith(kIDWithMarkerMadeNow, "created", "null"), false, nullptr},
        {{"--explain"}, 0, "Marker:       created\n", true, nullptr},
        {{"--no-write"}, 4, "", false, pszNoMarkerLine},
        {{"--verify", kIDWithMarkerMadeNow}, 4, "", false, pszNoMarkerLine},
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
        EXPECT_EQ(std::string::npos, (run.strOut + run.strErr).find(kMarkerMadeNow));
        EXPECT_EQ(bWrites ? 1u : 0u, m_machine.m_writes.size());
        EXPECT_EQ(bWrites, m_machine.m_bKeyExists);
        if (!bWrites) {
            EXPECT_EQ(0, m_machine.m_nCreateCalls);
        }
    }
}

// A standard user's view of the key (read access only): the plain run exits 3 and says what to
// do; the read-only modes still give the ID.
TEST_F(CliConsoleProgramTest, KeyGrantingOnlyReadExits3ButReadOnlyModesGiveTheID) {
    const SCase cases[] = {
        {{}, 3, "", false, "no rights to the marker key"},
        {{"--json"},
         3,
         "\"error\":{\"step\":\"marker_key\",\"code\":5,\"message\":\"Access is denied\"}}\n",
         true,
         nullptr},
        {{"--explain"}, 3, "Status:       status 5: Access is denied\n", true, nullptr},
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
        const SRun run = Run(c.arguments);
        ExpectOutput(c, run);
        EXPECT_TRUE(m_machine.m_writes.empty());
    }
    EXPECT_EQ(
        "idrovan-cli: no rights to the marker key HKEY_CLASSES_ROOT\\lrgDocID (status 5: Access "
        "is denied); --no-write reads an existing marker with read access only\n",
        Run({}).strErr);
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

}  // namespace
