#pragma once

// CDriveID: derives the computer ID, 32 lowercase hexadecimal digits that stay the same for as
// long as the system drive's root directory, its volume and the installation marker do.
//
// The ID is the digest (CMD5Checksum's variant) of a scrambled join of three texts: the root
// directory's creation time, the volume serial number with the file-system name, and the
// installation marker kept under HKEY_CLASSES_ROOT\lrgDocID, value Rndund. GetID writes that
// marker once, when it is missing and the key can be opened or created with full access.
//
// Made on the stack for one derivation and used by one thread; nothing is cached between calls.
// The machine facts object is borrowed: it must outlive the CDriveID.

#include "identification/drive_id_report.h"
#include "platform/machine_facts.h"
#include "support/veltrane_string.h"

// How a derivation may treat the installation marker.
enum EMarkerAccess {
    // Opens and creates the key with full access and writes a missing marker (the dialog).
    kMarkerReadWrite,
    // Opens the key with read access only; never creates the key or writes a value.
    kMarkerReadOnly,
};

class CDriveID {
public:
    // Reads the facts of the machine the program runs on.
    CDriveID();
    // Reads the facts through another implementation, such as a test's scripted one.
    explicit CDriveID(CMachineFacts& machine, EMarkerAccess eAccess = kMarkerReadWrite);
    virtual ~CDriveID() {}

    // The computer ID, or an empty text when any fact is missing. May create the marker key and
    // write the marker.
    virtual CVeltraneString GetID();
    // The same derivation, also filling in *pReport (when not null) with what each step found.
    CVeltraneString GetID(CDriveIDReport* pReport);

protected:
    // Takes the first byte of the Windows directory as the drive text, unchecked. False, with an
    // empty drive text, when the directory is unknown.
    bool ReadSystemDrive();
    // The volume serial number in "%X" followed by the file-system name: "5A3C00F1NTFS".
    CVeltraneString GetVolumeText();
    // The time text of the system drive root's creation time.
    CVeltraneString GetRootCreationText();
    // The time text of a path's creation time; appends a backslash to the path when it lacks one.
    CVeltraneString GetPathCreationText(CVeltraneString& strPath);
    // The stored marker text, or empty when the key or a usable REG_SZ value is missing.
    CVeltraneString ReadInstallMarker();
    // Writes a new marker when none can be read. True only when it wrote one.
    bool EnsureInstallMarker();
    // A fresh marker: the digest text of the current time's time text.
    CVeltraneString MakeInstallMarker();
    // Inserts 7 x length after the character at length / 3, which thereby occurs twice:
    // "abc" becomes "ab21bc".
    CVeltraneString Scramble(CVeltraneString strText);

    const CVeltraneString& GetSystemDrive() const { return m_strSystemDrive; }

private:
    CVeltraneString m_strSystemDrive;
    CMachineFacts* m_pMachine;
};
