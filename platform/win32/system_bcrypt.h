#pragma once

// bcrypt.dll from System32 only, with the CNG functions that the keyed hash
// (hmac_sha256_win.cpp) and the signature check (ecdsa_p256_win.cpp) call. One object per
// computation, on the stack of the calling thread: it loads the DLL in its constructor and frees
// it in its destructor. Only platform/win32 includes this header.

#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>

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
        pfnImportKeyPair = LookUp<decltype(&::BCryptImportKeyPair)>("BCryptImportKeyPair");
        pfnVerifySignature = LookUp<decltype(&::BCryptVerifySignature)>("BCryptVerifySignature");
        pfnDestroyKey = LookUp<decltype(&::BCryptDestroyKey)>("BCryptDestroyKey");
    }
    ~CSystemBcrypt() {
        if (m_hModule != NULL)
            ::FreeLibrary(m_hModule);
        m_hModule = NULL;
    }
    CSystemBcrypt(const CSystemBcrypt&) = delete;
    CSystemBcrypt& operator=(const CSystemBcrypt&) = delete;

    // The providers and hashing: what the keyed hash needs.
    bool HasHash() const {
        return pfnOpenAlgorithmProvider != nullptr && pfnCloseAlgorithmProvider != nullptr &&
               pfnCreateHash != nullptr && pfnHashData != nullptr && pfnFinishHash != nullptr &&
               pfnDestroyHash != nullptr;
    }

    // Hashing and public keys: what a signature's check needs.
    bool HasSignature() const {
        return HasHash() && pfnImportKeyPair != nullptr && pfnVerifySignature != nullptr &&
               pfnDestroyKey != nullptr;
    }

    decltype(&::BCryptOpenAlgorithmProvider) pfnOpenAlgorithmProvider = nullptr;
    decltype(&::BCryptCloseAlgorithmProvider) pfnCloseAlgorithmProvider = nullptr;
    decltype(&::BCryptCreateHash) pfnCreateHash = nullptr;
    decltype(&::BCryptHashData) pfnHashData = nullptr;
    decltype(&::BCryptFinishHash) pfnFinishHash = nullptr;
    decltype(&::BCryptDestroyHash) pfnDestroyHash = nullptr;
    decltype(&::BCryptImportKeyPair) pfnImportKeyPair = nullptr;
    decltype(&::BCryptVerifySignature) pfnVerifySignature = nullptr;
    decltype(&::BCryptDestroyKey) pfnDestroyKey = nullptr;

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
