#include "cli/report_file.h"

#include <windows.h>

#include "cli/json_text.h"
#include "cli/status_messages.h"

namespace {

HANDLE ToHandle(std::intptr_t nFile) {
    return reinterpret_cast<HANDLE>(nFile);
}

}  // namespace

bool CSystemReportFile::Open(const char* pszName, CTextBuilder* pWhy) {
    Close();
    // Opening a device or a pipe waits for nothing; only a read would, and nothing but a disk
    // file is read. A pipe's server must not act as the user who opened it: anonymous, then.
    const HANDLE hFile = CreateFileA(
        pszName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        const long nStatus = static_cast<long>(GetLastError());
        pWhy->Append("status ");
        pWhy->AppendNumber(nStatus);
        CTextBuilder message;
        GetSystemStatusMessages().AppendStatusText(nStatus, &message);
        if (message.GetLength() > 0) {
            pWhy->Append(": ");
            AppendPrintableText(message.GetText(), pWhy);
        }
        return false;
    }
    m_nFile = reinterpret_cast<std::intptr_t>(hFile);
    return true;
}

bool CSystemReportFile::IsDiskFile() {
    return m_nFile != -1 && GetFileType(ToHandle(m_nFile)) == FILE_TYPE_DISK;
}

bool CSystemReportFile::Read(char* pBuffer, std::size_t nSize, std::size_t* pnRead) {
    *pnRead = 0;
    const DWORD nAsked = nSize > 0x10000000 ? 0x10000000 : static_cast<DWORD>(nSize);
    DWORD nRead = 0;
    if (m_nFile == -1 || !ReadFile(ToHandle(m_nFile), pBuffer, nAsked, &nRead, nullptr))
        return false;
    *pnRead = nRead;
    return true;
}

void CSystemReportFile::Close() {
    if (m_nFile == -1)
        return;
    CloseHandle(ToHandle(m_nFile));
    m_nFile = -1;
}
