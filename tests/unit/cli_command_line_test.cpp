#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "cli/console_program.h"
#include "cli/id_output.h"
#include "idrovan_version.h"

namespace {

const char kLowerID[] = "0123456789abcdef0123456789abcdef";
const char kUpperID[] = "0123456789ABCDEF0123456789ABCDEF";

// A machine that no command line with a fault may touch.
class CUntouchableMachine : public CMachineFacts {
public:
    unsigned ReadWindowsDirectory(char*, unsigned) override { return Touched(0u); }
    bool ReadVolumeInformation(const char*, char*, unsigned, std::uint32_t*, std::uint32_t*,
                               std::uint32_t*, char*, unsigned) override {
        return Touched(false);
    }
    bool ReadCreationTime(const char*, VFILETIME*) override { return Touched(false); }
    long OpenClassesKey(const char*, std::uint32_t, VHKEY*) override { return Touched(5L); }
    long CreateClassesKey(const char*, std::uint32_t, VHKEY*) override { return Touched(5L); }
    long QueryKeyValue(VHKEY, const char*, std::uint32_t*, unsigned char*,
                       std::uint32_t*) override {
        return Touched(5L);
    }
    long SetKeyValue(VHKEY, const char*, std::uint32_t, const unsigned char*,
                     std::uint32_t) override {
        return Touched(5L);
    }
    void CloseKey(VHKEY) override { Touched(0); }
    VFILETIME ReadSystemTime() override { return Touched(VFILETIME(0)); }
    bool ConvertFileTime(VFILETIME, VSYSTEMTIME*) override { return Touched(false); }
    long ReadLastError() override { return Touched(5L); }
    bool ReadRandomBytes(unsigned char*, std::uint32_t) override { return Touched(false); }
    long AcquireMarkerLock(std::uint32_t, VHLOCK*, bool*) override { return Touched(5L); }
    void ReleaseMarkerLock(VHLOCK) override { Touched(0); }

    int m_nCalls = 0;

private:
    template <typename T>
    T Touched(T result) {
        ++m_nCalls;
        return result;
    }
};

class CNoMessages : public CStatusMessages {
public:
    void AppendStatusText(long, CTextBuilder*) override {}
};

// Parses through the program's interface, which takes C strings.
bool Parse(const std::vector<std::string>& arguments, CCommandLine* pLine, std::string* pstrError) {
    std::vector<const char*> pointers;
    for (const std::string& strArgument : arguments)
        pointers.push_back(strArgument.c_str());
    CTextBuilder error;
    const bool bParsed =
        ParseCommandLine(static_cast<int>(pointers.size()), pointers.data(), pLine, &error);
    *pstrError = error.GetText();
    return bParsed;
}

int RunProgram(const std::vector<std::string>& arguments, CMachineFacts& machine,
               CConsoleOutput* pOutput) {
    std::vector<const char*> pointers;
    for (const std::string& strArgument : arguments)
        pointers.push_back(strArgument.c_str());
    CNoMessages messages;
    return RunConsoleProgram(static_cast<int>(pointers.size()), pointers.data(), machine, messages,
                             pOutput);
}

bool IsPrintableAsciiLine(const std::string& strLine) {
    for (char c : strLine) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return false;
    }
    return true;
}

struct SValidCase {
    std::vector<std::string> arguments;
    ECliCommand eCommand;
    bool bReadOnly;
    const char* pszVerifyID;
    const char* pszApplication = nullptr;
    const char* pszReport = nullptr;
    bool bCompareJson = false;
};

