#pragma once

// CDriveIDReport: what one derivation of the computer ID found, step by step, for callers that
// must explain an ID or its absence (the console program's --explain and --json). The dialog
// derives without one.
//
// Filled in by CDriveID::GetID(CDriveIDReport*) on the calling thread; a plain value owned by the
// caller. It never holds the installation marker's value: that is one of the ID's inputs, and
// these reports end up pasted into support tickets.

#include <cstdint>

#include "platform/machine_facts.h"
#include "support/veltrane_string.h"

// The state of the installation marker after the derivation.
enum EMarkerState {
    kMarkerMissing,  // no usable marker could be read (absent, unreachable, or not written)
    kMarkerPresent,  // a marker was stored before this derivation and was used
    kMarkerCreated,  // this derivation wrote a new marker and read it back
    // A REG_SZ value is stored but too long to read: kept as it is, and no ID is derived from it.
    kMarkerUnusable,
};

// The step that stopped the derivation.
enum EDriveIDStep {
    kStepNone,              // nothing failed
    kStepWindowsDirectory,  // the Windows directory, and so the system drive, is unknown
    kStepVolume,            // the system volume's serial number and file system
    kStepRootCreation,      // the creation time of the system drive's root directory
    kStepMarkerKey,         // the marker key could be neither opened nor created
    kStepMarkerValue,       // the key is there but holds no usable marker
    kStepMarkerWrite,       // a new marker was made but could not be stored
    kStepMemory,            // a working text could not be allocated
    kStepMarkerLock,        // the lock that lets one process at a time write was not had
    kStepMarkerRandom,      // the system's random source gave no bytes for a new marker
};

// What --new-marker did to the security of a key whose owner or DACL let other accounts than
// the administrators' change it.
enum EKeyRepair {
    kKeyRepairNone,  // nothing to repair, or nothing was renewed
    kKeyRepaired,    // the key deleted and made anew, with the owner and DACL a new key gets
    // The key could not be deleted, or not made anew with that security (nKeyRepairStatus): no
    // new marker was written.
    kKeyRepairFailed,
};

struct CDriveIDReport {
    // The fact texts exactly as they went into the ID; empty when not read.
    CVeltraneString strRootCreation;
    CVeltraneString strVolume;
    EMarkerState eMarker = kMarkerMissing;
    // The step that failed and its Win32 status (ERROR_ACCESS_DENIED is 5); kStepNone and 0 for
    // a derivation that gave an ID. A status of 0 with a failed step means that the system
    // reported the failure without a status.
    EDriveIDStep eFailedStep = kStepNone;
    long nStatus = 0;
    // The length in bytes of a stored marker that could not be used, where that explains why.
    std::uint32_t nMarkerLength = 0;
    // A key of the user's own, HKEY_CURRENT_USER\Software\Classes\lrgDocID, exists. It is never
    // read: the marker is the machine's (HKEY_LOCAL_MACHINE\Software\Classes\lrgDocID), which
    // HKEY_CLASSES_ROOT shows to every account without such a key.
    bool bUserKeyIgnored = false;
    // The marker key's owner and DACL as the last read of the marker found them (on the key it
    // read the marker from); bMarkerKeyOpened false, and eMarkerKey kKeyTrustUnknown, when no key
    // was opened. A loose key still gives its ID: see CDriveID.
    bool bMarkerKeyOpened = false;
    EKeyTrust eMarkerKey = kKeyTrustUnknown;
    // RenewMarker only.
    EKeyRepair eKeyRepair = kKeyRepairNone;
    long nKeyRepairStatus = 0;
    // A failed renewal deleted the loose key and could not make it anew: the marker it held is
    // gone. False wherever the key was left, or made anew.
    bool bKeyDeleted = false;
};

// Stable lower-case names for scripts: "windows_directory", "volume", "root_created",
// "marker_key", "marker_value", "marker_write", "memory", "marker_lock", "marker_random"; null for
// kStepNone.
const char* GetDriveIDStepName(EDriveIDStep eStep);

// "present", "created", "unusable" or "missing".
const char* GetMarkerStateName(EMarkerState eState);

// The marker key's trust for scripts: "trusted", "loose" (a loose DACL or a foreign owner) or
// "unknown"; null when no key was opened.
const char* GetMarkerKeyTrustName(const CDriveIDReport& report);
