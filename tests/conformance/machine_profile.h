#pragma once

// What the machine under test is, for the head of the TAP output and for the checks that
// depend on it: the Windows version, WOW64, Wine or not, the token, UAC and the session.
// Each function asks the system afresh; any thread.

#include <string>

// Wine's version ("8.0"), or empty where ntdll has no wine_get_version: not Wine.
std::string WineVersion();
inline bool IsUnderWine() {
    return !WineVersion().empty();
}
// "10.0.20348", from RtlGetVersion (GetVersionEx answers what the manifest asks for).
std::string WindowsVersion();
// A 32-bit process on 64-bit Windows.
bool IsWow64();
// "default", "full" or "limited" (TokenElevationType), or "unknown".
std::string ElevationTypeName();
// Whether the token is elevated (TokenElevation).
bool IsTokenElevated();
// EnableLUA under ...\Policies\System (64-bit view): "1", "0" or "absent".
std::string EnableLua();
// The session this process runs in.
unsigned long SessionId();
// The computer's NetBIOS name.
std::string ComputerName();
// The SHA-256 of a file as 64 lowercase hex digits, or empty when it cannot be read.
std::string Sha256OfFile(const std::string& strPath);
// A value under HKEY_LOCAL_MACHINE in the 64-bit view (the only one on 32-bit Windows), as
// RegGetValueA reads it with the given RRF_RT_ flags; the status.
long ReadMachineValue(const char* pszKey, const char* pszValue, unsigned long nFlags, void* pData,
                      unsigned long* pnSize);
// Whether a file exists.
bool FileExists(const std::string& strPath);
// System32's msiexec.exe, quoted for a command line (never one found through PATH).
std::string MsiexecPath();