TEST(CliCommandLine, EveryValidCombination) {
    const std::string strLongestName(1024, 'n');
    const SValidCase cases[] = {
        {{}, kCommandPrint, false, ""},
        {{"--no-write"}, kCommandPrint, true, ""},
        {{"--No-Write"}, kCommandPrint, true, ""},
        {{"--json"}, kCommandJson, false, ""},
        {{"--JSON", "--no-write"}, kCommandJson, true, ""},
        {{"--no-write", "--json"}, kCommandJson, true, ""},
        // A diagnosis never writes, whether or not --no-write says so.
        {{"--explain"}, kCommandExplain, true, ""},
        {{"--explain", "--NO-WRITE"}, kCommandExplain, true, ""},
        {{"--no-write", "--Explain"}, kCommandExplain, true, ""},
        {{"--verify", kLowerID}, kCommandVerify, true, kLowerID},
        {{"--VERIFY", kUpperID}, kCommandVerify, true, kUpperID},
        {{"--no-write", "--verify", kUpperID}, kCommandVerify, true, kUpperID},
        {{"--verify", kLowerID, "--no-write"}, kCommandVerify, true, kLowerID},
        {{"--help"}, kCommandHelp, false, ""},
        {{"--HELP"}, kCommandHelp, false, ""},
        {{"-h"}, kCommandHelp, false, ""},
        {{"-H"}, kCommandHelp, false, ""},
        {{"/?"}, kCommandHelp, false, ""},
        {{"--version"}, kCommandVersion, false, ""},
        {{"--Version"}, kCommandVersion, false, ""},
        {{"--first-run"}, kCommandFirstRun, false, ""},
        {{"--First-Run"}, kCommandFirstRun, false, ""},
        {{"--app-specific", "Vendor App"}, kCommandPrint, false, "", "Vendor App"},
        {{"--APP-SPECIFIC", "{6F9619FF-8B86}", "--json", "--no-write"},
         kCommandJson,
         true,
         "",
         "{6F9619FF-8B86}"},
        // A name that only looks like an option is still a name.
        {{"--verify", kLowerID, "--app-specific", "-x"}, kCommandVerify, true, kLowerID, "-x"},
        // Names are UTF-8 (the program turns its UTF-16 command line into UTF-8), up to the limit.
        {{"--app-specific", "Caf\xC3\xA9"}, kCommandPrint, false, "", "Caf\xC3\xA9"},
        {{"--app-specific", "\xE6\x95\xB0\xF0\x9F\x94\x91"},
         kCommandPrint,
         false,
         "",
         "\xE6\x95\xB0\xF0\x9F\x94\x91"},
        {{"--app-specific", strLongestName}, kCommandPrint, false, "", strLongestName.c_str()},
        // Comparing reads only, whether or not --no-write says so; --json, before or after it,
        // turns its output into JSON.
        {{"--compare", "old.json"}, kCommandCompare, true, "", nullptr, "old.json"},
        {{"--json", "--Compare", "-"}, kCommandCompare, true, "", nullptr, "-", true},
        {{"--compare", "a b.json", "--no-write", "--JSON"},
         kCommandCompare,
         true,
         "",
         nullptr,
         "a b.json",
         true},
    };
    for (const SValidCase& c : cases) {
        std::ostringstream name;
        for (const std::string& strArgument : c.arguments)
            name << strArgument << ' ';
        SCOPED_TRACE(name.str());
        CCommandLine line;
        std::string strError;
        ASSERT_TRUE(Parse(c.arguments, &line, &strError)) << strError;
        EXPECT_EQ(c.eCommand, line.eCommand);
        EXPECT_EQ(c.bReadOnly, line.bReadOnly);
        EXPECT_STREQ(c.pszVerifyID, line.szVerifyID);
        if (c.pszApplication == nullptr)
            EXPECT_EQ(nullptr, line.pszApplication);
        else
            EXPECT_STREQ(c.pszApplication, line.pszApplication);
        if (c.pszReport == nullptr)
            EXPECT_EQ(nullptr, line.pszReport);
        else
            EXPECT_STREQ(c.pszReport, line.pszReport);
        EXPECT_EQ(c.bCompareJson, line.bCompareJson);
    }
}

struct SMalformedCase {
    std::vector<std::string> arguments;
    const char* pszMessage;  // a part of the one-line message
};

