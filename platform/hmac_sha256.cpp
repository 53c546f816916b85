#include "platform/hmac_sha256.h"

#include <cstring>

#include "platform/hmac_sha256_provider.h"

bool ComputeHmacSha256(const void* pKey, std::size_t nKeySize, const void* pData,
                       std::size_t nDataSize, unsigned char* pDigest) {
    if (pDigest == nullptr)
        return false;
    const bool bUsable = (pKey != nullptr || nKeySize == 0) && (pData != nullptr || nDataSize == 0);
    if (bUsable && ComputeHmacSha256WithProvider(pKey, nKeySize, pData, nDataSize, pDigest))
        return true;
    std::memset(pDigest, 0, kHmacSha256Size);
    return false;
}
