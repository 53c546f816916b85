#include "identification/drive_id.h"

#include <cstring>
#include "identification/computer_id_text.h"

#include "identification/md5_checksum_calculator.h"
#include "identification/time_functions.h"

namespace {

const char kMarkerKey[] = "lrgDocID";
const char kMarkerValue[] = "Rndund";
const int kPathBufferSize = 256;
const std::uint32_t kMarkerBufferSize = 260;
const int kDigestTextLength = 2 * CMD5Checksum::DIGEST_SIZE;
// A new marker's random bytes; their text is as long as the digest text markers had before.
const std::uint32_t kMarkerRandomBytes = 16;

// The digest text of a narrow text's characters, without its terminator, into strDigest. False,
// with strDigest empty, when the digest or its text could not be made.
bool DigestTextOf(CVeltraneString& strText, CVeltraneString& strDigest) {
    CMD5ChecksumCalculator calculator;
    if (calculator.Compute(strText.GetText(), strText.GetLength())) {
        strDigest = calculator.GetDigestText();
        if (strDigest.GetLength() == kDigestTextLength)
            return true;
    }
    strDigest.Empty();
    return false;
}

int DecimalDigits(long nValue) {
    int nDigits = 1;
    for (; nValue >= 10; nValue /= 10)
        ++nDigits;
    return nDigits;
}

// Scramble adds the decimal digits of 7 x length to the text, and repeats one character.
int ScrambledLength(int nLength) {
    return nLength + 1 + DecimalDigits(7L * nLength);
}

}  // namespace

CDriveID::CDriveID() : CDriveID(GetDefaultMachineFacts()) {}

CDriveID::CDriveID(CMachineFacts& machine, EMarkerAccess eAccess)
    : m_pMachine(&machine),
      m_eAccess(eAccess),
      m_pReport(nullptr),
      m_eFailedStep(kStepNone),
      m_nFailedStatus(VERROR_SUCCESS),
      m_nMarkerLength(0),
      m_bMarkerWritten(false),
      m_bRenewing(false),
      m_eLastRead(kReadNoKey),
      m_nLastReadStatus(VERROR_SUCCESS),
      m_bKeyOpened(false),
      m_eKeyTrust(kKeyTrustUnknown),
      m_eKeyRepair(kKeyRepairNone),
      m_nKeyRepairStatus(VERROR_SUCCESS),
      m_bKeyDeleted(false),
      m_nReportExtras(kReportKeyTrust | kReportUserKey) {}

CVeltraneString CDriveID::GetID() {
    return GetID(nullptr);
}

CVeltraneString CDriveID::GetID(CDriveIDReport* pReport) {
    // Held from the first write of a missing marker until it has been read back.
    CMarkerLock lock(*m_pMachine);
    m_bMarkerWritten = false;
    return Derive(pReport, lock);
}

void CDriveID::BeginDerivation(CDriveIDReport* pReport) {
    m_pReport = pReport;
    m_eFailedStep = kStepNone;
    m_nFailedStatus = VERROR_SUCCESS;
    m_nMarkerLength = 0;
    m_eLastRead = kReadNoKey;
    m_nLastReadStatus = VERROR_SUCCESS;
    m_bKeyOpened = false;
    m_eKeyTrust = kKeyTrustUnknown;
}

