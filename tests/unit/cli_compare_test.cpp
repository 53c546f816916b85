// --compare: reading a saved report, and the comparison of one with the scripted machine.
#include "cli/saved_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/console_program.h"
#include "cli/id_output.h"
#include "cli/report_file.h"
#include "tests/unit/cli_run.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"
#include "idrovan_version.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The worked example's fingerprints (Python's hmac; see fact_fingerprint_test.cpp).
const char kRootFingerprint[] = "1f1";
const char kVolumeFingerprint[] = "353";

// A report as --json writes it, with one key's value replaced or the key left out.
std::string Report(const std::string& strKey = "", const std::string& strValue = "") {
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"id", std::string("\"") + kIDWithHandMarker + "\""},
        {"marker", "\"present\""},
        {"root_created_fingerprint", std::string("\"") + kRootFingerprint + "\""},
        {"volume_fingerprint", std::string("\"") + kVolumeFingerprint + "\""},
        {"format", "2"},
        {"version", "\"" IDROVAN_VERSION_TEXT "\""},
        {"error", "null"},
    };
    std::string strReport = "{";
    for (const auto& key : keys) {
        const std::string& strText = key.first == strKey ? strValue : key.second;
        if (key.first == strKey && strValue.empty())
            continue;
        strReport += (strReport.size() > 1 ? "," : "") + ("\"" + key.first + "\":" + strText);
    }
    return strReport + "}\n";
}

// 2.1.31.0's report of the worked example, with the fact texts.
std::string OldReport(const std::string& strVolume = "\"5A3C00F1NTFS\"") {
    return std::string("{\"id\":\"") + kIDWithHandMarker +
           "\",\"marker\":\"present\",\"root_created\":\"" + kRootCreatedText +
           "\",\"volume\":" + strVolume + ",\"version\":\"2.1.31.0\",\"error\":null}\r\n";
}

std::string WithoutLastBrace(const std::string& strReport) {
    return strReport.substr(0, strReport.rfind('}'));
}

// PowerShell's redirection saves UTF-16LE with a byte-order mark.
std::string Utf16WithMark(const std::string& strAscii, bool bBigEndian = false) {
    std::string strBytes = bBigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : strAscii) {
        strBytes += bBigEndian ? '\0' : c;
        strBytes += bBigEndian ? c : '\0';
    }
    return strBytes;
}

struct SReadCase {
    const char* pszName;
    std::string strReport;
    const char* pszError;  // a part of the message; null: the report is read
    int nFormat;
    const char* pszVolumeFingerprint;
};

