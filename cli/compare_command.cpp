#include "cli/compare_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "cli/report_comparison.h"

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

}  // namespace

bool LoadSavedReport(const char* pszFile, CSavedReport* pReport, CConsoleOutput* pOutput) {
    const bool bStandardInput = std::strcmp(pszFile, "-") == 0;
    std::FILE* pFile = bStandardInput ? stdin : std::fopen(pszFile, "rb");
    if (pFile == nullptr) {
        const int nError = errno;
        pOutput->err.Append(kMessageStart);
        pOutput->err.Append("its file cannot be opened (");
        pOutput->err.Append(std::strerror(nError));
        pOutput->err.Append(")\n");
        return false;
    }
    const std::size_t nSize = kMaxSavedReportSize + 1;
    char* pBuffer = new (std::nothrow) char[nSize];
    std::size_t nLength = 0;
    const bool bRead = pBuffer != nullptr && ReadAtMost(pFile, pBuffer, nSize, &nLength);
    if (!bStandardInput)
        std::fclose(pFile);
    pFile = nullptr;
    CTextBuilder error;
    bool bDone = false;
    if (pBuffer == nullptr)
        error.Append("out of memory");
    else if (!bRead)
        error.Append("its file cannot be read");
    else
        bDone = ReadSavedReport(pBuffer, nLength, pReport, &error);
    delete[] pBuffer;
    pBuffer = nullptr;
    if (bDone)
        return true;
    pOutput->err.Append(kMessageStart);
    pOutput->err.Append(error.GetText());
    pOutput->err.Append('\n');
    return false;
}

int CompareWithSavedReport(const CSavedReport& report, const CDerivation& derivation, bool bJson,
                           CStatusMessages& messages, CConsoleOutput* pOutput) {
    const CComparison comparison = CompareWithReport(report, derivation);
    if (bJson)
        FormatComparisonJson(report, derivation, comparison, messages, &pOutput->out);
    else
        FormatComparison(report, derivation, comparison, &pOutput->out);
    const ECliExitCode eExit = GetComparisonExitCode(derivation, comparison);
    if (eExit != kExitSuccess && eExit != kExitDifferentID)
        FormatFailure(derivation, messages, &pOutput->err);
    return eExit;
}
