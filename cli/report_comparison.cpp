#include "cli/report_comparison.h"

#include <cstring>

#include "idrovan_version.h"
#include "cli/json_text.h"

namespace {

// The layout of the --compare --json object; raised whenever its keys change.
const char kComparisonFormat[] = "1";

EFactVerdict CompareFingerprints(const char* pszThen, const char* pszNow) {
    if (pszNow[0] == '\0')
        return kFactUnknown;
    return std::strcmp(pszThen, pszNow) == 0 ? kFactSame : kFactChanged;
}

const char* GetVerdictName(EFactVerdict eVerdict) {
    switch (eVerdict) {
        case kFactSame:
            return "same";
        case kFactChanged:
            return "changed";
        case kFactUnknown:
            break;
    }
    return "unknown";
}

// A fact's line: the verdict and, for a change on its own, its usual cause.
void AppendFactVerdict(const char* pszLabel, EFactVerdict eVerdict, const char* pszCause,
                       bool bOtherMachine, CTextBuilder* pOut) {
    AppendLineLabel(pszLabel, pOut);
    if (eVerdict == kFactUnknown) {
        pOut->Append("not read now\n");
        return;
    }
    pOut->Append(GetVerdictName(eVerdict));
    if (eVerdict == kFactChanged && !bOtherMachine) {
        pOut->Append(": ");
        pOut->Append(pszCause);
    }
    pOut->Append('\n');
}

void AppendMarkerVerdict(const CDerivation& derivation, EFactVerdict eVerdict, CTextBuilder* pOut) {
    AppendLineLabel("Marker:", pOut);
    if (eVerdict == kFactSame)
        pOut->Append("same\n");
    else if (eVerdict == kFactChanged && !HasID(derivation))
        pOut->Append("changed: there is none now; it was deleted or the registry restored\n");
    else if (eVerdict == kFactChanged)
        pOut->Append("changed: the marker was deleted, renewed or the registry restored\n");
    else if (HasID(derivation))
        pOut->Append("not known: a report keeps nothing of the marker\n");
    else
        pOut->Append("not read now\n");
}

}  // namespace

CComparison CompareWithReport(const CSavedReport& report, const CDerivation& derivation) {
    CComparison comparison;
    comparison.eRootCreated =
        CompareFingerprints(report.szRootFingerprint, derivation.szRootFingerprint);
    comparison.eVolume =
        CompareFingerprints(report.szVolumeFingerprint, derivation.szVolumeFingerprint);
    comparison.bOtherMachine =
        comparison.eRootCreated == kFactChanged && comparison.eVolume == kFactChanged;
    const bool bFactsSame = comparison.eRootCreated == kFactSame && comparison.eVolume == kFactSame;
    if (HasID(derivation)) {
        comparison.bSameID = IsSameComputerID(report.szID, derivation.szID);
        if (comparison.bSameID)
            comparison.eMarker = kFactSame;
        else if (bFactsSame)
            comparison.eMarker = kFactChanged;
    } else if (GetExitCode(derivation) == kExitNoMarker) {
        // The report has an ID, so there was a marker then.
        comparison.eMarker = kFactChanged;
    }
    return comparison;
}

ECliExitCode GetComparisonExitCode(const CDerivation& derivation, const CComparison& comparison) {
    if (!HasID(derivation))
        return GetExitCode(derivation);
    return comparison.bSameID ? kExitSuccess : kExitDifferentID;
}

void FormatComparison(const CSavedReport& report, const CDerivation& derivation,
                      const CComparison& comparison, CTextBuilder* pOut) {
    AppendFactVerdict("Volume:", comparison.eVolume,
                      "the system drive was formatted, replaced or cloned",
                      comparison.bOtherMachine, pOut);
    AppendFactVerdict("Root created:", comparison.eRootCreated, "Windows was installed again",
                      comparison.bOtherMachine, pOut);
    AppendMarkerVerdict(derivation, comparison.eMarker, pOut);
    AppendLineLabel("ID:", pOut);
    if (!HasID(derivation)) {
        pOut->Append("none now\n");
    } else if (comparison.bSameID) {
        pOut->Append("same: ");
        pOut->Append(derivation.szID);
        pOut->Append('\n');
    } else {
        pOut->Append("different: the report's is ");
        pOut->Append(report.szID);
        pOut->Append(", this computer's is ");
        pOut->Append(derivation.szID);
        pOut->Append('\n');
    }
    if (comparison.bOtherMachine) {
        pOut->Append(
            "The report is from another machine, or from this one before Windows was installed "
            "again.\n");
    }
    const bool bClaimsSame =
        comparison.eVolume == kFactSame || comparison.eRootCreated == kFactSame;
    // The note explains a different ID beside facts that look the same; without an ID now there
    // is none to explain.
    if (bClaimsSame && HasID(derivation) && !comparison.bSameID) {
        pOut->Append(
            "A fact shown as the same may still have changed: its fingerprint misses a change "
            "once in 1024.\n");
    }
}

void FormatComparisonJson(const CSavedReport& report, const CDerivation& derivation,
                          const CComparison& comparison, CStatusMessages& messages,
                          CTextBuilder* pOut) {
    pOut->Append("{\"same_id\":");
    pOut->Append(!HasID(derivation) ? "null" : comparison.bSameID ? "true" : "false");
    pOut->Append(",\"id\":");
    AppendJsonStringOrNull(derivation.szID, pOut);
    pOut->Append(",\"report_id\":");
    AppendJsonString(report.szID, pOut);
    pOut->Append(",\"volume\":");
    AppendJsonString(GetVerdictName(comparison.eVolume), pOut);
    pOut->Append(",\"root_created\":");
    AppendJsonString(GetVerdictName(comparison.eRootCreated), pOut);
    pOut->Append(",\"marker\":");
    AppendJsonString(GetVerdictName(comparison.eMarker), pOut);
    pOut->Append(",\"other_machine\":");
    pOut->Append(comparison.bOtherMachine ? "true" : "false");
    pOut->Append(",\"report_format\":");
    pOut->AppendNumber(report.nFormat);
    pOut->Append(",\"format\":");
    pOut->Append(kComparisonFormat);
    pOut->Append(",\"version\":\"" IDROVAN_VERSION_TEXT "\",\"error\":");
    AppendJsonError(derivation, messages, pOut);
    pOut->Append("}\n");
}