TEST(CliSavedReport, ReadsBothLayoutsAndRefusesEverythingElseByName) {
    std::string strPadded = Report();
    strPadded.insert(1, kMaxSavedReportSize - strPadded.size(), ' ');
    const std::string strDeep = "{\"error\":" + std::string(60000, '[');
    const SReadCase cases[] = {
        {"current", Report(), nullptr, 2, kVolumeFingerprint},
        {"error object", Report("error", R"({"step":null,"code":0,"message":"x"})"), nullptr, 2,
         kVolumeFingerprint},
        {"2.1.31.0's", OldReport(), nullptr, 1, kVolumeFingerprint},
        // Its texts are the bytes read as Latin-1, escaped; they are fingerprinted as bytes.
        {"2.1.31.0's with odd bytes", OldReport(R"("5A3C00F1N\"T\\F\u0001S\u00e9")"), nullptr, 1,
         "25a"},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" + Report(), nullptr, 2, kVolumeFingerprint},
        {"UTF-16 with a mark", Utf16WithMark(OldReport()), nullptr, 1, kVolumeFingerprint},
        {"UTF-16, big-endian", Utf16WithMark(Report(), true), nullptr, 2, kVolumeFingerprint},
        {"64 KiB exactly", strPadded, nullptr, 2, kVolumeFingerprint},
        // JSON text holds no zero byte; one must not end the report early either.
        {"zero byte", Report() + std::string(1, '\0') + "{", "the report holds a zero byte", 0,
         nullptr},
        {"UTF-16 without a mark", Utf16WithMark(Report()).substr(2), "holds a zero byte", 0,
         nullptr},
        {"UTF-16, odd length", Utf16WithMark(Report()) + "x", "not valid UTF-16", 0, nullptr},
        {"UTF-16, lone surrogate", Utf16WithMark(Report()) + std::string("\x00\xD8", 2),
         "not valid UTF-16", 0, nullptr},
        {"UTF-16, U+0000", Utf16WithMark(Report()) + std::string(2, '\0') + "{\0",
         "not valid UTF-16", 0, nullptr},
        {"larger", " " + strPadded, "the report is larger than 64 KiB", 0, nullptr},
        {"empty", "", "not valid JSON: The document is empty. (at byte 0)", 0, nullptr},
        {"cut", Report().substr(0, 40), "not valid JSON: ", 0, nullptr},
        {"two objects", Report() + "{}", "not valid JSON: ", 0, nullptr},
        {"array", "[]", "the report is not a JSON object", 0, nullptr},
        {"string", "\"x\"", "the report is not a JSON object", 0, nullptr},
        {"invalid UTF-8", Report("version", "\"2.1\xFF\""), "Invalid encoding in string", 0,
         nullptr},
        // Cut in the first byte of a character: the check must not read past the end.
        {"cut in a character", "\"\xF0", "Invalid encoding in string", 0, nullptr},
        {"deep nesting", strDeep, "key 'error' is not null or an object", 0, nullptr},
        {"application", Report("volume_fingerprint", "\"353\",\"app\":\"Vendor A\""),
         "report of one application (--app-specific), which cannot be compared", 0, nullptr},
        {"application, 2.1.31.0's",
         std::string("{\"id\":\"") + kIDWithHandMarker + "\",\"app\":\"A\",\"marker\":\"present\"}",
         "(--app-specific)", 0, nullptr},
        {"unknown key", Report("error", "null,\"extra\":1"), "unknown key 'extra'", 0, nullptr},
        {"unknown key, non-ASCII", Report("error", "null,\"\\u00e9\":1"),
         "unknown key '\\xc3\\xa9'", 0, nullptr},
        // Named in full: cut at its zero byte it would look like a key that belongs.
        {"unknown key with U+0000", Report("error", "null,\"id\\u0000\":1"),
         "unknown key 'id\\x00'", 0, nullptr},
        {"twice", Report("error", "null,\"id\":null"), "key 'id' is given twice", 0, nullptr},
        {"missing", Report("error"), "key 'error' is missing", 0, nullptr},
        {"missing format", Report("format"), "key 'format' is missing", 0, nullptr},
        {"layouts mixed", Report("error", "null,\"volume\":\"x\""),
         "key 'volume' belongs to reports without a 'format' key", 0, nullptr},
        {"id a number", Report("id", "5"), "key 'id' is not 32 hexadecimal digits or null", 0,
         nullptr},
        {"id short", Report("id", "\"1d7f\""), "key 'id' is not 32 hexadecimal digits", 0, nullptr},
        {"no id", Report("id", "null"), "the report holds no ID", 0, nullptr},
        {"no fact", Report("volume_fingerprint", "null"), "has an ID but not both facts", 0,
         nullptr},
        {"marker", Report("marker", "\"gone\""), "key 'marker' is not \"present\", \"created\"", 0,
         nullptr},
        {"fingerprint too large", Report("volume_fingerprint", "\"400\""),
         "key 'volume_fingerprint' is not 3 hexadecimal digits from 000 to 3ff", 0, nullptr},
        {"fingerprint in capitals", Report("root_created_fingerprint", "\"1F1\""),
         "key 'root_created_fingerprint' is not", 0, nullptr},
        {"format a string", Report("format", "\"2\""), "key 'format' is not the number 2", 0,
         nullptr},
        {"format a fraction", Report("format", "2.0"), "key 'format' is not the number 2", 0,
         nullptr},
        {"format newer", Report("format", "3"), "the report's format is not 2", 0, nullptr},
        // Not a number of another layout: JSON has no leading zeros.
        {"format with a leading zero", Report("format", "02"), "not valid JSON: ", 0, nullptr},
        {"format huge", Report("format", "18446744073709551615"), "format is not 2", 0, nullptr},
        {"version", Report("version", "null"), "key 'version' is not a string", 0, nullptr},
        {"error an array", Report("error", "[]"), "key 'error' is not null or an object", 0,
         nullptr},
        {"error code a string", Report("error", R"({"step":null,"code":"5","message":null})"),
         "key 'error.code' is not an integer", 0, nullptr},
        {"error incomplete", Report("error", R"({"step":null,"code":5})"),
         "key 'error.message' is missing", 0, nullptr},
        {"error deeper", Report("error", R"({"step":{},"code":5,"message":null})"),
         "key 'error.step' is not a string or null", 0, nullptr},
        {"error unknown key", Report("error", R"({"stop":null})"), "unknown key in 'error': 'stop'",
         0, nullptr},
        {"old text beyond Latin-1", OldReport("\"\\u0100\""),
         "key 'volume' is not a text of characters up to U+00FF", 0, nullptr},
        {"old text with U+0000", OldReport("\"a\\u0000b\""), "key 'volume' is not a text", 0,
         nullptr},
        {"old text empty", OldReport("\"\""), "has an ID but not both facts", 0, nullptr},
        {"old layout with a fingerprint",
         WithoutLastBrace(OldReport()) + ",\"volume_fingerprint\":\"353\"}",
         "key 'root_created_fingerprint' is missing", 0, nullptr},
    };
    for (const SReadCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CSavedReport report;
        CTextBuilder error;
        const bool bRead = ReadSavedReport(c.strReport.data(), c.strReport.size(), &report, &error);
        const std::string strError = error.GetText();
        if (c.pszError == nullptr) {
            ASSERT_TRUE(bRead) << strError;
            EXPECT_EQ(c.nFormat, report.nFormat);
            EXPECT_STREQ(kIDWithHandMarker, report.szID);
            EXPECT_STREQ(kRootFingerprint, report.szRootFingerprint);
            EXPECT_STREQ(c.pszVolumeFingerprint, report.szVolumeFingerprint);
            continue;
        }
        EXPECT_FALSE(bRead);
        EXPECT_NE(std::string::npos, strError.find(c.pszError)) << strError;
        EXPECT_EQ(std::string::npos, strError.find('\n')) << strError;
        EXPECT_LE(strError.size(), 160u) << strError;
    }
}

