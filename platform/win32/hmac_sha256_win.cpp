#include "platform/hmac_sha256_provider.h"

#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>

#include <climits>

#include "platform/hmac_sha256.h"

namespace {

// bcrypt.dll is not one of Windows' KnownDLLs, so an import of it would be looked for in the
// program's own folder first, where anyone who can write there could put another. It is
// loaded from System32 alone instead, for the one computation that needs it, and freed again
// when that is done: a program or a host of idrovan.dll that never asks for an application ID
// never loads it, and an unloaded idrovan.dll leaves nothing of it behind.
class CSystemBcrypt {
public:
    CSystemBcrypt() {
        m_hModule = ::LoadLibraryExW(L"bcrypt.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
        // Windows 7 without KB2533623 knows no LOAD_LIBRARY_SEARCH_* flag and refuses the call
        // as an invalid parameter; there the file is named by its full System32 path.
        if (m_hModule == NULL && ::GetLastError() == ERROR_INVALID_PARAMETER)
            m_hModule = LoadByFullPath();
        if (m_hModule == NULL)
            return;
        pfnOpenAlgorithmProvider =
            LookUp<decltype(&::BCryptOpenAlgorithmProvider)>("BCryptOpenAlgorithmProvider");
        pfnCloseAlgorithmProvider =
            LookUp<decltype(&::BCryptCloseAlgorithmProvider)>("BCryptCloseAlgorithmProvider");
        pfnCreateHash = LookUp<decltype(&::BCryptCreateHash)>("BCryptCreateHash");
        pfnHashData = LookUp<decltype(&::BCryptHashData)>("BCryptHashData");
        pfnFinishHash = LookUp<decltype(&::BCryptFinishHash)>("BCryptFinishHash");
        pfnDestroyHash = LookUp<decltype(&::BCryptDestroyHash)>("BCryptDestroyHash");
    }
    ~CSystemBcrypt() {
        if (m_hModule != NULL)
            ::FreeLibrary(m_hModule);
        m_hModule = NULL;
    }
    CSystemBcrypt(const CSystemBcrypt&) = delete;
    CSystemBcrypt& operator=(const CSystemBcrypt&) = delete;

    bool IsComplete() const {
        return pfnOpenAlgorithmProvider != nullptr && pfnCloseAlgorithmProvider != nullptr &&
               pfnCreateHash != nullptr && pfnHashData != nullptr && pfnFinishHash != nullptr &&
               pfnDestroyHash != nullptr;
    }

    decltype(&::BCryptOpenAlgorithmProvider) pfnOpenAlgorithmProvider = nullptr;
    decltype(&::BCryptCloseAlgorithmProvider) pfnCloseAlgorithmProvider = nullptr;
    decltype(&::BCryptCreateHash) pfnCreateHash = nullptr;
    decltype(&::BCryptHashData) pfnHashData = nullptr;
    decltype(&::BCryptFinishHash) pfnFinishHash = nullptr;
    decltype(&::BCryptDestroyHash) pfnDestroyHash = nullptr;

private:
    static HMODULE LoadByFullPath() {
        static const wchar_t kName[] = L"\\bcrypt.dll";
        wchar_t szPath[MAX_PATH];
        const UINT nLength = ::GetSystemDirectoryW(szPath, MAX_PATH);
        if (nLength == 0 || nLength + sizeof(kName) / sizeof(kName[0]) > MAX_PATH)
            return NULL;
        for (UINT i = 0; i < sizeof(kName) / sizeof(kName[0]); ++i)
            szPath[nLength + i] = kName[i];
        // Its own imports, too, are then looked for in System32 first.
        return ::LoadLibraryExW(szPath, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    }

    template <typename TFunction>
    TFunction LookUp(const char* pszName) const {
        FARPROC pfn = ::GetProcAddress(m_hModule, pszName);
        // Through the one function type that GCC lets stand for any other.
        return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(pfn));
    }

    HMODULE m_hModule = NULL;
};

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
    if (!bcrypt.IsComplete())
        return false;
    CHmacAlgorithm algorithm(bcrypt);
    if (algorithm.Get() == nullptr)
        return false;
    CHmacHash hash(bcrypt, algorithm.Get(), pKey, static_cast<ULONG>(nKeySize));
    return hash.IsOpen() && hash.Add(pData, nDataSize) && hash.Finish(pDigest);
}
