#include "cli/command_line.h"

#include <cstring>

#include "identification/application_id.h"

namespace {

// Long enough to recognise a mistyped option, short enough for one line of a terminal.
const std::size_t kMaxEchoedLength = 40;

bool IsPrintableAscii(const char* pszText) {
    for (const char* p = pszText; *p != '\0'; ++p) {
        const unsigned char uc = static_cast<unsigned char>(*p);
        if (uc < 0x20 || uc > 0x7E)
            return false;
    }
    return true;
}

// An argument quoted for a message; only called for printable ASCII.
void AppendEcho(const char* pszArgument, CTextBuilder* pError) {
    const std::size_t nLength = std::strlen(pszArgument);
    pError->Append('\'');
    if (nLength <= kMaxEchoedLength) {
        pError->Append(pszArgument);
        pError->Append('\'');
        return;
    }
    pError->Append(pszArgument, kMaxEchoedLength);
    pError->Append("...' (");
    pError->AppendNumber(static_cast<long>(nLength));
    pError->Append(" characters)");
}

bool Fail(CTextBuilder* pError, const char* pszFirst, const char* pszSecond = nullptr,
          const char* pszThird = nullptr) {
    pError->Append(pszFirst);
    pError->Append(pszSecond);
    pError->Append(pszThird);
    return false;
}

bool FailAt(CTextBuilder* pError, int nIndex, const char* pszProblem) {
    pError->Append("argument ");
    pError->AppendNumber(nIndex + 1);
    pError->Append(pszProblem);
    return false;
}

// The options that choose what is printed, in the spelling messages use.
const char* const kCommandOptions[] = {"--json", "--explain", "--verify"};
const ECliCommand kCommandOfOption[] = {kCommandJson, kCommandExplain, kCommandVerify};

// The stand-alone options.
const char* const kAloneOptions[] = {"--help", "-h", "/?", "--version", "--first-run"};

const char* const kApplicationOption = "--app-specific";
const char* const kCompareOption = "--compare";
const char* const kNewMarkerOption = "--new-marker";

// True for any option of this program. An option where a value should be means the value was
// left out (an empty variable in a script), not an application called "--json".
bool IsProgramOption(const char* pszArgument) {
    for (const char* pszOption : kAloneOptions) {
        if (IsOption(pszArgument, pszOption))
            return true;
    }
    for (const char* pszOption : kCommandOptions) {
        if (IsOption(pszArgument, pszOption))
            return true;
    }
    return IsOption(pszArgument, "--no-write") || IsOption(pszArgument, kApplicationOption) ||
           IsOption(pszArgument, kCompareOption) || IsOption(pszArgument, kNewMarkerOption);
}

// --compare takes the place of the command; of the others only --json goes with it, and turns
// its output into JSON. Comparing never writes.
bool UseCompare(CCommandLine* pLine, CTextBuilder* pError) {
    if (pLine->eCommand == kCommandExplain || pLine->eCommand == kCommandVerify) {
        return Fail(pError, kCompareOption, " and ",
                    pLine->eCommand == kCommandExplain ? "--explain exclude each other"
                                                       : "--verify exclude each other");
    }
    if (pLine->pszApplication != nullptr)
        return Fail(pError, kApplicationOption, " and --compare exclude each other");
    pLine->bCompareJson = pLine->eCommand == kCommandJson;
    pLine->eCommand = kCommandCompare;
    pLine->bReadOnly = true;
    return true;
}

// The value behind an option that takes one, given once. Another option where the value should
// be means that the value was left out.
bool TakeOptionValue(const char* pszOption, const char* pszNeeds, int nCount,
                     const char* const* ppArguments, int* pnIndex, const char** ppszValue,
                     CTextBuilder* pError) {
    if (*ppszValue != nullptr)
        return Fail(pError, pszOption, " is given twice");
    if (*pnIndex + 1 == nCount || IsProgramOption(ppArguments[*pnIndex + 1]))
        return Fail(pError, pszOption, pszNeeds);
    *ppszValue = ppArguments[++*pnIndex];
    return true;
}

// --new-marker's value: this computer's current ID, or none.
bool ParseCurrentID(int nCount, const char* const* ppArguments, int* pnIndex, CCommandLine* pLine,
                    CTextBuilder* pError) {
    if (*pnIndex + 1 == nCount)
        return Fail(pError, kNewMarkerOption, " needs this computer's current ID, or none");
    const char* pszID = ppArguments[++*pnIndex];
    if (IsOption(pszID, "none"))
        return true;
    if (!IsComputerIDText(pszID)) {
        Fail(pError, kNewMarkerOption, " needs an ID of 32 hexadecimal digits or none, not ");
        AppendEcho(pszID, pError);
        return false;
    }
    std::memcpy(pLine->szCurrentID, pszID, kComputerIDLength + 1);
    return true;
}

// The usage lines, which --help shows and a usage error ends with.
#define IDROVAN_CLI_USAGE                                                    \
    "usage: idrovan-cli [--no-write] [--app-specific APP] [--json]\n"        \
    "       idrovan-cli --explain\n"                                         \
    "       idrovan-cli [--app-specific APP] --verify ID\n"                  \
    "       idrovan-cli [--no-write] [--json] --compare REPORT\n"            \
    "       idrovan-cli --new-marker CURRENT-ID|none [--json]\n"             \
    "       idrovan-cli --first-run\n"                                       \
    "       idrovan-cli --verify-licence FILE --app APP --public-key KEYS\n" \
    "                   [--feature F] [--now TIME] [--json]\n"               \
    "       idrovan-cli --help | --version\n"

}  // namespace