class CNoMessages : public CStatusMessages {
public:
    void AppendStatusText(long, CTextBuilder*) override {}
};

class CliCompareTest : public ::testing::Test {
protected:
    CliCompareTest() { ResetMachine(); }

    void ResetMachine() {
        m_machine = CScriptedMachineFacts();
        m_machine.m_nCreationTime = kRootCreated;
        m_machine.m_nNow = kNow;
        m_machine.SetMarker(VREG_SZ, kHandMarker);
    }

    SRun Run(const std::vector<std::string>& arguments) {
        CNoMessages messages;
        return RunCli(arguments, m_machine, messages);
    }

    // A file in the working directory, natively and under Wine alike.
    static std::string Save(const char* pszName, const std::string& strText) {
        std::FILE* pFile = std::fopen(pszName, "wb");
        EXPECT_NE(nullptr, pFile);
        if (pFile != nullptr) {
            std::fwrite(strText.data(), 1, strText.size(), pFile);
            std::fclose(pFile);
        }
        return pszName;
    }

    CScriptedMachineFacts m_machine;
};

struct SChange {
    const char* pszName;
    void (*pfnChange)(CScriptedMachineFacts& machine);
    int nExitCode;
    std::vector<const char*> lines;  // each a whole line of the plain output
    const char* pszJson;             // a part of the JSON object
};

