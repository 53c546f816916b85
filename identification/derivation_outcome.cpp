#include "identification/derivation_outcome.h"

namespace {

const long kStatusNotFound = 2;      // ERROR_FILE_NOT_FOUND
const long kStatusAccessDenied = 5;  // ERROR_ACCESS_DENIED

bool IsMarkerStep(EDriveIDStep eStep) {
    return eStep == kStepMarkerKey || eStep == kStepMarkerValue || eStep == kStepMarkerWrite;
}

}  // namespace

EDerivationOutcome GetDerivationOutcome(bool bHasID, const CDriveIDReport& report,
                                        EMarkerAccess eAccess) {
    if (bHasID)
        return kOutcomeID;
    if (IsMarkerStep(report.eFailedStep) && report.nStatus == kStatusAccessDenied)
        return kOutcomeNoRights;
    if (eAccess == kMarkerReadOnly &&
        (report.eFailedStep == kStepMarkerKey || report.eFailedStep == kStepMarkerValue) &&
        report.nStatus == kStatusNotFound)
        return kOutcomeNoMarker;
    return kOutcomeFailure;
}