bool IsOption(const char* pszArgument, const char* pszLowerOption) {
    for (;; ++pszArgument, ++pszLowerOption) {
        char c = *pszArgument;
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != *pszLowerOption)
            return false;
        if (c == '\0')
            return true;
    }
}

bool ParseCommandLine(int nCount, const char* const* ppArguments, CCommandLine* pCommandLine,
                      CTextBuilder* pError) {
    // Checked before any option is looked at, so that a non-ASCII ID behind --verify is reported
    // as what it is and no part of such an argument is ever echoed.
    for (int i = 0; i < nCount; ++i) {
        if (ppArguments[i][0] == '\0')
            return FailAt(pError, i, " is empty");
        // The application's name is UTF-8, checked as the DLL checks it, and never echoed.
        if (i > 0 && IsOption(ppArguments[i - 1], kApplicationOption) &&
            !IsProgramOption(ppArguments[i])) {
            if (IsApplicationName(ppArguments[i]))
                continue;
            FailAt(pError, i,
                   " is not an application name: UTF-8 without control characters, at most ");
            pError->AppendNumber(static_cast<long>(kMaxApplicationNameBytes));
            return Fail(pError, " bytes");
        }
        if (IsPrintableAscii(ppArguments[i]))
            continue;
        FailAt(pError, i, " holds a character that is not printable ASCII");
        // A report's file name may well hold one; standard input takes any file.
        if (i > 0 && IsOption(ppArguments[i - 1], kCompareOption))
            pError->Append("; use --compare - < REPORT");
        return false;
    }

    CCommandLine line;
    const char* pszCommandOption = nullptr;  // the option that chose the command
    bool bReadOnlyGiven = false;
    bool bNewMarker = false;
    for (int i = 0; i < nCount; ++i) {
        const char* pszArgument = ppArguments[i];
        bool bKnown = false;
        for (const char* pszOption : kAloneOptions) {
            if (!IsOption(pszArgument, pszOption))
                continue;
            if (nCount != 1)
                return Fail(pError, pszOption, " goes with no other argument");
            if (IsOption(pszOption, "--version"))
                line.eCommand = kCommandVersion;
            else if (IsOption(pszOption, "--first-run"))
                line.eCommand = kCommandFirstRun;
            else
                line.eCommand = kCommandHelp;
            bKnown = true;
        }
        if (IsOption(pszArgument, kApplicationOption)) {
            if (!TakeOptionValue(kApplicationOption, " needs the application's name", nCount,
                                 ppArguments, &i, &line.pszApplication, pError))
                return false;
            continue;
        }
        if (IsOption(pszArgument, kCompareOption)) {
            if (!TakeOptionValue(kCompareOption, " needs the report's file name (or -)", nCount,
                                 ppArguments, &i, &line.pszReport, pError))
                return false;
            continue;
        }
        if (IsOption(pszArgument, kNewMarkerOption)) {
            if (bNewMarker)
                return Fail(pError, kNewMarkerOption, " is given twice");
            bNewMarker = true;
            if (!ParseCurrentID(nCount, ppArguments, &i, &line, pError))
                return false;
            continue;
        }
        if (IsOption(pszArgument, "--no-write")) {
            if (bReadOnlyGiven)
                return Fail(pError, "--no-write is given twice");
            bReadOnlyGiven = true;
            line.bReadOnly = true;
            bKnown = true;
        }
        for (std::size_t n = 0; n < sizeof(kCommandOptions) / sizeof(kCommandOptions[0]); ++n) {
            const char* pszOption = kCommandOptions[n];
            if (!IsOption(pszArgument, pszOption))
                continue;
            if (pszCommandOption == pszOption)
                return Fail(pError, pszOption, " is given twice");
            if (pszCommandOption != nullptr) {
                Fail(pError, pszCommandOption, " and ", pszOption);
                return Fail(pError, " exclude each other");
            }
            pszCommandOption = pszOption;
            line.eCommand = kCommandOfOption[n];
            bKnown = true;
            if (line.eCommand != kCommandVerify)
                continue;
            if (i + 1 == nCount)
                return Fail(pError, "--verify needs the ID to compare with");
            const char* pszID = ppArguments[++i];
            if (!IsComputerIDText(pszID)) {
                Fail(pError, "--verify needs an ID of 32 hexadecimal digits, not ");
                AppendEcho(pszID, pError);
                return false;
            }
            std::memcpy(line.szVerifyID, pszID, kComputerIDLength + 1);
        }
        if (!bKnown) {
            Fail(pError, "unknown argument ");
            AppendEcho(pszArgument, pError);
            return false;
        }
    }
    if (line.pszApplication != nullptr && line.eCommand == kCommandExplain)
        return Fail(pError, kApplicationOption, " and --explain exclude each other");
    // Comparing never writes: a machine without a marker has no ID to compare. A diagnosis never
    // writes: on a machine whose marker was deleted it would make the new ID permanent.
    if (line.eCommand == kCommandVerify || line.eCommand == kCommandExplain)
        line.bReadOnly = true;
    if (line.pszReport != nullptr && !UseCompare(&line, pError))
        return false;
    if (bNewMarker) {
        // The one command that writes over a stored marker does nothing else.
        if (bReadOnlyGiven || line.pszApplication != nullptr || line.pszReport != nullptr ||
            (pszCommandOption != nullptr && line.eCommand != kCommandJson))
            return Fail(pError, kNewMarkerOption, " goes with no other option but --json");
        line.bJson = line.eCommand == kCommandJson;
        line.eCommand = kCommandNewMarker;
        line.bReadOnly = false;
    }
    *pCommandLine = line;
    return true;
}