// A report saved from the machine, then one change at a time, compared in plain words and as
// JSON. Nothing is ever written, and no output holds a fact text or the marker.
TEST_F(CliCompareTest, NamesTheFactThatChangedAndItsUsualCause) {
    const SRun saved = Run({"--json"});
    ASSERT_EQ(0, saved.nExitCode) << saved.strErr;
    const std::string strFile = Save("cli_compare_saved.json", saved.strOut);

    const char kSameIDLine[] = "ID:           same: 1d7f953db6e0a9ab13df78aa1db9f3b8";
    const char kMaybeLine[] =
        "A fact shown as the same may still have changed: its fingerprint misses a change once "
        "in 1024.";
    const SChange changes[] = {
        {"nothing",
         [](CScriptedMachineFacts&) {},
         0,
         {"Volume:       same", "Root created: same", "Marker:       same", kSameIDLine},
         "{\"same_id\":true,\"id\":\"1d7f953db6e0a9ab13df78aa1db9f3b8\",\"report_id\":"
         "\"1d7f953db6e0a9ab13df78aa1db9f3b8\",\"volume\":\"same\",\"root_created\":\"same\","
         "\"marker\":\"same\",\"other_machine\":false,\"report_format\":2,\"format\":1,"
         "\"version\":\"" IDROVAN_VERSION_TEXT "\",\"error\":null}\n"},
        {"marker",
         [](CScriptedMachineFacts& m) { m.SetMarker(VREG_SZ, kNewMarker); },
         1,
         {"Volume:       same", "Root created: same",
          "Marker:       changed: the marker was deleted, renewed or the registry restored",
          "ID:           different: the report's is 1d7f953db6e0a9ab13df78aa1db9f3b8, this "
          "computer's is 5b2af0c63ec8f6bc7aa0854cd0ae01c6",
          kMaybeLine},
         "\"volume\":\"same\",\"root_created\":\"same\",\"marker\":\"changed\",\"other_machine\":"
         "false"},
        {"volume",
         [](CScriptedMachineFacts& m) { m.m_nSerialNumber = 0x5A3C00F2; },
         1,
         {"Volume:       changed: the system drive was formatted, replaced or cloned",
          "Root created: same", "Marker:       not known: a report keeps nothing of the marker",
          kMaybeLine},
         "{\"same_id\":false,"},
        {"root folder",
         [](CScriptedMachineFacts& m) { m.m_nCreationTime += 10000; },
         1,
         {"Volume:       same", "Root created: changed: Windows was installed again",
          "Marker:       not known: a report keeps nothing of the marker"},
         "\"volume\":\"same\",\"root_created\":\"changed\",\"marker\":\"unknown\""},
        {"both",
         [](CScriptedMachineFacts& m) {
             m.m_nSerialNumber = 0x12345678;
             m.m_nCreationTime += 864000000000ULL;
         },
         1,
         {"Volume:       changed", "Root created: changed",
          "The report is from another machine, or from this one before Windows was installed "
          "again."},
         "\"other_machine\":true"},
        // No ID now: the facts are still compared, and the exit code is the failure's.
        {"marker deleted",
         [](CScriptedMachineFacts& m) { m.m_bKeyExists = false; },
         4,
         {"Volume:       same", "Root created: same",
          "Marker:       changed: there is none now; it was deleted or the registry restored",
          "ID:           none now"},
         "{\"same_id\":null,\"id\":null,\"report_id\":\"1d7f953db6e0a9ab13df78aa1db9f3b8\","
         "\"volume\":\"same\",\"root_created\":\"same\",\"marker\":\"changed\""},
        {"volume unreadable",
         [](CScriptedMachineFacts& m) {
             m.m_bVolumeFails = true;
             m.m_nLastError = 21;
         },
         6,
         {"Volume:       not read now", "Marker:       not read now", "ID:           none now"},
         "\"volume\":\"unknown\",\"root_created\":\"same\",\"marker\":\"unknown\","
         "\"other_machine\":false,\"report_format\":2,\"format\":1,\"version\":"
         "\"" IDROVAN_VERSION_TEXT "\","
         "\"error\":{\"step\":\"volume\",\"code\":21,\"message\":null}}\n"},
    };
    for (const SChange& change : changes) {
        SCOPED_TRACE(change.pszName);
        ResetMachine();
        change.pfnChange(m_machine);
        m_machine.m_nCreateCalls = 0;
        const SRun plain = Run({"--compare", strFile});
        const SRun json = Run({"--compare", strFile, "--json"});
        EXPECT_EQ(change.nExitCode, plain.nExitCode);
        EXPECT_EQ(change.nExitCode, json.nExitCode);
        for (const char* pszLine : change.lines)
            EXPECT_NE(std::string::npos,
                      ("\n" + plain.strOut).find("\n" + std::string(pszLine) + "\n"))
                << pszLine << "\n"
                << plain.strOut;
        EXPECT_NE(std::string::npos, json.strOut.find(change.pszJson)) << json.strOut;
        // A failure goes to stderr in plain words; as JSON, the object alone holds it. No line
        // names an option that was not given, and a note that explains a different ID beside
        // facts that look the same needs an ID now.
        const bool bAnswer = change.nExitCode <= 1;
        EXPECT_EQ(bAnswer, plain.strErr.empty()) << plain.strErr;
        EXPECT_EQ("", json.strErr);
        EXPECT_EQ(std::string::npos, plain.strErr.find("--no-write")) << plain.strErr;
        if (!bAnswer) {
            EXPECT_EQ(std::string::npos, plain.strOut.find(kMaybeLine)) << plain.strOut;
        }
        for (const std::string& strText : {plain.strOut, plain.strErr, json.strOut, json.strErr}) {
            for (const char* pszHidden : {kHandMarker, kNewMarker, "5A3C00F", "2019"})
                EXPECT_EQ(std::string::npos, strText.find(pszHidden)) << strText;
        }
        EXPECT_TRUE(m_machine.m_writes.empty());
        EXPECT_EQ(0, m_machine.m_nCreateCalls);
    }
}

