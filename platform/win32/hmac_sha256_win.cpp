#include "platform/hmac_sha256_provider.h"

#include <climits>

#include "platform/hmac_sha256.h"
#include "platform/win32/system_bcrypt_win.h"

namespace {

// The provider's handles, each released by its owner on every path.
class CHmacAlgorithm {
public:
    explicit CHmacAlgorithm(const CSystemBcrypt& bcrypt) : m_bcrypt(bcrypt) {
        if (!BCRYPT_SUCCESS(bcrypt.pfnOpenAlgorithmProvider(&m_hAlgorithm, BCRYPT_SHA256_ALGORITHM,
                                                            nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG)))
            m_hAlgorithm = nullptr;
    }
    ~CHmacAlgorithm() {
        if (m_hAlgorithm != nullptr)
            m_bcrypt.pfnCloseAlgorithmProvider(m_hAlgorithm, 0);
        m_hAlgorithm = nullptr;
    }
    CHmacAlgorithm(const CHmacAlgorithm&) = delete;
    CHmacAlgorithm& operator=(const CHmacAlgorithm&) = delete;

    BCRYPT_ALG_HANDLE Get() const { return m_hAlgorithm; }

private:
    const CSystemBcrypt& m_bcrypt;
    BCRYPT_ALG_HANDLE m_hAlgorithm = nullptr;
};

class CHmacHash {
public:
    // The provider allocates the hash object itself (a null object buffer), as Windows 7 and
    // later allow. CNG takes the key as non-const but does not change it.
    CHmacHash(const CSystemBcrypt& bcrypt, BCRYPT_ALG_HANDLE hAlgorithm, const void* pKey,
              ULONG nKeySize)
        : m_bcrypt(bcrypt) {
        UCHAR nNoKey = 0;
        PUCHAR pSecret = nKeySize != 0 ? static_cast<PUCHAR>(const_cast<void*>(pKey)) : &nNoKey;
        if (!BCRYPT_SUCCESS(
                bcrypt.pfnCreateHash(hAlgorithm, &m_hHash, nullptr, 0, pSecret, nKeySize, 0)))
            m_hHash = nullptr;
    }
    ~CHmacHash() {
        if (m_hHash != nullptr)
            m_bcrypt.pfnDestroyHash(m_hHash);
        m_hHash = nullptr;
    }
    CHmacHash(const CHmacHash&) = delete;
    CHmacHash& operator=(const CHmacHash&) = delete;

    bool IsOpen() const { return m_hHash != nullptr; }

    // BCryptHashData takes at most a ULONG at a time.
    bool Add(const void* pData, std::size_t nSize) {
        const UCHAR* pBytes = static_cast<const UCHAR*>(pData);
        while (nSize != 0) {
            const ULONG nChunk = nSize > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(nSize);
            if (!BCRYPT_SUCCESS(
                    m_bcrypt.pfnHashData(m_hHash, const_cast<PUCHAR>(pBytes), nChunk, 0)))
                return false;
            pBytes += nChunk;
            nSize -= nChunk;
        }
        return true;
    }

    bool Finish(unsigned char* pDigest) {
        return BCRYPT_SUCCESS(
            m_bcrypt.pfnFinishHash(m_hHash, pDigest, static_cast<ULONG>(kHmacSha256Size), 0));
    }

private:
    const CSystemBcrypt& m_bcrypt;
    BCRYPT_HASH_HANDLE m_hHash = nullptr;
};

}  // namespace

bool ComputeHmacSha256WithProvider(const void* pKey, std::size_t nKeySize, const void* pData,
                                   std::size_t nDataSize, unsigned char* pDigest) {
    if (nKeySize > ULONG_MAX)
        return false;
    CSystemBcrypt bcrypt;
    if (!bcrypt.HasHmacCalls())
        return false;
    CHmacAlgorithm algorithm(bcrypt);
    if (algorithm.Get() == nullptr)
        return false;
    CHmacHash hash(bcrypt, algorithm.Get(), pKey, static_cast<ULONG>(nKeySize));
    return hash.IsOpen() && hash.Add(pData, nDataSize) && hash.Finish(pDigest);
}
