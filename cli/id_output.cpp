#include "cli/id_output.h"

#include <cstring>

#include "cli/json_text.h"
#include "identification/derivation_outcome.h"
#include "idrovan_version.h"
#include "platform/machine_facts.h"

namespace {

const std::size_t kLabelWidth = 14;

// The machine's key, which every mode reads; HKEY_CLASSES_ROOT shows it to accounts without a key
// of their own.
#define IDROVAN_MARKER_KEY_TEXT "HKEY_LOCAL_MACHINE\\Software\\Classes\\lrgDocID"

// Where a message sends a user who has no marker and no right to make one.
#define IDROVAN_RUN_AS_ADMINISTRATOR_TEXT \
    "run as administrator once (idrovan-cli --first-run asks for it)"

// The lock that lets one process at a time write admits administrators only: a standard user, or
// an administrator whose token is not elevated, is refused.
bool IsLockRefused(const CDerivation& derivation) {
    return derivation.report.eFailedStep == kStepMarkerLock &&
           derivation.report.nStatus == VERROR_ACCESS_DENIED;
}

// What the marker lock reports when it cannot be made safely: an object of someone else's under
// its name (ERROR_OBJECT_NAME_EXISTS), and a system without the private namespace calls
// (ERROR_PROC_NOT_FOUND).
const long kLockNameTaken = 698;
const long kNoPrivateNamespaces = 127;

#define IDROVAN_LOCK_REFUSED_TEXT \
    "the marker lock admits administrators only, so no marker was written"
const char kLockRefused[] = IDROVAN_LOCK_REFUSED_TEXT "; " IDROVAN_RUN_AS_ADMINISTRATOR_TEXT;

bool IsUnusableMarker(const CDerivation& derivation) {
    return !HasID(derivation) && derivation.report.eMarker == kMarkerUnusable;
}

// What is stored and what replaces it, for a marker that cannot be used: "a stored value of 261
// bytes that cannot be used; ...". Never the value itself.
void AppendUnusableMarker(const CDerivation& derivation, CTextBuilder* pOut) {
    pOut->Append("a stored value of ");
    pOut->AppendNumber(static_cast<long>(derivation.report.nMarkerLength));
    pOut->Append(
        " bytes that cannot be used; idrovan-cli --new-marker none replaces it, which "
        "gives a new ID");
}

// Fingerprints one fact of the report; a fact that was not read keeps an empty fingerprint.
// False when a fact that was read has none. The text is copied first: reading a
// CVeltraneString's text may convert it in place.
bool FingerprintFact(EFact eFact, const CVeltraneString& strFact,
                     char (&szFingerprint)[kFactFingerprintLength + 1]) {
    if (strFact.GetLength() == 0)
        return true;
    CVeltraneString strText(strFact);
    const char* pszText = strText.GetText();
    return ComputeFactFingerprint(eFact, pszText, std::strlen(pszText), szFingerprint);
}

const char* DescribeStep(const CDerivation& derivation) {
    switch (derivation.report.eFailedStep) {
        case kStepWindowsDirectory:
            return "the Windows directory, and so the system drive, could not be read";
        case kStepVolume:
            return "the system volume's serial number and file system could not be read";
        case kStepRootCreation:
            return "the creation time of the system drive's root directory could not be read";
        case kStepMarkerKey:
            return derivation.eAccess == kMarkerReadOnly ? "the marker key " IDROVAN_MARKER_KEY_TEXT
                                                           " could not be opened"
                                                         : "the marker key " IDROVAN_MARKER_KEY_TEXT
                                                           " could be neither opened nor created";
        case kStepMarkerValue:
            return derivation.report.eMarker == kMarkerUnusable
                       ? "the marker key holds a marker too long to use"
                       : "the marker key holds no usable marker";
        case kStepMarkerWrite:
            return "a new marker could not be stored";
        case kStepMemory:
            return "a working text could not be allocated";
        case kStepMarkerLock:
            if (IsLockRefused(derivation))
                return kLockRefused;
            switch (derivation.report.nStatus) {
                case VERROR_WAIT_TIMEOUT:
                    return "another run held the marker lock for 10 seconds, so no marker was "
                           "written; run again";
                case kLockNameTaken:
                    return "another program made an object under the marker lock's name, so no "
                           "marker was written; end that program and run again";
                case kNoPrivateNamespaces:
                    return "this Windows offers no private namespace for the marker lock, so no "
                           "marker was written";
                default:
                    return "the marker lock could not be taken, so no marker was written";
            }
        case kStepMarkerRandom:
            return "the system's random source failed, so no marker was written";
        case kStepNone:
            break;
    }
    if (derivation.bApplicationIDFailed)
        return "the application's ID could not be computed: the system's HMAC-SHA256 failed";
    if (derivation.bFingerprintFailed)
        return "a fact's fingerprint could not be computed: the system's HMAC-SHA256 failed";
    return "the ID could not be derived";
}

void AppendJsonFingerprint(const char* pszFingerprint, CTextBuilder* pOut) {
    if (pszFingerprint[0] == '\0')
        pOut->Append("null");
    else
        AppendJsonString(pszFingerprint, pOut);
}

const char* GetJsonStepName(const CDerivation& derivation) {
    if (derivation.bApplicationIDFailed)
        return "application_id";
    if (derivation.bFingerprintFailed)
        return "fingerprint";
    return GetDriveIDStepName(derivation.report.eFailedStep);
}

// A marker key whose security does not keep other accounts out, or could not be read: what it
// means. A trusted key, or none, needs no line.
void AppendMarkerKeyLine(const CDriveIDReport& report, CTextBuilder* pOut) {
    if (!report.bMarkerKeyOpened || report.eMarkerKey == kKeyTrusted)
        return;
    AppendLineLabel("Marker key:", pOut);
    switch (report.eMarkerKey) {
        case kKeyLooseDacl:
            pOut->Append(
                "loose: its permissions let accounts without administrator rights write, delete "
                "or re-permission it");
            break;
        case kKeyForeignOwner:
            pOut->Append(
                "loose: it is owned by an account other than SYSTEM, Administrators or "
                "TrustedInstaller, which may rewrite its permissions");
            break;
        case kKeyTrusted:
        case kKeyTrustUnknown:
            pOut->Append("its owner and permissions could not be read\n");
            return;
    }
    pOut->Append(
        ". Such an account could have chosen the marker, and so this ID. idrovan-cli "
        "--new-marker, run as administrator, resets the key's permissions (and gives a new ID)\n");
}

void AppendFactLine(const char* pszLabel, const char* pszFingerprint, CTextBuilder* pOut) {
    AppendLineLabel(pszLabel, pOut);
    if (pszFingerprint[0] == '\0') {
        pOut->Append("(not read)\n");
        return;
    }
    pOut->Append("fingerprint ");
    pOut->Append(pszFingerprint);
    pOut->Append('\n');
}

// ,"marker_key":<the key's verdict, or null where no key was judged>
void AppendJsonMarkerKey(const CDriveIDReport& report, CTextBuilder* pOut) {
    pOut->Append(",\"marker_key\":");
    const char* pszMarkerKey = GetMarkerKeyTrustName(report);
    if (pszMarkerKey != nullptr)
        AppendJsonString(pszMarkerKey, pOut);
    else
        pOut->Append("null");
}

// --new-marker over a loose key: whether its permissions were reset as well.
void AppendKeyRepair(const CDriveIDReport& report, CStatusMessages& messages,
                     CConsoleOutput* pOut) {
    if (report.eKeyRepair == kKeyRepaired) {
        pOut->out.Append(
            "The marker key's permissions were reset: the key was made anew with owner "
            "Administrators; SYSTEM and Administrators may change it, Users may read it.\n");
    } else if (report.eKeyRepair == kKeyRepairFailed) {
        pOut->err.Append(
            "idrovan-cli: the marker key's permissions, which let other accounts than the "
            "administrators' change it, could not be reset (");
        AppendStatus(report.nKeyRepairStatus, messages, &pOut->err);
        pOut->err.Append(report.bKeyDeleted
                             ? "); the key was deleted, so the old marker is gone, and no new "
                               "one was written\n"
                             : "); no new marker was written\n");
    }
}

}  // namespace