// Each is refused with exit code 2, its message and the usage on stderr, nothing on stdout, and
// without a single call to the machine.
TEST(CliCommandLine, EveryMalformedOneIsRefusedBeforeAnythingRuns) {
    const std::string strLong(40000, 'a');
    const SMalformedCase cases[] = {
        {{"--bogus"}, "unknown argument '--bogus'"},
        {{"json"}, "unknown argument 'json'"},
        {{"/json"}, "unknown argument '/json'"},
        {{"-?"}, "unknown argument '-?'"},
        {{"--verify=0123456789abcdef0123456789abcdef"}, "unknown argument"},
        {{""}, "argument 1 is empty"},
        {{"--json", ""}, "argument 2 is empty"},
        {{strLong},
         "unknown argument 'aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa...' (40000 characters)"},
        {{"--js\xC3\xB6n"}, "argument 1 holds a character that is not printable ASCII"},
        {{"\xEF\xBC\x90"}, "not printable ASCII"},
        {{"--json\t"}, "argument 1 holds a character that is not printable ASCII"},
        {{"--json\x1B[2J"}, "not printable ASCII"},
        {{"--verify", "0123456789abcdef0123456789abcde\xFF"}, "argument 2 holds a character"},
        {{"--verify"}, "--verify needs the ID to compare with"},
        {{"--verify", "0123456789abcdef0123456789abcde"}, "32 hexadecimal digits, not '0123"},
        {{"--verify", "0123456789abcdef0123456789abcdef0"}, "32 hexadecimal digits"},
        {{"--verify", "0123456789abcdeg0123456789abcdef"}, "32 hexadecimal digits"},
        {{"--verify", " 123456789abcdef0123456789abcdef"}, "32 hexadecimal digits"},
        {{"--verify", "--json"}, "32 hexadecimal digits, not '--json'"},
        {{"--verify", kLowerID, kLowerID}, "unknown argument '0123"},
        {{"--json", "--json"}, "--json is given twice"},
        {{"--JSON", "--json"}, "--json is given twice"},
        {{"--no-write", "--No-Write"}, "--no-write is given twice"},
        {{"--verify", kLowerID, "--verify", kLowerID}, "--verify is given twice"},
        {{"--json", "--explain"}, "--json and --explain exclude each other"},
        {{"--verify", kLowerID, "--json"}, "--verify and --json exclude each other"},
        {{"--explain", "--verify", kLowerID}, "--explain and --verify exclude each other"},
        {{"--help", "--json"}, "--help goes with no other argument"},
        {{"--no-write", "/?"}, "/? goes with no other argument"},
        {{"-h", "-h"}, "-h goes with no other argument"},
        {{"--version", "--help"}, "--version goes with no other argument"},
        {{"--first-run", "--json"}, "--first-run goes with no other argument"},
        {{"--no-write", "--first-run"}, "--first-run goes with no other argument"},
        {{"--app-specific", "--first-run"}, "--app-specific needs the application's name"},
        {{"--app-specific"}, "--app-specific needs the application's name"},
        {{"--app-specific", "--JSON"}, "--app-specific needs the application's name"},
        {{"--app-specific", ""}, "argument 2 is empty"},
        // The application's name is refused as the DLL refuses it, and never echoed.
        {{"--app-specific", "caf\xE9"}, "argument 2 is not an application name: UTF-8 without"},
        {{"--json", "--app-specific", "caf\xC3"}, "argument 3 is not an application name"},
        {{"--app-specific", "\xED\xA0\x80"}, "argument 2 is not an application name"},
        {{"--app-specific", "Vendor\tA"}, "argument 2 is not an application name"},
        {{"--app-specific", "\xC2\x85"}, "argument 2 is not an application name"},
        {{"--app-specific", std::string(1025, 'n')}, "not an application name"},
        // Only the name may hold more than ASCII.
        {{"--app-specific", "a", "caf\xC3\xA9"}, "argument 3 holds a character that is not"},
        {{"--app-specific", "a", "--app-specific", "b"}, "--app-specific is given twice"},
        {{"--explain", "--app-specific", "a"}, "--app-specific and --explain exclude each other"},
        {{"--app-specific", "a", "--help"}, "--help goes with no other argument"},
        {{"--compare"}, "--compare needs the report's file name (or -)"},
        {{"--compare", "--json"}, "--compare needs the report's file name"},
        {{"--compare", "a", "--compare", "b"}, "--compare is given twice"},
        {{"--compare", "a", "--explain"}, "--compare and --explain exclude each other"},
        {{"--verify", kLowerID, "--compare", "a"}, "--compare and --verify exclude each other"},
        {{"--compare", "a", "--app-specific", "b"}, "--app-specific and --compare exclude each"},
        // A report's name may hold any character; standard input takes any file.
        {{"--compare", "r\xC3\xA9port.json"},
         "argument 2 holds a character that is not printable ASCII; use --compare - < REPORT"},
        {{"--no-write", "--COMPARE", "\xEF\xBC\x90.json"}, "use --compare - < REPORT"},
        {{"--compare", "a", "--version"}, "--version goes with no other argument"},
    };
    for (const SMalformedCase& c : cases) {
        std::ostringstream name;
        for (const std::string& strArgument : c.arguments)
            name << strArgument.substr(0, 50) << ' ';
        SCOPED_TRACE(name.str());

        CCommandLine line;
        std::string strError;
        ASSERT_FALSE(Parse(c.arguments, &line, &strError));
        EXPECT_NE(std::string::npos, strError.find(c.pszMessage)) << strError;
        EXPECT_TRUE(IsPrintableAsciiLine(strError)) << strError;
        EXPECT_LE(strError.size(), 100u) << strError;
        if (std::find(c.arguments.begin(), c.arguments.end(), "--compare") == c.arguments.end() &&
            std::find(c.arguments.begin(), c.arguments.end(), "--COMPARE") == c.arguments.end()) {
            EXPECT_EQ(std::string::npos, strError.find("--compare -")) << strError;
        }

        CUntouchableMachine machine;
        CConsoleOutput output;
        EXPECT_EQ(kExitUsage, RunProgram(c.arguments, machine, &output));
        EXPECT_EQ(0, machine.m_nCalls);
        EXPECT_STREQ("", output.out.GetText());
        EXPECT_EQ("idrovan-cli: " + strError + "\n" + GetUsageText() +
                      "Run idrovan-cli --help for the options and exit codes.\n",
                  output.err.GetText());
    }
}

