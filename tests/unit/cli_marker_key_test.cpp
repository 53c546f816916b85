// The console program's default mode (read first) for a standard user, and what it says about a
// marker key that other accounts than the administrators' may change: --json's marker_key,
// --explain's line, --new-marker's reset, and reports with and without the key read back.
#include "cli/console_program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/saved_report.h"
#include "tests/unit/cli_run.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

namespace {

class CNoMessages : public CStatusMessages {
public:
    void AppendStatusText(long, CTextBuilder*) override {}
};

struct SMachine : CScriptedMachineFacts {
    SMachine() { m_nCreationTime = kRootCreated; }
};

SRun RunOn(const std::vector<std::string>& arguments, CMachineFacts& machine) {
    CNoMessages messages;
    return RunCli(arguments, machine, messages);
}

bool Has(const std::string& strText, const std::string& strPart) {
    return strText.find(strPart) != std::string::npos;
}

// A standard user: without --no-write the stored marker is read all the same; exit 3 only where
// there is none and the account may not make one, where --no-write gives exit 4.
TEST(CliReadFirstTest, StandardUserGetsTheIDWithoutNoWrite) {
    for (bool bStored : {true, false}) {
        for (bool bNoWrite : {false, true}) {
            SCOPED_TRACE(std::string(bStored ? "stored" : "missing") +
                         (bNoWrite ? " --no-write" : ""));
            SMachine machine;
            if (bStored)
                machine.SetMarker(VREG_SZ, kHandMarker);
            machine.m_bKeyReadOnly = true;
            machine.m_nLockStatus = VERROR_ACCESS_DENIED;
            std::vector<std::string> arguments;
            if (bNoWrite)
                arguments.push_back("--no-write");
            const SRun run = RunOn(arguments, machine);
            EXPECT_EQ(bStored ? 0 : bNoWrite ? 4 : 3, run.nExitCode) << run.strErr;
            EXPECT_EQ(bStored ? std::string(kIDWithHandMarker) + "\n" : "", run.strOut);
            EXPECT_TRUE(machine.m_writes.empty());
        }
    }
}

TEST(CliMarkerKeyTest, JsonAndExplainSayWhetherTheKeyIsLoose) {
    const struct {
        bool bStored;
        EKeyTrust eTrust;
        const char* pszJson;
        const char* pszExplainLine;  // null: none
    } cases[] = {
        {true, kKeyTrusted, "\"marker_key\":\"trusted\"", nullptr},
        {true, kKeyLooseDacl, "\"marker_key\":\"loose\"",
         "Marker key:   loose: its permissions let accounts without administrator rights write"},
        {true, kKeyForeignOwner, "\"marker_key\":\"loose\"",
         "Marker key:   loose: it is owned by an account other than SYSTEM, Administrators or "
         "TrustedInstaller"},
        {true, kKeyTrustUnknown, "\"marker_key\":\"unknown\"",
         "Marker key:   its owner and permissions could not be read\n"},
        {false, kKeyTrusted, "\"marker_key\":null", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszJson);
        SMachine machine;
        if (c.bStored)
            machine.SetMarker(VREG_SZ, kHandMarker);
        machine.m_eKeyTrust = c.eTrust;
        for (const char* pszApp : {static_cast<const char*>(nullptr), "Vendor A"}) {
            std::vector<std::string> arguments = {"--json", "--no-write"};
            if (pszApp != nullptr)
                arguments.insert(arguments.end(), {"--app-specific", pszApp});
            const SRun json = RunOn(arguments, machine);
            EXPECT_TRUE(Has(json.strOut, c.pszJson)) << json.strOut;
        }
        const SRun explain = RunOn({"--explain", "--no-write"}, machine);
        EXPECT_EQ(c.pszExplainLine != nullptr, Has(explain.strOut, "Marker key:"))
            << explain.strOut;
        if (c.pszExplainLine != nullptr) {
            EXPECT_TRUE(Has(explain.strOut, c.pszExplainLine)) << explain.strOut;
        }
        // A loose key's marker still gives its ID.
        if (c.bStored) {
            EXPECT_TRUE(Has(explain.strOut, kIDWithHandMarker)) << explain.strOut;
        }
    }
}

// --new-marker over a loose key: a reset that took is said on stdout and in the JSON; one that
// failed writes nothing, fails the run and says why, never "renewed":true.
TEST(CliMarkerKeyTest, NewMarkerSaysWhetherItResetALooseKey) {
    for (long nDeleteStatus : {0L, 5L}) {
        SCOPED_TRACE(nDeleteStatus);
        SMachine machine;
        machine.SetMarker(VREG_SZ, kHandMarker);
        machine.m_eKeyTrust = kKeyLooseDacl;
        machine.m_nDeleteStatus = nDeleteStatus;
        const SRun run = RunOn({"--new-marker", kIDWithHandMarker}, machine);
        EXPECT_EQ(nDeleteStatus == 0 ? 0 : 3, run.nExitCode);
        EXPECT_EQ(nDeleteStatus == 0, Has(run.strOut, std::string("New ID: ") + kIDWithNewMarker))
            << run.strOut;
        EXPECT_EQ(nDeleteStatus == 0, Has(run.strOut, "The marker key's permissions were reset"))
            << run.strOut;
        EXPECT_EQ(nDeleteStatus != 0,
                  Has(run.strErr, "could not be reset (status 5); no new marker was written"))
            << run.strErr;

        machine.SetMarker(VREG_SZ, kHandMarker);
        machine.m_eKeyTrust = kKeyLooseDacl;
        const SRun json = RunOn({"--new-marker", kIDWithHandMarker, "--json"}, machine);
        EXPECT_EQ(run.nExitCode, json.nExitCode);
        if (nDeleteStatus == 0) {
            // The second renewal's marker comes from the random source's next bytes.
            EXPECT_TRUE(Has(json.strOut, std::string("\",\"previous_id\":\"") + kIDWithHandMarker +
                                             "\",\"renewed\":true,\"marker\":\"created\","
                                             "\"marker_key\":\"trusted\",\"key_reset\":true,"))
                << json.strOut;
            EXPECT_TRUE(Has(json.strOut, "\"error\":null}")) << json.strOut;
        } else {
            EXPECT_TRUE(Has(json.strOut, std::string("{\"id\":null,\"previous_id\":\"") +
                                             kIDWithHandMarker +
                                             "\",\"renewed\":false,\"marker\":\"present\","
                                             "\"marker_key\":\"loose\",\"key_reset\":false,"))
                << json.strOut;
            EXPECT_TRUE(Has(json.strOut, "\"error\":{\"step\":\"marker_key\",\"code\":5,"))
                << json.strOut;
        }
    }
}

// --compare reads the reports this version writes, with marker_key, and those of earlier
// versions of the same layout, without it; a value it does not know is refused.
TEST(CliMarkerKeyTest, SavedReportsWithAndWithoutMarkerKeyAreRead) {
    const std::string strHead =
        std::string("{\"id\":\"") + kIDWithHandMarker + "\",\"marker\":\"present\",";
    const std::string strTail =
        "\"root_created_fingerprint\":\"1f1\",\"volume_fingerprint\":\"353\",\"format\":2,"
        "\"version\":\"2.2.0.0\",\"error\":null}";
    const struct {
        std::string strKey;
        bool bRead;
    } cases[] = {
        {"", true},
        {"\"marker_key\":\"trusted\",", true},
        {"\"marker_key\":\"loose\",", true},
        {"\"marker_key\":\"unknown\",", true},
        {"\"marker_key\":null,", true},
        {"\"marker_key\":\"open\",", false},
        {"\"marker_key\":1,", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strKey);
        const std::string strReport = strHead + c.strKey + strTail;
        CSavedReport report;
        CTextBuilder error;
        EXPECT_EQ(c.bRead, ReadSavedReport(strReport.data(), strReport.size(), &report, &error))
            << error.GetText();
        if (!c.bRead) {
            EXPECT_TRUE(Has(error.GetText(), "marker_key")) << error.GetText();
        }
    }
}

}  // namespace