void AppendStatus(long nStatus, CStatusMessages& messages, CTextBuilder* pOut) {
    if (nStatus == 0) {
        pOut->Append("no status");
        return;
    }
    pOut->Append("status ");
    pOut->AppendNumber(nStatus);
    CTextBuilder message;
    messages.AppendStatusText(nStatus, &message);
    if (message.GetLength() > 0) {
        pOut->Append(": ");
        AppendPrintableText(message.GetText(), pOut);
    }
}

bool HasID(const CDerivation& derivation) {
    return derivation.szID[0] != '\0';
}

void AppendLineLabel(const char* pszLabel, CTextBuilder* pOut) {
    const std::size_t nStart = pOut->GetLength();
    pOut->Append(pszLabel);
    while (pOut->GetLength() - nStart < kLabelWidth && pOut->IsComplete())
        pOut->Append(' ');
}

void AppendJsonError(const CDerivation& derivation, CStatusMessages& messages, CTextBuilder* pOut) {
    if (HasID(derivation)) {
        pOut->Append("null");
        return;
    }
    const CDriveIDReport& report = derivation.report;
    const char* pszStep = GetJsonStepName(derivation);
    pOut->Append("{\"step\":");
    if (pszStep != nullptr)
        AppendJsonString(pszStep, pOut);
    else
        pOut->Append("null");
    pOut->Append(",\"code\":");
    pOut->AppendNumber(report.nStatus);
    pOut->Append(",\"message\":");
    CTextBuilder message;
    if (IsUnusableMarker(derivation)) {
        AppendUnusableMarker(derivation, &message);
    } else if (report.nStatus != 0) {
        messages.AppendStatusText(report.nStatus, &message);
        // "Access is denied" alone would send the reader to the key's rights.
        if (IsLockRefused(derivation)) {
            message.Append(message.GetLength() > 0 ? ": " : "");
            message.Append(kLockRefused);
        }
    }
    if (message.GetLength() > 0)
        AppendJsonString(message.GetText(), pOut);
    else
        pOut->Append("null");
    pOut->Append('}');
}