// A report of 2.1.31.0, which held the texts, compares as well, by their fingerprints.
TEST_F(CliCompareTest, ReadsA2131ReportWithTheTexts) {
    const std::string strFile = Save("cli_compare_old.json", OldReport());
    const SRun same = Run({"--compare", strFile, "--json"});
    EXPECT_EQ(0, same.nExitCode) << same.strErr;
    EXPECT_NE(std::string::npos,
              same.strOut.find("\"volume\":\"same\",\"root_created\":\"same\",\"marker\":\"same\","
                               "\"other_machine\":false,\"report_format\":1,"))
        << same.strOut;

    m_machine.m_nSerialNumber = 0x5A3C00F2;
    const SRun changed = Run({"--compare", strFile});
    EXPECT_EQ(1, changed.nExitCode);
    EXPECT_EQ(0u, changed.strOut.find("Volume:       changed: ")) << changed.strOut;
    EXPECT_EQ(std::string::npos, changed.strOut.find("2019")) << changed.strOut;
}

// A report that cannot be read or compared exits 2 with what is wrong, before the machine is
// asked anything.
TEST_F(CliCompareTest, AnUnusableReportStopsBeforeTheMachineIsAsked) {
    const std::string strApplication =
        Save("cli_compare_app.json", std::string("{\"id\":\"") + kIDWithHandMarker +
                                         "\",\"app\":\"Vendor A\",\"marker\":\"present\","
                                         "\"format\":2,\"version\":\"" IDROVAN_VERSION_TEXT
                                         "\",\"error\":null}");
    const std::string strNoID = Save("cli_compare_no_id.json", Report("id", "null"));
    const struct {
        std::vector<std::string> arguments;
        const char* pszErr;
    } cases[] = {
        {{"--compare", "cli_compare_missing.json"},
         "idrovan-cli: the report cannot be compared: its file cannot be opened ("},
        {{"--compare", strApplication, "--json"},
         "idrovan-cli: the report cannot be compared: it is the report of one application"},
        {{"--compare", strNoID}, "the report holds no ID: the run that wrote it failed\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[1]);
        m_machine.m_calls.clear();
        const SRun run = Run(c.arguments);
        EXPECT_EQ(2, run.nExitCode);
        EXPECT_EQ("", run.strOut);
        EXPECT_NE(std::string::npos, run.strErr.find(c.pszErr)) << run.strErr;
        EXPECT_EQ(run.strErr.size() - 1, run.strErr.find('\n')) << run.strErr;
        EXPECT_TRUE(m_machine.m_calls.empty());
    }
}

// Without a marker now, comparing says so in its own words: it names no option that was not
// given, and in JSON writes nothing to stderr.
TEST_F(CliCompareTest, NoMarkerNowIsToldInComparingsOwnWords) {
    const SRun saved = Run({"--json"});
    ASSERT_EQ(0, saved.nExitCode) << saved.strErr;
    const std::string strFile = Save("cli_compare_no_marker.json", saved.strOut);
    m_machine.m_bKeyExists = false;
    for (const char* pszReadOnly : {"", "--no-write"}) {
        SCOPED_TRACE(pszReadOnly);
        std::vector<std::string> arguments = {"--compare", strFile};
        if (pszReadOnly[0] != '\0')
            arguments.push_back(pszReadOnly);
        const SRun plain = Run(arguments);
        EXPECT_EQ(4, plain.nExitCode);
        EXPECT_EQ(
            "idrovan-cli: there is no installation marker yet, and comparing does not write one; "
            "an administrator must run idrovan-cli once to make it: idrovan-cli --first-run from "
            "any console asks for elevation\n",
            plain.strErr);
        arguments.push_back("--json");
        const SRun json = Run(arguments);
        EXPECT_EQ(4, json.nExitCode);
        EXPECT_EQ("", json.strErr);
        EXPECT_NE(std::string::npos,
                  json.strOut.find("\"error\":{\"step\":\"marker_key\",\"code\":2"))
            << json.strOut;
    }
    EXPECT_TRUE(m_machine.m_writes.empty());
}

TEST(CliReportFile, DeviceNamesAreToldFromFileNames) {
    const struct {
        const char* pszName;
        bool bDevice;
    } cases[] = {
        {"COM1", true},
        {"com9", true},
        {"COM0", true},
        {"LPT3", true},
        {"NUL", true},
        {"nul.json", true},
        {"CON", true},
        {"Con .txt", true},
        {"PRN:", true},
        {"aux", true},
        {"CONIN$", true},
        {"conout$", true},
        {"C:\\reports\\COM1", true},
        {"C:NUL", true},
        {"reports/nul.report.json", true},
        {"\\\\.\\pipe\\idrovan", true},
        {"\\\\.\\PhysicalDrive0", true},
        {"\\\\?\\C:\\report.json", true},
        {"//./COM1", true},
        {"\\\\?\\pipe\\x", true},
        {"report.json", false},
        {"COM10", false},
        {"COM1x", false},
        {"CONSOLE.json", false},
        {"nulls.json", false},
        {"C:\\COM1\\report.json", false},
        {"\\\\server\\share\\report.json", false},
        {"-x", false},
        {".", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.bDevice, IsDeviceName(c.pszName)) << c.pszName;
}

// Stands in for the file system: each name opens as the kind of file the test says, and every
// call is counted.
class CScriptedReportFile : public CReportFile {
public:
    bool Open(const char* pszName, CTextBuilder* pWhy) override {
        m_opened.push_back(pszName);
        if (!m_bOpens)
            pWhy->Append("scripted reason");
        m_bOpen = m_bOpens;
        return m_bOpens;
    }
    bool IsDiskFile() override { return m_bDiskFile; }
    bool Read(char* pBuffer, std::size_t nSize, std::size_t* pnRead) override {
        ++m_nReads;
        EXPECT_TRUE(m_bOpen);
        *pnRead = std::min(nSize, m_strContent.size() - m_nOffset);
        std::memcpy(pBuffer, m_strContent.data() + m_nOffset, *pnRead);
        m_nOffset += *pnRead;
        return true;
    }
    void Close() override { m_bOpen = false; }

    bool m_bOpens = true;
    bool m_bDiskFile = true;
    bool m_bOpen = false;
    std::string m_strContent;
    std::size_t m_nOffset = 0;
    int m_nReads = 0;
    std::vector<std::string> m_opened;
};

// A report is read by name only from a file on a disk: a device's name is refused before it is
// opened, and anything opened that is not a disk file (a device, a pipe, a console reached by
// another name) before it is read. Nothing of the machine is asked either way.
TEST_F(CliCompareTest, OnlyAFileOnADiskIsReadByName) {
    const struct {
        const char* pszName;
        const char* pszFile;
        bool bOpens;
        bool bDiskFile;
        int nExitCode;
        bool bOpened;
        const char* pszErr;
    } cases[] = {
        {"a device's name", "COM1", true, true, 2, false,
         "idrovan-cli: the report cannot be compared: its name is a device's, not a file's; give "
         "a file's name, or - to read the report from standard input\n"},
        {"a pipe's name", "\\\\.\\pipe\\report", true, true, 2, false, "its name is a device's"},
        {"not a disk file", "\\\\server\\pipe\\report", true, false, 2, true,
         "idrovan-cli: the report cannot be compared: it names a device, a pipe or a console, not "
         "a file on a disk; give a file's name, or - to read the report from standard input\n"},
        {"cannot be opened", "report.json", false, true, 2, true,
         "idrovan-cli: the report cannot be compared: its file cannot be opened (scripted "
         "reason)\n"},
        {"a disk file", "report.json", true, true, 0, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszName);
        ResetMachine();
        m_machine.m_calls.clear();
        CScriptedReportFile file;
        file.m_bOpens = c.bOpens;
        file.m_bDiskFile = c.bDiskFile;
        file.m_strContent = Report();
        CNoMessages messages;
        const SRun run = RunCli({"--compare", c.pszFile}, m_machine, messages, &file);
        EXPECT_EQ(c.nExitCode, run.nExitCode) << run.strErr;
        EXPECT_EQ(c.bOpened ? 1u : 0u, file.m_opened.size());
        EXPECT_FALSE(file.m_bOpen);
        if (c.pszErr == nullptr) {
            EXPECT_EQ("", run.strErr);
            EXPECT_LT(0, file.m_nReads);
            continue;
        }
        EXPECT_EQ(0, file.m_nReads);
        EXPECT_NE(std::string::npos, run.strErr.find(c.pszErr)) << run.strErr;
        EXPECT_EQ("", run.strOut);
        EXPECT_TRUE(m_machine.m_calls.empty());
    }
}

// The system's own file: what each system can show here. A regular file is read; a directory is
// not (Windows does not open one to read, POSIX opens it but it is no disk file); a device is
// refused by its name, or by its type when opened by the class itself.
TEST_F(CliCompareTest, TheSystemsFileReadsARegularFileAndRefusesTheRest) {
    const std::string strFile = Save("cli_compare_system.json", Report());
    EXPECT_EQ(0, Run({"--compare", strFile}).nExitCode);
    const SRun directory = Run({"--compare", "."});
    EXPECT_EQ(2, directory.nExitCode);
    EXPECT_EQ("", directory.strOut);

    CSystemReportFile file;
    CTextBuilder why;
    ASSERT_TRUE(file.Open(strFile.c_str(), &why)) << why.GetText();
    EXPECT_TRUE(file.IsDiskFile());
    file.Close();
    // The first of each opens on any system; the console may not be there to open.
#ifdef _WIN32
    const char* const devices[] = {"NUL", "CON", "CONIN$"};
#else
    const char* const devices[] = {"/dev/null", "/dev/zero"};
#endif
    for (const char* pszDevice : devices) {
        SCOPED_TRACE(pszDevice);
        CSystemReportFile device;
        CTextBuilder deviceWhy;
        const bool bOpened = device.Open(pszDevice, &deviceWhy);
        EXPECT_TRUE(bOpened || pszDevice != devices[0]) << deviceWhy.GetText();
        if (bOpened) {
            EXPECT_FALSE(device.IsDiskFile());
        }
        const SRun run = Run({"--compare", pszDevice});
        EXPECT_EQ(2, run.nExitCode);
        EXPECT_NE(std::string::npos, run.strErr.find("give a file's name, or -")) << run.strErr;
    }
}

#ifdef _WIN32
// A named pipe with a live server, which would answer a read with silence for ever: refused by
// its name, and by its type when the class opens it.
TEST_F(CliCompareTest, ANamedPipeIsNeverRead) {
    const char kPipe[] = "\\\\.\\pipe\\idrovan-cli-compare-test";
    HANDLE hPipe = CreateNamedPipeA(kPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 4, 4096,
                                    4096, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hPipe);
    const SRun run = Run({"--compare", kPipe});
    EXPECT_EQ(2, run.nExitCode);
    EXPECT_NE(std::string::npos, run.strErr.find("its name is a device's")) << run.strErr;
    CSystemReportFile file;
    CTextBuilder why;
    ASSERT_TRUE(file.Open(kPipe, &why)) << why.GetText();
    EXPECT_FALSE(file.IsDiskFile());
    file.Close();
    CloseHandle(hPipe);
    hPipe = nullptr;
}
#else
// A FIFO without a writer: opening it must not wait for one, and it is never read.
TEST_F(CliCompareTest, AFifoIsNeverWaitedForOrRead) {
    const char kFifo[] = "cli_compare_fifo";
    unlink(kFifo);
    ASSERT_EQ(0, mkfifo(kFifo, 0600));
    const SRun run = Run({"--compare", kFifo});
    EXPECT_EQ(2, run.nExitCode);
    EXPECT_NE(std::string::npos, run.strErr.find("not a file on a disk")) << run.strErr;
    unlink(kFifo);
}
#endif

}  // namespace
