// CClipboardWriter against a scripted clipboard: every call can be made to fail, and the test
// counts what was opened, closed, allocated and freed. Memory is real global memory, so a
// block that is neither placed nor freed shows up as a leak in the count.
#include "framework/clipboard_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class CScriptedClipboard : public CClipboardWriter {
public:
    bool m_bOpenFails = false;
    int m_nOpenRefusals = 0;  // this many tries to open fail before one succeeds
    bool m_bAllocFails = false;
    bool m_bLockFails = false;
    bool m_bSetDataFails = false;

    int m_nOpened = 0;
    int m_nOpenTries = 0;
    DWORD m_nPausedMs = 0;
    int m_nClosed = 0;
    int m_nEmptied = 0;
    int m_nLiveBlocks = 0;
    HGLOBAL m_hPlaced = nullptr;
    UINT m_nPlacedFormat = 0;
    std::string m_placedBytes;

    ~CScriptedClipboard() override {
        if (m_hPlaced != nullptr) {
            ::GlobalFree(m_hPlaced);
        }
    }

protected:
    BOOL OpenClipboard(HWND) override {
        ++m_nOpenTries;
        if (m_bOpenFails || m_nOpenTries <= m_nOpenRefusals) {
            return FALSE;
        }
        ++m_nOpened;
        return TRUE;
    }
    BOOL EmptyClipboard() override {
        ++m_nEmptied;
        return TRUE;
    }
    HGLOBAL GlobalAlloc(UINT nFlags, SIZE_T nBytes) override {
        if (m_bAllocFails) {
            return nullptr;
        }
        HGLOBAL hMem = ::GlobalAlloc(nFlags, nBytes);
        if (hMem != nullptr) {
            ++m_nLiveBlocks;
        }
        return hMem;
    }
    LPVOID GlobalLock(HGLOBAL hMem) override { return m_bLockFails ? nullptr : ::GlobalLock(hMem); }
    HGLOBAL GlobalFree(HGLOBAL hMem) override {
        --m_nLiveBlocks;
        return ::GlobalFree(hMem);
    }
    HANDLE SetClipboardData(UINT nFormat, HANDLE hMem) override {
        if (m_bSetDataFails) {
            return nullptr;
        }
        m_nPlacedFormat = nFormat;
        m_hPlaced = hMem;
        --m_nLiveBlocks;  // the clipboard owns it now
        const char* pBytes = static_cast<const char*>(::GlobalLock(hMem));
        m_placedBytes.assign(pBytes, ::GlobalSize(hMem));
        ::GlobalUnlock(hMem);
        return hMem;
    }
    BOOL CloseClipboard() override {
        ++m_nClosed;
        return TRUE;
    }
    void Pause(DWORD nMilliseconds) override { m_nPausedMs += nMilliseconds; }
};

TEST(ClipboardWriter, PlacesTheTextWithItsTerminatorAsCfText) {
    CScriptedClipboard clipboard;
    const char* pId = "0123456789abcdef0123456789abcdef";
    EXPECT_TRUE(clipboard.CopyText(nullptr, pId, 32));
    EXPECT_EQ(clipboard.m_nPlacedFormat, static_cast<UINT>(CF_TEXT));
    // The block may be rounded up; what counts is the text, its NUL, and nothing before.
    ASSERT_GE(clipboard.m_placedBytes.size(), 33u);
    EXPECT_EQ(std::string(clipboard.m_placedBytes.c_str()), pId);
    EXPECT_EQ(clipboard.m_nEmptied, 1);
    EXPECT_EQ(clipboard.m_nLiveBlocks, 0);
    EXPECT_EQ(clipboard.m_nClosed, clipboard.m_nOpened);
}

TEST(ClipboardWriter, PlacesWideTextWithAWideTerminatorAsCfUnicodeText) {
    CScriptedClipboard clipboard;
    // Not terminated where the copy ends: the terminator must be written, not copied.
    const wchar_t text[] = {L'I', L'\x00E9', L'\x4E2D', L'x', L'y'};
    EXPECT_TRUE(clipboard.CopyWideText(nullptr, text, 3));
    EXPECT_EQ(clipboard.m_nPlacedFormat, static_cast<UINT>(CF_UNICODETEXT));
    ASSERT_GE(clipboard.m_placedBytes.size(), 4 * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(clipboard.m_placedBytes.data())),
              std::wstring(L"I\x00E9\x4E2D"));
    EXPECT_EQ(clipboard.m_nLiveBlocks, 0);
    EXPECT_EQ(clipboard.m_nClosed, clipboard.m_nOpened);
}

