#pragma once

// Runs the console program in this process against a machine of the test's choosing, and keeps
// every JSON object it printed for the check against the published schemas (json_capture.h).
// One thread at a time.

#include <string>
#include <vector>

#include "cli/console_program.h"
#include "tests/unit/json_capture.h"

struct SRun {
    int nExitCode;
    std::string strOut;
    std::string strErr;
};

// pReportFile: what --compare opens its report through; null for the system's.
inline SRun RunCli(const std::vector<std::string>& arguments, CMachineFacts& machine,
                   CStatusMessages& messages, CReportFile* pReportFile = nullptr) {
    std::vector<const char*> pointers;
    for (const std::string& strArgument : arguments)
        pointers.push_back(strArgument.c_str());
    CConsoleOutput output;
    CSystemReportFile systemFile;
    SRun run;
    run.nExitCode = RunConsoleProgram(static_cast<int>(pointers.size()), pointers.data(), machine,
                                      messages, pReportFile ? *pReportFile : systemFile, &output);
    run.strOut = output.out.GetText();
    run.strErr = output.err.GetText();
    CaptureJsonOutput(run.strOut);
    return run;
}
