// The C API (api/library_calls.h) on any call a program could make: any function, flags, buffer
// sizes, a null pointer for any argument, a detail of any size, application names up to 64 KiB
// and any text to verify, on a scripted machine with a marker, without one, with an unusable one,
// or with a key the account may only read, with any of its facts, registry calls, marker lock or
// random source failing and its key of any trust; and with buffers carved from one block at any
// offsets, so that they may overlap each other or the name.
//
// Every answer is checked against one worked out here without the code under test's checks: an
// independent UTF-8 rule for names, the ID of the same machine asked with clean arguments
// (a reference call on a fresh copy) for everything else. After each call: no byte written past
// any buffer (guard bytes behind each), nothing written at all by a refused call beyond what the
// header allows (the size needed, an empty text, a cleared detail), nothing when buffers overlap,
// nothing to the registry by a read-only call, and the machine not asked at all for bad arguments.
// A derivation's detail gives the step, status, marker state and key trust that the same
// derivation reports on a fresh copy, mapped by the header's own table. One allocation may fail
// in the call: it then changes nothing, or the call fails with the memory step and no ID.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/library_calls.h"
#include "idrovan_version.h"
#include "identification/application_id.h"
#include "identification/drive_id.h"
#include "tests/unit/failing_allocation.h"
#include "tests/unit/scripted_machine_facts.h"
#include "tests/unit/worked_example_facts.h"

