#pragma once

// A report that an earlier `idrovan-cli --json` printed, read back for --compare.
//
// Two layouts are read: the current one ("format": 2), which holds a fingerprint of each fact,
// and 2.1.31.0's (no "format" key), which holds the fact texts themselves; those are
// fingerprinted on reading and then forgotten. Reading is strict: a report must be one JSON object
// with exactly the keys of its layout ("marker_key", added to the current layout later, may be
// missing), each of its type, in UTF-8 (or UTF-16 with a byte-order mark, as PowerShell saves
// it), at most kMaxSavedReportSize bytes. A report of one application
// (--app-specific) cannot be compared and is refused, as is a report without an ID.
//
// Plain functions; safe on any thread. The parser (rapidjson's SAX reader, in place on a copy)
// never recurses beyond the report's own two levels: any deeper value is refused when it opens.

#include <cstddef>

#include "cli/command_line.h"
#include "cli/text_builder.h"
#include "identification/fact_fingerprint.h"

const std::size_t kMaxSavedReportSize = 64 * 1024;

struct CSavedReport {
    // 1 for 2.1.31.0's layout with the fact texts, 2 for the current one.
    int nFormat = 0;
    // The report's ID as it was written (32 hexadecimal digits).
    char szID[kComputerIDLength + 1] = {};
    char szRootFingerprint[kFactFingerprintLength + 1] = {};
    char szVolumeFingerprint[kFactFingerprintLength + 1] = {};
};

// Reads nLength bytes at pData. False, with one line (ASCII, no line break, nothing of the
// report's own text beyond a short printable excerpt of an unknown key) appended to *pError, for
// anything that is not a comparable report of this program.
bool ReadSavedReport(const char* pData, std::size_t nLength, CSavedReport* pReport,
                     CTextBuilder* pError);
