// The console program, from its arguments to its exit code and output, on a scripted machine of
// any kind: facts that fail or take odd values, a marker of any type and length (or none), a
// registry that refuses, loses or fails writes, a marker lock that is refused, times out or was
// abandoned, a marker written by another process while this one waits for the lock, a marker key
// with loose security that may or may not be reset, a per-user key, a failing random source.
// The arguments mix the program's own option tokens (in any case), IDs (the machine's own among
// them), file and device names, raw bytes, and UTF-16 arguments (unpaired surrogates included)
// turned into UTF-8 as the Windows entry point does. --compare reads through a scripted file
// that serves a report the machine itself wrote, one it wrote before a fact or the marker
// changed, a re-encoded or altered one, or any bytes, and fails in each way the real one can;
// --first-run meets a scripted elevation; the system's status texts are any bytes; and one
// allocation may fail anywhere in the run.
//
// After each input:
// - the exit code is a documented one, keys are closed and the lock released;
// - every output is well-formed UTF-8 without control characters but line breaks, and never
//   holds the stored marker; stderr starts with the program's name, and a refused command line
//   or report (exit 2) prints nothing on stdout;
// - an output that starts with '{' is exactly one line holding one valid JSON object, and stderr
//   is empty beside it;
// - an ID the run showed as the computer's is the one a read-only run gives afterwards;
// - the machine's own `--no-write --json` report reads back through ReadSavedReport with the same
//   ID (or is refused exactly when it holds none), and `--compare` of it on the same machine
//   gives exit 0 and that ID, without a write.
#include <fuzzer/FuzzedDataProvider.h>
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console_program.h"
#include "cli/saved_report.h"
#include "identification/drive_id.h"
#include "tests/unit/failing_allocation.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

namespace {

#define EXPECT(condition)                                                                       \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "console check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

// Prints what a failed check was about before it aborts.
#define EXPECT_TEXT(condition, text)                                             \
    do {                                                                         \
        if (!(condition)) {                                                      \
            std::fprintf(stderr, "-- about: [%s]\n", std::string(text).c_str()); \
            EXPECT(condition);                                                   \
        }                                                                        \
    } while (0)

// The system's status texts: any bytes, or none.
class CFuzzedMessages : public CStatusMessages {
public:
    std::string m_strText;
    bool m_bHasText = false;

    void AppendStatusText(long nStatus, CTextBuilder* pText) override {
        if (m_bHasText && nStatus != 0)
            pText->Append(m_strText.c_str());
    }
};

// The report file: serves m_strContent, and fails the way a real file can: it does not open (with
// a reason of one printable line, as the real one gives), it is not a disk file, a read fails
// after some reads, or the reads come back short.
class CFuzzedReportFile : public CReportFile {
public:
    std::string m_strContent;
    bool m_bOpens = true;
    std::string m_strWhy;
    bool m_bDiskFile = true;
    int m_nFailingRead = -1;   // the read (counted from 0) that fails; -1: none
    std::size_t m_nChunk = 0;  // most bytes one read gives; 0: all that is asked for
    bool m_bOpen = false;
    int m_nReads = 0;
    int m_nOpens = 0;
    std::size_t m_nOffset = 0;

    bool Open(const char* pszName, CTextBuilder* pWhy) override {
        EXPECT(!m_bOpen);
        EXPECT(pszName != nullptr && pszName[0] != '\0');
        ++m_nOpens;
        if (!m_bOpens) {
            pWhy->Append(m_strWhy.c_str());
            return false;
        }
        m_bOpen = true;
        m_nOffset = 0;
        return true;
    }
    bool IsDiskFile() override {
        EXPECT(m_bOpen);
        return m_bDiskFile;
    }
    bool Read(char* pBuffer, std::size_t nSize, std::size_t* pnRead) override {
        // Only a disk file is ever read.
        EXPECT(m_bOpen && m_bDiskFile);
        EXPECT(nSize > 0);
        if (m_nReads++ == m_nFailingRead)
            return false;
        std::size_t n = std::min(nSize, m_strContent.size() - m_nOffset);
        if (m_nChunk != 0)
            n = std::min(n, m_nChunk);
        std::memcpy(pBuffer, m_strContent.data() + m_nOffset, n);
        m_nOffset += n;
        *pnRead = n;
        return true;
    }
    void Close() override { m_bOpen = false; }
};

int RunOnce(const std::vector<std::string>& arguments, CMachineFacts& machine,
            CStatusMessages& messages, CReportFile& file, CElevation& elevation,
            CConsoleOutput* pOutput);

// The elevation --first-run asks for: this process elevated or not; the elevated run declined,
// not started, ending with a given code, or the plain program run on the same machine (which a
// change of the machine's rights may precede).
class CFuzzedElevation : public CElevation {
public:
    explicit CFuzzedElevation(CScriptedMachineFacts& machine) : m_machine(machine) {}

