#pragma once

// What one derivation of the computer ID comes to for a caller that must act on it: the ID, a
// missing right to the marker, no marker yet, or another failure. The console's exit codes and
// the C API's result codes are both made from it, so that a script and a program that embeds the
// derivation read one situation alike.
//
// A plain function of the derivation's result; safe on any thread.

#include "identification/drive_id.h"
#include "identification/drive_id_report.h"

enum EDerivationOutcome {
    kOutcomeID,        // the derivation gave an ID
    kOutcomeNoRights,  // the marker key, value or write was refused: access denied
    kOutcomeNoMarker,  // read-only, and the key or a usable value is not there yet
    kOutcomeFailure,   // anything else
};

// bHasID: the derivation gave an ID. eAccess: how it was allowed to treat the marker.
EDerivationOutcome GetDerivationOutcome(bool bHasID, const CDriveIDReport& report,
                                        EMarkerAccess eAccess);
