#pragma once

// CDriveID: derives the computer ID, 32 lowercase hexadecimal digits that stay the same for as
// long as the system drive's root directory, its volume and the installation marker do.
//
// The ID is the digest (CMD5Checksum's variant) of a scrambled join of three texts: the root
// directory's creation time, the volume serial number with the file-system name, and the
// installation marker kept under HKEY_LOCAL_MACHINE\Software\Classes\lrgDocID, value Rndund: the
// key that HKEY_CLASSES_ROOT\lrgDocID shows every account without a key of its own of that name
// under HKEY_CURRENT_USER\Software\Classes, which is ignored (any account could create one and
// have an ID of its own). GetID writes that marker once, when it is missing and the key can be
// opened or created with full access: 16 bytes of the system's cryptographic random source as 32
// lowercase hexadecimal digits, so that clones of one disk image that make their markers at the
// same moment still get IDs of their own. A marker is written only under the marker lock
// (CMarkerLock), and read again under it first.
// RenewMarker is the one operation that writes over a stored marker.
//
// The marker key's owner and DACL are part of what the marker is worth: a key that an account
// without administrator rights may write, or that such an account owns, lets that account choose
// the marker and so the ID. A derivation with a report reads the key's security along with the
// marker and reports it (CDriveIDReport::eMarkerKey), but still derives the ID from such a
// marker: the key may have been loosened by other software or by mistake on a machine whose
// marker nobody touched, and refusing would take its ID away from every such machine; nor could
// a refusal tell a chosen marker from the one written on the first run. Callers that bind
// something of value to the ID see the report and decide. A key this program creates gets
// explicit security (CMachineFacts::CreateClassesKey), and RenewMarker makes a loose key it
// writes into anew.
//
// Made on the stack for one derivation and used by one thread; nothing is cached between calls.
// The machine facts object is borrowed: it must outlive the CDriveID.

#include "identification/drive_id_report.h"
#include "identification/marker_lock.h"
#include "platform/machine_facts.h"
#include "support/veltrane_string.h"

// How a derivation may treat the installation marker.
enum EMarkerAccess {
    // Opens and creates the key with full access and writes a missing marker (the dialog).
    kMarkerReadWrite,
    // Opens the key with read access only; never creates the key or writes a value.
    kMarkerReadOnly,
    // Reads the marker with read access, as kMarkerReadOnly; only when the registry says that no
    // usable marker is stored (no key, or no usable value) takes the lock and writes one, opening
    // or creating the key with full access then. An account without administrator rights thus
    // gets the ID wherever a marker exists (the console program and the DLL by default).
    kMarkerReadFirst,
};

class CDriveID {
public:
    // Reads the facts of the machine the program runs on.
    CDriveID();
    // Reads the facts through another implementation, such as a test's scripted one.
    explicit CDriveID(CMachineFacts& machine, EMarkerAccess eAccess = kMarkerReadWrite);
    virtual ~CDriveID() {}

    // What a report holds beyond the steps of the derivation; both by default. Each costs
    // machine calls: the marker key's trust one read of its security (ReadKeyTrust), the
    // user's own key one probe (HasUserClassesKey). Without the one, the report's eMarkerKey is
    // kKeyTrustUnknown and bMarkerKeyOpened false; without the other, bUserKeyIgnored is false.
    enum EReportExtra {
        kReportKeyTrust = 1,
        kReportUserKey = 2,
    };
    void SetReportExtras(unsigned nExtras) { m_nReportExtras = nExtras; }