    bool m_bElevated = false;
    long m_nStartStatus = 0;  // not 0: the run never started
    bool m_bRunsProgram = true;
    long m_nExitCode = 0;  // without the program run
    bool m_bGrantsRights = false;
    int m_nRuns = 0;

    bool IsElevated() override { return m_bElevated; }

    bool RunElevated(long* pnExitCode, long* pnStatus) override {
        ++m_nRuns;
        if (m_nStartStatus != 0) {
            *pnStatus = m_nStartStatus;
            return false;
        }
        if (!m_bRunsProgram) {
            *pnExitCode = m_nExitCode;
            return true;
        }
        if (m_bGrantsRights) {
            m_machine.m_nOpenStatus = VERROR_SUCCESS;
            m_machine.m_nCreateStatus = VERROR_SUCCESS;
            m_machine.m_bKeyReadOnly = false;
            if (m_machine.m_nLockStatus == VERROR_ACCESS_DENIED)
                m_machine.m_nLockStatus = VERROR_SUCCESS;
        }
        CFuzzedMessages messages;
        CFuzzedReportFile file;
        CConsoleOutput output;
        *pnExitCode = RunOnce({}, m_machine, messages, file, *this, &output);
        return true;
    }

private:
    CScriptedMachineFacts& m_machine;
};

int RunOnce(const std::vector<std::string>& arguments, CMachineFacts& machine,
            CStatusMessages& messages, CReportFile& file, CElevation& elevation,
            CConsoleOutput* pOutput) {
    std::vector<const char*> pointers;
    for (const std::string& strArgument : arguments)
        pointers.push_back(strArgument.c_str());
    return RunConsoleProgram(static_cast<int>(pointers.size()), pointers.data(), machine, messages,
                             file, elevation, pOutput);
}

// Well-formed UTF-8 as the Unicode standard's table of byte sequences lists it.
bool IsWellFormedUtf8(const std::string& strText) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(strText.data());
    const std::size_t n = strText.size();
    auto in = [&](std::size_t i, unsigned lo, unsigned hi) {
        return i < n && p[i] >= lo && p[i] <= hi;
    };
    for (std::size_t i = 0; i < n;) {
        const unsigned b = p[i];
        if (b < 0x80) {
            i += 1;
        } else if (b >= 0xC2 && b <= 0xDF && in(i + 1, 0x80, 0xBF)) {
            i += 2;
        } else if (b == 0xE0 && in(i + 1, 0xA0, 0xBF) && in(i + 2, 0x80, 0xBF)) {
            i += 3;
        } else if (((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) && in(i + 1, 0x80, 0xBF) &&
                   in(i + 2, 0x80, 0xBF)) {
            i += 3;
        } else if (b == 0xED && in(i + 1, 0x80, 0x9F) && in(i + 2, 0x80, 0xBF)) {
            i += 3;
        } else if (b == 0xF0 && in(i + 1, 0x90, 0xBF) && in(i + 2, 0x80, 0xBF) &&
                   in(i + 3, 0x80, 0xBF)) {
            i += 4;
        } else if (b >= 0xF1 && b <= 0xF3 && in(i + 1, 0x80, 0xBF) && in(i + 2, 0x80, 0xBF) &&
                   in(i + 3, 0x80, 0xBF)) {
            i += 4;
        } else if (b == 0xF4 && in(i + 1, 0x80, 0x8F) && in(i + 2, 0x80, 0xBF) &&
                   in(i + 3, 0x80, 0xBF)) {
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

// UTF-16 to UTF-8 the textbook way; false for an unpaired surrogate.
bool ReferenceUtf8(const std::vector<std::uint16_t>& units, std::string* pOut) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        std::uint32_t c = units[i];
        if (c >= 0xDC00 && c <= 0xDFFF)
            return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        if (c < 0x80) {
            pOut->push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            pOut->push_back(static_cast<char>(0xC0 | (c >> 6)));
            pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            pOut->push_back(static_cast<char>(0xE0 | (c >> 12)));
            pOut->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            pOut->push_back(static_cast<char>(0xF0 | (c >> 18)));
            pOut->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            pOut->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            pOut->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

// Takes note of the top level's "id" while rapidjson checks the whole text.
class CIDHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, CIDHandler> {
public:
    int m_nDepth = 0;
    bool m_bIDKey = false;
    bool m_bHasID = false;
    bool m_bIDNull = false;
    std::string m_strID;

    bool Default() {
        m_bIDKey = false;
        return true;
    }
    bool Null() {
        if (m_bIDKey)
            m_bIDNull = true;
        return Default();
    }
    bool String(const char* pText, rapidjson::SizeType nLength, bool) {
        if (m_bIDKey) {
            m_bHasID = true;
            m_strID.assign(pText, nLength);
        }
        return Default();
    }
    bool Key(const char* pText, rapidjson::SizeType nLength, bool) {
        m_bIDKey = m_nDepth == 1 && std::string(pText, nLength) == "id";
        return true;
    }
    bool StartObject() {
        ++m_nDepth;
        return Default();
    }
    bool EndObject(rapidjson::SizeType) {
        --m_nDepth;
        return Default();
    }
};

// One JSON object on one line; its top-level "id" in *pHandler.
void ExpectJsonLine(const std::string& strOut, CIDHandler* pHandler) {
    EXPECT_TEXT(strOut.size() >= 3 && strOut.back() == '\n', strOut);
    EXPECT_TEXT(strOut.find('\n') == strOut.size() - 1, strOut);
    // In place on a copy with zero bytes behind (rapidjson takes a multi-byte character's bytes
    // before it looks at them); its own stack is then never used.
    std::vector<char> text(strOut.begin(), strOut.end());
    text.insert(text.end(), 4, '\0');
    rapidjson::InsituStringStream input(text.data());
    rapidjson::Reader reader;
    const rapidjson::ParseResult result =
        reader.Parse<rapidjson::kParseInsituFlag | rapidjson::kParseValidateEncodingFlag |
                     rapidjson::kParseStopWhenDoneFlag>(input, *pHandler);
    EXPECT_TEXT(!result.IsError(), strOut + " / " + rapidjson::GetParseError_En(result.Code()));
    // Nothing but the line break after the object.
    EXPECT_TEXT(input.Tell() == strOut.size() - 1, strOut);
}

// Output a person or a script reads: UTF-8, no control characters but line breaks.
void ExpectCleanText(const std::string& strText) {
    EXPECT_TEXT(IsWellFormedUtf8(strText), strText);
    for (char c : strText)
        EXPECT_TEXT(c == '\n' || static_cast<unsigned char>(c) >= 0x20, strText);
    EXPECT_TEXT(strText.find('\x7F') == std::string::npos, strText);
}

bool IsComputerID(const std::string& strText) {
    return strText.size() == 32 &&
           strText.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool IsDocumentedExitCode(int nExitCode) {
    return nExitCode == 0 || nExitCode == 1 || nExitCode == 2 || nExitCode == 3 || nExitCode == 4 ||
           nExitCode == 6;
}

long LockStatus(FuzzedDataProvider& input) {
    static const long kStatuses[] = {VERROR_WAIT_TIMEOUT, VERROR_ACCESS_DENIED, 127, 698, 1359};
    const std::size_t nPick = input.ConsumeIntegralInRange<std::size_t>(0, 5);
    return nPick < 5 ? kStatuses[nPick] : input.ConsumeIntegral<std::int32_t>();
}

long RegistryStatus(FuzzedDataProvider& input) {
    static const long kStatuses[] = {VERROR_ACCESS_DENIED, VERROR_FILE_NOT_FOUND,
                                     VERROR_NOT_ENOUGH_MEMORY, 1018, 1021};
    const std::size_t nPick = input.ConsumeIntegralInRange<std::size_t>(0, 5);
    const long nStatus = nPick < 5 ? kStatuses[nPick] : input.ConsumeIntegral<std::int32_t>();
    return nStatus == VERROR_SUCCESS ? VERROR_ACCESS_DENIED : nStatus;
}

// A marker value: the hand marker, one of any type and bytes, or one too long to use.
void StoreMarker(FuzzedDataProvider& input, CScriptedMachineFacts& machine) {
    switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            machine.m_bKeyExists = true;  // a key without the value
            break;
        case 1:
            machine.SetMarker(VREG_SZ, std::string(300, '7'));
            break;
        case 2:
            machine.SetMarker(
                input.ConsumeBool() ? VREG_SZ : input.ConsumeIntegral<std::uint32_t>(),
                input.ConsumeRandomLengthString(300));
            break;
        default:
            machine.SetMarker(VREG_SZ, kHandMarker);
            break;
    }
}

// Every setting of the machine, each usually the sound one.
void ConfigureMachine(FuzzedDataProvider& input, CScriptedMachineFacts& machine) {
    machine.m_nCreationTime = kRootCreated;
    machine.m_nNow = kNow;
    if (input.ConsumeBool())
        StoreMarker(input, machine);
    const std::uint32_t nFaults = input.ConsumeBool() ? input.ConsumeIntegral<std::uint32_t>() : 0;
    auto fault = [&](int nBit) { return (nFaults >> nBit) & 1; };
    if (fault(0)) {
        machine.m_strWindowsDirectory = input.ConsumeRandomLengthString(280);
        if (!machine.m_strWindowsDirectory.empty() && input.ConsumeBool())
            machine.m_strRoot = std::string(1, machine.m_strWindowsDirectory[0]) + ":\\";
    }
    if (fault(1))
        machine.m_bVolumeFails = true;
    if (fault(2)) {
        machine.m_nSerialNumber = input.ConsumeIntegral<std::uint32_t>();
        machine.m_strFileSystem = input.ConsumeRandomLengthString(40);
    }
    if (fault(3))
        machine.m_bCreationTimeFails = true;
    if (fault(4))
        machine.m_nCreationTime = input.ConsumeIntegral<VFILETIME>();
    if (fault(5))
        machine.m_unconvertibleTimes.insert(machine.m_nCreationTime);
    if (fault(6))
        machine.m_nOpenStatus = RegistryStatus(input);
    if (fault(7))
        machine.m_nCreateStatus = RegistryStatus(input);
    if (fault(8))
        machine.m_bCreateYieldsNullKey = true;
    if (fault(9))
        machine.m_bSetIsLost = true;
    if (fault(10))
        machine.m_nSetStatus = RegistryStatus(input);
    if (fault(11))
        machine.m_bKeyReadOnly = true;
    if (fault(12))
        machine.m_bUserKeyExists = true;
    if (fault(13))
        machine.m_eKeyTrust = static_cast<EKeyTrust>(input.ConsumeIntegralInRange<int>(0, 3));
    if (fault(14))
        machine.m_nDeleteStatus = RegistryStatus(input);
    if (fault(15))
        machine.m_nLastError = input.ConsumeIntegral<std::int32_t>();
    if (fault(16))
        machine.m_bRandomFails = true;
    if (fault(17))
        machine.m_strRandom = input.ConsumeRandomLengthString(20);
    if (fault(18))
        machine.m_nLockStatus = LockStatus(input);
    if (fault(19))
        machine.m_bLockAbandoned = true;
    if (fault(20))
        machine.m_chFileSystemFill = static_cast<char>(input.ConsumeIntegralInRange<int>(1, 255));
}

// Another process that stores a marker (or a value too long to use) while this one waits for
// the marker lock: what it finds under the lock must be read again, never written over.
void ArrangeRacingWriter(FuzzedDataProvider& input, CScriptedMachineFacts& machine) {
    if (!input.ConsumeBool())
        return;
    const bool bTooLong = input.ConsumeBool();
    auto bDone = std::make_shared<bool>(false);
    CScriptedMachineFacts* pMachine = &machine;
    machine.m_beforeCall = [pMachine, bTooLong, bDone](const std::string& strCall) {
        if (*bDone || strCall.compare(0, 17, "AcquireMarkerLock") != 0)
            return;
        *bDone = true;
        pMachine->SetMarker(VREG_SZ, bTooLong ? std::string(261, 'e') : std::string(kHandMarker));
    };
}

// A copy of the machine as it is, without its recorded calls and hooks, for side runs.
CScriptedMachineFacts Snapshot(const CScriptedMachineFacts& machine) {
    CScriptedMachineFacts copy;
    copy.m_strWindowsDirectory = machine.m_strWindowsDirectory;
    copy.m_strRoot = machine.m_strRoot;
    copy.m_bVolumeFails = machine.m_bVolumeFails;
    copy.m_nSerialNumber = machine.m_nSerialNumber;
    copy.m_strFileSystem = machine.m_strFileSystem;
    copy.m_chFileSystemFill = machine.m_chFileSystemFill;
    copy.m_bCreationTimeFails = machine.m_bCreationTimeFails;
    copy.m_nCreationTime = machine.m_nCreationTime;
    copy.m_nNow = machine.m_nNow;
    copy.m_unconvertibleTimes = machine.m_unconvertibleTimes;
    copy.m_bKeyExists = machine.m_bKeyExists;
    copy.m_bValueExists = machine.m_bValueExists;
    copy.m_nValueType = machine.m_nValueType;
    copy.m_strValueData = machine.m_strValueData;
    copy.m_nOpenStatus = machine.m_nOpenStatus;
    copy.m_nCreateStatus = machine.m_nCreateStatus;
    copy.m_bCreateYieldsNullKey = machine.m_bCreateYieldsNullKey;
    copy.m_bSetIsLost = machine.m_bSetIsLost;
    copy.m_nSetStatus = machine.m_nSetStatus;
    copy.m_bKeyReadOnly = machine.m_bKeyReadOnly;
    copy.m_bUserKeyExists = machine.m_bUserKeyExists;
    copy.m_eKeyTrust = machine.m_eKeyTrust;
    copy.m_nDeleteStatus = machine.m_nDeleteStatus;
    copy.m_nLastError = machine.m_nLastError;
    copy.m_bRandomFails = machine.m_bRandomFails;
    copy.m_strRandom = machine.m_strRandom;
    copy.m_nLockStatus = machine.m_nLockStatus;
    copy.m_bLockAbandoned = machine.m_bLockAbandoned;
    return copy;
}

// The computer's ID as a read-only run finds it now; empty without one.
std::string ReadOnlyID(const CScriptedMachineFacts& machine) {
    CScriptedMachineFacts copy = Snapshot(machine);
    CDriveID driveID(copy, kMarkerReadOnly);
    return driveID.GetID().GetText();
}

// `--no-write --json` on the machine as it is: the report it writes of itself.
std::string OwnReport(const CScriptedMachineFacts& machine, int* pnExitCode) {
    CScriptedMachineFacts copy = Snapshot(machine);
    CFuzzedMessages messages;
    CFuzzedReportFile file;
    CFuzzedElevation elevation(copy);
    CConsoleOutput output;
    *pnExitCode = RunOnce({"--no-write", "--json"}, copy, messages, file, elevation, &output);
    return output.out.GetText();
}

std::string ToUtf16(const std::string& strUtf8, bool bBigEndian) {
    // The reports here are ASCII but for what the fuzzer alters; others go through as bytes.
    std::string out = bBigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : strUtf8) {
        out.push_back(bBigEndian ? '\0' : c);
        out.push_back(bBigEndian ? c : '\0');
    }
    return out;
}

// The report of this machine once a fact or the marker changed: the volume (a new serial), the
// root's creation time (Windows installed again), the marker, or all of them.
std::string ChangedMachineReport(FuzzedDataProvider& input, const CScriptedMachineFacts& machine) {
    CScriptedMachineFacts changed = Snapshot(machine);
    const int nChanges = input.ConsumeIntegralInRange<int>(1, 7);
    if (nChanges & 1)
        changed.m_nSerialNumber += 1;
    if (nChanges & 2)
        changed.m_nCreationTime += 10000000;
    if (nChanges & 4)
        changed.SetMarker(VREG_SZ,
                          changed.m_strValueData == kHandMarker ? kNewMarker : kHandMarker);
    int nExitCode = 0;
    return OwnReport(changed, &nExitCode);
}

// What --compare's file serves: the machine's own report as it is, another's, re-encoded, padded
// toward the size limit, with a key of the other layout, or any bytes.
std::string ReportContent(FuzzedDataProvider& input, const CScriptedMachineFacts& machine,
                          const std::string& strOwn) {
    std::string strReport = strOwn.empty() ? std::string("{}\n") : strOwn;
    switch (input.ConsumeIntegralInRange<int>(0, 8)) {
        case 0:
            return strReport;
        case 7:
            return ChangedMachineReport(input, machine);
        case 1:
            return "\xEF\xBB\xBF" + strReport;
        case 2:
            return ToUtf16(strReport, input.ConsumeBool());
        case 3: {
            // Spaces up to, at or just past the limit.
            const std::size_t nTarget =
                kMaxSavedReportSize - 8 + input.ConsumeIntegralInRange<std::size_t>(0, 16);
            if (strReport.size() < nTarget)
                strReport.insert(strReport.size() - 1, nTarget - strReport.size(), ' ');
            return strReport;
        }
        case 4: {
            // The old layout's key in the current one.
            const std::size_t nAt = strReport.find('{');
            if (nAt != std::string::npos)
                strReport.insert(nAt + 1, "\"volume\":\"5A3C00F1NTFS\",");
            return strReport;
        }
        case 5: {
            // One byte changed.
            if (!strReport.empty()) {
                const std::size_t nAt =
                    input.ConsumeIntegralInRange<std::size_t>(0, strReport.size() - 1);
                strReport[nAt] = static_cast<char>(input.ConsumeIntegral<std::uint8_t>());
            }
            return strReport;
        }
        default:
            return input.ConsumeRandomLengthString(kMaxSavedReportSize + 16);
    }
}

// One UTF-16 argument (any units but zero, surrogates halves often) turned into UTF-8 by the
// entry point's conversion, checked against the textbook one.
std::string WideArgument(FuzzedDataProvider& input) {
    std::vector<std::uint16_t> units;
    const std::size_t nUnits = input.ConsumeIntegralInRange<std::size_t>(0, 24);
    for (std::size_t i = 0; i < nUnits && input.remaining_bytes() > 0; ++i) {
        std::uint16_t nUnit = input.ConsumeIntegral<std::uint16_t>();
        switch (nUnit >> 14) {
            case 0:
                nUnit = static_cast<std::uint16_t>(0xD800 + (nUnit & 0x7FF));  // a surrogate
                break;
            case 1:
                nUnit = static_cast<std::uint16_t>(0x20 + (nUnit & 0x5F));  // ASCII
                break;
            case 2:
                nUnit = static_cast<std::uint16_t>(0x80 + (nUnit & 0x77F));  // two bytes of UTF-8
                break;
            default:
                break;  // three bytes, or a surrogate of its own
        }
        units.push_back(nUnit == 0 ? 0x41 : nUnit);
    }
    std::vector<wchar_t> wide(units.begin(), units.end());
    wide.push_back(L'\0');
    const std::size_t nBytes = ArgumentToUtf8(wide.data(), nullptr);
    std::vector<char> utf8(nBytes + 1, '\x5A');
    EXPECT(ArgumentToUtf8(wide.data(), utf8.data()) == nBytes);
    EXPECT(utf8[nBytes] == '\x5A');  // not a byte past the size it gave
    EXPECT(nBytes >= 1 && utf8[nBytes - 1] == '\0');
    const std::string strArgument(utf8.data(), nBytes - 1);
    std::string strReference;
    if (ReferenceUtf8(units, &strReference)) {
        EXPECT(strArgument == strReference);
    } else {
        // An unpaired surrogate marks the argument as never UTF-8.
        EXPECT(strArgument.find('\xFF') != std::string::npos);
        EXPECT(!IsWellFormedUtf8(strArgument));
    }
    return strArgument;
}

std::string InAnyCase(FuzzedDataProvider& input, std::string strText) {
    if (input.ConsumeIntegralInRange<int>(0, 3) == 0) {
        for (char& c : strText) {
            if (input.ConsumeBool())
                c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        }
    }
    return strText;
}

std::string Argument(FuzzedDataProvider& input, const std::string& strID) {
    static const char* const kTokens[] = {
        "--json",
        "--explain",
        "--verify",
        "--no-write",
        "--app-specific",
        "--compare",
        "--new-marker",
        "--first-run",
        "--help",
        "-h",
        "/?",
        "--version",
        "none",
        "-",
        "report.json",
        "COM1",
        "nul.json",
        "\\\\.\\pipe\\r",
        "Contoso Ledger",
        "--",
        "",
        "--JSON=1",
    };
    const std::size_t nTokens = sizeof(kTokens) / sizeof(kTokens[0]);
    const std::size_t nPick = input.ConsumeIntegralInRange<std::size_t>(0, nTokens + 5);
    if (nPick < nTokens)
        return InAnyCase(input, kTokens[nPick]);
    switch (nPick - nTokens) {
        case 0:
            return InAnyCase(input, strID.empty() ? std::string(kIDWithHandMarker) : strID);
        case 1:
            return kIDWithNewMarker;
        case 2:
            return std::string(32, 'f');
        case 3:
            return WideArgument(input);
        default:
            return input.ConsumeRandomLengthString(80);
    }
}

struct SMainRun {
    std::vector<std::string> arguments;
    int nExitCode = 0;
    std::string strOut;
    std::string strErr;
};

bool HasArgument(const std::vector<std::string>& arguments, const char* pszOption) {
    for (const std::string& strArgument : arguments) {
        if (strcasecmp(strArgument.c_str(), pszOption) == 0)
            return true;
    }
    return false;
}

void ExpectMachineLeftClean(const CScriptedMachineFacts& machine) {
    EXPECT(machine.m_openKeys.empty());
    EXPECT(machine.m_nBadCloses == 0);
    EXPECT(machine.m_nBadLockCalls == 0);
    EXPECT(!machine.IsLockHeld());
}

// strEchoed: what the system's texts (status messages, a file's reason) may show: echoed, as
// they should be.
void ExpectSoundOutput(const SMainRun& run, const std::string& strMarker,
                       const std::string& strEchoed) {
    EXPECT_TEXT(IsDocumentedExitCode(run.nExitCode), run.strErr);
    ExpectCleanText(run.strOut);
    ExpectCleanText(run.strErr);
    // Every run says something.
    EXPECT(!run.strOut.empty() || !run.strErr.empty());
    // The stored marker never shows, unless the command line or a status text itself held it.
    if (strMarker.size() >= 16) {
        bool bGiven = strEchoed.find(strMarker) != std::string::npos;
        for (const std::string& strArgument : run.arguments)
            bGiven = bGiven || strArgument.find(strMarker) != std::string::npos;
        if (!bGiven) {
            EXPECT_TEXT(run.strOut.find(strMarker) == std::string::npos, run.strOut);
            EXPECT_TEXT(run.strErr.find(strMarker) == std::string::npos, run.strErr);
        }
    }
    // What goes to stderr names the program first; a refused command line or report is never
    // answered on stdout.
    EXPECT_TEXT(run.strErr.empty() || run.strErr.compare(0, 13, "idrovan-cli: ") == 0, run.strErr);
    if (run.nExitCode == 2)
        EXPECT_TEXT(run.strOut.empty(), run.strOut);
    if (!run.strOut.empty() && run.strOut[0] == '{') {
        CIDHandler handler;
        ExpectJsonLine(run.strOut, &handler);
        // Scripts read the object alone.
        EXPECT_TEXT(run.strErr.empty(), run.strErr);
        if (handler.m_bHasID)
            EXPECT_TEXT(handler.m_strID.size() == 32, run.strOut);
    }
}

// The ID this run showed as the computer's own, when it showed one; empty otherwise.
std::string ShownComputerID(const SMainRun& run) {
    if (run.nExitCode != 0 || HasArgument(run.arguments, "--app-specific"))
        return std::string();
    if (HasArgument(run.arguments, "--help") || HasArgument(run.arguments, "-h") ||
        HasArgument(run.arguments, "/?") || HasArgument(run.arguments, "--version"))
        return std::string();
    if (!run.strOut.empty() && run.strOut[0] == '{') {
        CIDHandler handler;
        ExpectJsonLine(run.strOut, &handler);
        return handler.m_strID;
    }
    if (run.arguments.empty() ||
        (run.arguments.size() == 1 &&
         (HasArgument(run.arguments, "--no-write") || HasArgument(run.arguments, "--first-run")))) {
        EXPECT_TEXT(run.strOut.size() == 33 && IsComputerID(run.strOut.substr(0, 32)), run.strOut);
        return run.strOut.substr(0, 32);
    }
    return std::string();
}

// The machine's own report reads back with its ID, and compares equal on the same machine.
void ExpectOwnReportRoundTrips(CScriptedMachineFacts& machine) {
    int nExitCode = 0;
    const std::string strReport = OwnReport(machine, &nExitCode);
    EXPECT(IsDocumentedExitCode(nExitCode));
    CIDHandler handler;
    ExpectJsonLine(strReport, &handler);
    EXPECT((nExitCode == 0) == (handler.m_bHasID && IsComputerID(handler.m_strID)));
    EXPECT(nExitCode == 0 || handler.m_bIDNull);

    CSavedReport report;
    CTextBuilder error;
    const bool bRead = ReadSavedReport(strReport.data(), strReport.size(), &report, &error);
    EXPECT_TEXT(bRead == (nExitCode == 0), strReport + error.GetText());
    if (!bRead)
        return;
    EXPECT(report.nFormat == 2);
    EXPECT(handler.m_strID == report.szID);

    const std::size_t nWrites = machine.m_writes.size();
    const int nCreates = machine.m_nCreateCalls;
    CFuzzedMessages messages;
    CFuzzedReportFile file;
    file.m_strContent = strReport;
    CFuzzedElevation elevation(machine);
    CConsoleOutput output;
    SMainRun compare;
    compare.arguments = {"--compare", "report.json", "--json"};
    compare.nExitCode = RunOnce(compare.arguments, machine, messages, file, elevation, &output);
    compare.strOut = output.out.GetText();
    compare.strErr = output.err.GetText();
    ExpectSoundOutput(compare, std::string(), std::string());
    EXPECT_TEXT(compare.nExitCode == 0, compare.strOut + compare.strErr);
    CIDHandler compared;
    ExpectJsonLine(compare.strOut, &compared);
    EXPECT_TEXT(compared.m_strID == report.szID, compare.strOut);
    EXPECT(machine.m_writes.size() == nWrites);
    EXPECT(machine.m_nCreateCalls == nCreates);
    EXPECT(!file.m_bOpen);
    ExpectMachineLeftClean(machine);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // "-" reads standard input, which a fuzzing run must never wait on.
    if (std::freopen("/dev/null", "r", stdin) == nullptr)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    FuzzedDataProvider input(pData, nSize);
    CScriptedMachineFacts machine;
    ConfigureMachine(input, machine);
    const std::string strStoredMarker = machine.m_bValueExists ? machine.m_strValueData : "";
    const std::string strIDBefore = ReadOnlyID(machine);

    SMainRun run;
    const std::size_t nArguments = input.ConsumeIntegralInRange<std::size_t>(0, 6);
    for (std::size_t i = 0; i < nArguments; ++i)
        run.arguments.push_back(Argument(input, strIDBefore));

    CFuzzedMessages messages;
    messages.m_bHasText = input.ConsumeBool();
    if (messages.m_bHasText)
        messages.m_strText = input.ConsumeRandomLengthString(120);

    CFuzzedReportFile file;
    int nOwnExitCode = 0;
    file.m_strContent = ReportContent(input, machine, OwnReport(machine, &nOwnExitCode));
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            // The system's reason, as the real file gives it: one printable line.
            file.m_bOpens = false;
            for (char c : input.ConsumeRandomLengthString(60))
                file.m_strWhy.push_back(c >= 0x20 && c <= 0x7E ? c : '?');
            break;
        case 1:
            file.m_bDiskFile = false;
            break;
        case 2:
            file.m_nFailingRead = input.ConsumeIntegralInRange<int>(0, 4);
            break;
        case 3:
            file.m_nChunk = input.ConsumeIntegralInRange<std::size_t>(1, 4096);
            break;
        default:
            break;
    }

    CFuzzedElevation elevation(machine);
    elevation.m_bElevated = input.ConsumeBool();
    switch (input.ConsumeIntegralInRange<int>(0, 4)) {
        case 0:
            elevation.m_nStartStatus = VERROR_CANCELLED;
            break;
        case 1:
            elevation.m_nStartStatus = RegistryStatus(input);
            break;
        case 2:
            elevation.m_bRunsProgram = false;
            elevation.m_nExitCode = input.ConsumeBool() ? input.ConsumeIntegralInRange<int>(0, 6)
                                                        : input.ConsumeIntegral<std::int32_t>();
            break;
        case 3:
            elevation.m_bGrantsRights = true;
            break;
        default:
            break;
    }

    ArrangeRacingWriter(input, machine);
    // One allocation fails: usually one of the first, where every run passes.
    int nFailIn = -1;
    if (input.ConsumeBool())
        nFailIn = input.ConsumeBool() ? input.ConsumeIntegralInRange<int>(0, 40)
                                      : input.ConsumeIntegralInRange<int>(0, 400);

    // "-" reads the same report from standard input.
    std::FILE* pStandardInput = nullptr;
    std::FILE* pSavedStdin = stdin;
    if (HasArgument(run.arguments, "-") && !file.m_strContent.empty()) {
        pStandardInput = fmemopen(&file.m_strContent[0], file.m_strContent.size(), "r");
        if (pStandardInput != nullptr)
            stdin = pStandardInput;
    }

    CConsoleOutput output;
    g_nFailIn = nFailIn;
    run.nExitCode = RunOnce(run.arguments, machine, messages, file, elevation, &output);
    g_nFailIn = -1;
    run.strOut = output.out.GetText();
    run.strErr = output.err.GetText();

    if (pStandardInput != nullptr) {
        stdin = pSavedStdin;
        std::fclose(pStandardInput);
        pStandardInput = nullptr;
    }
    machine.m_beforeCall = nullptr;

    ExpectMachineLeftClean(machine);
    EXPECT(!file.m_bOpen);
    ExpectSoundOutput(run, strStoredMarker, messages.m_strText + "\n" + file.m_strWhy);
    // The ID once shown is the ID a read-only run gives afterwards.
    const std::string strShown = ShownComputerID(run);
    if (!strShown.empty())
        EXPECT_TEXT(strShown == ReadOnlyID(machine), run.strOut);
    // Only --new-marker writes over a stored marker.
    if (!HasArgument(run.arguments, "--new-marker") && !strStoredMarker.empty() &&
        machine.m_nValueType == VREG_SZ && strIDBefore.size() == 32)
        EXPECT(machine.m_strValueData == strStoredMarker);

    ExpectOwnReportRoundTrips(machine);
    return 0;
}
