#pragma once

// idrovan-cli --compare REPORT: the command's two halves around the read-only derivation that
// the console program makes. The report is read and checked in full first, so that a report
// with any fault does nothing at all (kExitUsage, like a faulty command line).
//
// Runs on the calling thread; everything is borrowed for the call.

#include "cli/console_program.h"
#include "cli/id_output.h"
#include "cli/report_file.h"
#include "cli/saved_report.h"

// Reads the report from the file pszFile through file, or from standard input for "-". Only a
// file on a disk is read by name: a device's name (IsDeviceName) is refused before anything is
// opened, and anything else that is not a disk file once opened, before it is read. False, with
// one line starting "idrovan-cli: " on pOutput->err, when it cannot be read or is not a
// comparable report.
bool LoadSavedReport(const char* pszFile, CReportFile& file, CSavedReport* pReport,
                     CConsoleOutput* pOutput);

// Prints the comparison of the report with the derivation (JSON with bJson) and returns the exit
// code: 0 the same ID, 1 another, or the derivation's own failure (3, 4, 6), whose line then goes
// to stderr as well in plain words (the JSON object holds it, so with bJson stderr stays empty).
// The derivation's facts must already be fingerprinted (AddFactFingerprints).
int CompareWithSavedReport(const CSavedReport& report, const CDerivation& derivation, bool bJson,
                           CStatusMessages& messages, CConsoleOutput* pOutput);
