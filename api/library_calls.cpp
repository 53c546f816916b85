#include "api/library_calls.h"

#include <cstdint>
#include <cstring>

#include "api/licence/idrovan_licence.h"
#include "identification/application_id.h"
#include "identification/computer_id_text.h"
#include "identification/derivation_outcome.h"
#include "identification/drive_id.h"
#include "idrovan_version.h"
#include "platform/ecdsa_p256.h"

static_assert(IDROVAN_ID_LENGTH == kComputerIDLength && IDROVAN_ID_LENGTH == kApplicationIDLength,
              "one buffer size for either ID");
static_assert(IDROVAN_MAX_APPLICATION_NAME == kMaxApplicationNameBytes,
              "the header's name limit is the one IsApplicationName applies");

namespace {

// Part nPart (0: major) of a version text "a.b.c.d", or -1 when it has no such part.
constexpr long VersionPart(const char* pszVersion, int nPart) {
    for (; nPart > 0 && *pszVersion != '\0'; ++pszVersion) {
        if (*pszVersion == '.')
            --nPart;
    }
    if (nPart > 0 || *pszVersion < '0' || *pszVersion > '9')
        return -1;
    long nValue = 0;
    for (; *pszVersion >= '0' && *pszVersion <= '9'; ++pszVersion)
        nValue = nValue * 10 + (*pszVersion - '0');
    return nValue;
}

}  // namespace

// The header's version macros are written out (a vendor's compiler sees no generated file) and
// set together with the file VERSION by scripts/set-version.sh; the build stops when they no
// longer say what VERSION says.
static_assert(VersionPart(IDROVAN_VERSION_TEXT, 0) == IDROVAN_VERSION_MAJOR &&
                  VersionPart(IDROVAN_VERSION_TEXT, 1) == IDROVAN_VERSION_MINOR &&
                  VersionPart(IDROVAN_VERSION_TEXT, 2) == IDROVAN_VERSION_PATCH,
              "include/idrovan.h's IDROVAN_VERSION_* differ from the file VERSION: set the "
              "version with scripts/set-version.sh, which writes both");

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

// The bytes at one argument that a call reads or writes; empty for a null pointer.
struct SSpan {
    std::uintptr_t nBegin;
    std::uintptr_t nEnd;
};

SSpan Span(const void* pBegin, std::size_t nBytes) {
    const std::uintptr_t nBegin = reinterpret_cast<std::uintptr_t>(pBegin);
    if (pBegin == nullptr)
        return SSpan{0, 0};
    const std::uintptr_t nEnd = nBegin + nBytes;
    return SSpan{nBegin, nEnd < nBegin ? UINTPTR_MAX : nEnd};
}

// A text the call reads: its bytes and terminator, no further than nMost bytes, which is as far
// as any check reads it.
SSpan TextSpan(const char* pszText, std::size_t nMost) {
    std::size_t nBytes = 0;
    if (pszText != nullptr) {
        while (nBytes < nMost && pszText[nBytes] != '\0')
            ++nBytes;
    }
    return Span(pszText, nBytes + 1);
}

// The bytes of a text buffer that a call may write: never more than nText.
SSpan OutputSpan(const char* pszBuffer, unsigned int nSize, std::size_t nText) {
    return Span(pszBuffer, nSize < nText ? nSize : nText);
}

// The size field alone for a detail of unknown size, which is only read.
SSpan DetailSpan(const idrovan_detail* pDetail) {
    return Span(pDetail, pDetail != nullptr && IsKnownDetail(pDetail) ? pDetail->size
                                                                      : sizeof(pDetail->size));
}

bool Overlap(const SSpan& first, const SSpan& second) {
    return first.nBegin < first.nEnd && second.nBegin < second.nEnd && first.nBegin < second.nEnd &&
           second.nBegin < first.nEnd;
}

// True when a buffer the call writes shares a byte with any other argument: writing it would
// change an input, or one answer would overwrite another. Such a call writes nothing.
bool OutputsOverlap(const SSpan* pOutputs, std::size_t nOutputs, const SSpan* pInputs,
                    std::size_t nInputs) {
    for (std::size_t i = 0; i < nOutputs; ++i) {
        for (std::size_t j = i + 1; j < nOutputs; ++j) {
            if (Overlap(pOutputs[i], pOutputs[j]))
                return true;
        }
        for (std::size_t j = 0; j < nInputs; ++j) {
            if (Overlap(pOutputs[i], pInputs[j]))
                return true;
        }
    }
    return false;
}

// The name as far as IsApplicationName reads it.
SSpan ApplicationSpan(const char* pszApplication) {
    return TextSpan(pszApplication, kMaxApplicationNameBytes + 1);
}