// Each UTF-16 argument becomes its UTF-8 bytes; an unpaired surrogate becomes 0xFF, which no
// check accepts.
TEST(CliCommandLine, ArgumentsBecomeUtf8) {
    struct SCase {
        std::vector<wchar_t> units;
        std::string strUtf8;
    };
    const SCase cases[] = {
        {{L'-', L'-', L'j'}, "--j"},
        {{L'C', L'a', L'f', 0xE9}, "Caf\xC3\xA9"},
        {{0x7FF, 0x800}, "\xDF\xBF\xE0\xA0\x80"},
        {{0x6570, 0xFFFF}, "\xE6\x95\xB0\xEF\xBF\xBF"},
        {{0xD83D, 0xDD11}, "\xF0\x9F\x94\x91"},  // a surrogate pair: U+1F511
        {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},  // U+10FFFF
        {{L'a', 0xD83D}, "a\xFF"},               // high surrogate at the end
        {{0xD83D, L'b'},
         "\xFF"
         "b"},                           // high surrogate before another unit
        {{0xDD11, 0xD83D}, "\xFF\xFF"},  // low before high
        {{}, ""},
    };
    for (const SCase& c : cases) {
        std::vector<wchar_t> argument = c.units;
        argument.push_back(L'\0');
        const std::size_t nNeeded = ArgumentToUtf8(argument.data(), nullptr);
        EXPECT_EQ(c.strUtf8.size() + 1, nNeeded) << c.strUtf8;
        std::vector<char> buffer(nNeeded + 1, '\x5C');
        EXPECT_EQ(nNeeded, ArgumentToUtf8(argument.data(), buffer.data()));
        EXPECT_EQ(c.strUtf8, std::string(buffer.data()));
        EXPECT_EQ('\x5C', buffer[nNeeded]);
    }
}

// The entry of the help's option or exit-code list whose row begins with strName: that row and
// the further indented lines that go on describing it. Empty when no row begins with it.
std::string HelpEntry(const std::string& strHelp, const std::string& strName) {
    const std::string strRow = "\n  " + strName;
    for (size_t nStart = strHelp.find(strRow); nStart != std::string::npos;
         nStart = strHelp.find(strRow, nStart + 1)) {
        const size_t nAfter = nStart + strRow.size();
        if (nAfter < strHelp.size() && strHelp[nAfter] != ' ' && strHelp[nAfter] != '\n')
            continue;
        size_t nEnd = strHelp.find('\n', nAfter);
        while (nEnd != std::string::npos && strHelp.compare(nEnd, 4, "\n   ") == 0)
            nEnd = strHelp.find('\n', nEnd + 1);
        return strHelp.substr(nStart + 1, nEnd == std::string::npos ? nEnd : nEnd - nStart - 1);
    }
    return std::string();
}

// An entry as one line: each line break and the indentation after it become one space, so that
// a meaning is found however the entry is wrapped.
std::string Unwrap(const std::string& strEntry) {
    std::string strLine;
    for (size_t i = 0; i < strEntry.size(); ++i) {
        if (strEntry[i] != '\n') {
            strLine += strEntry[i];
            continue;
        }
        strLine += ' ';
        while (i + 1 < strEntry.size() && strEntry[i + 1] == ' ')
            ++i;
    }
    return strLine;
}

struct SHelpOption {
    const char* pszName;                 // how the help's option list names it
    const char* pszMeaning;              // a part of what the entry says it does
    std::vector<std::string> arguments;  // a command line that uses it
};

struct SHelpExitCode {
    ECliExitCode eCode;
    const char* pszMeaning;  // a part of what its entry says
};

