#pragma once

// Local accounts for the checks that need another user: made and deleted through netapi32, which
// is loaded from System32 when it is needed (it is no KnownDLL). Any thread.

#include <windows.h>

#include <string>

// Makes a local account (a standard user) with the given password. The NET_API_STATUS, or
// ERROR_PROC_NOT_FOUND where netapi32 lacks the call.
DWORD AddLocalUser(const std::wstring& strName, const std::wstring& strPassword);
// Adds an account to the local group "Administrators" (found by its SID, whatever the language).
DWORD AddToAdministrators(const std::wstring& strName);
// Deletes a local account; NERR_UserNotFound (2221) for one that is gone.
DWORD DeleteLocalUser(const std::wstring& strName);
// Whether the name is found as an account; Wine's stubs report a user made that is not.
bool AccountExists(const std::wstring& strName);
