#pragma once

// What the console program prints for one derivation of the computer ID, and the exit code a
// script sees. Pure functions of the derivation's result, so that every mapping is tested
// without a machine; safe on any thread.
//
// Every text is ASCII and ends in a line break. None holds the installation marker's value or the
// fact texts that go into the ID: these outputs get pasted into support tickets, and with the
// texts and the ID a marker made the old way (the digest of a time) can be searched for. The
// facts appear only as their fingerprints (identification/fact_fingerprint.h).

#include "cli/command_line.h"
#include "cli/console_program.h"
#include "cli/status_messages.h"
#include "cli/text_builder.h"
#include "identification/drive_id.h"
#include "identification/fact_fingerprint.h"

// The exit codes, as --help lists them. 5 is left out on purpose: some hosts report a crashed
// process with a status whose low byte is 5, and a script must never take a crash for an answer.
enum ECliExitCode {
    kExitSuccess = 0,
    kExitDifferentID = 1,
    kExitUsage = 2,
    kExitNoRights = 3,
    kExitNoMarker = 4,
    kExitFailure = 6,
};

// One derivation: the ID (empty without one), what the derivation reported, and the mode it ran
// in. With an application named, szID holds that application's ID in place of the computer's.
struct CDerivation {
    char szID[kComputerIDLength + 1] = {};
    CDriveIDReport report;
    EMarkerAccess eAccess = kMarkerReadWrite;
    // What the user asked for: messages name only options that were given.
    ECliCommand eCommand = kCommandPrint;
    // --app-specific: the application's name, borrowed; null otherwise.
    const char* pszApplication = nullptr;
    // The computer's ID was derived but the application's could not be computed from it.
    bool bApplicationIDFailed = false;
    // The fingerprints of the facts that were read (AddFactFingerprints); empty otherwise.
    char szRootFingerprint[kFactFingerprintLength + 1] = {};
    char szVolumeFingerprint[kFactFingerprintLength + 1] = {};
    // A fact was read but its fingerprint could not be computed; the ID is withheld then, as an
    // answer without the facts that explain it.
    bool bFingerprintFailed = false;
};

// True when the derivation gave an ID (the computer's, or the application's in its place).
bool HasID(const CDerivation& derivation);

// Fingerprints the facts that the derivation read, for the outputs that show them (--explain,
// --json, --compare). When the system's HMAC-SHA256 fails, drops the ID and sets
// bFingerprintFailed, so that the run ends in kExitFailure.
void AddFactFingerprints(CDerivation* pDerivation);

// kExitSuccess with an ID; otherwise by the failed step: access denied to the marker gives
// kExitNoRights, a marker that is not there in read-only mode kExitNoMarker, anything else
// (an application's ID that could not be computed too) kExitFailure.
ECliExitCode GetExitCode(const CDerivation& derivation);

// The layout of the --json report; raised whenever a key is removed or changes its meaning. A key
// may be added within a layout ("marker_key" was, after 2.2.0.0), and readers take a report with
// or without it. 2.1.31.0's report, with the fact texts in place of their fingerprints, had no
// "format" key.
#define IDROVAN_REPORT_FORMAT_TEXT "2"
// The layout of --new-marker --json's object.
#define IDROVAN_RENEWAL_FORMAT_TEXT "1"

// One line for stderr saying why there is no ID, starting "idrovan-cli: ".
void FormatFailure(const CDerivation& derivation, CStatusMessages& messages, CTextBuilder* pOut);

// --explain: the fingerprints of the root creation time and of the volume, the marker state, a
// line saying that a per-user key exists and is ignored (only then), a line saying what a marker
// key that other accounts than the administrators' may change means, or that its security could
// not be read (only then), and the ID, one per line,
// then the failed step and its status when there is no ID.
void FormatExplanation(const CDerivation& derivation, CStatusMessages& messages,
                       CTextBuilder* pOut);

// --new-marker: what it did, and the IDs before and after.
struct CRenewalResult {
    CDriveID::ERenewal eRenewal = CDriveID::kRenewFailed;
    // The ID before (empty without one); the derivation holds the ID after, or, when nothing was
    // renewed, the same ID as before.
    char szBefore[kComputerIDLength + 1] = {};
    // --new-marker none, as opposed to an ID.
    bool bNoneGiven = false;
    CDerivation derivation;
};

// kExitSuccess renewed, kExitDifferentID not this computer's ID (nothing changed); with no ID to
// compare (no marker, or one too long to use) kExitNoMarker or kExitFailure, as a read-only run
// gives them; otherwise the failure's code as GetExitCode gives it, also for a new marker written
// but not read back.
ECliExitCode GetRenewalExitCode(const CRenewalResult& result);

// --new-marker without --json: "Old ID:" and "New ID:" lines on stdout (and one that says the
// marker key's loose permissions were reset), or on stderr that they could not be, one line on
// stdout that
// says why nothing changed (exit 1), or the failure's line on stderr (no ID to renew too). A new
// marker written but not read back gives both: "New ID: not read" on stdout, and on stderr that
// the old ID is gone and why the new one could not be read.
void FormatRenewal(const CRenewalResult& result, CStatusMessages& messages, CConsoleOutput* pOut);

// --new-marker --json: id (the ID now), previous_id, renewed, marker, marker_key (the key's
// trust as the last read found it: after a renewal the key written into, else the key as it
// was), key_reset (the key was deleted and made anew with its own security), format, version,
// error. "renewed" is true with "id" null and an error when the new marker was written but not
// read; a reset that failed gives "renewed" false and the error.
// Not a report: no fingerprints of the facts (--json gives those).
void FormatRenewalJson(const CRenewalResult& result, CStatusMessages& messages, CTextBuilder* pOut);

// --json: one object on one line with id, marker, marker_key (GetMarkerKeyTrustName, or null),
// root_created_fingerprint, volume_fingerprint, format, version and error. For an application:
// id, app, marker, marker_key, format, version and error. The
// fingerprints are left out then: the same for every application, they would help two vendors
// match their machines after all.
void FormatJson(const CDerivation& derivation, CStatusMessages& messages, CTextBuilder* pOut);

// The pieces that other outputs share: a line's label padded to the value column, and the value
// of an "error" key (null with an ID; otherwise step, code and message).
void AppendLineLabel(const char* pszLabel, CTextBuilder* pOut);
void AppendJsonError(const CDerivation& derivation, CStatusMessages& messages, CTextBuilder* pOut);

// A Win32 status for a line of text: "status 5: Access is denied", "status 1234" without a
// system text, "no status" for 0.
void AppendStatus(long nStatus, CStatusMessages& messages, CTextBuilder* pOut);
