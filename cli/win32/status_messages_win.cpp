#include "cli/status_messages.h"

#include <windows.h>

namespace {

class CWin32StatusMessages : public CStatusMessages {
public:
    void AppendStatusText(long nStatus, CTextBuilder* pText) override {
        if (nStatus == 0)
            return;
        char szText[512];
        const DWORD nFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
        DWORD nLength = FormatMessageA(nFlags, nullptr, static_cast<DWORD>(nStatus),
                                       MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), szText,
                                       sizeof(szText), nullptr);
        if (nLength == 0)
            nLength = FormatMessageA(nFlags, nullptr, static_cast<DWORD>(nStatus), 0, szText,
                                     sizeof(szText), nullptr);
        if (nLength == 0 || nLength >= sizeof(szText))
            return;
        AppendOneLine(szText, nLength, pText);
    }

private:
    // System texts end in ".\r\n", and a few run over several lines: every run of white space
    // becomes one space, and the end goes.
    static void AppendOneLine(const char* pText, DWORD nLength, CTextBuilder* pOut) {
        while (nLength > 0 && IsSpaceOrStop(pText[nLength - 1]))
            --nLength;
        bool bWritten = false;
        bool bSpacePending = false;
        for (DWORD i = 0; i < nLength; ++i) {
            if (pText[i] == ' ' || pText[i] == '\r' || pText[i] == '\n' || pText[i] == '\t') {
                bSpacePending = bWritten;
                continue;
            }
            if (bSpacePending)
                pOut->Append(' ');
            bSpacePending = false;
            pOut->Append(pText[i]);
            bWritten = true;
        }
    }

    static bool IsSpaceOrStop(char c) {
        return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '.';
    }
};

}  // namespace

CStatusMessages& GetSystemStatusMessages() {
    static CWin32StatusMessages messages;
    return messages;
}
