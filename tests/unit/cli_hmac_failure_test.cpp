// The console program when the system's keyed hash fails. This test program brings its own
// provider, which the linker takes in place of the platform's (a static library's member is only
// pulled in for a symbol still missing), so the failure is real all the way up.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cli/console_program.h"
#include "platform/hmac_sha256_provider.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"
#include "idrovan_version.h"

bool ComputeHmacSha256WithProvider(const void*, std::size_t, const void*, std::size_t,
                                   unsigned char* pDigest) {
    // Half a result left behind must not reach anyone as an ID.
    std::memset(pDigest, 0x5A, 16);
    return false;
}

namespace {

class CNoMessages : public CStatusMessages {
public:
    void AppendStatusText(long, CTextBuilder*) override {}
};

struct SCase {
    std::vector<std::string> arguments;
    const char* pszOut;  // exactly
    const char* pszErr;  // exactly
};

TEST(CliHmacFailure, IsAFailureInEveryModeAndShowsNoID) {
    const std::string strFailure =
        "idrovan-cli: the application's ID could not be computed: the system's HMAC-SHA256 "
        "failed (no status)\n";
    const SCase cases[] = {
        {{"--app-specific", "Vendor A"}, "", strFailure.c_str()},
        {{"--app-specific", "Vendor A", "--verify", kIDWithHandMarker}, "", strFailure.c_str()},
        {{"--app-specific", "Vendor A", "--json"},
         "{\"id\":null,\"app\":\"Vendor "
         "A\",\"marker\":\"present\",\"marker_key\":\"trusted\",\"format\":2,\"version\":"
         "\"" IDROVAN_VERSION_TEXT
         "\",\"error\":{\"step\":\"application_id\",\"code\":0,\"message\":null}}\n",
         ""},
        // The facts' fingerprints take the same hash: without them the ID is no answer either.
        {{"--json"},
         "{\"id\":null,\"marker\":\"present\",\"marker_key\":\"trusted\",\"root_created_"
         "fingerprint\":null,"
         "\"volume_fingerprint\":null,\"format\":2,\"version\":\"" IDROVAN_VERSION_TEXT
         "\",\"error\":{\"step\":"
         "\"fingerprint\",\"code\":0,\"message\":null}}\n",
         ""},
        {{"--explain"},
         "Root created: (not read)\nVolume:       (not read)\nMarker:       present\nID:           "
         "none\nFailed step:  fingerprint: a fact's fingerprint could not be computed: the "
         "system's HMAC-SHA256 failed\nStatus:       no status\n",
         ""},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        CScriptedMachineFacts machine;
        machine.m_nCreationTime = kRootCreated;
        machine.m_nNow = kNow;
        machine.SetMarker(VREG_SZ, kHandMarker);
        std::vector<const char*> pointers;
        for (const std::string& strArgument : c.arguments)
            pointers.push_back(strArgument.c_str());
        CNoMessages messages;
        CConsoleOutput output;
        EXPECT_EQ(6, RunConsoleProgram(static_cast<int>(pointers.size()), pointers.data(), machine,
                                       messages, &output));
        EXPECT_STREQ(c.pszOut, output.out.GetText());
        EXPECT_STREQ(c.pszErr, output.err.GetText());
        EXPECT_TRUE(machine.m_openKeys.empty());
    }
}

}  // namespace
