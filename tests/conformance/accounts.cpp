#include "tests/conformance/accounts.h"

#include <lm.h>

namespace {

typedef NET_API_STATUS(WINAPI* NetUserAddFn)(LPCWSTR, DWORD, LPBYTE, LPDWORD);
typedef NET_API_STATUS(WINAPI* NetUserDelFn)(LPCWSTR, LPCWSTR);
typedef NET_API_STATUS(WINAPI* NetLocalGroupAddMembersFn)(LPCWSTR, LPCWSTR, DWORD, LPBYTE, DWORD);

// netapi32 from System32 alone, kept loaded for the process (these checks are short-lived).
void* NetapiCall(const char* pszName) {
    static HMODULE hNetapi = ::LoadLibraryExW(L"netapi32.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return hNetapi != NULL ? reinterpret_cast<void*>(::GetProcAddress(hNetapi, pszName)) : nullptr;
}

}  // namespace

DWORD AddLocalUser(const std::wstring& strName, const std::wstring& strPassword) {
    auto pfnAdd = reinterpret_cast<NetUserAddFn>(NetapiCall("NetUserAdd"));
    if (pfnAdd == nullptr)
        return ERROR_PROC_NOT_FOUND;
    USER_INFO_1 info;
    ZeroMemory(&info, sizeof(info));
    info.usri1_name = const_cast<LPWSTR>(strName.c_str());
    info.usri1_password = const_cast<LPWSTR>(strPassword.c_str());
    info.usri1_priv = USER_PRIV_USER;
    info.usri1_flags = UF_SCRIPT | UF_DONT_EXPIRE_PASSWD;
    DWORD nBadField = 0;
    return pfnAdd(NULL, 1, reinterpret_cast<LPBYTE>(&info), &nBadField);
}

DWORD AddToAdministrators(const std::wstring& strName) {
    auto pfnAddMembers =
        reinterpret_cast<NetLocalGroupAddMembersFn>(NetapiCall("NetLocalGroupAddMembers"));
    if (pfnAddMembers == nullptr)
        return ERROR_PROC_NOT_FOUND;
    // The group's name differs with the system's language; its SID does not.
    BYTE aSid[SECURITY_MAX_SID_SIZE];
    DWORD nSid = sizeof(aSid);
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, aSid, &nSid))
        return ::GetLastError();
    wchar_t szGroup[256];
    wchar_t szDomain[256];
    DWORD nGroup = 256;
    DWORD nDomain = 256;
    SID_NAME_USE eUse;
    if (!::LookupAccountSidW(NULL, aSid, szGroup, &nGroup, szDomain, &nDomain, &eUse))
        return ::GetLastError();
    LOCALGROUP_MEMBERS_INFO_3 member;
    member.lgrmi3_domainandname = const_cast<LPWSTR>(strName.c_str());
    return pfnAddMembers(NULL, szGroup, 3, reinterpret_cast<LPBYTE>(&member), 1);
}

DWORD DeleteLocalUser(const std::wstring& strName) {
    auto pfnDelete = reinterpret_cast<NetUserDelFn>(NetapiCall("NetUserDel"));
    if (pfnDelete == nullptr)
        return ERROR_PROC_NOT_FOUND;
    return pfnDelete(NULL, strName.c_str());
}

bool AccountExists(const std::wstring& strName) {
    BYTE aSid[SECURITY_MAX_SID_SIZE];
    DWORD nSid = sizeof(aSid);
    wchar_t szDomain[256];
    DWORD nDomain = 256;
    SID_NAME_USE eUse;
    return ::LookupAccountNameW(NULL, strName.c_str(), aSid, &nSid, szDomain, &nDomain, &eUse) &&
           eUse == SidTypeUser;
}