void AddFactFingerprints(CDerivation* pDerivation) {
    const CDriveIDReport& report = pDerivation->report;
    if (FingerprintFact(kFactRootCreated, report.strRootCreation, pDerivation->szRootFingerprint) &&
        FingerprintFact(kFactVolume, report.strVolume, pDerivation->szVolumeFingerprint))
        return;
    pDerivation->szRootFingerprint[0] = '\0';
    pDerivation->szVolumeFingerprint[0] = '\0';
    pDerivation->szID[0] = '\0';
    pDerivation->bFingerprintFailed = true;
}

ECliExitCode GetExitCode(const CDerivation& derivation) {
    switch (GetDerivationOutcome(HasID(derivation), derivation.report, derivation.eAccess)) {
        case kOutcomeID:
            return kExitSuccess;
        case kOutcomeNoRights:
            return kExitNoRights;
        case kOutcomeNoMarker:
            return kExitNoMarker;
        case kOutcomeFailure:
            break;
    }
    return kExitFailure;
}

void FormatFailure(const CDerivation& derivation, CStatusMessages& messages, CTextBuilder* pOut) {
    const long nStatus = derivation.report.nStatus;
    if (IsUnusableMarker(derivation)) {
        pOut->Append("idrovan-cli: no ID: the marker key holds ");
        AppendUnusableMarker(derivation, pOut);
        pOut->Append('\n');
        return;
    }
    switch (GetExitCode(derivation)) {
        case kExitNoMarker:
            pOut->Append(derivation.eCommand == kCommandVerify ||
                                 derivation.eCommand == kCommandCompare
                             ? "idrovan-cli: there is no installation marker yet, and comparing "
                               "does not write one"
                             : "idrovan-cli: there is no installation marker yet, and a read-only "
                               "run does not write one");
            pOut->Append(
                "; an administrator must run idrovan-cli once to make it: "
                "idrovan-cli --first-run from any console asks for elevation\n");
            return;
        case kExitNoRights: {
            const bool bNewMarker = derivation.eCommand == kCommandNewMarker;
            if (IsLockRefused(derivation))
                pOut->Append("idrovan-cli: " IDROVAN_LOCK_REFUSED_TEXT " (");
            else
                pOut->Append("idrovan-cli: no rights to the marker key " IDROVAN_MARKER_KEY_TEXT
                             " (");
            AppendStatus(nStatus, messages, pOut);
            pOut->Append(")");
            // --first-run makes no marker where one is stored, so it is no way to a new one.
            if (bNewMarker)
                pOut->Append("; a new marker needs an administrator: run it as administrator");
            else if (derivation.eAccess != kMarkerReadOnly && IsLockRefused(derivation))
                pOut->Append("; " IDROVAN_RUN_AS_ADMINISTRATOR_TEXT);
            else if (derivation.eAccess != kMarkerReadOnly)
                pOut->Append(
                    "; making the installation marker needs an "
                    "administrator: " IDROVAN_RUN_AS_ADMINISTRATOR_TEXT);
            pOut->Append('\n');
            return;
        }
        default:
            pOut->Append("idrovan-cli: ");
            pOut->Append(DescribeStep(derivation));
            pOut->Append(" (");
            AppendStatus(nStatus, messages, pOut);
            pOut->Append(")\n");
            return;
    }
}