// An ID to verify as far as IsComputerIDText reads it.
SSpan IDTextSpan(const char* pszID) {
    return TextSpan(pszID, IDROVAN_ID_SIZE);
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

// A detail of the current size has room for the marker key's trust; reading the key's security
// for any other caller would be a call for nothing.
bool WantsMarkerKey(const idrovan_detail* pDetail) {
    return pDetail != nullptr && pDetail->size == sizeof(idrovan_detail);
}

// The computer ID, then (with an application) that application's ID in its place. The DLL
// never reports a per-user key, so it never probes for one.
SOutcome Derive(CMachineFacts& machine, EMarkerAccess eAccess, const char* pszApplication,
                bool bMarkerKey) {
    SOutcome outcome;
    CDriveIDReport report;
    CDriveID driveID(machine, eAccess);
    driveID.SetReportExtras(bMarkerKey ? CDriveID::kReportKeyTrust : 0);
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
    const SSpan outputs[] = {OutputSpan(pszID, nSize, IDROVAN_ID_SIZE),
                             Span(pnNeeded, sizeof(*pnNeeded)), DetailSpan(pDetail)};
    const SSpan input = ApplicationSpan(pszApplication);
    if (OutputsOverlap(outputs, 3, &input, 1))
        return IDROVAN_BAD_ARGUMENT;
    if (pszApplication != nullptr && !IsApplicationName(pszApplication)) {
        HasRoom(pszID, nSize, IDROVAN_ID_SIZE, pnNeeded);
        ClearText(pszID, nSize);
        return RefuseArguments(pDetail);
    }
    const bool bRoom = HasRoom(pszID, nSize, IDROVAN_ID_SIZE, pnNeeded);
    ClearText(pszID, nSize);
    if (!bRoom || (nFlags & ~kKnownFlags) != 0 || !IsKnownDetail(pDetail))
        return RefuseArguments(pDetail);
    const EMarkerAccess eAccess =
        (nFlags & IDROVAN_READ_ONLY) != 0 ? kMarkerReadOnly : kMarkerReadFirst;
    const SOutcome outcome = Derive(machine, eAccess, pszApplication, WantsMarkerKey(pDetail));
    CopyDetail(outcome, pDetail);
    if (outcome.nResult == IDROVAN_OK)
        std::memcpy(pszID, outcome.szID, IDROVAN_ID_SIZE);
    return outcome.nResult;
}

int Verify(CMachineFacts& machine, const char* pszApplication, const char* pszID,
           idrovan_detail* pDetail) {
    const SSpan output = DetailSpan(pDetail);
    const SSpan inputs[] = {ApplicationSpan(pszApplication), IDTextSpan(pszID)};
    if (OutputsOverlap(&output, 1, inputs, 2))
        return IDROVAN_BAD_ARGUMENT;
    if (pszApplication != nullptr && !IsApplicationName(pszApplication))
        return RefuseArguments(pDetail);
    if (!IsComputerIDText(pszID) || !IsKnownDetail(pDetail))
        return RefuseArguments(pDetail);
    const SOutcome outcome =
        Derive(machine, kMarkerReadOnly, pszApplication, WantsMarkerKey(pDetail));
    CopyDetail(outcome, pDetail);
    if (outcome.nResult != IDROVAN_OK)
        return outcome.nResult;
    return IsSameComputerID(pszID, outcome.szID) ? IDROVAN_OK : IDROVAN_NO_MATCH;
}

// The licence check's services on one machine.
int VerifyLicenceSignature(void* /*pContext*/, const unsigned char* pMessage, std::size_t nSize,
                           const unsigned char* pPublicKey, const unsigned char* pSignature) {
    switch (VerifyEcdsaP256Sha256(pMessage, nSize, pPublicKey, pSignature)) {
        case kEcdsaValid:
            return IDROVAN_LICENCE_SIGNATURE_VALID;
        case kEcdsaInvalid:
            return IDROVAN_LICENCE_SIGNATURE_INVALID;
        case kEcdsaBadKey:
            return IDROVAN_LICENCE_SIGNATURE_BAD_KEY;
        case kEcdsaFailure:
            break;
    }
    return IDROVAN_LICENCE_SIGNATURE_FAILURE;
}

int GetLicenceApplicationID(void* pContext, const char* pszApplication, char* pszID, int* pnStep,
                            long* pnStatus, int* pnMarker) {
    CMachineFacts& machine = *static_cast<CMachineFacts*>(pContext);
    const SOutcome outcome = Derive(machine, kMarkerReadOnly, pszApplication, false);
    *pnStep = outcome.detail.step;
    *pnStatus = outcome.detail.status;
    *pnMarker = outcome.detail.marker;
    if (outcome.nResult == IDROVAN_OK)
        std::memcpy(pszID, outcome.szID, IDROVAN_ID_SIZE);
    return outcome.nResult;
}

// FILETIME counts 100 ns from 1601; the licence's times count seconds from 1970.
int GetLicenceTime(void* pContext, long long* pnSeconds) {
    const std::uint64_t kUnixEpoch = 116444736000000000ull;
    const std::uint64_t nTime = static_cast<CMachineFacts*>(pContext)->ReadSystemTime();
    if (nTime < kUnixEpoch)
        return 0;
    *pnSeconds = static_cast<long long>((nTime - kUnixEpoch) / 10000000ull);
    return 1;
}

}  // namespace

