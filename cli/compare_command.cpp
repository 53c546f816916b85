#include "cli/compare_command.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "cli/report_comparison.h"
#include "cli/report_file.h"

namespace {

const char kMessageStart[] = "idrovan-cli: the report cannot be compared: ";

// Reads at most nSize bytes of pFile into pBuffer; one byte more than a report may have is
// enough to tell that it is too large. False on a read error.
bool ReadAtMost(std::FILE* pFile, char* pBuffer, std::size_t nSize, std::size_t* pLength) {
    std::size_t nLength = 0;
    while (nLength < nSize) {
        const std::size_t nRead = std::fread(pBuffer + nLength, 1, nSize - nLength, pFile);
        if (nRead == 0)
            break;
        nLength += nRead;
    }
    *pLength = nLength;
    return std::ferror(pFile) == 0;
}

// The same through the report file.
bool ReadAtMost(CReportFile& file, char* pBuffer, std::size_t nSize, std::size_t* pLength) {
    std::size_t nLength = 0;
    while (nLength < nSize) {
        std::size_t nRead = 0;
        if (!file.Read(pBuffer + nLength, nSize - nLength, &nRead))
            return false;
        if (nRead == 0)
            break;
        nLength += nRead;
    }
    *pLength = nLength;
    return true;
}

// One line on stderr: why the report cannot be compared, the system's reason in brackets, and
// what to do.
bool Refuse(CConsoleOutput* pOutput, const char* pszWhy, const char* pszReason = nullptr,
            const char* pszWhatToDo = nullptr) {
    pOutput->err.Append(kMessageStart);
    pOutput->err.Append(pszWhy);
    if (pszReason != nullptr) {
        pOutput->err.Append(" (");
        pOutput->err.Append(pszReason);
        pOutput->err.Append(")");
    }
    pOutput->err.Append(pszWhatToDo);
    pOutput->err.Append('\n');
    return false;
}

// The named file, read only when it is a file on a disk: a device or a pipe is refused by its
// name, or else by what was opened, before anything is read from it.
bool ReadNamedFile(const char* pszFile, CReportFile& file, char* pBuffer, std::size_t nSize,
                   std::size_t* pLength, CConsoleOutput* pOutput) {
    const char kUseAFile[] = "; give a file's name, or - to read the report from standard input";
    if (IsDeviceName(pszFile))
        return Refuse(pOutput, "its name is a device's, not a file's", nullptr, kUseAFile);
    CTextBuilder why;
    if (!file.Open(pszFile, &why))
        return Refuse(pOutput, "its file cannot be opened", why.GetText());
    const bool bDiskFile = file.IsDiskFile();
    const bool bRead = bDiskFile && ReadAtMost(file, pBuffer, nSize, pLength);
    file.Close();
    if (!bDiskFile) {
        return Refuse(pOutput, "it names a device, a pipe or a console, not a file on a disk",
                      nullptr, kUseAFile);
    }
    return bRead || Refuse(pOutput, "its file cannot be read");
}

}  // namespace

bool LoadSavedReport(const char* pszFile, CReportFile& file, CSavedReport* pReport,
                     CConsoleOutput* pOutput) {
    const std::size_t nSize = kMaxSavedReportSize + 1;
    char* pBuffer = new (std::nothrow) char[nSize];
    if (pBuffer == nullptr)
        return Refuse(pOutput, "out of memory");
    std::size_t nLength = 0;
    bool bRead = false;
    if (std::strcmp(pszFile, "-") == 0) {
        bRead = ReadAtMost(stdin, pBuffer, nSize, &nLength) ||
                Refuse(pOutput, "standard input cannot be read");
    } else {
        bRead = ReadNamedFile(pszFile, file, pBuffer, nSize, &nLength, pOutput);
    }
    CTextBuilder error;
    const bool bDone = bRead && ReadSavedReport(pBuffer, nLength, pReport, &error);
    delete[] pBuffer;
    pBuffer = nullptr;
    if (bDone || !bRead)
        return bDone;
    return Refuse(pOutput, error.GetText());
}

int CompareWithSavedReport(const CSavedReport& report, const CDerivation& derivation, bool bJson,
                           CStatusMessages& messages, CConsoleOutput* pOutput) {
    const CComparison comparison = CompareWithReport(report, derivation);
    if (bJson)
        FormatComparisonJson(report, derivation, comparison, messages, &pOutput->out);
    else
        FormatComparison(report, derivation, comparison, &pOutput->out);
    const ECliExitCode eExit = GetComparisonExitCode(derivation, comparison);
    // The JSON object holds the failure already; like --json, it is then the only output.
    if (!bJson && eExit != kExitSuccess && eExit != kExitDifferentID)
        FormatFailure(derivation, messages, &pOutput->err);
    return eExit;
}
