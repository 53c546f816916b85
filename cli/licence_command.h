#pragma once

// idrovan-cli --verify-licence FILE --app NAME --public-key KEYS [--feature F] [--now TIME]
// [--json]: the verdict of idrovan_verify_licence on a licence file, for a support desk that asks
// why a licence does not work. The exit code is the DLL's result code (include/idrovan.h), and
// the text or JSON says what the signed licence holds once its signature has verified.
//
// The command stands alone: its options go with no other option of the program. The file is read
// as --compare reads a report (a file on a disk only, never a device), at most one byte more than
// the largest licence, so that an oversize file is refused by the check itself.
//
// Runs on the calling thread; everything is borrowed for the call.

#include "cli/console_program.h"
#include "cli/report_file.h"
#include "cli/text_builder.h"
#include "platform/machine_facts.h"

struct CLicenceCommandLine {
    const char* pszFile = nullptr;  // each borrowed from the arguments
    const char* pszApplication = nullptr;
    const char* pszPublicKeys = nullptr;
    const char* pszFeature = nullptr;  // optional
    const char* pszNow = nullptr;      // optional
    bool bJson = false;
};

// True when any argument is --verify-licence (in any case): then the whole command line is the
// licence command's.
bool IsLicenceCommandLine(int nCount, const char* const* ppArguments);

// False, with a one-line message appended to *pError, for a command line that must not run.
bool ParseLicenceCommandLine(int nCount, const char* const* ppArguments, CLicenceCommandLine* pLine,
                             CTextBuilder* pError);

// Reads the file through file, checks it on machine and prints the verdict; returns the exit
// code. A file that cannot be read gets kExitUsage and one line on pOutput->err.
int RunLicenceCommand(const CLicenceCommandLine& line, CMachineFacts& machine, CReportFile& file,
                      CConsoleOutput* pOutput);
