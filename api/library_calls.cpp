#include "api/library_calls.h"

#include <cstring>

#include "identification/application_id.h"
#include "identification/computer_id_text.h"
#include "identification/derivation_outcome.h"
#include "identification/drive_id.h"
#include "idrovan_version.h"

static_assert(IDROVAN_ID_LENGTH == kComputerIDLength && IDROVAN_ID_LENGTH == kApplicationIDLength,
              "one buffer size for either ID");

namespace {

const unsigned int kKnownFlags = IDROVAN_READ_ONLY;

// One derivation as the C API reports it.
struct SOutcome {
    int nResult = IDROVAN_FAILURE;
    char szID[IDROVAN_ID_SIZE] = {};
    idrovan_detail detail = {};
};

int ToStep(EDriveIDStep eStep) {
    switch (eStep) {
        case kStepNone:
            return IDROVAN_STEP_NONE;
        case kStepWindowsDirectory:
            return IDROVAN_STEP_WINDOWS_DIRECTORY;
        case kStepVolume:
            return IDROVAN_STEP_VOLUME;
        case kStepRootCreation:
            return IDROVAN_STEP_ROOT_CREATED;
        case kStepMarkerKey:
            return IDROVAN_STEP_MARKER_KEY;
        case kStepMarkerValue:
            return IDROVAN_STEP_MARKER_VALUE;
        case kStepMarkerWrite:
            return IDROVAN_STEP_MARKER_WRITE;
        case kStepMemory:
            return IDROVAN_STEP_MEMORY;
        case kStepMarkerLock:
            return IDROVAN_STEP_MARKER_LOCK;
        case kStepMarkerRandom:
            return IDROVAN_STEP_MARKER_RANDOM;
    }
    return IDROVAN_STEP_NONE;
}

int ToMarker(EMarkerState eState) {
    switch (eState) {
        case kMarkerMissing:
            break;
        case kMarkerPresent:
            return IDROVAN_MARKER_PRESENT;
        case kMarkerCreated:
            return IDROVAN_MARKER_CREATED;
        case kMarkerUnusable:
            return IDROVAN_MARKER_UNUSABLE;
    }
    return IDROVAN_MARKER_MISSING;
}

int ToResult(EDerivationOutcome eOutcome) {
    switch (eOutcome) {
        case kOutcomeID:
            return IDROVAN_OK;
        case kOutcomeNoRights:
            return IDROVAN_NO_RIGHTS;
        case kOutcomeNoMarker:
            return IDROVAN_NO_MARKER;
        case kOutcomeFailure:
            break;
    }
    return IDROVAN_FAILURE;
}

// idrovan_detail as 2.2.0.0 and earlier knew it, before marker_key; callers built against that
// header keep passing its size.
struct SFirstDetail {
    unsigned int size;
    int step;
    long status;
    int marker;
};

// The sizes of idrovan_detail that this version knows: the first and the current one.
bool IsKnownDetail(const idrovan_detail* pDetail) {
    return pDetail == nullptr || pDetail->size == sizeof(idrovan_detail) ||
           pDetail->size == sizeof(SFirstDetail);
}

int ToMarkerKey(const CDriveIDReport& report) {
    if (!report.bMarkerKeyOpened)
        return IDROVAN_MARKER_KEY_NOT_READ;
    switch (report.eMarkerKey) {
        case kKeyTrusted:
            return IDROVAN_MARKER_KEY_TRUSTED;
        case kKeyLooseDacl:
        case kKeyForeignOwner:
            return IDROVAN_MARKER_KEY_LOOSE;
        case kKeyTrustUnknown:
            break;
    }
    return IDROVAN_MARKER_KEY_UNKNOWN;
}

bool IsApplicationName(const char* pszApplication) {
    return pszApplication != nullptr && pszApplication[0] != '\0';
}

// Reports the size a text needs; true when the buffer takes it.
bool HasRoom(const char* pszBuffer, unsigned int nSize, unsigned int nNeeded,
             unsigned int* pnNeeded) {
    if (pnNeeded != nullptr)
        *pnNeeded = nNeeded;
    return pszBuffer != nullptr && nSize >= nNeeded;
}

// A call that gives no text leaves an empty one wherever a byte may be written.
void ClearText(char* pszBuffer, unsigned int nSize) {
    if (pszBuffer != nullptr && nSize > 0)
        pszBuffer[0] = '\0';
}

// The computer ID, then (with an application) that application's ID in its place.
SOutcome Derive(CMachineFacts& machine, EMarkerAccess eAccess, const char* pszApplication) {
    SOutcome outcome;
    CDriveIDReport report;
    CDriveID driveID(machine, eAccess);
    CVeltraneString strID = driveID.GetID(&report);
    const char* pszDerived = strID.GetText();
    // The derivation gives 32 digits or nothing; an empty text also when memory ran out.
    const bool bHasID = pszDerived != nullptr && std::strlen(pszDerived) == IDROVAN_ID_LENGTH;
    outcome.nResult = ToResult(GetDerivationOutcome(bHasID, report, eAccess));
    outcome.detail.step = ToStep(report.eFailedStep);
    outcome.detail.status = report.nStatus;
    outcome.detail.marker = ToMarker(report.eMarker);
    outcome.detail.marker_key = ToMarkerKey(report);
    if (!bHasID)
        return outcome;
    if (pszApplication == nullptr) {
        std::memcpy(outcome.szID, pszDerived, IDROVAN_ID_SIZE);
    } else if (!DeriveApplicationID(pszDerived, pszApplication, outcome.szID)) {
        outcome.nResult = IDROVAN_FAILURE;
        outcome.detail.step = IDROVAN_STEP_APPLICATION_ID;
    }
    return outcome;
}

void CopyDetail(const SOutcome& outcome, idrovan_detail* pDetail) {
    if (pDetail == nullptr)
        return;
    pDetail->step = outcome.detail.step;
    pDetail->status = outcome.detail.status;
    pDetail->marker = outcome.detail.marker;
    // Only a detail of the current size has room for it.
    if (pDetail->size == sizeof(idrovan_detail))
        pDetail->marker_key = outcome.detail.marker_key;
}

// A call refused for its arguments derived nothing: a known detail says so.
int RefuseArguments(idrovan_detail* pDetail) {
    if (IsKnownDetail(pDetail))
        CopyDetail(SOutcome(), pDetail);
    return IDROVAN_BAD_ARGUMENT;
}

int GetID(CMachineFacts& machine, const char* pszApplication, unsigned int nFlags, char* pszID,
          unsigned int nSize, unsigned int* pnNeeded, idrovan_detail* pDetail) {
    const bool bRoom = HasRoom(pszID, nSize, IDROVAN_ID_SIZE, pnNeeded);
    ClearText(pszID, nSize);
    if (!bRoom || (nFlags & ~kKnownFlags) != 0 || !IsKnownDetail(pDetail))
        return RefuseArguments(pDetail);
    const EMarkerAccess eAccess =
        (nFlags & IDROVAN_READ_ONLY) != 0 ? kMarkerReadOnly : kMarkerReadFirst;
    const SOutcome outcome = Derive(machine, eAccess, pszApplication);
    CopyDetail(outcome, pDetail);
    if (outcome.nResult == IDROVAN_OK)
        std::memcpy(pszID, outcome.szID, IDROVAN_ID_SIZE);
    return outcome.nResult;
}

int Verify(CMachineFacts& machine, const char* pszApplication, const char* pszID,
           idrovan_detail* pDetail) {
    if (!IsComputerIDText(pszID) || !IsKnownDetail(pDetail))
        return RefuseArguments(pDetail);
    const SOutcome outcome = Derive(machine, kMarkerReadOnly, pszApplication);
    CopyDetail(outcome, pDetail);
    if (outcome.nResult != IDROVAN_OK)
        return outcome.nResult;
    return IsSameComputerID(pszID, outcome.szID) ? IDROVAN_OK : IDROVAN_NO_MATCH;
}

}  // namespace

