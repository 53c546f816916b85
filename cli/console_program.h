#pragma once

// The console program from its arguments to its exit code, apart from the process itself:
// the Windows entry point turns the command line into arguments and writes the two texts out.
//
// A command line that does not parse gets kExitUsage with its message and the usage on the error
// text, before the machine is asked anything. Otherwise the ID is derived once, through CDriveID
// (the dialog's own derivation), read-only for --no-write and --verify; --new-marker hands the
// whole check and write to CDriveID::RenewMarker.
//
// Runs on the calling thread; the machine and the messages are borrowed for the call.

#include "cli/elevation.h"
#include "cli/report_file.h"
#include "cli/status_messages.h"
#include "cli/text_builder.h"
#include "platform/machine_facts.h"

struct CConsoleOutput {
    CTextBuilder out;  // for stdout
    CTextBuilder err;  // for stderr
};

// nCount arguments that follow the program name; returns the exit code (ECliExitCode). Output
// that could not be made whole (memory) is dropped for a kExitFailure line on the error text.
int RunConsoleProgram(int nCount, const char* const* ppArguments, CMachineFacts& machine,
                      CStatusMessages& messages, CConsoleOutput* pOutput);

// The same with the file that --compare reads its report through, for tests that stand in for
// the file system; the call above uses a CSystemReportFile and the system's CElevation.
int RunConsoleProgram(int nCount, const char* const* ppArguments, CMachineFacts& machine,
                      CStatusMessages& messages, CReportFile& reportFile, CConsoleOutput* pOutput);

// The same with the elevation that --first-run asks for, for tests that stand in for the system.
int RunConsoleProgram(int nCount, const char* const* ppArguments, CMachineFacts& machine,
                      CStatusMessages& messages, CReportFile& reportFile, CElevation& elevation,
                      CConsoleOutput* pOutput);