namespace {

#define EXPECT(condition)                                                                   \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "api check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)

const unsigned char kGuard = 0xA7;
const std::size_t kGuardBytes = 16;
const std::size_t kMaxName = 1024;  // the header's IDROVAN_MAX_APPLICATION_NAME

enum EMachine { kWithMarker, kNoMarker, kUnusableMarker, kReadOnlyKey, kReadOnlyKeyNoMarker };
enum ECall { kGetComputer, kGetApplication, kVerifyComputer, kVerifyApplication, kVersion };

// Failures laid over a machine, one bit each, so that the C API meets every step and key trust
// it maps. None changes a fact's value: an ID, where there is one, stays the hand marker's or the
// new marker's.
struct SFailures {
    std::uint32_t nBits = 0;
    long nStatus = 0;  // what a failing registry call or lock answers
    EKeyTrust eTrust = kKeyTrusted;
};

void SetUp(EMachine eMachine, const SFailures& failures, CScriptedMachineFacts* pMachine) {
    pMachine->m_nCreationTime = kRootCreated;
    pMachine->m_nNow = kNow;
    switch (eMachine) {
        case kWithMarker:
            pMachine->SetMarker(VREG_SZ, kHandMarker);
            break;
        case kNoMarker:
            break;
        case kUnusableMarker:
            pMachine->SetMarker(VREG_SZ, std::string(300, '7'));
            break;
        case kReadOnlyKey:
            pMachine->SetMarker(VREG_SZ, kHandMarker);
            pMachine->m_bKeyReadOnly = true;
            break;
        case kReadOnlyKeyNoMarker:
            pMachine->m_bKeyExists = true;
            pMachine->m_bKeyReadOnly = true;
            break;
    }
    auto fails = [&](int nBit) { return (failures.nBits >> nBit) & 1; };
    const long nStatus =
        failures.nStatus == VERROR_SUCCESS ? VERROR_ACCESS_DENIED : failures.nStatus;
    if (fails(0))
        pMachine->m_strWindowsDirectory.clear();
    if (fails(1))
        pMachine->m_bVolumeFails = true;
    if (fails(2))
        pMachine->m_bCreationTimeFails = true;
    if (fails(3))
        pMachine->m_nOpenStatus = nStatus;
    if (fails(4))
        pMachine->m_nCreateStatus = nStatus;
    if (fails(5))
        pMachine->m_bCreateYieldsNullKey = true;
    if (fails(6))
        pMachine->m_bSetIsLost = true;
    if (fails(7))
        pMachine->m_nSetStatus = nStatus;
    if (fails(8))
        pMachine->m_bUserKeyExists = true;
    if (fails(9))
        pMachine->m_bRandomFails = true;
    if (fails(10))
        pMachine->m_nLockStatus = nStatus;
    if (fails(11))
        pMachine->m_bLockAbandoned = true;
    if (fails(12))
        pMachine->m_unconvertibleTimes.insert(kRootCreated);
    if (fails(13))
        pMachine->m_nLastError = nStatus;
    pMachine->m_eKeyTrust = failures.eTrust;
}

// The detail a derivation's report gives, worked out from the header's table.
int StepOf(EDriveIDStep eStep) {
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
    return -1;
}

int MarkerOf(EMarkerState eMarker) {
    switch (eMarker) {
        case kMarkerMissing:
            return IDROVAN_MARKER_MISSING;
        case kMarkerPresent:
            return IDROVAN_MARKER_PRESENT;
        case kMarkerCreated:
            return IDROVAN_MARKER_CREATED;
        case kMarkerUnusable:
            return IDROVAN_MARKER_UNUSABLE;
    }
    return -1;
}

int MarkerKeyOf(const CDriveIDReport& report) {
    if (!report.bMarkerKeyOpened)
        return IDROVAN_MARKER_KEY_NOT_READ;
    switch (report.eMarkerKey) {
        case kKeyTrusted:
            return IDROVAN_MARKER_KEY_TRUSTED;
        case kKeyLooseDacl:
        case kKeyForeignOwner:
            return IDROVAN_MARKER_KEY_LOOSE;
        case kKeyTrustUnknown:
            return IDROVAN_MARKER_KEY_UNKNOWN;
    }
    return -1;
}

// Makes the call with allocation nFailIn failing (none for -1); *pbFailed: one did.
template <typename FCall>
int Armed(int nFailIn, bool* pbFailed, FCall call) {
    g_nFailIn = nFailIn;
    const int nResult = call();
    *pbFailed = nFailIn >= 0 && g_nFailIn.load() < 0;
    g_nFailIn = -1;
    return nResult;
}

// What a derivation in the call's mode reports on a fresh copy of the machine.
CDriveIDReport ReferenceReport(EMachine eMachine, const SFailures& failures, bool bReadOnly) {
    CScriptedMachineFacts machine;
    SetUp(eMachine, failures, &machine);
    CDriveID driveID(machine, bReadOnly ? kMarkerReadOnly : kMarkerReadFirst);
    // As the DLL derives for a detail of today's size: the key judged, no per-user key probed.
    driveID.SetReportExtras(CDriveID::kReportKeyTrust);
    CDriveIDReport report;
    driveID.GetID(&report);
    return report;
}

// Well-formed UTF-8 as the Unicode standard's table of byte sequences lists it, with the C0,
// DEL and C1 controls left out and at most kMaxName bytes.
bool IsWellFormedName(const std::string& strName) {
    const std::size_t n = std::strlen(strName.c_str());  // up to the first zero byte
    if (n == 0 || n > kMaxName)
        return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(strName.data());
    auto in = [](unsigned char b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
    for (std::size_t i = 0; i < n;) {
        const unsigned char b0 = p[i];
        const unsigned char b1 = i + 1 < n ? p[i + 1] : 0;
        const unsigned char b2 = i + 2 < n ? p[i + 2] : 0;
        const unsigned char b3 = i + 3 < n ? p[i + 3] : 0;
        if (in(b0, 0x20, 0x7E)) {
            i += 1;
        } else if (b0 == 0xC2 && in(b1, 0xA0, 0xBF)) {  // U+00A0 on: no C1 control
            i += 2;
        } else if (in(b0, 0xC3, 0xDF) && in(b1, 0x80, 0xBF)) {
            i += 2;
        } else if (b0 == 0xE0 && in(b1, 0xA0, 0xBF) && in(b2, 0x80, 0xBF)) {
            i += 3;
        } else if ((in(b0, 0xE1, 0xEC) || in(b0, 0xEE, 0xEF)) && in(b1, 0x80, 0xBF) &&
                   in(b2, 0x80, 0xBF)) {
            i += 3;
        } else if (b0 == 0xED && in(b1, 0x80, 0x9F) && in(b2, 0x80, 0xBF)) {
            i += 3;
        } else if (b0 == 0xF0 && in(b1, 0x90, 0xBF) && in(b2, 0x80, 0xBF) && in(b3, 0x80, 0xBF)) {
            i += 4;
        } else if (in(b0, 0xF1, 0xF3) && in(b1, 0x80, 0xBF) && in(b2, 0x80, 0xBF) &&
                   in(b3, 0x80, 0xBF)) {
            i += 4;
        } else if (b0 == 0xF4 && in(b1, 0x80, 0x8F) && in(b2, 0x80, 0xBF) && in(b3, 0x80, 0xBF)) {
            i += 4;
        } else {
            return false;
        }
    }
    return true;
}

// Verify's answer worked out from the text alone: -1 for a malformed ID, else match or not.
int ExpectedMatch(const char* pszText, const char* pszID) {
    if (std::strlen(pszText) != IDROVAN_ID_LENGTH)
        return -1;
    bool bSame = true;
    for (std::size_t i = 0; i < IDROVAN_ID_LENGTH; ++i) {
        char c = pszText[i];
        const bool bHex =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!bHex)
            return -1;
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        bSame = bSame && c == pszID[i];
    }
    return bSame ? 1 : 0;
}

// One block that every buffer of a call is carved from, with guard bytes behind the last byte
// any argument may take; what the call wrote is compared byte by byte with a copy.
struct SBlock {
    std::vector<unsigned char> bytes;
    std::vector<unsigned char> before;