int GetComputerIDOn(CMachineFacts& machine, unsigned int nFlags, char* pszID, unsigned int nSize,
                    unsigned int* pnNeeded, idrovan_detail* pDetail) {
    return GetID(machine, nullptr, nFlags, pszID, nSize, pnNeeded, pDetail);
}

int GetApplicationIDOn(CMachineFacts& machine, const char* pszApplication, unsigned int nFlags,
                       char* pszID, unsigned int nSize, unsigned int* pnNeeded,
                       idrovan_detail* pDetail) {
    if (!IsApplicationName(pszApplication)) {
        HasRoom(pszID, nSize, IDROVAN_ID_SIZE, pnNeeded);
        ClearText(pszID, nSize);
        return RefuseArguments(pDetail);
    }
    return GetID(machine, pszApplication, nFlags, pszID, nSize, pnNeeded, pDetail);
}

int VerifyComputerIDOn(CMachineFacts& machine, const char* pszID, idrovan_detail* pDetail) {
    return Verify(machine, nullptr, pszID, pDetail);
}

int VerifyApplicationIDOn(CMachineFacts& machine, const char* pszApplication, const char* pszID,
                          idrovan_detail* pDetail) {
    if (!IsApplicationName(pszApplication))
        return RefuseArguments(pDetail);
    return Verify(machine, pszApplication, pszID, pDetail);
}

int GetLibraryVersion(char* pszVersion, unsigned int nSize, unsigned int* pnNeeded) {
    static const char kVersion[] = IDROVAN_VERSION_TEXT;
    const bool bRoom =
        HasRoom(pszVersion, nSize, static_cast<unsigned int>(sizeof(kVersion)), pnNeeded);
    ClearText(pszVersion, nSize);
    if (!bRoom)
        return IDROVAN_BAD_ARGUMENT;
    std::memcpy(pszVersion, kVersion, sizeof(kVersion));
    return IDROVAN_OK;
}