TEST(ClipboardWriter, CopiesOnlyTheGivenLength) {
    CScriptedClipboard clipboard;
    EXPECT_TRUE(clipboard.CopyText(nullptr, "abcdef", 3));
    EXPECT_EQ(std::string(clipboard.m_placedBytes.c_str()), "abc");
}

TEST(ClipboardWriter, EveryFailureClosesWhatItOpenedAndLeaksNothing) {
    struct Case {
        const char* pName;
        bool CScriptedClipboard::*pFailure;
        int nExpectedEmptied;
    };
    const Case cases[] = {
        {"open", &CScriptedClipboard::m_bOpenFails, 0},
        {"alloc", &CScriptedClipboard::m_bAllocFails, 1},
        {"lock", &CScriptedClipboard::m_bLockFails, 1},
        {"set data", &CScriptedClipboard::m_bSetDataFails, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pName);
        CScriptedClipboard clipboard;
        clipboard.*c.pFailure = true;
        EXPECT_FALSE(clipboard.CopyText(nullptr, "0123", 4));
        EXPECT_EQ(clipboard.m_nEmptied, c.nExpectedEmptied);
        EXPECT_EQ(clipboard.m_nClosed, clipboard.m_nOpened);
        EXPECT_EQ(clipboard.m_nLiveBlocks, 0) << "a refused block was not freed";
        EXPECT_EQ(clipboard.m_hPlaced, nullptr);
    }
}

TEST(ClipboardWriter, AClipboardHeldByAnotherProgramIsTriedForHalfASecondThenReportedBusy) {
    struct Case {
        int nRefusals;
        bool bCopied;
        int nTries;
        DWORD nPausedMs;
    } const cases[] = {
        {0, true, 1, 0},      {3, true, 4, 60},       {24, true, 25, 480},
        {25, false, 25, 480}, {1000, false, 25, 480},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nRefusals);
        CScriptedClipboard clipboard;
        clipboard.m_nOpenRefusals = c.nRefusals;
        EXPECT_EQ(c.bCopied, clipboard.CopyText(nullptr, "id", 2));
        EXPECT_EQ(!c.bCopied, clipboard.WasBusy());
        EXPECT_EQ(c.nTries, clipboard.m_nOpenTries);
        EXPECT_EQ(c.nPausedMs, clipboard.m_nPausedMs);
        EXPECT_EQ(c.bCopied ? 1 : 0, clipboard.m_nEmptied) << "emptied only once opened";
        EXPECT_EQ(clipboard.m_nClosed, clipboard.m_nOpened);
    }
    // A failure of another kind is not blamed on another program, and a later copy that
    // worked clears the report.
    CScriptedClipboard clipboard;
    clipboard.m_bAllocFails = true;
    EXPECT_FALSE(clipboard.CopyText(nullptr, "id", 2));
    EXPECT_FALSE(clipboard.WasBusy());
    clipboard.m_bAllocFails = false;
    clipboard.m_bOpenFails = true;
    EXPECT_FALSE(clipboard.CopyText(nullptr, "id", 2));
    EXPECT_TRUE(clipboard.WasBusy());
    clipboard.m_bOpenFails = false;
    EXPECT_TRUE(clipboard.CopyText(nullptr, "id", 2));
    EXPECT_FALSE(clipboard.WasBusy());
}

TEST(ClipboardWriter, RefusesBadTextWithoutTouchingTheClipboard) {
    CScriptedClipboard nullText;
    EXPECT_FALSE(nullText.CopyText(nullptr, nullptr, 4));
    EXPECT_EQ(nullText.m_nOpened, 0);
    CScriptedClipboard negativeLength;
    EXPECT_FALSE(negativeLength.CopyText(nullptr, "abc", -1));
    EXPECT_EQ(negativeLength.m_nOpened, 0);
    CScriptedClipboard nullWideText;
    EXPECT_FALSE(nullWideText.CopyWideText(nullptr, nullptr, 4));
    EXPECT_EQ(nullWideText.m_nOpened, 0);
}

}  // namespace