    void Snapshot() { before = bytes; }
    std::size_t ChangedBytes() const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            n += bytes[i] != before[i];
        return n;
    }
    bool Changed(std::size_t nOffset) const { return bytes[nOffset] != before[nOffset]; }
};

struct SSpan {
    std::size_t nBegin = 0;
    std::size_t nEnd = 0;  // nBegin == nEnd: none
};

bool Overlap(const SSpan& a, const SSpan& b) {
    return a.nBegin < a.nEnd && b.nBegin < b.nEnd && a.nBegin < b.nEnd && b.nBegin < a.nEnd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    FuzzedDataProvider input(pData, nSize);
    const ECall eCall = static_cast<ECall>(input.ConsumeIntegralInRange(0, 4));
    const EMachine eMachine = static_cast<EMachine>(input.ConsumeIntegralInRange(0, 4));
    const unsigned int nFlags = input.ConsumeBool() ? input.ConsumeIntegral<unsigned int>()
                                                    : input.ConsumeIntegralInRange(0u, 1u);
    const unsigned int nBufferSize = input.ConsumeBool() ? input.ConsumeIntegralInRange(0u, 48u)
                                                         : input.ConsumeIntegral<unsigned int>();
    // Which pointers are null: bit 0 the buffer, 1 needed, 2 the detail, 3 the name, 4 the ID.
    const unsigned int nNulls = input.ConsumeBool() ? input.ConsumeIntegralInRange(0u, 31u) : 0u;
    const unsigned int nDetailSize = input.ConsumeBool()
                                         ? input.ConsumeIntegral<unsigned int>()
                                         : static_cast<unsigned int>(sizeof(idrovan_detail));
    // Carved apart (no overlap) or at offsets of the input's choice within a small window.
    const bool bCarved = input.ConsumeBool();
    const std::size_t nIDOffset = input.ConsumeIntegralInRange<std::size_t>(0, 63);
    const std::size_t nNeededOffset = input.ConsumeIntegralInRange<std::size_t>(0, 15) * 4;
    const std::size_t nDetailOffset =
        input.ConsumeIntegralInRange<std::size_t>(0, 7) * alignof(idrovan_detail);
    const std::size_t nNameOffset = input.ConsumeIntegralInRange<std::size_t>(0, 63);
    SFailures failures;
    if (input.ConsumeBool()) {
        failures.nBits = input.ConsumeIntegral<std::uint16_t>();
        failures.nStatus =
            input.ConsumeBool() ? VERROR_ACCESS_DENIED : input.ConsumeIntegral<std::int32_t>();
        failures.eTrust = static_cast<EKeyTrust>(input.ConsumeIntegralInRange(0, 3));
    }
    const int nFailIn = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 60) : -1;
    const std::string strName = input.ConsumeRandomLengthString(65536);
    const std::string strIDText = input.ConsumeRemainingBytesAsString();

    // The buffer may claim more room than it has: only what the call may write is carved.
    const std::size_t nTextBytes = eCall == kVersion ? sizeof(IDROVAN_VERSION_TEXT)
                                                     : static_cast<std::size_t>(IDROVAN_ID_SIZE);
    const std::size_t nIDBytes = nBufferSize < nTextBytes ? nBufferSize : nTextBytes;
    const std::size_t nNameBytes = std::strlen(strName.c_str()) + 1;
    const bool bApplication = eCall == kGetApplication || eCall == kVerifyApplication;
    const bool bHasID = eCall != kVerifyComputer && eCall != kVerifyApplication;
    const bool bHasDetail = eCall != kVersion;

    // Offsets into the block: far apart unless carved into the window.
    SSpan id, needed, detail, name;
    std::size_t nNext = 0;
    auto place = [&](SSpan* pSpan, std::size_t nWindowOffset, std::size_t nBytes,
                     std::size_t nAlign) {
        std::size_t nBegin = bCarved ? nWindowOffset : nNext;
        nBegin = (nBegin + nAlign - 1) / nAlign * nAlign;
        pSpan->nBegin = nBegin;
        pSpan->nEnd = nBegin + nBytes;
        if (!bCarved || nBegin + nBytes + kGuardBytes > nNext)
            nNext = (nBegin + nBytes + kGuardBytes + 15) / 16 * 16 + 64;
    };
    place(&id, nIDOffset, nIDBytes, 1);
    place(&needed, nNeededOffset, sizeof(unsigned int), alignof(unsigned int));
    place(&detail, nDetailOffset, sizeof(idrovan_detail), alignof(idrovan_detail));
    place(&name, nNameOffset, nNameBytes, 1);
    SBlock block;
    block.bytes.assign(nNext + kGuardBytes, kGuard);

    unsigned char* const pBase = block.bytes.data();
    char* pszID = (nNulls & 1) || !bHasID ? nullptr : reinterpret_cast<char*>(pBase + id.nBegin);
    unsigned int* pnNeeded =
        (nNulls & 2) || !bHasID ? nullptr : reinterpret_cast<unsigned int*>(pBase + needed.nBegin);
    idrovan_detail* pDetail = (nNulls & 4) || !bHasDetail
                                  ? nullptr
                                  : reinterpret_cast<idrovan_detail*>(pBase + detail.nBegin);
    if (pDetail != nullptr) {
        std::memset(pDetail, 0x6D, sizeof(idrovan_detail));
        pDetail->size = nDetailSize;
    }
    // The name last: where it overlaps the others it is what the call finds there.
    char* pszName =
        (nNulls & 8) || !bApplication ? nullptr : reinterpret_cast<char*>(pBase + name.nBegin);
    if (pszName != nullptr)
        std::memcpy(pszName, strName.c_str(), nNameBytes);
    const char* pszIDText = (nNulls & 16) ? nullptr : strIDText.c_str();
    // Only the spans of arguments that are passed.
    if (pszID == nullptr)
        id = SSpan();
    if (pnNeeded == nullptr)
        needed = SSpan();
    const bool bKnownDetail = pDetail == nullptr || pDetail->size == sizeof(idrovan_detail);
    if (pDetail == nullptr)
        detail = SSpan();
    else if (!bKnownDetail)
        detail.nEnd = detail.nBegin + sizeof(pDetail->size);
    if (pszName == nullptr)
        name = SSpan();
    // The name as the call sees it, when it was written over by none of the others.
    const std::string strSeenName = pszName != nullptr ? std::string(pszName) : std::string();
    const bool bOverlap = Overlap(id, needed) || Overlap(id, detail) || Overlap(needed, detail) ||
                          Overlap(id, name) || Overlap(needed, name) || Overlap(detail, name);
    block.Snapshot();

    CScriptedMachineFacts machine;
    SetUp(eMachine, failures, &machine);
    const bool bReadOnly = eCall == kVerifyComputer || eCall == kVerifyApplication ||
                           eCall == kVersion || (nFlags & IDROVAN_READ_ONLY) != 0;

    // The reference: the same machine, fresh, asked with clean arguments in the same mode.
    CScriptedMachineFacts reference;
    SetUp(eMachine, failures, &reference);
    char szReference[IDROVAN_ID_SIZE] = {};
    const int nReference = GetComputerIDOn(reference, bReadOnly ? IDROVAN_READ_ONLY : 0u,
                                           szReference, sizeof(szReference), nullptr, nullptr);
    EXPECT(nReference != IDROVAN_BAD_ARGUMENT);
    EXPECT(nReference != IDROVAN_OK || std::strcmp(szReference, kIDWithHandMarker) == 0 ||
           std::strcmp(szReference, kIDWithNewMarker) == 0);

    const bool bGoodName = !bApplication || (pszName != nullptr && IsWellFormedName(strSeenName));
    int nResult = 0;
    // A failed allocation either changed nothing, or made the call a failure of its own.
    bool bOutOfMemory = false;
    auto IsMemoryFailure = [&](int nCallResult) {
        return bOutOfMemory && nCallResult == IDROVAN_FAILURE;
    };
    switch (eCall) {
        case kGetComputer:
        case kGetApplication: {
            nResult = Armed(nFailIn, &bOutOfMemory, [&] {
                return eCall == kGetComputer
                           ? GetComputerIDOn(machine, nFlags, pszID, nBufferSize, pnNeeded, pDetail)
                           : GetApplicationIDOn(machine, pszName, nFlags, pszID, nBufferSize,
                                                pnNeeded, pDetail);
            });
            const bool bBad = pszID == nullptr || nBufferSize < IDROVAN_ID_SIZE ||
                              (nFlags & ~IDROVAN_READ_ONLY) != 0 || !bKnownDetail || !bGoodName;
            if (bOverlap) {
                EXPECT(nResult == IDROVAN_BAD_ARGUMENT);
                EXPECT(block.ChangedBytes() == 0);
                break;
            }
            if (bBad) {
                EXPECT(nResult == IDROVAN_BAD_ARGUMENT);
                EXPECT(pnNeeded == nullptr || *pnNeeded == IDROVAN_ID_SIZE);
                EXPECT(pszID == nullptr || nBufferSize == 0 || pszID[0] == '\0');
                break;
            }
            if (IsMemoryFailure(nResult)) {
                EXPECT(pszID[0] == '\0');
                break;
            }
            EXPECT(nResult == nReference);
            EXPECT(pnNeeded == nullptr || *pnNeeded == IDROVAN_ID_SIZE);
            if (nResult != IDROVAN_OK) {
                EXPECT(pszID[0] == '\0');
                break;
            }
            if (eCall == kGetComputer) {
                EXPECT(std::strcmp(pszID, szReference) == 0);
            } else {
                char szWanted[kApplicationIDLength + 1] = {};
                EXPECT(DeriveApplicationID(szReference, strSeenName.c_str(), szWanted));
                EXPECT(std::strcmp(pszID, szWanted) == 0);
            }
            break;
        }
        case kVerifyComputer:
        case kVerifyApplication: {
            nResult = Armed(nFailIn, &bOutOfMemory, [&] {
                return eCall == kVerifyComputer
                           ? VerifyComputerIDOn(machine, pszIDText, pDetail)
                           : VerifyApplicationIDOn(machine, pszName, pszIDText, pDetail);
            });
            if (bOverlap) {
                EXPECT(nResult == IDROVAN_BAD_ARGUMENT);
                EXPECT(block.ChangedBytes() == 0);
                break;
            }
            const int nMatchShape =
                pszIDText != nullptr ? ExpectedMatch(pszIDText, kIDWithHandMarker) : -1;
            if (nMatchShape < 0 || !bKnownDetail || !bGoodName) {
                EXPECT(nResult == IDROVAN_BAD_ARGUMENT);
                break;
            }
            if (IsMemoryFailure(nResult))
                break;
            if (nReference != IDROVAN_OK) {
                EXPECT(nResult == nReference);
                break;
            }
            char szWanted[kApplicationIDLength + 1] = {};
            if (eCall == kVerifyComputer)
                std::memcpy(szWanted, szReference, sizeof(szWanted));
            else
                EXPECT(DeriveApplicationID(szReference, strSeenName.c_str(), szWanted));
            EXPECT(nResult ==
                   (ExpectedMatch(pszIDText, szWanted) > 0 ? IDROVAN_OK : IDROVAN_NO_MATCH));
            break;
        }
        case kVersion: {
            nResult = GetLibraryVersion(pszID, nBufferSize, pnNeeded);
            if (bOverlap) {
                EXPECT(nResult == IDROVAN_BAD_ARGUMENT);
                EXPECT(block.ChangedBytes() == 0);
                break;
            }
            const bool bRoom = pszID != nullptr && nBufferSize >= sizeof(IDROVAN_VERSION_TEXT);
            EXPECT(nResult == (bRoom ? IDROVAN_OK : IDROVAN_BAD_ARGUMENT));
            EXPECT(pnNeeded == nullptr || *pnNeeded == sizeof(IDROVAN_VERSION_TEXT));
            EXPECT(!bRoom || std::strcmp(pszID, IDROVAN_VERSION_TEXT) == 0);
            break;
        }
    }
    EXPECT(GetResultText(nResult) != nullptr && GetResultText(nResult)[0] != '\0');

    // Only the bytes of the buffers passed may change: the guards behind them, the gaps between
    // them and a detail of unknown size beyond its size field keep what they held.
    for (std::size_t i = 0; i < block.bytes.size(); ++i) {
        const bool bOutput = (i >= id.nBegin && i < id.nEnd) ||
                             (i >= needed.nBegin && i < needed.nEnd) ||
                             (bKnownDetail && i >= detail.nBegin && i < detail.nEnd);
        EXPECT(bOutput || !block.Changed(i));
    }
    // A derivation's detail: the step, status, marker state and key trust its report gives.
    // After a failed allocation, the memory step, or (where the machine fails anyway) the step
    // that failed first.
    const bool bMemoryStep = IsMemoryFailure(nResult) && pDetail != nullptr && bKnownDetail &&
                             pDetail->step == IDROVAN_STEP_MEMORY;
    if (IsMemoryFailure(nResult) && pDetail != nullptr && bKnownDetail &&
        nReference != IDROVAN_FAILURE)
        EXPECT(bMemoryStep);
    if (eCall != kVersion && nResult != IDROVAN_BAD_ARGUMENT && pDetail != nullptr &&
        bKnownDetail && pDetail->step != IDROVAN_STEP_APPLICATION_ID && !bMemoryStep) {
        const CDriveIDReport report = ReferenceReport(eMachine, failures, bReadOnly);
        EXPECT(pDetail->step == StepOf(report.eFailedStep));
        EXPECT(pDetail->status == report.nStatus);
        EXPECT(pDetail->marker == MarkerOf(report.eMarker));
        EXPECT(pDetail->marker_key == MarkerKeyOf(report));
        EXPECT((pDetail->step == IDROVAN_STEP_NONE) ==
               (nResult == IDROVAN_OK || nResult == IDROVAN_NO_MATCH));
    }
    // Bad arguments: the machine was not asked at all.
    if (nResult == IDROVAN_BAD_ARGUMENT)
        EXPECT(machine.m_calls.empty());
    if (bReadOnly) {
        EXPECT(machine.m_writes.empty());
        EXPECT(machine.m_nCreateCalls == 0);
    }
    EXPECT(machine.m_openKeys.empty());
    EXPECT(!machine.IsLockHeld());
    return 0;
}
