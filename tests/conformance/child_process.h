#pragma once

// CChildProcess: runs one command line with its standard output and error captured into one
// string, waits at most a given time and kills it then. Used for each check (the bundle starting
// itself with --run NAME) and for the programs under test.
//
// One thread; the process handle is owned here and closed by the destructor, which also kills a
// child still running. Abort() may be called from another thread (the Ctrl+C handler).

#include <windows.h>

#include <atomic>
#include <string>

class CChildProcess {
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // Starts the command line; false with GetLastError() when the process could not be made.
    bool Start(const std::string& strCommandLine);
    // Reads the output until the child ends or nTimeoutMs passed (then kills it). True when it
    // ended by itself, with its exit code in *pnExitCode.
    bool Finish(DWORD nTimeoutMs, DWORD* pnExitCode);
    // The first line of output, read as it comes (for helpers that say when they are ready):
    // true once a whole line arrived within nTimeoutMs.
    bool ReadLine(DWORD nTimeoutMs, std::string* pLine);
    const std::string& Output() const { return m_strOutput; }
    DWORD ProcessId() const { return m_nProcessId; }
    // Ends the child at once (another thread may call it).
    void Kill();

private:
    // Appends whatever the pipe holds now; false when the pipe is closed.
    bool Drain();

    HANDLE m_hProcess = NULL;
    HANDLE m_hRead = NULL;
    std::atomic<HANDLE> m_hKillable{NULL};
    DWORD m_nProcessId = 0;
    std::string m_strOutput;
    size_t m_nLineRead = 0;
};

// Runs a command line to its end (at most nTimeoutMs). The output in *pOutput; the exit code, or
// -1 when it could not start or was killed.
long RunCommand(const std::string& strCommandLine, DWORD nTimeoutMs, std::string* pOutput);

// A command-line argument quoted the way CommandLineToArgvW and the C runtime read it back.
std::string QuoteArgument(const std::string& strArgument);