    // The computer ID, or an empty text when any fact is missing. May create the marker key and
    // write the marker.
    virtual CVeltraneString GetID();
    // The same derivation, also filling in *pReport (when not null) with what each step found.
    // It makes the same machine calls as GetID(), in the same order, and only adds
    // ReadLastError right after a failed Windows directory, volume or attribute read, and (as
    // SetReportExtras asks) at its end HasUserClassesKey, for bUserKeyIgnored, and ReadKeyTrust
    // right after the marker key opened for the read whose marker is used, for eMarkerKey.
    //
    // The marker is read once where one is stored: that read comes right after the Windows
    // directory's, before the volume's. Only where none was stored (or none usable) is it read
    // again after the root's creation time, under the lock where one was written.
    //
    // The failed step is the first one that failed, in the derivation's order (Windows directory,
    // marker key and write, volume, root creation time, marker read). Its status is the one the
    // failing registry call returned, GetLastError for the file-system reads, and:
    // - kStepMarkerValue with ERROR_FILE_NOT_FOUND when the key holds no marker (no value, an
    //   empty one, or another type; nMarkerLength then gives a stored value's byte length), and
    //   with ERROR_MORE_DATA for a REG_SZ value too long for the read buffer (marker state
    //   kMarkerUnusable, nMarkerLength its length): someone stored it, so it is neither used nor
    //   written over;
    // - kStepMarkerKey with ERROR_ACCESS_DENIED, at once and without the lock, when the key is
    //   there but does not open with full access (read-write mode) or with read access (any
    //   mode): this account could write no marker, or read none;
    // - kStepMarkerLock with the lock's status (WAIT_TIMEOUT after 10 s) when another process
    //   held the marker lock, ERROR_ACCESS_DENIED for an account without administrator rights
    //   that found no marker: nothing is written;
    // - kStepMarkerRandom with 0 when the random source failed: nothing is written;
    // - kStepMarkerWrite with 0 when the write was accepted but did not read back;
    // - kStepRootCreation with ERROR_INVALID_PARAMETER when the creation time has no time text;
    // - kStepMemory with ERROR_NOT_ENOUGH_MEMORY when a working text could not be allocated; the
    //   ID is then empty (never a wrong one) and a stored marker is left as it was.
    CVeltraneString GetID(CDriveIDReport* pReport);

    // What RenewMarker did.
    enum ERenewal {
        kRenewed,          // a new marker is stored and strAfter is the ID it gives
        kRenewNotCurrent,  // this computer's ID is not the one given: nothing was changed
        // The report says which step failed; the stored marker is as it was (nothing was
        // written, or the registry accepted the write but what reads back is what was there).
        kRenewFailed,
        // The registry accepted the new marker, so the ID before is gone, but no ID could be
        // derived from it: strAfter is empty and the report says which step failed.
        kRenewedUnread,
    };
    // Writes a new marker over the stored one, but only while this computer's ID is pszCurrentID
    // (32 hexadecimal digits, either case); with a null pszCurrentID only while no usable marker
    // is stored (none at all, or a value too long to use). The check, the write and the reading
    // back all happen under the marker lock, so a start-up task that runs on every clone of an
    // image with the image's ID renews each clone once and then never again. strBefore is the ID
    // found first (empty without one), strAfter the new one; *pReport (when not null) describes
    // the last derivation made, or the lock, write or random source that failed. When the key it
    // writes into had a loose DACL or a foreign owner (as the first derivation read it), the key
    // is deleted and made anew with the security CreateClassesKey gives, under the lock and
    // before the marker is written, so that no handle opened while it was loose can write into
    // it again; eKeyRepair says whether that took. A reset that fails writes nothing and gives
    // kRenewFailed with kStepMarkerKey and the status; when the key was deleted but could not
    // be made anew with that security, the old marker is gone (eMarker kMarkerMissing).
    ERenewal RenewMarker(const char* pszCurrentID, CVeltraneString& strBefore,
                         CVeltraneString& strAfter, CDriveIDReport* pReport);

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
    // Writes a new marker when the registry says that none is stored (never in read-only mode),
    // under the marker lock. True only when it wrote one.
    bool EnsureInstallMarker();
    // A fresh marker: 16 random bytes as 32 lowercase hexadecimal digits; empty when the random
    // source fails.
    CVeltraneString MakeInstallMarker();
    // Inserts 7 x length after the character at length / 3, which thereby occurs twice:
    // "abc" becomes "ab21bc".
    CVeltraneString Scramble(CVeltraneString strText);

