#pragma once

// CSystemBcrypt: bcrypt.dll from System32, loaded for as long as one object lives, with the CNG
// calls this program makes looked up in it.
//
// bcrypt.dll is not one of Windows' KnownDLLs, so an import of it would be looked for in the
// program's own folder first, where anyone who can write there could put another. It is loaded
// from System32 alone instead, for the computation that needs it, and freed again when that is
// done: a program or a host of idrovan.dll that never asks for an application ID, a new marker or a
// licence's check never loads it, and an unloaded idrovan.dll leaves nothing of it behind. Where
// the host has bcrypt.dll loaded already, the load only counts one more reference to it, and costs
// nearly nothing.
//
// One object per computation, on one thread; copying is deleted. A call pointer is null when the
// module or the export is missing.

#include <windows.h>
// windows.h first: bcrypt.h relies on its types.
#include <bcrypt.h>

class CSystemBcrypt {
public:
    CSystemBcrypt();
    ~CSystemBcrypt();
    CSystemBcrypt(const CSystemBcrypt&) = delete;
    CSystemBcrypt& operator=(const CSystemBcrypt&) = delete;

    // True when every call the keyed hash needs is there.
    bool HasHmacCalls() const;
    // True when every call a signature's check needs is there: hashing and public keys.
    bool HasSignatureCalls() const;

    decltype(&::BCryptOpenAlgorithmProvider) pfnOpenAlgorithmProvider = nullptr;
    decltype(&::BCryptCloseAlgorithmProvider) pfnCloseAlgorithmProvider = nullptr;
    decltype(&::BCryptCreateHash) pfnCreateHash = nullptr;
    decltype(&::BCryptHashData) pfnHashData = nullptr;
    decltype(&::BCryptFinishHash) pfnFinishHash = nullptr;
    decltype(&::BCryptDestroyHash) pfnDestroyHash = nullptr;
    decltype(&::BCryptGenRandom) pfnGenRandom = nullptr;
    decltype(&::BCryptImportKeyPair) pfnImportKeyPair = nullptr;
    decltype(&::BCryptVerifySignature) pfnVerifySignature = nullptr;
    decltype(&::BCryptDestroyKey) pfnDestroyKey = nullptr;

private:
    template <typename TFunction>
    TFunction LookUp(const char* pszName) const {
        FARPROC pfn = ::GetProcAddress(m_hModule, pszName);
        // Through the one function type that GCC lets stand for any other.
        return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(pfn));
    }

    HMODULE m_hModule = NULL;
};

// BCryptGenRandom with the system's preferred generator, through a CSystemBcrypt of its own:
// nSize bytes into pBuffer. False when bcrypt.dll or the generator fails.
bool GenerateSystemRandom(unsigned char* pBuffer, unsigned long nSize);