void FormatExplanation(const CDerivation& derivation, CStatusMessages& messages,
                       CTextBuilder* pOut) {
    const CDriveIDReport& report = derivation.report;
    AppendFactLine("Root created:", derivation.szRootFingerprint, pOut);
    AppendFactLine("Volume:", derivation.szVolumeFingerprint, pOut);
    AppendLineLabel("Marker:", pOut);
    pOut->Append(GetMarkerStateName(report.eMarker));
    // The length, never the value: it tells a truncated or overlong marker apart.
    if (IsUnusableMarker(derivation)) {
        pOut->Append(" (");
        AppendUnusableMarker(derivation, pOut);
        pOut->Append(")");
    } else if (report.eMarker == kMarkerMissing && report.nMarkerLength != 0) {
        pOut->Append(" (a stored value of ");
        pOut->AppendNumber(static_cast<long>(report.nMarkerLength));
        pOut->Append(" bytes is not usable)");
    }
    pOut->Append('\n');
    if (report.bUserKeyIgnored) {
        AppendLineLabel("Per-user key:", pOut);
        pOut->Append("HKEY_CURRENT_USER\\Software\\Classes\\lrgDocID exists and is ignored\n");
    }
    AppendMarkerKeyLine(report, pOut);
    AppendLineLabel("ID:", pOut);
    pOut->Append(HasID(derivation) ? derivation.szID : "none");
    pOut->Append('\n');
    if (HasID(derivation))
        return;
    const char* pszStep = GetJsonStepName(derivation);
    AppendLineLabel("Failed step:", pOut);
    pOut->Append(pszStep != nullptr ? pszStep : "unknown");
    pOut->Append(": ");
    pOut->Append(DescribeStep(derivation));
    pOut->Append('\n');
    AppendLineLabel("Status:", pOut);
    AppendStatus(report.nStatus, messages, pOut);
    pOut->Append('\n');
}

void FormatJson(const CDerivation& derivation, CStatusMessages& messages, CTextBuilder* pOut) {
    const CDriveIDReport& report = derivation.report;
    pOut->Append("{\"id\":");
    AppendJsonStringOrNull(derivation.szID, pOut);
    if (derivation.pszApplication != nullptr) {
        pOut->Append(",\"app\":");
        AppendJsonUtf8String(derivation.pszApplication, pOut);
    }
    pOut->Append(",\"marker\":");
    AppendJsonString(GetMarkerStateName(report.eMarker), pOut);
    AppendJsonMarkerKey(report, pOut);
    if (derivation.pszApplication == nullptr) {
        pOut->Append(",\"root_created_fingerprint\":");
        AppendJsonFingerprint(derivation.szRootFingerprint, pOut);
        pOut->Append(",\"volume_fingerprint\":");
        AppendJsonFingerprint(derivation.szVolumeFingerprint, pOut);
    }
    pOut->Append(",\"format\":" IDROVAN_REPORT_FORMAT_TEXT ",\"version\":\"" IDROVAN_VERSION_TEXT
                 "\",\"error\":");
    AppendJsonError(derivation, messages, pOut);
    pOut->Append("}\n");
}

// "none" is refused as not current only where a usable marker was read: without an ID, a fact
// beside the marker could not be read, which is a failure and not "no marker yet".
bool HasMarkerWithoutID(const CRenewalResult& result) {
    return result.bNoneGiven && result.eRenewal == CDriveID::kRenewNotCurrent &&
           !HasID(result.derivation);
}

ECliExitCode GetFailureExitCode(const CDerivation& derivation) {
    const ECliExitCode eExit = GetExitCode(derivation);
    return eExit == kExitSuccess || eExit == kExitNoMarker ? kExitFailure : eExit;
}

