#include "platform/win32/system_bcrypt_win.h"

namespace {

HMODULE LoadByFullPath() {
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

}  // namespace

CSystemBcrypt::CSystemBcrypt() {
    m_hModule = ::LoadLibraryExW(L"bcrypt.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Windows 7 without KB2533623 knows no LOAD_LIBRARY_SEARCH_* flag and refuses the call as an
    // invalid parameter; there the file is named by its full System32 path.
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
    pfnGenRandom = LookUp<decltype(&::BCryptGenRandom)>("BCryptGenRandom");
    pfnImportKeyPair = LookUp<decltype(&::BCryptImportKeyPair)>("BCryptImportKeyPair");
    pfnVerifySignature = LookUp<decltype(&::BCryptVerifySignature)>("BCryptVerifySignature");
    pfnDestroyKey = LookUp<decltype(&::BCryptDestroyKey)>("BCryptDestroyKey");
}

CSystemBcrypt::~CSystemBcrypt() {
    if (m_hModule != NULL)
        ::FreeLibrary(m_hModule);
    m_hModule = NULL;
}

bool CSystemBcrypt::HasHmacCalls() const {
    return pfnOpenAlgorithmProvider != nullptr && pfnCloseAlgorithmProvider != nullptr &&
           pfnCreateHash != nullptr && pfnHashData != nullptr && pfnFinishHash != nullptr &&
           pfnDestroyHash != nullptr;
}

bool CSystemBcrypt::HasSignatureCalls() const {
    return HasHmacCalls() && pfnImportKeyPair != nullptr && pfnVerifySignature != nullptr &&
           pfnDestroyKey != nullptr;
}

bool GenerateSystemRandom(unsigned char* pBuffer, unsigned long nSize) {
    CSystemBcrypt bcrypt;
    return bcrypt.pfnGenRandom != nullptr &&
           BCRYPT_SUCCESS(
               bcrypt.pfnGenRandom(nullptr, pBuffer, nSize, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}