std::size_t ArgumentToUtf8(const wchar_t* pszArgument, char* pszOut) {
    std::size_t nBytes = 0;
    auto put = [&](unsigned long nByte) {
        if (pszOut != nullptr)
            pszOut[nBytes] = static_cast<char>(nByte);
        ++nBytes;
    };
    for (const wchar_t* p = pszArgument; *p != L'\0'; ++p) {
        unsigned long nCode = static_cast<unsigned long>(*p);
        const bool bHigh = nCode >= 0xD800 && nCode <= 0xDBFF;
        const unsigned long nNext = bHigh ? static_cast<unsigned long>(p[1]) : 0;
        if (bHigh && nNext >= 0xDC00 && nNext <= 0xDFFF) {
            nCode = 0x10000 + ((nCode - 0xD800) << 10) + (nNext - 0xDC00);
            ++p;
        } else if ((nCode >= 0xD800 && nCode <= 0xDFFF) || nCode > 0x10FFFF) {
            put(0xFF);
            continue;
        }
        if (nCode < 0x80) {
            put(nCode);
        } else if (nCode < 0x800) {
            put(0xC0 | (nCode >> 6));
            put(0x80 | (nCode & 0x3F));
        } else if (nCode < 0x10000) {
            put(0xE0 | (nCode >> 12));
            put(0x80 | ((nCode >> 6) & 0x3F));
            put(0x80 | (nCode & 0x3F));
        } else {
            put(0xF0 | (nCode >> 18));
            put(0x80 | ((nCode >> 12) & 0x3F));
            put(0x80 | ((nCode >> 6) & 0x3F));
            put(0x80 | (nCode & 0x3F));
        }
    }
    put(0);
    return nBytes;
}

const char* GetUsageText() {
    return IDROVAN_CLI_USAGE;
}