    const CVeltraneString& GetSystemDrive() const { return m_strSystemDrive; }

private:
    // What one read of the marker found.
    enum EMarkerRead {
        kReadUsable,    // a usable marker, now in the caller's text
        kReadNoKey,     // the key could not be opened
        kReadNoValue,   // the registry holds no usable value
        kReadTooLong,   // a REG_SZ value longer than the read buffer: present, but unusable
        kReadNoMemory,  // the value is there, but our copy of it could not be made
    };
    struct SMarkerRead {
        EMarkerRead eResult;
        long nStatus;           // the open's status, or the query's
        std::uint32_t nLength;  // the stored value's byte length, when the query found one
    };

    // What making a new marker gave.
    enum EMarkerMade {
        kMadeMarker,
        kMadeNoRandom,  // the random source failed
        kMadeNoMemory,
    };

    // The derivation itself, with the lock that any write of a missing marker takes.
    CVeltraneString Derive(CDriveIDReport* pReport, CMarkerLock& lock);
    // Starts a derivation's bookkeeping; the marker written so far in this call is kept.
    void BeginDerivation(CDriveIDReport* pReport);
    // Fills in *pReport and keeps a failure only where there is no ID.
    void EndDerivation(CVeltraneString& strID, const CVeltraneString& strVolume,
                       const CVeltraneString& strRootCreation, EMarkerState eMarker);
    // Reads the marker and, when the registry says that none is stored, writes one under the
    // lock. True when its first read found a usable marker: then strStored and *pRead hold
    // that read (with the key's trust in *pTrust, when asked for), which the derivation uses.
    // False otherwise, with strStored empty: the derivation reads the marker itself, also to
    // read back one written here.
    bool EnsureMarker(CMarkerLock& lock, CVeltraneString& strStored, EKeyTrust* pTrust,
                      SMarkerRead* pRead);
    // Opens or creates the key and stores a new marker in it, whatever it holds; with
    // bResetKey, first deletes the key and makes it anew with its own security, and writes only
    // when the new key is trusted. True when the registry accepted the write.
    bool WriteNewMarker(bool bResetKey = false);
    bool DeleteLooseKey();
    void FailKeyRepair(long nStatus);
    // Reads the marker; with pTrust, also the security of the key it opened (kKeyTrustUnknown
    // when none opened).
    SMarkerRead ReadMarker(CVeltraneString& strMarker, EKeyTrust* pTrust = nullptr);
    static bool SaysNoMarkerStored(const SMarkerRead& read);
    EMarkerMade MakeMarker(CVeltraneString& strMarker);
    // The fact texts into strText; false, with the failure kept, when a fact is missing.
    bool ReadVolumeText(CVeltraneString& strText);
    bool ReadRootCreationText(CVeltraneString& strText);
    bool ReadPathCreationText(CVeltraneString& strPath, CVeltraneString& strText);
    void ReportMarkerRead(const SMarkerRead& read);
    // A renewal whose write did not take: no ID after, and a report that says so.
    ERenewal KeepLostWrite(CVeltraneString& strAfter, CDriveIDReport* pReport);
    // Keeps the first failure of a derivation.
    void Fail(EDriveIDStep eStep, long nStatus);
    // The status of a failed file-system read; asked for only when a report wants it.
    long LastError();

    CVeltraneString m_strSystemDrive;
    CMachineFacts* m_pMachine;
    EMarkerAccess m_eAccess;

    // The progress of the current derivation.
    CDriveIDReport* m_pReport;
    EDriveIDStep m_eFailedStep;
    long m_nFailedStatus;
    std::uint32_t m_nMarkerLength;
    bool m_bMarkerWritten;  // the registry accepted a new marker in this derivation
    // RenewMarker's derivations write nothing of their own; the one read of the marker they make
    // is kept for RenewMarker to judge.
    bool m_bRenewing;
    EMarkerRead m_eLastRead;
    long m_nLastReadStatus;
    // The marker key's security as the current derivation's last read found it.
    bool m_bKeyOpened;
    EKeyTrust m_eKeyTrust;
    // What RenewMarker's reset of the key's security gave (kKeyRepairNone: none was made), and
    // whether it deleted the key.
    EKeyRepair m_eKeyRepair;
    long m_nKeyRepairStatus;
    bool m_bKeyDeleted;
    unsigned m_nReportExtras;
};
