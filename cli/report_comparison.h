#pragma once

// --compare: an earlier report of this machine against the derivation of now, fact by fact.
//
// The report keeps only fingerprints of the root folder's creation time and of the volume, and
// nothing of the marker. A fact whose fingerprint differs has changed; one whose fingerprint
// matches is the same but for a change missed once in 1024. The marker is judged from the rest:
// the same ID means every fact is the same; a different ID with both fingerprints matching means
// the marker changed; a marker that is gone now (a read-only run finds none) changed too;
// otherwise nothing can be said of it.
//
// Pure functions of their arguments; safe on any thread.

#include "cli/id_output.h"
#include "cli/saved_report.h"

enum EFactVerdict {
    kFactSame,
    kFactChanged,
    kFactUnknown,  // not read now, or (the marker) not to be told from the report
};

struct CComparison {
    EFactVerdict eVolume = kFactUnknown;
    EFactVerdict eRootCreated = kFactUnknown;
    EFactVerdict eMarker = kFactUnknown;
    // Only when there is an ID now.
    bool bSameID = false;
    // Root folder and volume both changed: another machine, or this one installed anew.
    bool bOtherMachine = false;
};

CComparison CompareWithReport(const CSavedReport& report, const CDerivation& derivation);

// kExitSuccess for the same ID, kExitDifferentID for another; without an ID now, the
// derivation's own exit code.
ECliExitCode GetComparisonExitCode(const CDerivation& derivation, const CComparison& comparison);

// For people: one line per fact with the usual cause of a change, then the IDs. Without an ID
// now the facts that were read are still compared; the failure itself goes to stderr
// (FormatFailure).
void FormatComparison(const CSavedReport& report, const CDerivation& derivation,
                      const CComparison& comparison, CTextBuilder* pOut);

// --compare --json: one object on one line: same_id, id, report_id, volume, root_created,
// marker ("same", "changed" or "unknown"), other_machine, report_format, format, version, error.
void FormatComparisonJson(const CSavedReport& report, const CDerivation& derivation,
                          const CComparison& comparison, CStatusMessages& messages,
                          CTextBuilder* pOut);
