// The licence check (api/licence/idrovan_licence.c) on any input: licence text, trusted keys,
// application name, feature and "now", each of any bytes. The input is
//   [mode][keys]\0[application]\0[feature]\0[now]\0[licence...]
// where an empty feature or now stands for null. The mode's low bit chooses the signature
// service: a stand-in that accepts every signature (so that the checks after the signature are
// reached), or the platform's real ECDSA (libcrypto) on whatever key and signature the input holds.
// Its next bit appends a signature line of in-range, low-S digits to the licence, which takes the
// fuzzer past the grammar's last line without having to find it.
//
// After each call: a result the header knows; an info that holds nothing unless the signature
// verified (and then terminated texts, each within its field); nothing written to an info of an
// unknown size; the licence bytes unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/licence/idrovan_licence.h"
#include "platform/ecdsa_p256.h"

namespace {

#define EXPECT(condition)                                                                       \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "licence check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

int AcceptEverySignature(void*, const unsigned char* pMessage, std::size_t nSize,
                         const unsigned char* pKey, const unsigned char* pSignature) {
    // Every byte handed over must be readable: ASan reports a read past any of them.
    volatile unsigned char nSum = 0;
    for (std::size_t i = 0; i < nSize; ++i)
        nSum = static_cast<unsigned char>(nSum + pMessage[i]);
    for (std::size_t i = 0; i < kEcdsaP256KeySize; ++i)
        nSum = static_cast<unsigned char>(nSum + pKey[i] + pSignature[i]);
    return IDROVAN_LICENCE_SIGNATURE_VALID;
}

int RealSignature(void*, const unsigned char* pMessage, std::size_t nSize,
                  const unsigned char* pKey, const unsigned char* pSignature) {
    switch (VerifyEcdsaP256Sha256(pMessage, nSize, pKey, pSignature)) {
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

// This application's ID is the test vectors' one: a licence that names it gets past the binding.
int ApplicationID(void*, const char*, char* pszID, int* pnStep, long* pnStatus, int* pnMarker) {
    std::memcpy(pszID, "a3f9fd7e4d8a55f3b6137833f3af7fe9", IDROVAN_ID_SIZE);
    *pnStep = IDROVAN_STEP_NONE;
    *pnStatus = 0;
    *pnMarker = IDROVAN_MARKER_PRESENT;
    return IDROVAN_OK;
}

int Clock(void*, long long* pnSeconds) {
    *pnSeconds = 1730828730;  // 2024-11-05T17:45:30Z
    return 1;
}

// Takes the bytes up to the next NUL (or the end) as a text.
std::string TakeText(const std::uint8_t*& pData, std::size_t& nSize) {
    const void* pEnd = std::memchr(pData, 0, nSize);
    const std::size_t nLength =
        pEnd != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(pEnd) - pData)
                        : nSize;
    std::string strText(reinterpret_cast<const char*>(pData), nLength);
    const std::size_t nTaken = pEnd != nullptr ? nLength + 1 : nLength;
    pData += nTaken;
    nSize -= nTaken;
    return strText;
}

bool IsTerminatedWithin(const char* pszText, std::size_t nSize) {
    return std::memchr(pszText, '\0', nSize) != nullptr;
}

bool IsKnownResult(int nResult) {
    switch (nResult) {
        case IDROVAN_OK:
        case IDROVAN_NO_MATCH:
        case IDROVAN_BAD_ARGUMENT:
        case IDROVAN_MALFORMED:
        case IDROVAN_NOT_SIGNED:
        case IDROVAN_NOT_YET_VALID:
        case IDROVAN_EXPIRED:
        case IDROVAN_NO_FEATURE:
        case IDROVAN_FAILURE:
            return true;
        default:
            return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize) {
    if (nSize == 0)
        return 0;
    const unsigned nMode = pData[0];
    ++pData;
    --nSize;
    const std::string strKeys = TakeText(pData, nSize);
    const std::string strApplication = TakeText(pData, nSize);
    const std::string strFeature = TakeText(pData, nSize);
    const std::string strNow = TakeText(pData, nSize);
    std::vector<char> licence(pData, pData + nSize);
    if ((nMode & 2) != 0) {
        static const char kLine[] = "signature: ecdsa-p256-sha256 ";
        licence.insert(licence.end(), kLine, kLine + sizeof(kLine) - 1);
        licence.insert(licence.end(), 128, '1');
        licence.push_back('\n');
    }
    const std::vector<char> original = licence;

    idrovan_licence_services services;
    services.context = nullptr;
    services.verify_signature = (nMode & 1) != 0 ? RealSignature : AcceptEverySignature;
    services.get_application_id = ApplicationID;
    services.get_time = Clock;

    // An exact-size heap copy of the licence, so that a read past its end is caught.
    char* pLicence = static_cast<char*>(std::malloc(licence.size() + 1));
    if (pLicence == nullptr)
        return 0;
    if (!licence.empty())
        std::memcpy(pLicence, licence.data(), licence.size());
    idrovan_licence_info info;
    std::memset(&info, 0x5A, sizeof(info));
    const bool bKnownSize = (nMode & 4) == 0;
    info.size = bKnownSize ? sizeof(info) : static_cast<unsigned int>(nMode);
    const int nResult = idrovan_licence_check(
        &services, pLicence, static_cast<unsigned int>(licence.size()), strApplication.c_str(),
        strFeature.empty() ? nullptr : strFeature.c_str(), strKeys.c_str(),
        strNow.empty() ? nullptr : strNow.c_str(), &info);
    EXPECT(IsKnownResult(nResult));
    EXPECT(licence.empty() || std::memcmp(pLicence, original.data(), original.size()) == 0);
    std::free(pLicence);

    if (!bKnownSize && info.size != sizeof(info)) {
        EXPECT(nResult == IDROVAN_BAD_ARGUMENT);
        EXPECT(static_cast<unsigned char>(info.key_id[0]) == 0x5A);
        return 0;
    }
    const bool bSigned = info.key_id[0] != '\0';
    if (nResult == IDROVAN_BAD_ARGUMENT || nResult == IDROVAN_MALFORMED ||
        nResult == IDROVAN_NOT_SIGNED)
        EXPECT(!bSigned);
    if (nResult == IDROVAN_OK) {
        EXPECT(bSigned);
        EXPECT(strNow.empty() || strNow.size() == 20);
    }
    if (bSigned) {
        EXPECT(IsTerminatedWithin(info.key_id, sizeof(info.key_id)));
        EXPECT(IsTerminatedWithin(info.licence_id, sizeof(info.licence_id)));
        EXPECT(IsTerminatedWithin(info.product, sizeof(info.product)));
        EXPECT(IsTerminatedWithin(info.licensee, sizeof(info.licensee)));
        EXPECT(std::strlen(info.application_id) == IDROVAN_ID_LENGTH);
        EXPECT(IsTerminatedWithin(info.features, sizeof(info.features)));
        EXPECT(std::strlen(info.issued) == 20 && std::strlen(info.not_before) == 20);
        EXPECT(std::strlen(info.not_after) == 20 || std::strcmp(info.not_after, "permanent") == 0);
        EXPECT(info.renew_after[0] == '\0' || std::strlen(info.renew_after) == 20);
        EXPECT(info.renewal_due == 0 || info.renewal_due == 1);
    }
    return 0;
}