// What a user looks the help up for: every option has an entry of its own that says what it
// does, and the option works as named there; every exit code has an entry with its meaning, at
// the number the program returns for it.
TEST(CliCommandLine, HelpNamesEveryOptionAndExitCode) {
    const SHelpOption options[] = {
        {"--no-write", "never create or change the marker", {"--no-write"}},
        {"--app-specific APP", "for the application APP", {"--app-specific", "Vendor App"}},
        {"--verify ID", "compare this computer's ID with ID", {"--verify", kLowerID}},
        {"--explain", "each fact that goes into the ID", {"--explain"}},
        {"--first-run", "make the marker where none is stored", {"--first-run"}},
        {"--json", "one JSON object", {"--json"}},
        {"--compare REPORT", "compare this computer with a report", {"--compare", "report.json"}},
        {"--new-marker CURRENT-ID",
         "replace the marker with a new random one",
         {"--new-marker", kLowerID}},
        {"--new-marker none",
         "make a marker only where no usable one is stored",
         {"--new-marker", "none"}},
        {"-h, --help, /?", "this text", {"--help"}},
        {"--version", "the version number", {"--version"}},
    };
    const SHelpExitCode codes[] = {
        {kExitSuccess, "success; with --verify or --compare: the IDs match"},
        {kExitDifferentID, "--verify or --compare: the IDs differ"},
        {kExitUsage, "the command line, or the report to compare, is not valid"},
        {kExitNoRights, "no rights (access denied) to the marker key or the marker lock"},
        {kExitNoRights, "--first-run asks for one"},
        {kExitNoRights, "--first-run: the prompt was declined"},
        // --new-marker refuses --no-write: the entry must not send it there.
        {kExitNoRights, "--new-marker needs an administrator"},
        {kExitNoMarker, "there is no marker yet"},
        {kExitNoMarker, "--no-write, --explain, --verify or --compare may not"},
        // Not "run once without --no-write": that is exit 3 for a standard user.
        {kExitNoMarker, "an administrator must run idrovan-cli once"},
        {kExitNoMarker, "--new-marker CURRENT-ID: there is no marker to renew"},
        {kExitFailure, "a machine fact could not be read, the stored marker cannot be used"},
    };
    CUntouchableMachine machine;
    CConsoleOutput output;
    ASSERT_EQ(kExitSuccess, RunProgram({"--help"}, machine, &output));
    const std::string strHelp = output.out.GetText();
    for (const SHelpOption& option : options) {
        SCOPED_TRACE(option.pszName);
        EXPECT_NE(std::string::npos,
                  Unwrap(HelpEntry(strHelp, option.pszName)).find(option.pszMeaning))
            << strHelp;
        CCommandLine line;
        std::string strError;
        EXPECT_TRUE(Parse(option.arguments, &line, &strError)) << strError;
    }
    for (const SHelpExitCode& code : codes) {
        SCOPED_TRACE(code.pszMeaning);
        const std::string strEntry = HelpEntry(strHelp, std::to_string(code.eCode));
        EXPECT_NE(std::string::npos, Unwrap(strEntry).find(code.pszMeaning)) << strHelp;
    }
    EXPECT_EQ(std::string::npos, HelpEntry(strHelp, "3").find("try --no-write")) << strHelp;
    // --no-write leads nowhere without a marker: no entry sends a user there.
    EXPECT_EQ(std::string::npos, strHelp.find("without --no-write")) << strHelp;
    EXPECT_EQ(std::string::npos, HelpEntry(strHelp, "3").find("--no-write")) << strHelp;
    // The key named is the one that is read, the machine's.
    EXPECT_NE(std::string::npos, strHelp.find("HKEY_LOCAL_MACHINE\\Software\\Classes\\lrgDocID"))
        << strHelp;
    EXPECT_EQ(std::string::npos, strHelp.find("HKEY_CLASSES_ROOT")) << strHelp;
    // Every option that goes with --compare is in its usage line.
    EXPECT_NE(std::string::npos, std::string(GetUsageText())
                                     .find("\n       idrovan-cli [--no-write] "
                                           "[--json] --compare REPORT\n"));
    // Some hosts report a crashed program with 5, so the program never returns it.
    EXPECT_NE(std::string::npos, HelpEntry(strHelp, "5").find("5 is never used"));
}