const char* GetHelpText() {
    return "Prints this computer's ID, the one that Veltrane Idrovan shows.\n"
           "\n" IDROVAN_CLI_USAGE
           "\n"
           "Without options it prints the ID (32 hexadecimal digits), made with the\n"
           "installation marker, the value Rndund of the machine's key\n"
           "HKEY_LOCAL_MACHINE\\Software\\Classes\\lrgDocID. It reads the marker with read\n"
           "access, so any user gets the ID once the marker exists, and writes one only\n"
           "where none is stored (that takes an administrator). Options are not\n"
           "case-sensitive; each may be given once.\n"
           "\n"
           "  --no-write    read only: never create or change the marker. Works for a\n"
           "                user with read access once a marker exists.\n"
           "  --first-run   make the marker where none is stored, from any console: asks\n"
           "                Windows to run idrovan-cli as administrator (the usual\n"
           "                prompt) unless it runs so already, then prints the ID. Never\n"
           "                writes over a stored marker.\n"
           "  --app-specific APP\n"
           "                the ID of this computer for the application APP instead:\n"
           "                its own 32 hexadecimal digits, which cannot be matched with\n"
           "                another application's. --verify and --json then use it.\n"
           "  --verify ID   compare this computer's ID with ID (32 hexadecimal digits,\n"
           "                either case) and print whether they match; read only.\n"
           "  --explain     a fingerprint of each fact that goes into the ID (3 digits,\n"
           "                not the fact itself), the marker's state, the ID, and which\n"
           "                step failed with the system's status; read only, so that\n"
           "                it never changes what it explains.\n"
           "  --json        one JSON object: id, marker, marker_key,\n"
           "                root_created_fingerprint, volume_fingerprint, format, version,\n"
           "                error (null, or step, code and message). With --app-specific:\n"
           "                id, app, marker, marker_key, format, version, error.\n"
           "  --compare REPORT\n"
           "                compare this computer with a report that --json saved in the\n"
           "                file REPORT (- for standard input): which facts changed, and\n"
           "                whether the ID is the same; read only. --json: as JSON.\n"
           "  --new-marker CURRENT-ID\n"
           "                replace the marker with a new random one, but only while\n"
           "                this computer's ID is CURRENT-ID, and print the ID before\n"
           "                and after: gives each clone of a disk image an ID of its\n"
           "                own, once. The only command that writes over a marker.\n"
           "  --new-marker none\n"
           "                make a marker only where no usable one is stored (none, or\n"
           "                a value too long to use, which it replaces).\n"
           "  --verify-licence FILE --app APP --public-key KEYS\n"
           "                check the licence file FILE for the application APP on this\n"
           "                computer, signed by one of KEYS (key-id:<128 hex digits>,\n"
           "                comma-separated); read only. --feature F: does it grant F;\n"
           "                --now YYYY-MM-DDTHH:MM:SSZ in place of the clock; --json.\n"
           "  -h, --help, /?  this text.\n"
           "  --version     the version number.\n"
           "\n"
           "Exit codes:\n"
           "  0  success; with --verify or --compare: the IDs match; --new-marker:\n"
           "     renewed; --first-run: a marker is stored and the ID printed\n"
           "  1  --verify or --compare: the IDs differ; --new-marker: this computer's ID\n"
           "     is not CURRENT-ID (with none: a usable marker is stored), nothing changed\n"
           "  2  the command line, or the report to compare, is not valid; nothing was\n"
           "     done\n"
           "  3  no rights (access denied) to the marker key or the marker lock: no\n"
           "     marker, and none to make one (an administrator must run it once;\n"
           "     --first-run asks for one); --new-marker needs an administrator;\n"
           "     --first-run: the prompt was declined\n"
           "  4  there is no marker yet, and --no-write, --explain, --verify or --compare\n"
           "     may not write one: an administrator must run idrovan-cli once (e.g.\n"
           "     idrovan-cli --first-run); --new-marker CURRENT-ID: there is no marker\n"
           "     to renew\n"
           "  6  a machine fact could not be read, the stored marker cannot be used,\n"
           "     another run held the marker lock for 10 s, the random source\n"
           "     failed, --first-run could not start its run as administrator, or\n"
           "     another failure\n"
           "  7  --verify-licence: the licence is malformed (refused even when signed)\n"
           "  8  --verify-licence: not signed by a key of KEYS\n"
           "  9  --verify-licence: not valid yet\n"
           "  10  --verify-licence: expired\n"
           "  11  --verify-licence: the licence does not grant the feature\n"
           "  5 is never used: some hosts report a crashed program with it.\n";
}
