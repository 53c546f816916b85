// idrovan-cli --verify-licence: its command line, the file it reads, and the verdict as text,
// JSON (checked against docs/schemas/licence.schema.json by cli_json_schemas) and exit code, over
// a scripted machine and a scripted file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cli/report_file.h"
#include "tests/unit/cli_run.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

namespace {

// The published test key and a licence it signed (docs/licence.md's test vectors).
const char kTestKey[] =
    "test-1:6c0285c8103d9f761de87a4228357dc14c4b17919f9d3b9a8aee21aa21047120be6ab84efbbd8e1d27b29a"
    "a1434f3e05dfbbb70014877cbebbbdfa985b5bebc7";
const char kLicence[] =
    "idrovan-licence: 1\n"
    "key-id: test-1\n"
    "licence-id: VA-2024-0001\n"
    "product: Vendor A Pro\n"
    "licensee: \xc3\x9cn\xc3\xaf"
    "code Ltd\n"
    "application: Vendor A\n"
    "application-id: a3f9fd7e4d8a55f3b6137833f3af7fe9\n"
    "features: pro export\n"
    "issued: 2024-11-01T00:00:00Z\n"
    "not-before: 2024-11-01T00:00:00Z\n"
    "not-after: 2025-11-01T00:00:00Z\n"
    "renew-after: 2025-10-01T00:00:00Z\n"
    "x-order: 42\n"
    "signature: ecdsa-p256-sha256 "
    "38fe5c79e12e53cea4758edacca3c23340e7ebd31ef32807bf9804d808671b0e54c154c3e17ede57cf40a632f12e"
    "3dc191b99d15541f8bb5c84d28327ba80ca2\n";

class CNoMessages : public CStatusMessages {
public:
    void AppendStatusText(long, CTextBuilder*) override {}
};

// A file that hands out its content in small pieces, as a real read may.
class CLicenceFile : public CReportFile {
public:
    bool Open(const char* pszName, CTextBuilder* pWhy) override {
        m_opened.push_back(pszName);
        if (!m_bOpens)
            pWhy->Append("scripted reason");
        return m_bOpens;
    }
    bool IsDiskFile() override { return true; }
    bool Read(char* pBuffer, std::size_t nSize, std::size_t* pnRead) override {
        *pnRead = std::min<std::size_t>(std::min<std::size_t>(nSize, 1000),
                                        m_strContent.size() - m_nOffset);
        std::memcpy(pBuffer, m_strContent.data() + m_nOffset, *pnRead);
        m_nOffset += *pnRead;
        return true;
    }
    void Close() override {}

    bool m_bOpens = true;
    std::string m_strContent = kLicence;
    std::size_t m_nOffset = 0;
    std::vector<std::string> m_opened;
};

class CliLicenceTest : public ::testing::Test {
protected:
    CliLicenceTest() {
        m_machine.m_nCreationTime = kRootCreated;
        m_machine.m_nNow = kNow;  // 2024-11-05T17:45:30Z
        m_machine.SetMarker(VREG_SZ, kHandMarker);
    }

    void TearDown() override { EXPECT_TRUE(m_machine.m_writes.empty()); }

    SRun Run(std::vector<std::string> extra) {
        std::vector<std::string> arguments = {"--verify-licence", "licence.txt",  "--app",
                                              "Vendor A",         "--public-key", kTestKey};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        m_file.m_nOffset = 0;
        CNoMessages messages;
        return RunCli(arguments, m_machine, messages, &m_file);
    }

    CScriptedMachineFacts m_machine;
    CLicenceFile m_file;
};

TEST_F(CliLicenceTest, VerdictAsTextJsonAndExitCode) {
    SRun run = Run({});
    EXPECT_EQ(0, run.nExitCode) << run.strOut << run.strErr;
    EXPECT_EQ(std::vector<std::string>{"licence.txt"}, m_file.m_opened);
    EXPECT_NE(std::string::npos, run.strOut.find("licence-id: VA-2024-0001\n")) << run.strOut;

    run = Run({"--json", "--now", "2025-10-15T00:00:00Z", "--feature", "pro"});
    EXPECT_EQ(0, run.nExitCode);
    EXPECT_EQ(0u, run.strOut.find("{\"result\":\"valid\",\"code\":0,")) << run.strOut;
    EXPECT_NE(std::string::npos, run.strOut.find("\"renewal_due\":true")) << run.strOut;

    const struct {
        std::vector<std::string> extra;
        const char* pszContent;
        int nExitCode;
        const char* pszResult;
    } cases[] = {
        {{"--json", "--now", "2025-11-01T00:00:00Z"}, kLicence, 10, "expired"},
        {{"--json", "--feature", "gold"}, kLicence, 11, "no_feature"},
        {{"--json"}, "idrovan-licence: 1\n", 7, "malformed"},
        {{"--json", "--now", "2024-02-30T00:00:00Z"}, kLicence, 2, "bad_argument"},
    };
    for (const auto& c : cases) {
        m_file.m_strContent = c.pszContent;
        run = Run(c.extra);
        EXPECT_EQ(c.nExitCode, run.nExitCode) << run.strOut;
        EXPECT_NE(std::string::npos,
                  run.strOut.find(std::string("\"result\":\"") + c.pszResult + "\""))
            << run.strOut;
    }
    // Nothing of a licence whose signature failed is shown.
    m_file.m_strContent = std::string(kLicence).replace(std::strlen(kLicence) - 3, 1, "0");
    run = Run({"--json"});
    EXPECT_EQ(8, run.nExitCode);
    EXPECT_NE(std::string::npos, run.strOut.find("\"licence\":null")) << run.strOut;
    run = Run({});
    EXPECT_EQ(std::string::npos, run.strOut.find("VA-2024")) << run.strOut;
}

TEST_F(CliLicenceTest, OversizeFileIsRefusedByTheCheck) {
    m_file.m_strContent = std::string(kLicence) + std::string(9000, 'x');
    EXPECT_EQ(7, Run({}).nExitCode);
}

TEST_F(CliLicenceTest, CommandLineFaultsDoNothing) {
    const std::vector<std::vector<std::string>> lines = {
        {"--verify-licence", "a.lic", "--app", "Vendor A"},
        {"--verify-licence", "a.lic", "--public-key", kTestKey},
        {"--verify-licence", "a.lic", "--app", "Vendor A", "--public-key", kTestKey, "--verify",
         "0123456789abcdef0123456789abcdef"},
        {"--verify-licence", "a.lic", "--app", "Vendor A", "--app", "B", "--public-key", kTestKey},
        {"--verify-licence", "--app", "Vendor A", "--public-key", kTestKey},
        {"--verify-licence", "a.lic", "--app", "Caf\xe9", "--public-key", kTestKey},
        {"--json", "--verify-licence", "a.lic", "--app", "Vendor A", "--public-key", kTestKey,
         "--json"},
    };
    for (const std::vector<std::string>& line : lines) {
        CNoMessages messages;
        const SRun run = RunCli(line, m_machine, messages, &m_file);
        EXPECT_EQ(2, run.nExitCode) << line[2];
        EXPECT_EQ(0u, run.strErr.find("idrovan-cli: ")) << run.strErr;
    }
    EXPECT_TRUE(m_file.m_opened.empty());
    EXPECT_TRUE(m_machine.m_calls.empty());
    // A file that cannot be opened: exit 2 with the reason.
    m_file.m_bOpens = false;
    const SRun run = Run({});
    EXPECT_EQ(2, run.nExitCode);
    EXPECT_NE(std::string::npos, run.strErr.find("scripted reason")) << run.strErr;
}

}  // namespace
