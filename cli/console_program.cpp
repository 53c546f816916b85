#include "cli/console_program.h"

#include <cstring>

#include "idrovan_version.h"
#include "cli/command_line.h"
#include "cli/compare_command.h"
#include "cli/id_output.h"
#include "cli/licence_command.h"
#include "identification/application_id.h"
#include "identification/drive_id.h"

namespace {

// Copies an ID text of 32 digits; anything else leaves szID empty.
void CopyID(CVeltraneString& strID, char* pszID) {
    const char* pszText = strID.GetText();
    if (std::strlen(pszText) == static_cast<std::size_t>(kComputerIDLength))
        std::memcpy(pszID, pszText, kComputerIDLength + 1);
}

void Derive(CMachineFacts& machine, EMarkerAccess eAccess, CDerivation* pDerivation) {
    pDerivation->eAccess = eAccess;
    CDriveID driveID(machine, eAccess);
    CVeltraneString strID = driveID.GetID(&pDerivation->report);
    // The derivation gives 32 digits or nothing.
    CopyID(strID, pDerivation->szID);
}

// --new-marker: the derivation ends up with the ID the computer has now.
int RenewMarker(const CCommandLine& line, CMachineFacts& machine, CStatusMessages& messages,
                CConsoleOutput* pOutput) {
    CRenewalResult result;
    result.bNoneGiven = line.szCurrentID[0] == '\0';
    result.derivation.eCommand = kCommandNewMarker;
    CDriveID driveID(machine, kMarkerReadWrite);
    CVeltraneString strBefore;
    CVeltraneString strAfter;
    result.eRenewal = driveID.RenewMarker(result.bNoneGiven ? nullptr : line.szCurrentID, strBefore,
                                          strAfter, &result.derivation.report);
    CopyID(strBefore, result.szBefore);
    if (result.eRenewal == CDriveID::kRenewed)
        CopyID(strAfter, result.derivation.szID);
    else if (result.eRenewal == CDriveID::kRenewNotCurrent)
        CopyID(strBefore, result.derivation.szID);
    if (line.bJson)
        FormatRenewalJson(result, messages, &pOutput->out);
    else
        FormatRenewal(result, messages, pOutput);
    return GetRenewalExitCode(result);
}

// Prints the ID, or why there is none, as a plain run does; returns the exit code.
int PrintID(const CDerivation& derivation, CStatusMessages& messages, CConsoleOutput* pOutput) {
    if (GetExitCode(derivation) != kExitSuccess) {
        FormatFailure(derivation, messages, &pOutput->err);
        return GetExitCode(derivation);
    }
    pOutput->out.Append(derivation.szID);
    pOutput->out.Append('\n');
    return kExitSuccess;
}

// --first-run after the elevated run could not start or ended without success: what the user
// sees in the console that asked for it.
int ReportElevatedRun(bool bRan, long nExitCode, long nStatus, CStatusMessages& messages,
                      CConsoleOutput* pOutput) {
    CTextBuilder& err = pOutput->err;
    if (!bRan && nStatus == VERROR_CANCELLED) {
        err.Append(
            "idrovan-cli: the request to run as administrator was declined, so no marker was "
            "written; making it needs an administrator's consent\n");
        return kExitNoRights;
    }
    if (!bRan) {
        err.Append("idrovan-cli: idrovan-cli could not be started as administrator (");
        AppendStatus(nStatus, messages, &err);
        err.Append("), so no marker was written\n");
        return kExitFailure;
    }
    err.Append("idrovan-cli: the run as administrator ended with exit code ");
    err.AppendNumber(nExitCode);
    if (nExitCode == kExitNoRights) {
        err.Append(": it had no rights to make the marker either (no administrator)\n");
        return kExitNoRights;
    }
    err.Append("; idrovan-cli --explain, run as administrator, says which step failed\n");
    return kExitFailure;
}

// --first-run: a stored marker is only read; a missing one is made as an administrator, never
// written over one that another run stored meanwhile (the plain run reads again under the lock).
int FirstRun(CMachineFacts& machine, CStatusMessages& messages, CElevation& elevation,
             CConsoleOutput* pOutput) {
    CDerivation derivation;
    derivation.eCommand = kCommandFirstRun;
    Derive(machine, kMarkerReadOnly, &derivation);
    if (GetExitCode(derivation) == kExitSuccess) {
        pOutput->err.Append(
            "idrovan-cli: the installation marker is stored already; nothing was written\n");
        return PrintID(derivation, messages, pOutput);
    }
    // Anything else but a missing marker (a fact, a marker too long to use) is not mended by
    // rights.
    if (GetExitCode(derivation) != kExitNoMarker)
        return PrintID(derivation, messages, pOutput);

    if (elevation.IsElevated()) {
        CDerivation written;
        written.eCommand = kCommandFirstRun;
        Derive(machine, kMarkerReadFirst, &written);
        if (written.report.eMarker == kMarkerCreated)
            pOutput->err.Append("idrovan-cli: the installation marker was written\n");
        return PrintID(written, messages, pOutput);
    }
    long nExitCode = 0;
    long nStatus = 0;
    const bool bRan = elevation.RunElevated(&nExitCode, &nStatus);
    // What is stored decides, not what the elevated run said: it may have written the marker
    // and failed afterwards (with no display to show its console on, say), or another run may
    // have written one meanwhile.
    CDerivation after;
    after.eCommand = kCommandFirstRun;
    Derive(machine, kMarkerReadOnly, &after);
    const bool bSucceeded = bRan && nExitCode == kExitSuccess;
    if (GetExitCode(after) != kExitSuccess && !bSucceeded)
        return ReportElevatedRun(bRan, nExitCode, nStatus, messages, pOutput);
    if (GetExitCode(after) == kExitSuccess) {
        CTextBuilder& err = pOutput->err;
        if (bSucceeded) {
            err.Append("idrovan-cli: the run as administrator stored the installation marker\n");
        } else if (bRan) {
            err.Append("idrovan-cli: the run as administrator ended with exit code ");
            err.AppendNumber(nExitCode);
            err.Append(", but the installation marker is stored\n");
        } else {
            err.Append(
                "idrovan-cli: idrovan-cli did not run as administrator, but another run has "
                "stored the installation marker meanwhile\n");
        }
    }
    return PrintID(after, messages, pOutput);
}

static_assert(kApplicationIDLength == kComputerIDLength, "one buffer holds either ID");

// Puts the application's ID in place of the computer's, so that no output below can show the
// computer's own. Without a computer ID there is nothing to do; the failure is reported as is.
void UseApplicationID(const char* pszApplication, CDerivation* pDerivation) {
    pDerivation->pszApplication = pszApplication;
    if (pDerivation->szID[0] == '\0')
        return;
    char szApplicationID[kApplicationIDLength + 1] = {};
    pDerivation->bApplicationIDFailed =
        !DeriveApplicationID(pDerivation->szID, pszApplication, szApplicationID);
    std::memcpy(pDerivation->szID, szApplicationID, sizeof(szApplicationID));
}

int Verify(const CCommandLine& line, const CDerivation& derivation, CStatusMessages& messages,
           CConsoleOutput* pOutput) {
    const ECliExitCode eExit = GetExitCode(derivation);
    if (eExit != kExitSuccess) {
        FormatFailure(derivation, messages, &pOutput->err);
        return eExit;
    }
    const bool bSame = IsSameComputerID(line.szVerifyID, derivation.szID);
    pOutput->out.Append(bSame ? "The ID matches this computer's ID"
                              : "The ID differs from this computer's ID");
    pOutput->out.Append(derivation.pszApplication != nullptr ? " for the application.\n" : ".\n");
    return bSame ? kExitSuccess : kExitDifferentID;
}

int Run(int nCount, const char* const* ppArguments, CMachineFacts& machine,
        CStatusMessages& messages, CReportFile& reportFile, CElevation& elevation,
        CConsoleOutput* pOutput) {
    CCommandLine line;
    CTextBuilder error;
    CLicenceCommandLine licence;
    if (IsLicenceCommandLine(nCount, ppArguments) &&
        ParseLicenceCommandLine(nCount, ppArguments, &licence, &error))
        return RunLicenceCommand(licence, machine, reportFile, pOutput);
    if (error.GetLength() != 0 || !ParseCommandLine(nCount, ppArguments, &line, &error)) {
        pOutput->err.Append("idrovan-cli: ");
        pOutput->err.Append(error.GetText());
        pOutput->err.Append('\n');
        pOutput->err.Append(GetUsageText());
        pOutput->err.Append("Run idrovan-cli --help for the options and exit codes.\n");
        return kExitUsage;
    }
    if (line.eCommand == kCommandHelp) {
        pOutput->out.Append(GetHelpText());
        return kExitSuccess;
    }
    if (line.eCommand == kCommandVersion) {
        pOutput->out.Append(IDROVAN_VERSION_TEXT "\n");
        return kExitSuccess;
    }

    if (line.eCommand == kCommandNewMarker)
        return RenewMarker(line, machine, messages, pOutput);
    if (line.eCommand == kCommandFirstRun)
        return FirstRun(machine, messages, elevation, pOutput);

    CSavedReport savedReport;
    if (line.eCommand == kCommandCompare &&
        !LoadSavedReport(line.pszReport, reportFile, &savedReport, pOutput))
        return kExitUsage;

    CDerivation derivation;
    derivation.eCommand = line.eCommand;
    Derive(machine, line.bReadOnly ? kMarkerReadOnly : kMarkerReadFirst, &derivation);
    if (line.pszApplication != nullptr)
        UseApplicationID(line.pszApplication, &derivation);
    if (line.eCommand == kCommandExplain || line.eCommand == kCommandJson ||
        line.eCommand == kCommandCompare)
        AddFactFingerprints(&derivation);
    switch (line.eCommand) {
        case kCommandCompare:
            return CompareWithSavedReport(savedReport, derivation, line.bCompareJson, messages,
                                          pOutput);
        case kCommandVerify:
            return Verify(line, derivation, messages, pOutput);
        case kCommandExplain:
            FormatExplanation(derivation, messages, &pOutput->out);
            break;
        case kCommandJson:
            FormatJson(derivation, messages, &pOutput->out);
            break;
        default:
            return PrintID(derivation, messages, pOutput);
    }
    return GetExitCode(derivation);
}

}  // namespace

