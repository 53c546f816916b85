#include "platform/hmac_sha256.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>
#include <cstring>

namespace {

bool Compute(const void* pKey, std::size_t nKeySize, const void* pData, std::size_t nDataSize,
             unsigned char* pDigest) {
    if ((pKey == nullptr && nKeySize != 0) || (pData == nullptr && nDataSize != 0) ||
        nKeySize > INT_MAX)
        return false;
    // OpenSSL reads no key or data bytes for a size of 0, but wants real pointers all the same.
    static const unsigned char kNothing = 0;
    unsigned int nDigestSize = 0;
    const unsigned char* pResult =
        HMAC(EVP_sha256(), nKeySize != 0 ? pKey : &kNothing, static_cast<int>(nKeySize),
             nDataSize != 0 ? static_cast<const unsigned char*>(pData) : &kNothing, nDataSize,
             pDigest, &nDigestSize);
    return pResult != nullptr && nDigestSize == kHmacSha256Size;
}

}  // namespace

bool ComputeHmacSha256(const void* pKey, std::size_t nKeySize, const void* pData,
                       std::size_t nDataSize, unsigned char* pDigest) {
    if (pDigest == nullptr)
        return false;
    if (Compute(pKey, nKeySize, pData, nDataSize, pDigest))
        return true;
    std::memset(pDigest, 0, kHmacSha256Size);
    return false;
}
