// CIdrovanRun: one run of idrovan.exe started by the end-to-end driver. It owns the process
// handles; a process still running when the object goes is ended, so that a failed test does
// not leave a dialog behind for the next one. Driver thread only.
#pragma once

#include <windows.h>

#include <string>

#include "tests/e2e/dialog_probe.h"

class CIdrovanRun {
public:
    explicit CIdrovanRun(const std::string& exePath) {
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        std::string commandLine = "\"" + exePath + "\"";
        if (CreateProcessA(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                           nullptr, &startup, &m_info)) {
            CloseHandle(m_info.hThread);
            m_info.hThread = nullptr;
        } else {
            m_info = PROCESS_INFORMATION{};
        }
    }

    ~CIdrovanRun() {
        if (m_info.hProcess == nullptr) {
            return;
        }
        if (WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(m_info.hProcess, 99);
            WaitForSingleObject(m_info.hProcess, idrovan_e2e::kPatienceMs);
        }
        CloseHandle(m_info.hProcess);
        m_info.hProcess = nullptr;
    }

    CIdrovanRun(const CIdrovanRun&) = delete;
    CIdrovanRun& operator=(const CIdrovanRun&) = delete;

    bool Started() const { return m_info.hProcess != nullptr; }
    DWORD ProcessId() const { return m_info.dwProcessId; }
    HANDLE Process() const { return m_info.hProcess; }

    // The main dialog once it has handled what it posted itself while initialising; null
    // when it did not appear in time.
    HWND WaitForSettledDialog() const {
        HWND hDialog = idrovan_e2e::WaitForWindow(ProcessId(), idrovan_e2e::kMainCaption);
        if (hDialog != nullptr) {
            idrovan_e2e::Settle(hDialog);
        }
        return hDialog;
    }

    // The exit code, or STILL_ACTIVE when the process did not end in time.
    DWORD WaitForExit() const {
        DWORD nExitCode = STILL_ACTIVE;
        if (WaitForSingleObject(m_info.hProcess, idrovan_e2e::kPatienceMs) == WAIT_OBJECT_0) {
            GetExitCodeProcess(m_info.hProcess, &nExitCode);
        }
        return nExitCode;
    }

private:
    PROCESS_INFORMATION m_info{};
};