// Every working text is checked whole before it is used: a piece lost to a failed allocation
// would otherwise digest to a well-formed but wrong ID, or be stored as a marker for good.
CVeltraneString CDriveID::Derive(CDriveIDReport* pReport, CMarkerLock& lock) {
    BeginDerivation(pReport);

    CVeltraneString strID;
    CVeltraneString strVolume;
    CVeltraneString strRootCreation;
    EMarkerState eMarker = kMarkerMissing;
    if (ReadSystemDrive()) {
        // The key's security is read from the very key the marker comes from; only a report
        // that asks for it, and a renewal, which makes a loose key anew, have a use for it.
        const bool bJudgeKey =
            (m_pReport != nullptr && (m_nReportExtras & kReportKeyTrust) != 0) || m_bRenewing;
        EKeyTrust* pTrust = bJudgeKey ? &m_eKeyTrust : nullptr;
        CVeltraneString strMarker;
        // Writes the marker first, so that the very first derivation already uses the final one.
        // A usable marker found by that first read is the one used: it is read once.
        SMarkerRead read = {kReadNoKey, VERROR_SUCCESS, 0};
        const bool bMarkerRead = !m_bRenewing && EnsureMarker(lock, strMarker, pTrust, &read);

        const bool bVolume = ReadVolumeText(strVolume);
        const bool bRootCreation = ReadRootCreationText(strRootCreation);
        if (!bMarkerRead)
            read = ReadMarker(strMarker, pTrust);
        m_bKeyOpened = bJudgeKey && read.eResult != kReadNoKey;
        m_eLastRead = read.eResult;
        m_nLastReadStatus = read.nStatus;
        if (read.eResult == kReadUsable)
            eMarker = m_bMarkerWritten ? kMarkerCreated : kMarkerPresent;
        else if (read.eResult == kReadNoValue && m_bMarkerWritten)
            Fail(kStepMarkerWrite, VERROR_SUCCESS);
        else
            ReportMarkerRead(read);
        if (read.eResult == kReadTooLong)
            eMarker = kMarkerUnusable;

        if (bVolume && bRootCreation && read.eResult == kReadUsable) {
            CVeltraneString strCombined = strRootCreation + strVolume;
            strCombined.Append(strMarker);
            CVeltraneString strScrambled = Scramble(strCombined);
            // The join is as long as its parts, and the scramble adds a known count: a piece lost
            // on the way shows in the scrambled text's length.
            const int nCombined =
                strRootCreation.GetLength() + strVolume.GetLength() + strMarker.GetLength();
            if (strScrambled.GetLength() != ScrambledLength(nCombined) ||
                !DigestTextOf(strScrambled, strID))
                Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
        }
    }
    EndDerivation(strID, strVolume, strRootCreation, eMarker);
    return strID;
}

void CDriveID::EndDerivation(CVeltraneString& strID, const CVeltraneString& strVolume,
                             const CVeltraneString& strRootCreation, EMarkerState eMarker) {
    CDriveIDReport* pReport = m_pReport;
    if (pReport != nullptr) {
        pReport->strVolume = strVolume;
        pReport->strRootCreation = strRootCreation;
        pReport->eMarker = eMarker;
        // A report without its texts would explain nothing; it must not go with an ID.
        if (pReport->strVolume.GetLength() != strVolume.GetLength() ||
            pReport->strRootCreation.GetLength() != strRootCreation.GetLength()) {
            Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
            strID.Empty();
        }
    }
    if (strID.GetLength() > 0) {
        // A failure that did not keep the ID from being made (a marker copy lost before the
        // marker was read again) is no failure of the derivation.
        m_eFailedStep = kStepNone;
        m_nFailedStatus = VERROR_SUCCESS;
        m_nMarkerLength = 0;
    } else if (m_eFailedStep == kStepNone) {
        // Every failing step says so; only a lost copy of a working text can end up here.
        Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
    }
    if (pReport != nullptr) {
        pReport->eFailedStep = m_eFailedStep;
        pReport->nStatus = m_nFailedStatus;
        pReport->nMarkerLength = m_nMarkerLength;
        pReport->bUserKeyIgnored =
            (m_nReportExtras & kReportUserKey) != 0 && m_pMachine->HasUserClassesKey(kMarkerKey);
        pReport->bMarkerKeyOpened = m_bKeyOpened;
        pReport->eMarkerKey = m_eKeyTrust;
        pReport->eKeyRepair = m_eKeyRepair;
        pReport->nKeyRepairStatus = m_nKeyRepairStatus;
    }
    m_pReport = nullptr;
}