ECliExitCode GetRenewalExitCode(const CRenewalResult& result) {
    switch (result.eRenewal) {
        case CDriveID::kRenewed:
            return kExitSuccess;
        case CDriveID::kRenewNotCurrent:
            // Without an ID before, there was nothing to compare with: the derivation's own
            // failure, as a read-only run reports it, so that a script never takes a machine
            // without a marker for one renewed already.
            if (!HasID(result.derivation))
                return IsUnusableMarker(result.derivation) ? kExitFailure
                       : HasMarkerWithoutID(result)        ? GetFailureExitCode(result.derivation)
                                                           : kExitNoMarker;
            return kExitDifferentID;
        case CDriveID::kRenewFailed:
        case CDriveID::kRenewedUnread:
            break;
    }
    const ECliExitCode eExit = GetExitCode(result.derivation);
    // A failure with an ID (the new marker read back, then something else) is still a failure.
    return eExit == kExitSuccess ? kExitFailure : eExit;
}

void FormatRenewal(const CRenewalResult& result, CStatusMessages& messages, CConsoleOutput* pOut) {
    const CDerivation& derivation = result.derivation;
    switch (result.eRenewal) {
        case CDriveID::kRenewed:
            pOut->out.Append("Old ID: ");
            pOut->out.Append(result.szBefore[0] != '\0' ? result.szBefore : "none");
            pOut->out.Append("\nNew ID: ");
            pOut->out.Append(derivation.szID);
            pOut->out.Append('\n');
            AppendKeyRepair(derivation.report, messages, pOut);
            return;
        case CDriveID::kRenewNotCurrent:
            if (HasID(derivation)) {
                pOut->out.Append("This computer's ID is ");
                pOut->out.Append(derivation.szID);
                pOut->out.Append(result.bNoneGiven ? ", made from a marker stored already"
                                                   : ", not the one given");
                pOut->out.Append("; the marker was not changed.\n");
            } else if (IsUnusableMarker(derivation)) {
                pOut->err.Append(
                    "idrovan-cli: this computer has no ID to renew: the marker key "
                    "holds ");
                AppendUnusableMarker(derivation, &pOut->err);
                pOut->err.Append(". The marker was not changed.\n");
            } else if (HasMarkerWithoutID(result)) {
                FormatFailure(derivation, messages, &pOut->err);
            } else {
                pOut->err.Append(
                    "idrovan-cli: this computer has no ID to renew: there is no installation "
                    "marker yet; idrovan-cli --new-marker none makes one. The marker "
                    "was not changed.\n");
            }
            return;
        case CDriveID::kRenewedUnread:
            pOut->out.Append("Old ID: ");
            pOut->out.Append(result.szBefore[0] != '\0' ? result.szBefore : "none");
            pOut->out.Append("\nNew ID: not read\n");
            pOut->err.Append("idrovan-cli: a new marker was written");
            if (result.szBefore[0] != '\0')
                pOut->err.Append(", so the old ID is gone");
            pOut->err.Append(", but the ID it gives could not be read: ");
            pOut->err.Append(DescribeStep(derivation));
            pOut->err.Append(" (");
            AppendStatus(derivation.report.nStatus, messages, &pOut->err);
            pOut->err.Append("); idrovan-cli --no-write reads it again\n");
            return;
        case CDriveID::kRenewFailed:
            break;
    }
    AppendKeyRepair(derivation.report, messages, pOut);
    FormatFailure(derivation, messages, &pOut->err);
}

void FormatRenewalJson(const CRenewalResult& result, CStatusMessages& messages,
                       CTextBuilder* pOut) {
    const CDerivation& derivation = result.derivation;
    const CDriveIDReport& report = derivation.report;
    pOut->Append("{\"id\":");
    AppendJsonStringOrNull(derivation.szID, pOut);
    pOut->Append(",\"previous_id\":");
    AppendJsonStringOrNull(result.szBefore, pOut);
    // Written but not read back is a renewal all the same: the old ID is gone, and "id" is null.
    const bool bRenewed =
        result.eRenewal == CDriveID::kRenewed || result.eRenewal == CDriveID::kRenewedUnread;
    pOut->Append(bRenewed ? ",\"renewed\":true" : ",\"renewed\":false");
    pOut->Append(",\"marker\":");
    AppendJsonString(GetMarkerStateName(report.eMarker), pOut);
    AppendJsonMarkerKey(report, pOut);
    pOut->Append(report.eKeyRepair == kKeyRepaired ? ",\"key_reset\":true"
                                                   : ",\"key_reset\":false");
    pOut->Append(",\"format\":" IDROVAN_RENEWAL_FORMAT_TEXT ",\"version\":\"" IDROVAN_VERSION_TEXT
                 "\",\"error\":");
    AppendJsonError(derivation, messages, pOut);
    pOut->Append("}\n");
}