int RunConsoleProgram(int nCount, const char* const* ppArguments, CMachineFacts& machine,
                      CStatusMessages& messages, CConsoleOutput* pOutput) {
    CSystemReportFile reportFile;
    return RunConsoleProgram(nCount, ppArguments, machine, messages, reportFile, pOutput);
}

int RunConsoleProgram(int nCount, const char* const* ppArguments, CMachineFacts& machine,
                      CStatusMessages& messages, CReportFile& reportFile, CConsoleOutput* pOutput) {
    return RunConsoleProgram(nCount, ppArguments, machine, messages, reportFile,
                             GetSystemElevation(), pOutput);
}

int RunConsoleProgram(int nCount, const char* const* ppArguments, CMachineFacts& machine,
                      CStatusMessages& messages, CReportFile& reportFile, CElevation& elevation,
                      CConsoleOutput* pOutput) {
    pOutput->out.Clear();
    pOutput->err.Clear();
    const int nExitCode =
        Run(nCount, ppArguments, machine, messages, reportFile, elevation, pOutput);
    if (pOutput->out.IsComplete() && pOutput->err.IsComplete())
        return nExitCode;
    // Half a JSON object or a cut ID must not reach a script as an answer.
    pOutput->out.Clear();
    pOutput->err.Clear();
    pOutput->err.Append("idrovan-cli: out of memory\n");
    return kExitFailure;
}
