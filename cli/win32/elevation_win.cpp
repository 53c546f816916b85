#include "cli/elevation.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <new>

namespace {

typedef BOOL(WINAPI* PFNSHELLEXECUTEEXW)(SHELLEXECUTEINFOW*);
typedef HRESULT(WINAPI* PFNCOINITIALIZEEX)(LPVOID, DWORD);
typedef void(WINAPI* PFNCOUNINITIALIZE)();

// A system DLL loaded from the system directory only, never from the program's directory or the
// current one. shell32 and ole32 are loaded here rather than imported: the program imports
// nothing beyond what its other commands need, and only --first-run asks for these.
HMODULE LoadSystemDll(const wchar_t* pszName) {
    return LoadLibraryExW(pszName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// COM on this thread for the call, as ShellExecuteEx asks of its callers (it may hand the verb to
// shell extensions). A failure to initialise is no reason not to try.
class CComForCall {
public:
    CComForCall() : m_hOle(LoadSystemDll(L"ole32.dll")), m_pfnUninitialize(nullptr) {
        if (m_hOle == nullptr)
            return;
        const PFNCOINITIALIZEEX pfnInitialize = reinterpret_cast<PFNCOINITIALIZEEX>(
            reinterpret_cast<void*>(GetProcAddress(m_hOle, "CoInitializeEx")));
        const PFNCOUNINITIALIZE pfnUninitialize = reinterpret_cast<PFNCOUNINITIALIZE>(
            reinterpret_cast<void*>(GetProcAddress(m_hOle, "CoUninitialize")));
        if (pfnInitialize != nullptr && pfnUninitialize != nullptr &&
            SUCCEEDED(pfnInitialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)))
            m_pfnUninitialize = pfnUninitialize;
    }

    ~CComForCall() {
        if (m_pfnUninitialize != nullptr)
            m_pfnUninitialize();
        m_pfnUninitialize = nullptr;
        if (m_hOle != nullptr)
            FreeLibrary(m_hOle);
        m_hOle = nullptr;
    }

    CComForCall(const CComForCall&) = delete;
    CComForCall& operator=(const CComForCall&) = delete;

private:
    HMODULE m_hOle;
    PFNCOUNINITIALIZE m_pfnUninitialize;
};

// Starts the program file elevated and waits for it. ERROR_CANCELLED when the user declined.
bool StartElevatedAndWait(PFNSHELLEXECUTEEXW pfnShellExecuteEx, const wchar_t* pszProgram,
                          long* pnExitCode, long* pnStatus) {
    CComForCall com;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // The process handle, to wait for; the start is finished before the call returns.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    // The prompt belongs to the console the user typed in.
    info.hwnd = GetConsoleWindow();
    info.lpVerb = L"runas";
    info.lpFile = pszProgram;
    info.lpParameters = nullptr;
    // Its own console window, which would only flash: its answer is its exit code.
    info.nShow = SW_HIDE;
    if (!pfnShellExecuteEx(&info)) {
        *pnStatus = static_cast<long>(GetLastError());
        if (info.hProcess != nullptr)
            CloseHandle(info.hProcess);
        info.hProcess = nullptr;
        return false;
    }
    // No process handle: the verb was handed to something other than a new process.
    if (info.hProcess == nullptr) {
        *pnStatus = ERROR_INVALID_HANDLE;
        return false;
    }
    DWORD nExitCode = 0;
    const bool bEnded = WaitForSingleObject(info.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                        GetExitCodeProcess(info.hProcess, &nExitCode);
    if (!bEnded)
        *pnStatus = static_cast<long>(GetLastError());
    CloseHandle(info.hProcess);
    info.hProcess = nullptr;
    *pnExitCode = static_cast<long>(nExitCode);
    return bEnded;
}

bool RunProgramElevated(const wchar_t* pszProgram, long* pnExitCode, long* pnStatus) {
    HMODULE hShell = LoadSystemDll(L"shell32.dll");
    if (hShell == nullptr) {
        *pnStatus = static_cast<long>(GetLastError());
        return false;
    }
    const PFNSHELLEXECUTEEXW pfnShellExecuteEx = reinterpret_cast<PFNSHELLEXECUTEEXW>(
        reinterpret_cast<void*>(GetProcAddress(hShell, "ShellExecuteExW")));
    bool bRan = false;
    if (pfnShellExecuteEx != nullptr)
        bRan = StartElevatedAndWait(pfnShellExecuteEx, pszProgram, pnExitCode, pnStatus);
    else
        *pnStatus = static_cast<long>(GetLastError());
    FreeLibrary(hShell);
    hShell = nullptr;
    return bRan;
}

class CWin32Elevation : public CElevation {
public:
    bool IsElevated() override {
        HANDLE hToken = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
            return false;
        TOKEN_ELEVATION elevation = {};
        DWORD nSize = 0;
        const BOOL bAsked =
            GetTokenInformation(hToken, TokenElevation, &elevation, sizeof(elevation), &nSize);
        CloseHandle(hToken);
        hToken = nullptr;
        return bAsked && elevation.TokenIsElevated != 0;
    }

    bool RunElevated(long* pnExitCode, long* pnStatus) override {
        *pnExitCode = 0;
        *pnStatus = 0;
        // This very program file, whatever its name or place (a long path too).
        const DWORD nCapacity = 32768;
        wchar_t* pszProgram = new (std::nothrow) wchar_t[nCapacity];
        if (pszProgram == nullptr) {
            *pnStatus = ERROR_NOT_ENOUGH_MEMORY;
            return false;
        }
        bool bRan = false;
        const DWORD nLength = GetModuleFileNameW(nullptr, pszProgram, nCapacity);
        if (nLength == 0 || nLength >= nCapacity)
            *pnStatus = nLength == 0 ? static_cast<long>(GetLastError())
                                     : static_cast<long>(ERROR_INSUFFICIENT_BUFFER);
        else
            bRan = RunProgramElevated(pszProgram, pnExitCode, pnStatus);
        delete[] pszProgram;
        pszProgram = nullptr;
        return bRan;
    }
};

}  // namespace

CElevation& GetSystemElevation() {
    static CWin32Elevation elevation;
    return elevation;
}
