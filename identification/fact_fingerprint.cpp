#include "identification/fact_fingerprint.h"

#include <cstring>
#include <new>

#include "platform/hmac_sha256.h"

namespace {

const char kFingerprintKey[] = "idrovan fact fingerprint 1";

const char* GetFactName(EFact eFact) {
    return eFact == kFactRootCreated ? "root_created" : "volume";
}

}  // namespace

bool ComputeFactFingerprint(EFact eFact, const char* pText, std::size_t nLength,
                            char (&szFingerprint)[kFactFingerprintLength + 1]) {
    szFingerprint[0] = '\0';
    if (pText == nullptr || nLength == 0)
        return false;
    const char* pszName = GetFactName(eFact);
    const std::size_t nNameLength = std::strlen(pszName) + 1;  // the zero byte included
    char* pMessage = new (std::nothrow) char[nNameLength + nLength];
    if (pMessage == nullptr)
        return false;
    std::memcpy(pMessage, pszName, nNameLength);
    std::memcpy(pMessage + nNameLength, pText, nLength);
    unsigned char digest[kHmacSha256Size] = {};
    const bool bDone = ComputeHmacSha256(kFingerprintKey, sizeof(kFingerprintKey) - 1, pMessage,
                                         nNameLength + nLength, digest);
    delete[] pMessage;
    pMessage = nullptr;
    if (!bDone)
        return false;
    const unsigned nValue = (static_cast<unsigned>(digest[0]) << 2) | (digest[1] >> 6);
    static const char kDigits[] = "0123456789abcdef";
    szFingerprint[0] = kDigits[nValue >> 8];
    szFingerprint[1] = kDigits[(nValue >> 4) & 0x0F];
    szFingerprint[2] = kDigits[nValue & 0x0F];
    szFingerprint[3] = '\0';
    return true;
}