CDriveID::ERenewal CDriveID::RenewMarker(const char* pszCurrentID, CVeltraneString& strBefore,
                                         CVeltraneString& strAfter, CDriveIDReport* pReport) {
    strBefore.Empty();
    strAfter.Empty();
    m_bMarkerWritten = false;
    m_eKeyRepair = kKeyRepairNone;
    m_nKeyRepairStatus = VERROR_SUCCESS;
    m_bKeyDeleted = false;
    CMarkerLock lock(*m_pMachine);
    long nLockStatus = VERROR_SUCCESS;
    if (!lock.Take(&nLockStatus)) {
        BeginDerivation(pReport);
        Fail(kStepMarkerLock, nLockStatus);
        EndDerivation(strAfter, CVeltraneString(), CVeltraneString(), kMarkerMissing);
        return kRenewFailed;
    }

    // Derive's ID reaches strBefore and strAfter through a copy, which needs memory; a copy that
    // could not be made leaves no ID, and the report must say why.
    auto keepLostCopy = [&](const CVeltraneString& strID) {
        if (strID.GetLength() > 0 || m_eFailedStep != kStepNone)
            return;
        Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
        if (pReport != nullptr) {
            pReport->eFailedStep = kStepMemory;
            pReport->nStatus = VERROR_NOT_ENOUGH_MEMORY;
        }
    };

    m_bRenewing = true;
    strBefore = Derive(pReport, lock);
    keepLostCopy(strBefore);
    // No marker to use, as opposed to one that could not be read for another reason.
    const bool bNoUsableMarker = m_eLastRead == kReadTooLong ||
                                 ((m_eLastRead == kReadNoKey || m_eLastRead == kReadNoValue) &&
                                  m_nLastReadStatus == VERROR_FILE_NOT_FOUND);
    ERenewal eRenewal = kRenewFailed;
    if (pszCurrentID == nullptr) {
        if (m_eLastRead == kReadUsable)
            eRenewal = kRenewNotCurrent;
        else if (bNoUsableMarker)
            eRenewal = kRenewed;
    } else if (strBefore.GetLength() > 0) {
        eRenewal =
            IsSameComputerID(strBefore.GetText(), pszCurrentID) ? kRenewed : kRenewNotCurrent;
    } else if (bNoUsableMarker) {
        eRenewal = kRenewNotCurrent;
    }
    if (eRenewal == kRenewed) {
        m_eFailedStep = kStepNone;
        m_nFailedStatus = VERROR_SUCCESS;
        const bool bLooseKey =
            m_bKeyOpened && (m_eKeyTrust == kKeyLooseDacl || m_eKeyTrust == kKeyForeignOwner);
        const EKeyTrust eTrustBefore = m_eKeyTrust;
        if (WriteNewMarker(bLooseKey)) {
            strAfter = Derive(pReport, lock);
            keepLostCopy(strAfter);
            // No value, or the unusable one from before, read back: the write did not take.
            if (strAfter.GetLength() == 0)
                eRenewal = m_eLastRead == kReadNoValue || m_eLastRead == kReadTooLong
                               ? kRenewFailed
                               : kRenewedUnread;
            else if (strBefore.GetLength() > 0 &&
                     IsSameComputerID(strBefore.GetText(), strAfter.GetText()))
                eRenewal = KeepLostWrite(strAfter, pReport);
        } else {
            // The report keeps what the first derivation found; the stored marker is untouched,
            // unless a reset deleted the key and could not make it anew.
            eRenewal = kRenewFailed;
            if (pReport != nullptr) {
                pReport->eFailedStep = m_eFailedStep;
                pReport->nStatus = m_nFailedStatus;
                pReport->nMarkerLength = 0;
                pReport->eKeyRepair = m_eKeyRepair;
                pReport->nKeyRepairStatus = m_nKeyRepairStatus;
                pReport->bKeyDeleted = m_bKeyDeleted;
                if (m_bKeyDeleted) {
                    pReport->eMarker = kMarkerMissing;
                    pReport->eMarkerKey = eTrustBefore;
                }
            }
        }
    }
    m_eKeyRepair = kKeyRepairNone;
    m_nKeyRepairStatus = VERROR_SUCCESS;
    m_bKeyDeleted = false;
    m_bRenewing = false;
    return eRenewal;
}

