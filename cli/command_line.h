#pragma once

// The console program's command line: what the user asked for, checked in full before anything
// else happens, so that a command line with any fault does nothing at all.
//
// Rules: options are not case-sensitive; each may be given once; --json, --explain and --verify
// exclude each other; --no-write goes with any of them (--verify and --explain read only anyway);
// --app-specific goes with all but --explain, whose lines would show the computer's own ID;
// --compare goes with --json and --no-write only (it reads only anyway); --new-marker goes with
// --json alone; --first-run, --help and --version stand alone. Every argument but the
// application's name must be non-empty printable ASCII: a script that passes an ID copied with a
// stray non-ASCII character gets a usage error, never a best-fit look-alike. The application's
// name is UTF-8 (the program turns its UTF-16 command line into UTF-8, ArgumentToUtf8) and must be
// one that IsApplicationName accepts, as the DLL requires.
//
// Plain functions without state; safe on any thread.

#include <cstddef>

#include "cli/text_builder.h"
#include "identification/computer_id_text.h"

enum ECliCommand {
    kCommandPrint,    // the ID and a line break
    kCommandExplain,  // each fact on its own line, for people; reads only
    kCommandJson,     // one JSON object, for scripts
    kCommandVerify,   // whether this computer's ID is the one given
    kCommandCompare,  // an earlier report against now, fact by fact
    // A new marker in place of the stored one, while this computer's ID is the one given (or,
    // for "none", while no usable marker is stored).
    kCommandNewMarker,
    // Makes a missing marker as an administrator: in this process when it runs elevated, else in
    // one more run of the program that the system's consent prompt elevates.
    kCommandFirstRun,
    kCommandHelp,
    kCommandVersion,
};

struct CCommandLine {
    ECliCommand eCommand = kCommandPrint;
    // Never create or change the marker.
    bool bReadOnly = false;
    // The ID given to --verify, as typed (either case); empty otherwise.
    char szVerifyID[kComputerIDLength + 1] = {};
    // --new-marker: the ID the computer must have now, as typed; empty for "none".
    char szCurrentID[kComputerIDLength + 1] = {};
    // --new-marker with --json.
    bool bJson = false;
    // The application named by --app-specific, borrowed from the arguments; null without one.
    // Then every ID printed or compared is that application's ID, never the computer's own.
    const char* pszApplication = nullptr;
    // --compare: the report's file name ("-" for standard input), borrowed from the arguments;
    // null otherwise. bCompareJson: --json was given with it.
    const char* pszReport = nullptr;
    bool bCompareJson = false;
};

// Parses the nCount arguments that follow the program name. False, with a one-line message
// appended to *pError (ASCII, no line break, never more than the start of an overlong argument
// and nothing of a non-ASCII one), for a command line that must not run.
bool ParseCommandLine(int nCount, const char* const* ppArguments, CCommandLine* pCommandLine,
                      CTextBuilder* pError);

// Writes the UTF-8 form of one UTF-16 command-line argument and its terminator to pszOut, when
// not null, and gives the number of bytes that takes, terminator included. An unpaired surrogate
// becomes the byte 0xFF, which is never part of UTF-8, so that the argument is refused rather
// than read as another name. Each wchar_t is taken as one UTF-16 unit.
std::size_t ArgumentToUtf8(const wchar_t* pszArgument, char* pszOut);

// True when pszArgument is the option pszLowerOption (given in lowercase), in any case. ASCII
// letters only: the arguments are ASCII by the time options are compared.
bool IsOption(const char* pszArgument, const char* pszLowerOption);

// The text of --help: every option and exit code, each line within 80 columns.
const char* GetHelpText();

// The few lines that follow a usage error's message.
const char* GetUsageText();