// The help and the version need no machine either; every spelling of the help gives the text
// checked above, within 80 columns.
TEST(CliCommandLine, HelpAndVersion) {
    CUntouchableMachine machine;
    CConsoleOutput output;
    ASSERT_EQ(kExitSuccess, RunProgram({"--help"}, machine, &output));
    const std::string strHelp = output.out.GetText();
    ASSERT_FALSE(strHelp.empty());
    for (const char* pszSpelling : {"/?", "-h", "-H", "--HELP"}) {
        ASSERT_EQ(kExitSuccess, RunProgram({pszSpelling}, machine, &output)) << pszSpelling;
        EXPECT_EQ(strHelp, output.out.GetText()) << pszSpelling;
        EXPECT_STREQ("", output.err.GetText()) << pszSpelling;
    }
    std::istringstream lines(strHelp);
    for (std::string strLine; std::getline(lines, strLine);) {
        EXPECT_LT(strLine.size(), 80u) << strLine;
        EXPECT_TRUE(IsPrintableAsciiLine(strLine)) << strLine;
    }
    EXPECT_EQ('\n', strHelp.back());

    ASSERT_EQ(kExitSuccess, RunProgram({"--VERSION"}, machine, &output));
    EXPECT_STREQ(IDROVAN_VERSION_TEXT "\n", output.out.GetText());
    EXPECT_STREQ("", output.err.GetText());
    EXPECT_EQ(0, machine.m_nCalls);
}

// --new-marker takes this computer's current ID or none (either case), goes with --json alone,
// has no short form, and is named in the help; every other use is refused before anything runs.
TEST(CliCommandLine, NewMarkerTakesAnIDOrNoneAndGoesWithJsonAlone) {
    const struct {
        std::vector<std::string> arguments;
        const char* pszCurrentID;
        bool bJson;
    } valid[] = {
        {{"--new-marker", kUpperID}, kUpperID, false},
        {{"--NEW-MARKER", "none"}, "", false},
        {{"--new-marker", "NONE", "--json"}, "", true},
        {{"--Json", "--new-marker", kLowerID}, kLowerID, true},
    };
    for (const auto& c : valid) {
        SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1]);
        CCommandLine line;
        std::string strError;
        ASSERT_TRUE(Parse(c.arguments, &line, &strError)) << strError;
        EXPECT_EQ(kCommandNewMarker, line.eCommand);
        EXPECT_STREQ(c.pszCurrentID, line.szCurrentID);
        EXPECT_EQ(c.bJson, line.bJson);
        EXPECT_FALSE(line.bReadOnly);
    }

    const SMalformedCase malformed[] = {
        {{"--new-marker"}, "--new-marker needs this computer's current ID, or none"},
        {{"--new-marker", "0123"}, "32 hexadecimal digits or none, not '0123'"},
        {{"--new-marker", "nothing"}, "32 hexadecimal digits or none, not 'nothing'"},
        {{"--new-marker", "--json"}, "32 hexadecimal digits or none, not '--json'"},
        {{"--new-marker", "none", "--new-marker", "none"}, "--new-marker is given twice"},
        {{"--new-marker", "none", "--no-write"}, "--new-marker goes with no other option but"},
        {{"--explain", "--new-marker", "none"}, "--new-marker goes with no other option but"},
        {{"--new-marker", kLowerID, "--verify", kLowerID}, "--new-marker goes with no other"},
        {{"--new-marker", "none", "--app-specific", "a"}, "--new-marker goes with no other"},
        {{"--new-marker", "none", "--help"}, "--help goes with no other argument"},
        {{"-n", "none"}, "unknown argument '-n'"},
        {{"--new-marker=none"}, "unknown argument"},
    };
    for (const SMalformedCase& c : malformed) {
        SCOPED_TRACE(c.arguments[0] + " " + (c.arguments.size() > 1 ? c.arguments[1] : ""));
        CUntouchableMachine machine;
        CConsoleOutput output;
        EXPECT_EQ(kExitUsage, RunProgram(c.arguments, machine, &output));
        EXPECT_EQ(0, machine.m_nCalls);
        EXPECT_STREQ("", output.out.GetText());
        EXPECT_NE(std::string::npos, std::string(output.err.GetText()).find(c.pszMessage))
            << output.err.GetText();
    }

    const std::string strHelp = GetHelpText();
    for (const char* pszText : {"--new-marker CURRENT-ID", "--new-marker none"})
        EXPECT_NE(std::string::npos, strHelp.find(pszText)) << pszText;
    EXPECT_NE(std::string::npos, std::string(GetUsageText()).find("--new-marker"));
}

}  // namespace
