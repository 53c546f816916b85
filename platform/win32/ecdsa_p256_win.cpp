#include "platform/ecdsa_p256.h"

#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>

#include <climits>
#include <cstring>

#include "platform/win32/system_bcrypt_win.h"

namespace {

const std::size_t kSha256Size = 32;
// What BCryptVerifySignature answers for a signature that does not verify.
const NTSTATUS kInvalidSignature = static_cast<NTSTATUS>(0xC000A000L);

// An algorithm provider, closed by its owner on every path.
class CAlgorithm {
public:
    CAlgorithm(const CSystemBcrypt& bcrypt, LPCWSTR pszAlgorithm) : m_bcrypt(bcrypt) {
        if (!BCRYPT_SUCCESS(
                bcrypt.pfnOpenAlgorithmProvider(&m_hAlgorithm, pszAlgorithm, nullptr, 0)))
            m_hAlgorithm = nullptr;
    }
    ~CAlgorithm() {
        if (m_hAlgorithm != nullptr)
            m_bcrypt.pfnCloseAlgorithmProvider(m_hAlgorithm, 0);
        m_hAlgorithm = nullptr;
    }
    CAlgorithm(const CAlgorithm&) = delete;
    CAlgorithm& operator=(const CAlgorithm&) = delete;

    BCRYPT_ALG_HANDLE Get() const { return m_hAlgorithm; }

private:
    const CSystemBcrypt& m_bcrypt;
    BCRYPT_ALG_HANDLE m_hAlgorithm = nullptr;
};

// SHA-256 of the message; the provider allocates the hash object itself.
bool HashMessage(const CSystemBcrypt& bcrypt, const void* pMessage, std::size_t nSize,
                 unsigned char* pDigest) {
    CAlgorithm algorithm(bcrypt, BCRYPT_SHA256_ALGORITHM);
    if (algorithm.Get() == nullptr)
        return false;
    BCRYPT_HASH_HANDLE hHash = nullptr;
    if (!BCRYPT_SUCCESS(bcrypt.pfnCreateHash(algorithm.Get(), &hHash, nullptr, 0, nullptr, 0, 0)))
        return false;
    bool bDone = true;
    const UCHAR* pBytes = static_cast<const UCHAR*>(pMessage);
    while (bDone && nSize != 0) {
        const ULONG nChunk = nSize > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(nSize);
        bDone = BCRYPT_SUCCESS(bcrypt.pfnHashData(hHash, const_cast<PUCHAR>(pBytes), nChunk, 0));
        pBytes += nChunk;
        nSize -= nChunk;
    }
    bDone = bDone && BCRYPT_SUCCESS(
                         bcrypt.pfnFinishHash(hHash, pDigest, static_cast<ULONG>(kSha256Size), 0));
    bcrypt.pfnDestroyHash(hHash);
    hHash = nullptr;
    return bDone;
}

// The public key as CNG's BCRYPT_ECCPUBLIC_BLOB: its header, then X and Y.
class CPublicKey {
public:
    CPublicKey(const CSystemBcrypt& bcrypt, BCRYPT_ALG_HANDLE hAlgorithm,
               const unsigned char* pPublicKey)
        : m_bcrypt(bcrypt) {
        unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + kEcdsaP256KeySize];
        BCRYPT_ECCKEY_BLOB header;
        header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
        header.cbKey = static_cast<ULONG>(kEcdsaP256KeySize / 2);
        std::memcpy(blob, &header, sizeof(header));
        std::memcpy(blob + sizeof(header), pPublicKey, kEcdsaP256KeySize);
        if (!BCRYPT_SUCCESS(bcrypt.pfnImportKeyPair(hAlgorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                                    &m_hKey, blob, sizeof(blob), 0)))
            m_hKey = nullptr;
    }
    ~CPublicKey() {
        if (m_hKey != nullptr)
            m_bcrypt.pfnDestroyKey(m_hKey);
        m_hKey = nullptr;
    }
    CPublicKey(const CPublicKey&) = delete;
    CPublicKey& operator=(const CPublicKey&) = delete;

    BCRYPT_KEY_HANDLE Get() const { return m_hKey; }

private:
    const CSystemBcrypt& m_bcrypt;
    BCRYPT_KEY_HANDLE m_hKey = nullptr;
};

}  // namespace

EEcdsaVerdict VerifyEcdsaP256Sha256(const void* pMessage, std::size_t nSize,
                                    const unsigned char* pPublicKey,
                                    const unsigned char* pSignature) {
    CSystemBcrypt bcrypt;
    if (!bcrypt.HasSignatureCalls())
        return kEcdsaFailure;
    unsigned char digest[kSha256Size];
    if (!HashMessage(bcrypt, pMessage, nSize, digest))
        return kEcdsaFailure;
    CAlgorithm algorithm(bcrypt, BCRYPT_ECDSA_P256_ALGORITHM);
    if (algorithm.Get() == nullptr)
        return kEcdsaFailure;
    CPublicKey key(bcrypt, algorithm.Get(), pPublicKey);
    if (key.Get() == nullptr)
        return kEcdsaBadKey;
    // Exactly 64 bytes of signature: CNG's own length check has let a 65th byte through.
    unsigned char signature[kEcdsaP256SignatureSize];
    std::memcpy(signature, pSignature, sizeof(signature));
    const NTSTATUS nStatus =
        bcrypt.pfnVerifySignature(key.Get(), nullptr, digest, static_cast<ULONG>(sizeof(digest)),
                                  signature, static_cast<ULONG>(sizeof(signature)), 0);
    if (BCRYPT_SUCCESS(nStatus))
        return kEcdsaValid;
    return nStatus == kInvalidSignature ? kEcdsaInvalid : kEcdsaFailure;
}
