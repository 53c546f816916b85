#include "platform/hmac_sha256_provider.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>

#include "platform/hmac_sha256.h"

bool ComputeHmacSha256WithProvider(const void* pKey, std::size_t nKeySize, const void* pData,
                                   std::size_t nDataSize, unsigned char* pDigest) {
    if (nKeySize > INT_MAX)
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