// A new marker is random: the ID before read back after the write means that the registry
// accepted the write but kept the marker it had, which is no renewal.
CDriveID::ERenewal CDriveID::KeepLostWrite(CVeltraneString& strAfter, CDriveIDReport* pReport) {
    strAfter.Empty();
    if (pReport != nullptr) {
        pReport->eMarker = kMarkerPresent;
        pReport->eFailedStep = kStepMarkerWrite;
        pReport->nStatus = VERROR_SUCCESS;
        pReport->nMarkerLength = 0;
    }
    return kRenewFailed;
}

void CDriveID::Fail(EDriveIDStep eStep, long nStatus) {
    if (m_eFailedStep != kStepNone)
        return;
    m_eFailedStep = eStep;
    m_nFailedStatus = nStatus;
}

long CDriveID::LastError() {
    // The dialog's derivation asks for nothing beyond the facts themselves.
    return m_pReport != nullptr ? m_pMachine->ReadLastError() : VERROR_SUCCESS;
}

bool CDriveID::ReadSystemDrive() {
    char szDirectory[kPathBufferSize];
    szDirectory[0] = '\0';
    m_pMachine->ReadWindowsDirectory(szDirectory, kPathBufferSize);

    // Only the first byte is taken, as it stands: the directory's drive letter on any sane system.
    if (szDirectory[0] != '\0') {
        m_strSystemDrive = CVeltraneString(szDirectory[0]);
        if (m_strSystemDrive.GetLength() == 1)
            return true;
        Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
        m_strSystemDrive.Empty();
        return false;
    }
    Fail(kStepWindowsDirectory, LastError());
    m_strSystemDrive = CVeltraneString();
    return false;
}

CVeltraneString CDriveID::GetVolumeText() {
    CVeltraneString strText;
    ReadVolumeText(strText);
    return strText;
}

