#include "cli/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool CSystemReportFile::Open(const char* pszName, CTextBuilder* pWhy) {
    Close();
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    const int nFile = open(pszName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (nFile < 0) {
        pWhy->Append(std::strerror(errno));
        return false;
    }
    m_nFile = nFile;
    return true;
}

bool CSystemReportFile::IsDiskFile() {
    struct stat status;
    return m_nFile != -1 && fstat(static_cast<int>(m_nFile), &status) == 0 &&
           S_ISREG(status.st_mode);
}

bool CSystemReportFile::Read(char* pBuffer, std::size_t nSize, std::size_t* pnRead) {
    *pnRead = 0;
    if (m_nFile == -1)
        return false;
    ssize_t nRead = 0;
    do {
        nRead = read(static_cast<int>(m_nFile), pBuffer, nSize);
    } while (nRead < 0 && errno == EINTR);
    if (nRead < 0)
        return false;
    *pnRead = static_cast<std::size_t>(nRead);
    return true;
}

void CSystemReportFile::Close() {
    if (m_nFile == -1)
        return;
    close(static_cast<int>(m_nFile));
    m_nFile = -1;
}