int VerifyLicenceOn(CMachineFacts& machine, const char* pszLicence, unsigned int nLicenceSize,
                    const char* pszApplication, const char* pszFeature, const char* pszPublicKeys,
                    const char* pszNow, idrovan_licence_info* pInfo) {
    idrovan_licence_services services;
    services.context = &machine;
    services.verify_signature = VerifyLicenceSignature;
    services.get_application_id = GetLicenceApplicationID;
    services.get_time = GetLicenceTime;
    return idrovan_licence_check(&services, pszLicence, nLicenceSize, pszApplication, pszFeature,
                                 pszPublicKeys, pszNow, pInfo);
}

int GetComputerIDOn(CMachineFacts& machine, unsigned int nFlags, char* pszID, unsigned int nSize,
                    unsigned int* pnNeeded, idrovan_detail* pDetail) {
    return GetID(machine, nullptr, nFlags, pszID, nSize, pnNeeded, pDetail);
}

int GetApplicationIDOn(CMachineFacts& machine, const char* pszApplication, unsigned int nFlags,
                       char* pszID, unsigned int nSize, unsigned int* pnNeeded,
                       idrovan_detail* pDetail) {
    // A null name is refused as any other that is not a name; GetID takes null for none.
    static const char kNoName[] = "";
    return GetID(machine, pszApplication != nullptr ? pszApplication : kNoName, nFlags, pszID,
                 nSize, pnNeeded, pDetail);
}

int VerifyComputerIDOn(CMachineFacts& machine, const char* pszID, idrovan_detail* pDetail) {
    return Verify(machine, nullptr, pszID, pDetail);
}

int VerifyApplicationIDOn(CMachineFacts& machine, const char* pszApplication, const char* pszID,
                          idrovan_detail* pDetail) {
    static const char kNoName[] = "";
    return Verify(machine, pszApplication != nullptr ? pszApplication : kNoName, pszID, pDetail);
}

int GetLibraryVersion(char* pszVersion, unsigned int nSize, unsigned int* pnNeeded) {
    static const char kVersion[] = IDROVAN_VERSION_TEXT;
    const SSpan outputs[] = {OutputSpan(pszVersion, nSize, sizeof(kVersion)),
                             Span(pnNeeded, sizeof(*pnNeeded))};
    if (OutputsOverlap(outputs, 2, nullptr, 0))
        return IDROVAN_BAD_ARGUMENT;
    const bool bRoom =
        HasRoom(pszVersion, nSize, static_cast<unsigned int>(sizeof(kVersion)), pnNeeded);
    ClearText(pszVersion, nSize);
    if (!bRoom)
        return IDROVAN_BAD_ARGUMENT;
    std::memcpy(pszVersion, kVersion, sizeof(kVersion));
    return IDROVAN_OK;
}

const char* GetResultText(int nResult) {
    switch (nResult) {
        case IDROVAN_OK:
            return "success";
        case IDROVAN_NO_MATCH:
            return "the ID is not this computer's";
        case IDROVAN_BAD_ARGUMENT:
            return "bad argument: nothing was derived or written";
        case IDROVAN_NO_RIGHTS:
            return "no rights to read the installation marker, or none stored and no right to make "
                   "one";
        case IDROVAN_NO_MARKER:
            return "there is no installation marker yet";
        case IDROVAN_FAILURE:
            return "the ID could not be derived";
        case IDROVAN_MALFORMED:
            return "the licence is malformed";
        case IDROVAN_NOT_SIGNED:
            return "the licence is not signed by a trusted key";
        case IDROVAN_NOT_YET_VALID:
            return "the licence is not valid yet";
        case IDROVAN_EXPIRED:
            return "the licence has expired";
        case IDROVAN_NO_FEATURE:
            return "the licence does not grant the feature";
        default:
            return "unknown result";
    }
}