bool CDriveID::ReadVolumeText(CVeltraneString& strText) {
    CVeltraneString strRoot;
    if (!strRoot.Format("%s:\\", m_strSystemDrive.GetText())) {
        Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
        return false;
    }

    char szVolumeName[kPathBufferSize] = {};
    char szFileSystem[kPathBufferSize];
    szFileSystem[0] = '\0';
    std::uint32_t nSerialNumber = 0;
    std::uint32_t nMaxComponentLength = 0;
    std::uint32_t nFileSystemFlags = 0;
    if (!m_pMachine->ReadVolumeInformation(strRoot.GetText(), szVolumeName, kPathBufferSize,
                                           &nSerialNumber, &nMaxComponentLength, &nFileSystemFlags,
                                           szFileSystem, kPathBufferSize)) {
        Fail(kStepVolume, LastError());
        return false;
    }
    // A name that filled the whole buffer is cut rather than read past its end.
    szFileSystem[kPathBufferSize - 1] = '\0';

    if (!strText.Format("%X", nSerialNumber) ||
        (szFileSystem[0] != '\0' && !strText.AppendText(szFileSystem))) {
        strText.Empty();
        Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

CVeltraneString CDriveID::GetRootCreationText() {
    CVeltraneString strText;
    ReadRootCreationText(strText);
    return strText;
}

bool CDriveID::ReadRootCreationText(CVeltraneString& strText) {
    CVeltraneString strRoot = m_strSystemDrive + CVeltraneString(":\\");
    // A root cut short would name another directory.
    if (strRoot.GetLength() != m_strSystemDrive.GetLength() + 2) {
        Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return ReadPathCreationText(strRoot, strText);
}

CVeltraneString CDriveID::GetPathCreationText(CVeltraneString& strPath) {
    CVeltraneString strText;
    ReadPathCreationText(strPath, strText);
    return strText;
}

bool CDriveID::ReadPathCreationText(CVeltraneString& strPath, CVeltraneString& strText) {
    strPath.AddBackslash();
    const int nPath = strPath.GetLength();
    if (nPath == 0 || strPath.GetText()[nPath - 1] != '\\') {
        Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    VFILETIME nCreationTime = 0;
    if (!m_pMachine->ReadCreationTime(strPath.GetText(), &nCreationTime)) {
        Fail(kStepRootCreation, LastError());
        return false;
    }
    switch (MakeFileTimeText(nCreationTime, *m_pMachine, strText)) {
        case kTimeTextMade:
            return true;
        case kTimeTextNone:
            // What FileTimeToSystemTime reports for a time beyond its range.
            Fail(kStepRootCreation, VERROR_INVALID_PARAMETER);
            return false;
        case kTimeTextNoMemory:
            break;
    }
    Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
    return false;
}

CVeltraneString CDriveID::ReadInstallMarker() {
    CVeltraneString strMarker;
    ReadMarker(strMarker);
    return strMarker;
}

// The marker must be a REG_SZ value that begins with a non-NUL byte; its text runs to the first
// NUL. A value that fills all 260 bytes without one is taken whole. A longer REG_SZ value does not
// fit the buffer, whose contents are then undefined and never looked at: someone stored it on
// purpose, so it is reported as present but unusable, and never written over.
CDriveID::SMarkerRead CDriveID::ReadMarker(CVeltraneString& strMarker, EKeyTrust* pTrust) {
    SMarkerRead read = {kReadNoKey, VERROR_SUCCESS, 0};
    if (pTrust != nullptr)
        *pTrust = kKeyTrustUnknown;
    // Only the dialog reads with full access: reading needs no more than read access.
    const std::uint32_t nAccess = m_eAccess == kMarkerReadWrite ? VKEY_ALL_ACCESS : VKEY_READ;
    VHKEY hKey = nullptr;
    read.nStatus = m_pMachine->OpenClassesKey(kMarkerKey, nAccess, &hKey);
    if (read.nStatus != VERROR_SUCCESS)
        return read;
    if (pTrust != nullptr)
        *pTrust = m_pMachine->ReadKeyTrust(hKey);

    unsigned char aBuffer[kMarkerBufferSize];
    std::memset(aBuffer, 0, sizeof(aBuffer));
    std::uint32_t nType = 0;
    std::uint32_t nSize = kMarkerBufferSize;
    read.nStatus = m_pMachine->QueryKeyValue(hKey, kMarkerValue, &nType, aBuffer, &nSize);
    m_pMachine->CloseKey(hKey);
    hKey = nullptr;

    // A value that is there, whatever its type or size, tells its length.
    if (read.nStatus == VERROR_SUCCESS || read.nStatus == VERROR_MORE_DATA)
        read.nLength = nSize;
    if (nType == VREG_SZ && (read.nStatus == VERROR_MORE_DATA ||
                             (read.nStatus == VERROR_SUCCESS && nSize > kMarkerBufferSize))) {
        read.eResult = kReadTooLong;
        read.nStatus = VERROR_MORE_DATA;
        return read;
    }
    if (nSize > 0 && nSize <= kMarkerBufferSize && nType == VREG_SZ && aBuffer[0] != 0) {
        const void* pEnd = std::memchr(aBuffer, 0, sizeof(aBuffer));
        const std::size_t nLength =
            pEnd ? static_cast<const unsigned char*>(pEnd) - aBuffer : sizeof(aBuffer);
        char szMarker[kMarkerBufferSize + 1];
        std::memcpy(szMarker, aBuffer, nLength);
        szMarker[nLength] = '\0';
        strMarker = szMarker;
        read.eResult = static_cast<std::size_t>(strMarker.GetLength()) == nLength ? kReadUsable
                                                                                  : kReadNoMemory;
        return read;
    }
    // No value and a value that cannot serve as a marker are the same to the derivation.
    read.eResult = kReadNoValue;
    if (read.nStatus == VERROR_SUCCESS || read.nStatus == VERROR_MORE_DATA)
        read.nStatus = VERROR_FILE_NOT_FOUND;
    return read;
}

void CDriveID::ReportMarkerRead(const SMarkerRead& read) {
    switch (read.eResult) {
        case kReadUsable:
            break;
        case kReadNoKey:
            Fail(kStepMarkerKey, read.nStatus);
            break;
        case kReadNoValue:
        case kReadTooLong:
            if (m_eFailedStep == kStepNone)
                m_nMarkerLength = read.nLength;
            Fail(kStepMarkerValue, read.nStatus);
            break;
        case kReadNoMemory:
            Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
            break;
    }
}

// The registry said that no marker is stored: no key, no value, or one that cannot serve. A key
// that is there but refuses us full access is not among them: this account could not write a
// marker into it anyway, so the refusal is the answer, given at once and without the lock. Any
// other failure (a registry short of memory, say) may hide a stored marker that a write would
// destroy for good.
bool CDriveID::SaysNoMarkerStored(const SMarkerRead& read) {
    return read.nStatus == VERROR_FILE_NOT_FOUND;
}

bool CDriveID::EnsureInstallMarker() {
    CMarkerLock lock(*m_pMachine);
    m_bMarkerWritten = false;
    CVeltraneString strStored;
    SMarkerRead read = {kReadNoKey, VERROR_SUCCESS, 0};
    EnsureMarker(lock, strStored, nullptr, &read);
    return m_bMarkerWritten;
}

bool CDriveID::EnsureMarker(CMarkerLock& lock, CVeltraneString& strStored, EKeyTrust* pTrust,
                            SMarkerRead* pRead) {
    SMarkerRead read = ReadMarker(strStored, pTrust);
    if (read.eResult == kReadUsable) {
        *pRead = read;
        return true;
    }
    strStored.Empty();
    // Only the registry's own answer that no marker is stored allows writing one: a copy of the
    // stored one that could not be made says nothing about the registry.
    if (read.eResult == kReadNoMemory || m_eAccess == kMarkerReadOnly ||
        !SaysNoMarkerStored(read)) {
        ReportMarkerRead(read);
        return false;
    }

    // Another first run may be writing one right now: from here on, one process at a time, and
    // what an earlier holder wrote is read again before anything is written.
    long nLockStatus = VERROR_SUCCESS;
    if (!lock.Take(&nLockStatus)) {
        Fail(kStepMarkerLock, nLockStatus);
        return false;
    }
    read = ReadMarker(strStored);
    strStored.Empty();
    if (read.eResult == kReadUsable)
        return false;
    if (read.eResult == kReadNoMemory || !SaysNoMarkerStored(read)) {
        ReportMarkerRead(read);
        return false;
    }
    WriteNewMarker();
    return false;
}

// The key is deleted and made anew rather than given new security: access is checked when a
// handle is opened, so a handle that another account opened while the key was loose would keep
// its right to write through any change of the security. A deleted key's handles fail every
// call (ERROR_KEY_DELETED). True when the key is gone.
bool CDriveID::DeleteLooseKey() {
    const long nStatus = m_pMachine->DeleteClassesKey(kMarkerKey);
    if (nStatus != VERROR_SUCCESS) {
        m_eKeyRepair = kKeyRepairFailed;
        m_nKeyRepairStatus = nStatus;
        Fail(kStepMarkerKey, nStatus);
        return false;
    }
    m_bKeyDeleted = true;
    m_eKeyRepair = kKeyRepaired;
    return true;
}

// The key was deleted, but not made anew as it must be: the reset failed, and the marker is gone.
void CDriveID::FailKeyRepair(long nStatus) {
    if (!m_bKeyDeleted)
        return;
    m_eKeyRepair = kKeyRepairFailed;
    m_nKeyRepairStatus = nStatus;
}

bool CDriveID::WriteNewMarker(bool bResetKey) {
    // Made before the key is touched, so that a failing random source leaves the registry as it
    // was; only a whole marker is stored, since a part of one could be shared by many machines.
    CVeltraneString strMarker;
    switch (MakeMarker(strMarker)) {
        case kMadeMarker:
            break;
        case kMadeNoRandom:
            Fail(kStepMarkerRandom, VERROR_SUCCESS);
            return false;
        case kMadeNoMemory:
            Fail(kStepMemory, VERROR_NOT_ENOUGH_MEMORY);
            return false;
    }

    if (bResetKey && !DeleteLooseKey())
        return false;
    VHKEY hKey = nullptr;
    if (m_pMachine->OpenClassesKey(kMarkerKey, VKEY_ALL_ACCESS, &hKey) != VERROR_SUCCESS)
        hKey = nullptr;
    if (hKey == nullptr) {
        // A failed create leaves no key to close.
        const long nStatus = m_pMachine->CreateClassesKey(kMarkerKey, VKEY_ALL_ACCESS, &hKey);
        if (nStatus != VERROR_SUCCESS || hKey == nullptr) {
            FailKeyRepair(nStatus);
            Fail(kStepMarkerKey, nStatus);
            return false;
        }
    }
    // The key made anew must have the security it was made with: a key that other accounts
    // may still change would hold a marker they could choose.
    if (m_bKeyDeleted && m_pMachine->ReadKeyTrust(hKey) != kKeyTrusted) {
        m_pMachine->CloseKey(hKey);
        hKey = nullptr;
        FailKeyRepair(VERROR_ACCESS_DENIED);
        Fail(kStepMarkerKey, VERROR_ACCESS_DENIED);
        return false;
    }
    // Stored without a terminator: the byte count is the text's length.
    const long nStatus = m_pMachine->SetKeyValue(
        hKey, kMarkerValue, VREG_SZ, reinterpret_cast<const unsigned char*>(strMarker.GetText()),
        static_cast<std::uint32_t>(strMarker.GetLength()));
    m_pMachine->CloseKey(hKey);
    hKey = nullptr;
    if (nStatus != VERROR_SUCCESS) {
        Fail(kStepMarkerWrite, nStatus);
        return false;
    }
    m_bMarkerWritten = true;
    return true;
}

CVeltraneString CDriveID::MakeInstallMarker() {
    CVeltraneString strMarker;
    MakeMarker(strMarker);
    return strMarker;
}

// The marker made to be unique: clones of one image share the root directory's time and the
// volume serial, so the marker is all that tells their IDs apart, and a time of day would give
// clones that start together one ID and could be searched for from a guess of the install time.
CDriveID::EMarkerMade CDriveID::MakeMarker(CVeltraneString& strMarker) {
    strMarker.Empty();
    unsigned char aRandom[kMarkerRandomBytes];
    if (!m_pMachine->ReadRandomBytes(aRandom, kMarkerRandomBytes))
        return kMadeNoRandom;
    static const char kHexDigits[] = "0123456789abcdef";
    char szMarker[2 * kMarkerRandomBytes + 1];
    for (std::uint32_t i = 0; i < kMarkerRandomBytes; ++i) {
        szMarker[2 * i] = kHexDigits[aRandom[i] >> 4];
        szMarker[2 * i + 1] = kHexDigits[aRandom[i] & 0x0F];
    }
    szMarker[2 * kMarkerRandomBytes] = '\0';
    strMarker = szMarker;
    if (static_cast<std::uint32_t>(strMarker.GetLength()) == 2 * kMarkerRandomBytes)
        return kMadeMarker;
    strMarker.Empty();
    return kMadeNoMemory;
}

CVeltraneString CDriveID::Scramble(CVeltraneString strText) {
    const int nLength = strText.GetLength();
    if (nLength == 0)
        return CVeltraneString();

    const int nSplit = nLength / 3;
    CVeltraneString strFirst = strText.Substring(0, nSplit);
    CVeltraneString strSecond = strText.Substring(nSplit, -1);
    CVeltraneString strNumber;
    strNumber.Format("%ld", 7L * nLength);
    return (strFirst + strNumber) + strSecond;
}
