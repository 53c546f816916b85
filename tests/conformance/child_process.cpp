#include "tests/conformance/child_process.h"

namespace {

// How often a waiting parent looks at the pipe and the process.
const DWORD kPollMs = 20;

}  // namespace

CChildProcess::~CChildProcess() {
    Kill();
    if (m_hProcess != NULL)
        ::CloseHandle(m_hProcess);
    m_hProcess = NULL;
    if (m_hRead != NULL)
        ::CloseHandle(m_hRead);
    m_hRead = NULL;
}

bool CChildProcess::Start(const std::string& strCommandLine) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE hWrite = NULL;
    if (!::CreatePipe(&m_hRead, &hWrite, &inherit, 0))
        return false;
    // Only the write end goes to the child; a read end it inherited would keep the pipe open.
    ::SetHandleInformation(m_hRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE hNul = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                OPEN_EXISTING, 0, NULL);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = hNul;
    startup.hStdOutput = hWrite;
    startup.hStdError = hWrite;
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    std::string strMutable = strCommandLine;
    const BOOL bStarted =
        ::CreateProcessA(NULL, &strMutable[0], NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
    const DWORD nError = ::GetLastError();
    ::CloseHandle(hWrite);
    hWrite = NULL;
    if (hNul != INVALID_HANDLE_VALUE)
        ::CloseHandle(hNul);
    hNul = NULL;
    if (!bStarted) {
        ::SetLastError(nError);
        return false;
    }
    ::CloseHandle(process.hThread);
    process.hThread = NULL;
    m_hProcess = process.hProcess;
    m_hKillable = process.hProcess;
    m_nProcessId = process.dwProcessId;
    return true;
}

bool CChildProcess::Drain() {
    for (;;) {
        DWORD nAvailable = 0;
        if (!::PeekNamedPipe(m_hRead, NULL, 0, NULL, &nAvailable, NULL))
            return false;
        if (nAvailable == 0)
            return true;
        char aBuffer[4096];
        DWORD nRead = 0;
        if (!::ReadFile(m_hRead, aBuffer, sizeof(aBuffer), &nRead, NULL))
            return false;
        m_strOutput.append(aBuffer, nRead);
    }
}

bool CChildProcess::ReadLine(DWORD nTimeoutMs, std::string* pLine) {
    const ULONGLONG nEnd = ::GetTickCount64() + nTimeoutMs;
    for (;;) {
        const bool bOpen = Drain();
        const size_t nNewLine = m_strOutput.find('\n', m_nLineRead);
        if (nNewLine != std::string::npos) {
            *pLine = m_strOutput.substr(m_nLineRead, nNewLine - m_nLineRead);
            if (!pLine->empty() && pLine->back() == '\r')
                pLine->pop_back();
            m_nLineRead = nNewLine + 1;
            return true;
        }
        if (!bOpen || ::GetTickCount64() >= nEnd)
            return false;
        ::Sleep(kPollMs);
    }
}

bool CChildProcess::Finish(DWORD nTimeoutMs, DWORD* pnExitCode) {
    const ULONGLONG nEnd = ::GetTickCount64() + nTimeoutMs;
    for (;;) {
        Drain();
        if (::WaitForSingleObject(m_hProcess, kPollMs) == WAIT_OBJECT_0)
            break;
        if (::GetTickCount64() >= nEnd) {
            Kill();
            ::WaitForSingleObject(m_hProcess, 5000);
            Drain();
            return false;
        }
    }
    // What the child wrote just before it ended; the pipe closes with its last writer.
    while (Drain()) {
        DWORD nAvailable = 0;
        if (!::PeekNamedPipe(m_hRead, NULL, 0, NULL, &nAvailable, NULL) || nAvailable == 0)
            break;
    }
    DWORD nExitCode = 0;
    ::GetExitCodeProcess(m_hProcess, &nExitCode);
    *pnExitCode = nExitCode;
    m_hKillable = NULL;
    return true;
}

void CChildProcess::Kill() {
    HANDLE hProcess = m_hKillable.exchange(NULL);
    if (hProcess != NULL)
        ::TerminateProcess(hProcess, 0xDEAD);
}

long RunCommand(const std::string& strCommandLine, DWORD nTimeoutMs, std::string* pOutput) {
    CChildProcess child;
    pOutput->clear();
    if (!child.Start(strCommandLine))
        return -1;
    DWORD nExitCode = 0;
    const bool bEnded = child.Finish(nTimeoutMs, &nExitCode);
    *pOutput = child.Output();
    return bEnded ? static_cast<long>(nExitCode) : -1;
}

std::string QuoteArgument(const std::string& strArgument) {
    if (!strArgument.empty() && strArgument.find_first_of(" \t\"") == std::string::npos)
        return strArgument;
    std::string strQuoted = "\"";
    size_t nBackslashes = 0;
    for (char c : strArgument) {
        if (c == '\\') {
            ++nBackslashes;
            continue;
        }
        // Backslashes count only before a quote: there each one is doubled.
        strQuoted.append(c == '"' ? 2 * nBackslashes + 1 : nBackslashes, '\\');
        nBackslashes = 0;
        strQuoted += c;
    }
    strQuoted.append(2 * nBackslashes, '\\');
    strQuoted += '"';
    return strQuoted;
}
