#include "identification/derivation_outcome.h"

#include "platform/machine_facts.h"

namespace {

// The steps whose refusal means that this account may not write the marker; the lock refuses
// every account without administrator rights.
bool IsMarkerStep(EDriveIDStep eStep) {
    return eStep == kStepMarkerKey || eStep == kStepMarkerValue || eStep == kStepMarkerWrite ||
           eStep == kStepMarkerLock;
}

}  // namespace

EDerivationOutcome GetDerivationOutcome(bool bHasID, const CDriveIDReport& report,
                                        EMarkerAccess eAccess) {
    if (bHasID)
        return kOutcomeID;
    if (IsMarkerStep(report.eFailedStep) && report.nStatus == VERROR_ACCESS_DENIED)
        return kOutcomeNoRights;
    if (eAccess == kMarkerReadOnly &&
        (report.eFailedStep == kStepMarkerKey || report.eFailedStep == kStepMarkerValue) &&
        report.nStatus == VERROR_FILE_NOT_FOUND)
        return kOutcomeNoMarker;
    return kOutcomeFailure;
}
