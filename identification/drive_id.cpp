#include "identification/drive_id.h"

#include <cstring>

#include "identification/md5_checksum_calculator.h"
#include "identification/time_functions.h"

namespace {

const char kMarkerKey[] = "lrgDocID";
const char kMarkerValue[] = "Rndund";
const int kPathBufferSize = 256;
const std::uint32_t kMarkerBufferSize = 260;

// The digest text of a narrow text's characters, without its terminator; empty on failure.
CVeltraneString DigestTextOf(CVeltraneString strText) {
    CVeltraneString strDigest;
    CMD5ChecksumCalculator calculator;
    if (calculator.Compute(strText.GetText(), strText.GetLength()))
        strDigest = calculator.GetDigestText();
    return strDigest;
}

}  // namespace

CDriveID::CDriveID() : m_pMachine(&GetDefaultMachineFacts()) {}

CDriveID::CDriveID(CMachineFacts& machine) : m_pMachine(&machine) {}

CVeltraneString CDriveID::GetID() {
    CVeltraneString strID;
    if (!ReadSystemDrive())
        return strID;

    // Writes the marker first, so that the very first derivation already uses the final one.
    EnsureInstallMarker();

    CVeltraneString strVolume = GetVolumeText();
    CVeltraneString strRootCreation = GetRootCreationText();
    CVeltraneString strMarker = ReadInstallMarker();
    if (strVolume.GetLength() == 0 || strRootCreation.GetLength() == 0 ||
        strMarker.GetLength() == 0)
        return strID;

    CVeltraneString strCombined = strRootCreation + strVolume;
    strCombined.Append(strMarker);
    if (strCombined.GetLength() == 0)
        return strID;

    strID = DigestTextOf(Scramble(strCombined));
    return strID;
}

bool CDriveID::ReadSystemDrive() {
    char szDirectory[kPathBufferSize];
    szDirectory[0] = '\0';
    m_pMachine->ReadWindowsDirectory(szDirectory, kPathBufferSize);

    // Only the first byte is taken, as it stands: the directory's drive letter on any sane system.
    if (szDirectory[0] != '\0') {
        m_strSystemDrive = CVeltraneString(szDirectory[0]);
        return true;
    }
    m_strSystemDrive = CVeltraneString();
    return false;
}

CVeltraneString CDriveID::GetVolumeText() {
    CVeltraneString strText;
    CVeltraneString strRoot;
    if (!strRoot.Format("%s:\\", m_strSystemDrive.GetText()))
        return strText;

    char szVolumeName[kPathBufferSize] = {};
    char szFileSystem[kPathBufferSize];
    szFileSystem[0] = '\0';
    std::uint32_t nSerialNumber = 0;
    std::uint32_t nMaxComponentLength = 0;
    std::uint32_t nFileSystemFlags = 0;
    if (!m_pMachine->ReadVolumeInformation(strRoot.GetText(), szVolumeName, kPathBufferSize,
                                           &nSerialNumber, &nMaxComponentLength, &nFileSystemFlags,
                                           szFileSystem, kPathBufferSize))
        return strText;
    // A name that filled the whole buffer is cut rather than read past its end.
    szFileSystem[kPathBufferSize - 1] = '\0';

    strText.Format("%X", nSerialNumber);
    if (szFileSystem[0] != '\0')
        strText.AppendText(szFileSystem);
    return strText;
}

CVeltraneString CDriveID::GetRootCreationText() {
    CVeltraneString strRoot = m_strSystemDrive + CVeltraneString(":\\");
    return GetPathCreationText(strRoot);
}

CVeltraneString CDriveID::GetPathCreationText(CVeltraneString& strPath) {
    strPath.AddBackslash();
    VFILETIME nCreationTime = 0;
    if (!m_pMachine->ReadCreationTime(strPath.GetText(), &nCreationTime))
        return CVeltraneString();
    return FileTimeToText(nCreationTime, *m_pMachine);
}

// The marker must be a REG_SZ value that begins with a non-NUL byte; its text runs to the first
// NUL. A value that fills all 260 bytes without one is taken whole. A longer value does not fit
// the buffer, whose contents are then undefined: it reads as no marker, like a value of another
// type, and so is replaced by a fresh one.
CVeltraneString CDriveID::ReadInstallMarker() {
    CVeltraneString strMarker;
    VHKEY hKey = nullptr;
    if (m_pMachine->OpenClassesKey(kMarkerKey, VKEY_ALL_ACCESS, &hKey) != VERROR_SUCCESS)
        return strMarker;

    unsigned char aBuffer[kMarkerBufferSize];
    std::memset(aBuffer, 0, sizeof(aBuffer));
    std::uint32_t nType = 0;
    std::uint32_t nSize = kMarkerBufferSize;
    m_pMachine->QueryKeyValue(hKey, kMarkerValue, &nType, aBuffer, &nSize);
    m_pMachine->CloseKey(hKey);
    hKey = nullptr;

    if (nSize > 0 && nSize <= kMarkerBufferSize && nType == VREG_SZ && aBuffer[0] != 0) {
        const void* pEnd = std::memchr(aBuffer, 0, sizeof(aBuffer));
        const std::size_t nLength =
            pEnd ? static_cast<const unsigned char*>(pEnd) - aBuffer : sizeof(aBuffer);
        char szMarker[kMarkerBufferSize + 1];
        std::memcpy(szMarker, aBuffer, nLength);
        szMarker[nLength] = '\0';
        strMarker = szMarker;
    }
    return strMarker;
}

bool CDriveID::EnsureInstallMarker() {
    if (ReadInstallMarker().GetLength() > 0)
        return false;

    VHKEY hKey = nullptr;
    if (m_pMachine->OpenClassesKey(kMarkerKey, VKEY_ALL_ACCESS, &hKey) != VERROR_SUCCESS)
        hKey = nullptr;
    if (hKey == nullptr) {
        // A failed create leaves no key to close.
        if (m_pMachine->CreateClassesKey(kMarkerKey, VKEY_ALL_ACCESS, &hKey) != VERROR_SUCCESS ||
            hKey == nullptr)
            return false;
    }

    // Stored without a terminator: the byte count is the text's length.
    CVeltraneString strMarker = MakeInstallMarker();
    m_pMachine->SetKeyValue(hKey, kMarkerValue, VREG_SZ,
                            reinterpret_cast<const unsigned char*>(strMarker.GetText()),
                            static_cast<std::uint32_t>(strMarker.GetLength()));
    m_pMachine->CloseKey(hKey);
    hKey = nullptr;
    return true;
}

CVeltraneString CDriveID::MakeInstallMarker() {
    CVeltraneString strTime = FileTimeToText(GetCurrentFileTime(*m_pMachine), *m_pMachine);
    if (strTime.GetLength() == 0)
        return CVeltraneString();
    return DigestTextOf(strTime);
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
