// End-to-end tests of idrovan.exe, run by run_e2e.sh inside a Wine prefix whose machine facts
// the script chose. The driver checks the program from outside, as a user meets it.
//
// Suites, each run by the script in the prefix it needs:
//   FirstRun   a fresh prefix: the first run writes the marker; marker and shown ID are
//              recorded for the script, which derives the expected ID from them on its own.
//   WithId     the same prefix afterwards, with IDROVAN_EXPECTED_ID and the first run's record.
//   Resources  the executable's dialog templates, version, strings and icon.
//   NoId       a fresh prefix where the marker key refuses full access.
//
// Environment: IDROVAN_EXE, IDROVAN_IN_PROCESS_PROBE (the DLL that
// reads the dialog's system menu and icons from inside the program),
// IDROVAN_E2E_RECORD (file the first run's marker and ID go to), IDROVAN_EXPECTED_ID.
#include <windows.h>

#include <oleacc.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/dialog_probe.h"
#include "tests/e2e/idrovan_run.h"
#include "tests/e2e/read_only_marker_key.h"
#include "idrovan_version.h"

using namespace idrovan_e2e;

namespace {

constexpr const char* kErrorCaption = "Quillon Idrovan";
constexpr const char* kErrorText =
    "The computer ID could not be generated. Make sure you\nhave administrator rights on this "
    "computer.";
constexpr const char* kClipboardBusyText =
    "The ID could not be copied because another program is using the clipboard.\nPlease try "
    "again.";
constexpr const char* kCopyFailedText =
    "The ID could not be copied to the clipboard.\nPlease try again.";
constexpr const char* kAboutCaption = "About";
constexpr const char* kAboutVersionText = "Quillon Idrovan Version 1.0.0.1";
// The About box's legal line and the version resource's copyright: LICENSE's holder and licence.
constexpr const char* kLegalCopyright = "Copyright (c) 2026 The Idrovan authors. MIT License.";
// The version the build takes from the file VERSION.
constexpr WORD kVersion[] = {IDROVAN_VERSION_NUMBERS};

std::string Env(const char* pName) {
    char value[4096] = {0};
    DWORD nLength = GetEnvironmentVariableA(pName, value, sizeof(value));
    return nLength > 0 && nLength < sizeof(value) ? std::string(value) : std::string();
}

bool IsLowerHexId(const std::string& text) {
    if (text.size() != 32) {
        return false;
    }
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)) && (c < 'a' || c > 'f')) {
            return false;
        }
    }
    return true;
}

struct Marker {
    bool bKeyExists = false;
    DWORD nType = 0;
    std::string data;  // the stored bytes, without a terminator
};

Marker ReadMarker() {
    Marker marker;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "lrgDocID", 0, KEY_READ, &hKey) != ERROR_SUCCESS) {
        return marker;
    }
    marker.bKeyExists = true;
    char buffer[512] = {0};
    DWORD nSize = sizeof(buffer);
    if (RegQueryValueExA(hKey, "Rndund", nullptr, &marker.nType, reinterpret_cast<BYTE*>(buffer),
                         &nSize) == ERROR_SUCCESS) {
        marker.data.assign(buffer, nSize);
    }
    // The program stores the characters without their NUL; RegSetValueExA itself then counts
    // the NUL that follows them in memory (Windows does so, and Wine as well), so one
    // terminator is the most the stored value may carry beyond the text.
    if (!marker.data.empty() && marker.data.back() == '\0') {
        marker.data.pop_back();
    }
    RegCloseKey(hKey);
    return marker;
}

std::string ClipboardText() {
    std::string text;
    if (!WaitUntil([] { return OpenClipboard(nullptr) != FALSE; })) {
        return "<cannot open>";
    }
    if (HANDLE hData = GetClipboardData(CF_TEXT)) {
        if (const char* pText = static_cast<const char*>(GlobalLock(hData))) {
            text = pText;
            GlobalUnlock(hData);
        }
    }
    CloseClipboard();
    return text;
}

bool PutOnClipboard(const std::string& text) {
    if (!WaitUntil([] { return OpenClipboard(nullptr) != FALSE; })) {
        return false;
    }
    EmptyClipboard();
    bool bPlaced = false;
    if (HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
        std::memcpy(GlobalLock(hMem), text.c_str(), text.size() + 1);
        GlobalUnlock(hMem);
        bPlaced = SetClipboardData(CF_TEXT, hMem) != nullptr;
        if (!bPlaced) {
            GlobalFree(hMem);
        }
    }
    CloseClipboard();
    return bPlaced;
}

void SendKey(WORD nVirtualKey) {
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = nVirtualKey;
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

// Finds the close box on the caption by asking the window itself, then clicks it with the
// pointer, as a user would.
bool ClickCloseBox(HWND hDialog) {
    RECT rect;
    GetWindowRect(hDialog, &rect);
    for (int y = rect.top + 2; y < rect.top + 40; y += 2) {
        for (int x = rect.right - 2; x > rect.right - 80; x -= 2) {
            DWORD_PTR nHit = HTNOWHERE;
            SendMessageTimeoutA(hDialog, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG,
                                kPatienceMs, &nHit);
            if (nHit != HTCLOSE) {
                continue;
            }
            SetCursorPos(x, y);
            INPUT inputs[2] = {};
            inputs[0].type = INPUT_MOUSE;
            inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
            inputs[1] = inputs[0];
            inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
            SendInput(2, inputs, sizeof(INPUT));
            return true;
        }
    }
    return false;
}

HWND FocusOf(HWND hWindow) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(hWindow, nullptr), &info)) {
        return nullptr;
    }
    return info.hwndFocus;
}

// Where the in-process probe will write; the program must be started after this, so that it
// inherits the name.
std::string PrepareInProcessView() {
    char tempDir[MAX_PATH] = {0};
    GetTempPathA(MAX_PATH, tempDir);
    const std::string outPath = std::string(tempDir) + "idrovan_in_process_view.txt";
    DeleteFileA(outPath.c_str());
    SetEnvironmentVariableA("IDROVAN_PROBE_OUT", outPath.c_str());
    return outPath;
}

std::vector<std::string> Lines(const std::string& text);

// Loads the in-process probe into the running program and returns the lines it wrote.
std::vector<std::string> ReadInProcessView(const CIdrovanRun& run, const std::string& outPath) {
    const std::string dllPath = Env("IDROVAN_IN_PROCESS_PROBE");
    const SIZE_T nBytes = dllPath.size() + 1;
    LPVOID pRemote =
        VirtualAllocEx(run.Process(), nullptr, nBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (pRemote == nullptr) {
        return {"<no remote memory>"};
    }
    std::string result = "<probe did not report>";
    if (WriteProcessMemory(run.Process(), pRemote, dllPath.c_str(), nBytes, nullptr)) {
        // KERNEL32 sits at the same address in every process, so its LoadLibraryA is the
        // program's as well.
        auto pLoadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
        HANDLE hThread =
            CreateRemoteThread(run.Process(), nullptr, 0, pLoadLibrary, pRemote, 0, nullptr);
        if (hThread != nullptr) {
            WaitForSingleObject(hThread, kPatienceMs);
            CloseHandle(hThread);
            if (WaitUntil([&] {
                    return GetFileAttributesA(outPath.c_str()) != INVALID_FILE_ATTRIBUTES;
                })) {
                std::ifstream in(outPath, std::ios::binary);
                std::ostringstream text;
                text << in.rdbuf();
                result = text.str();
            }
        }
    }
    VirtualFreeEx(run.Process(), pRemote, 0, MEM_RELEASE);
    return Lines(result);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

RECT WorkAreaOf(HWND hWindow) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoA(MonitorFromWindow(hWindow, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcWork;
}

// hWindow's centre lies on over's, give or take the pixel that halving an odd size loses.
void ExpectCentredOver(HWND hWindow, const RECT& over) {
    RECT rect{};
    GetWindowRect(hWindow, &rect);
    EXPECT_LE(std::abs((rect.left + rect.right) - (over.left + over.right)), 2)
        << rect.left << ".." << rect.right << " over " << over.left << ".." << over.right;
    EXPECT_LE(std::abs((rect.top + rect.bottom) - (over.top + over.bottom)), 2)
        << rect.top << ".." << rect.bottom << " over " << over.top << ".." << over.bottom;
}

// The About box: opened by a system command, it must show the version line and close on OK.
void ExpectAboutBoxFor(HWND hDialog, DWORD nProcessId, UINT nCommand) {
    PostMessageA(hDialog, WM_SYSCOMMAND, nCommand, 0);
    HWND hAbout = WaitForWindow(nProcessId, kAboutCaption);
    ASSERT_NE(hAbout, nullptr) << "no About box for command " << nCommand;
    EXPECT_EQ(GetWindow(hAbout, GW_OWNER), hDialog);
    RECT dialogRect{};
    GetWindowRect(hDialog, &dialogRect);
    ExpectCentredOver(hAbout, dialogRect);
    bool bVersionShown = false;
    for (HWND hChild : Children(hAbout)) {
        bVersionShown |= WindowText(hChild) == kAboutVersionText;
    }
    EXPECT_TRUE(bVersionShown);
    PressButton(hAbout, IDOK);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(hAbout); })) << "OK did not close the box";
    EXPECT_TRUE(IsWindowVisible(hDialog));
}

// One dialog template as the executable carries it (the extended form), read field by field.
struct TemplateControl {
    DWORD nStyle;
    DWORD nExStyle;
    short x, y, cx, cy;
    int nId;
    std::string className;  // ordinals of the predefined classes turned into their names
    std::string text;       // an ordinal (an icon's resource) as "#<number>"
};
struct DialogTemplate {
    DWORD nStyle = 0;
    DWORD nExStyle = 0;
    short cx = 0, cy = 0;
    std::string caption;
    WORD nPointSize = 0;
    WORD nWeight = 0;
    BYTE bItalic = 0;
    BYTE nCharSet = 0;
    std::string fontName;
    std::vector<TemplateControl> controls;
};

class CTemplateReader {
public:
    explicit CTemplateReader(const BYTE* pData) : m_pData(pData) {}
    template <typename T>
    T Read() {
        T value;
        std::memcpy(&value, m_pData + m_nOffset, sizeof(T));
        m_nOffset += sizeof(T);
        return value;
    }
    // A name or an ordinal (0xFFFF then the number).
    std::string ReadNameOrOrdinal() {
        WORD nFirst = Read<WORD>();
        if (nFirst == 0xFFFF) {
            return "#" + std::to_string(Read<WORD>());
        }
        std::string text;
        for (WORD c = nFirst; c != 0; c = Read<WORD>())
            text += static_cast<char>(c);
        return text;
    }
    void AlignToDword() { m_nOffset = (m_nOffset + 3) & ~static_cast<size_t>(3); }
    void Skip(size_t nBytes) { m_nOffset += nBytes; }

private:
    const BYTE* m_pData;
    size_t m_nOffset = 0;
};

DialogTemplate ReadDialogTemplate(HMODULE hModule, int nId) {
    DialogTemplate dialog;
    HRSRC hResource = FindResourceA(hModule, MAKEINTRESOURCEA(nId), RT_DIALOG);
    const BYTE* pData =
        hResource ? static_cast<const BYTE*>(LockResource(LoadResource(hModule, hResource)))
                  : nullptr;
    if (pData == nullptr) {
        return dialog;
    }
    CTemplateReader reader(pData);
    if (reader.Read<WORD>() != 1 || reader.Read<WORD>() != 0xFFFF) {
        return dialog;  // not the extended form
    }
    reader.Read<DWORD>();  // help id
    dialog.nExStyle = reader.Read<DWORD>();
    dialog.nStyle = reader.Read<DWORD>();
    const WORD nControls = reader.Read<WORD>();
    reader.Read<short>();
    reader.Read<short>();
    dialog.cx = reader.Read<short>();
    dialog.cy = reader.Read<short>();
    reader.ReadNameOrOrdinal();  // menu
    reader.ReadNameOrOrdinal();  // class
    dialog.caption = reader.ReadNameOrOrdinal();
    if (dialog.nStyle & DS_SETFONT) {
        dialog.nPointSize = reader.Read<WORD>();
        dialog.nWeight = reader.Read<WORD>();
        dialog.bItalic = reader.Read<BYTE>();
        dialog.nCharSet = reader.Read<BYTE>();
        dialog.fontName = reader.ReadNameOrOrdinal();
    }
    for (WORD i = 0; i < nControls; ++i) {
        reader.AlignToDword();
        TemplateControl control{};
        reader.Read<DWORD>();  // help id
        control.nExStyle = reader.Read<DWORD>();
        control.nStyle = reader.Read<DWORD>();
        control.x = reader.Read<short>();
        control.y = reader.Read<short>();
        control.cx = reader.Read<short>();
        control.cy = reader.Read<short>();
        control.nId = static_cast<int>(reader.Read<DWORD>());
        control.className = reader.ReadNameOrOrdinal();
        const std::pair<const char*, const char*> ordinals[] = {
            {"#128", "BUTTON"}, {"#129", "EDIT"}, {"#130", "STATIC"}};
        for (const auto& ordinal : ordinals) {
            if (control.className == ordinal.first) {
                control.className = ordinal.second;
            }
        }
        for (char& c : control.className)
            c = static_cast<char>(std::toupper(c));
        control.text = reader.ReadNameOrOrdinal();
        reader.Skip(reader.Read<WORD>());  // creation data
        dialog.controls.push_back(control);
    }
    return dialog;
}

}  // namespace

TEST(FirstRun, WritesTheMarkerOnceAndShowsAnId) {
    ASSERT_FALSE(ReadMarker().bKeyExists) << "the prefix is not fresh";

    CIdrovanRun run(Env("IDROVAN_EXE"));
    ASSERT_TRUE(run.Started());
    HWND hDialog = run.WaitForSettledDialog();
    ASSERT_NE(hDialog, nullptr);
    const std::string shownId = WindowText(GetDlgItem(hDialog, kFieldId));
    EXPECT_TRUE(IsLowerHexId(shownId)) << shownId;

    const Marker marker = ReadMarker();
    EXPECT_EQ(marker.nType, static_cast<DWORD>(REG_SZ));
    EXPECT_TRUE(IsLowerHexId(marker.data)) << marker.data;

    PressButton(hDialog, IDCANCEL);
    EXPECT_EQ(run.WaitForExit(), 0u);

    std::ofstream record(Env("IDROVAN_E2E_RECORD"), std::ios::binary);
    record << marker.data << "\n" << shownId << "\n";
}

TEST(WithId, ShowsTheIdDerivedFromTheMachineFacts) {
    const std::string expectedId = Env("IDROVAN_EXPECTED_ID");
    ASSERT_TRUE(IsLowerHexId(expectedId)) << "the script gave no expected ID";
    std::ifstream record(Env("IDROVAN_E2E_RECORD"), std::ios::binary);
    std::string firstMarker, firstId;
    record >> firstMarker >> firstId;
    EXPECT_EQ(firstId, expectedId) << "the first run showed another ID";

    CIdrovanRun run(Env("IDROVAN_EXE"));
    ASSERT_TRUE(run.Started());
    HWND hDialog = run.WaitForSettledDialog();
    ASSERT_NE(hDialog, nullptr);

    EXPECT_EQ(WindowText(GetDlgItem(hDialog, kFieldId)), expectedId);
    EXPECT_EQ(ReadMarker().data, firstMarker) << "the marker was rewritten";

    struct Control {
        int nId;
        const char* pClass;
        const char* pText;
    };
    const Control expected[] = {{0xFFFF, "Static", "Generated ID:"},
                                {kFieldId, "Edit", nullptr},
                                {kCopyButtonId, "Button", "&Copy to Clipboard"},
                                {IDCANCEL, "Button", "Close"}};
    const std::vector<HWND> children = Children(hDialog);
    ASSERT_EQ(children.size(), 4u);
    for (size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(GetDlgCtrlID(children[i]) & 0xFFFF, expected[i].nId);
        EXPECT_EQ(_stricmp(ClassName(children[i]).c_str(), expected[i].pClass), 0)
            << ClassName(children[i]);
        if (expected[i].pText != nullptr) {
            EXPECT_EQ(WindowText(children[i]), expected[i].pText);
        }
        EXPECT_TRUE(IsWindowEnabled(children[i]));
    }
    EXPECT_EQ(FocusOf(hDialog), GetDlgItem(hDialog, kFieldId));
    EXPECT_TRUE(TopLevelWindows(run.ProcessId(), kErrorCaption).empty());
    ExpectCentredOver(hDialog, WorkAreaOf(hDialog));

    PressButton(hDialog, IDCANCEL);
    EXPECT_EQ(run.WaitForExit(), 0u);
}

TEST(WithId, CopyPutsExactlyTheIdOnTheClipboard) {
    CIdrovanRun run(Env("IDROVAN_EXE"));
    ASSERT_TRUE(run.Started());
    HWND hDialog = run.WaitForSettledDialog();
    ASSERT_NE(hDialog, nullptr);
    const std::string shownId = WindowText(GetDlgItem(hDialog, kFieldId));
    ASSERT_TRUE(IsLowerHexId(shownId));

    ASSERT_TRUE(PutOnClipboard("something copied before"));
    PressButton(hDialog, kCopyButtonId);
    EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == shownId; })) << ClipboardText();

    PressButton(hDialog, IDCANCEL);
    EXPECT_EQ(run.WaitForExit(), 0u);
    // The text was rendered when copied: it outlives the program.
    EXPECT_EQ(ClipboardText(), shownId);
}

TEST(WithId, CopyWaitsForABusyClipboardOrSaysItCouldNotCopy) {
    CIdrovanRun run(Env("IDROVAN_EXE"));
    ASSERT_TRUE(run.Started());
    HWND hDialog = run.WaitForSettledDialog();
    ASSERT_NE(hDialog, nullptr);
    const std::string shownId = WindowText(GetDlgItem(hDialog, kFieldId));
    ASSERT_TRUE(IsLowerHexId(shownId));
    const std::string before = "something copied before";

    // Held for a moment, as a clipboard manager holds it: the ID lands once it is free.
    ASSERT_TRUE(PutOnClipboard(before));
    ASSERT_TRUE(WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }));
    PressButton(hDialog, kCopyButtonId);
    Sleep(150);
    CloseClipboard();
    EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == shownId; })) << ClipboardText();
    Settle(hDialog);
    EXPECT_TRUE(TopLevelWindows(run.ProcessId(), kErrorCaption).empty());

    // Held throughout: a box says so, and the clipboard keeps what it had.
    ASSERT_TRUE(PutOnClipboard(before));
    ASSERT_TRUE(WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }));
    PressButton(hDialog, kCopyButtonId);
    HWND hBox = WaitForWindow(run.ProcessId(), kErrorCaption);
    CloseClipboard();
    ASSERT_NE(hBox, nullptr) << "a failed Copy said nothing";
    EXPECT_EQ(GetWindow(hBox, GW_OWNER), hDialog);
    bool bTextShown = false;
    for (HWND hChild : Children(hBox)) {
        bTextShown |= WindowText(hChild) == kClipboardBusyText;
    }
    EXPECT_TRUE(bTextShown);
    EXPECT_EQ(ClipboardText(), before);
    PressButton(hBox, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(hBox); }));

    // A double-click in the field copies too, and says as much when it cannot.
    ASSERT_TRUE(WaitUntil([] { return OpenClipboard(nullptr) != FALSE; }));
    PostMessageA(GetDlgItem(hDialog, kFieldId), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(4, 4));
    hBox = WaitForWindow(run.ProcessId(), kErrorCaption);
    CloseClipboard();
    ASSERT_NE(hBox, nullptr) << "a failed double-click copy said nothing";
    EXPECT_EQ(ClipboardText(), before);
    PressButton(hBox, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(hBox); }));

    // Tried again with the clipboard free, it copies.
    PressButton(hDialog, kCopyButtonId);
    EXPECT_TRUE(WaitUntil([&] { return ClipboardText() == shownId; })) << ClipboardText();

    PressButton(hDialog, IDCANCEL);
    EXPECT_EQ(run.WaitForExit(), 0u);
}

// IAccessible's interface ID, spelled out: the IID_IAccessible that this toolchain's import
// libraries link holds other bytes, and oleacc then answers E_NOINTERFACE.
constexpr GUID kIidAccessible = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// The accessible name that a screen reader reads for hWindow, through MSAA; "<no object>" when
// none could be had.
std::string AccessibleName(HWND hWindow) {
    IAccessible* pAccessible = nullptr;
    if (FAILED(AccessibleObjectFromWindow(hWindow, static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                          reinterpret_cast<void**>(&pAccessible))) ||
        pAccessible == nullptr) {
        return "<no object>";
    }
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR name = nullptr;
    std::string result = "<no name>";
    if (SUCCEEDED(pAccessible->get_accName(self, &name)) && name != nullptr) {
        result.clear();
        for (const wchar_t* p = name; *p != L'\0'; ++p) {
            result += static_cast<char>(*p < 128 ? *p : '?');
        }
        SysFreeString(name);
    }
    pAccessible->Release();
    return result;
}

void SendChord(WORD nModifier, WORD nVirtualKey) {
    INPUT inputs[4] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_KEYBOARD;
    }
    inputs[0].ki.wVk = nModifier;
    inputs[1].ki.wVk = nVirtualKey;
    inputs[2].ki.wVk = nVirtualKey;
    inputs[2].ki.dwFlags = KEYEVENTF_KEYUP;
    inputs[3].ki.wVk = nModifier;
    inputs[3].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(4, inputs, sizeof(INPUT));
}

TEST(WithId, TheFieldIsNamedForScreenReadersAndTabFollowsTheScreen) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    CIdrovanRun run(Env("IDROVAN_EXE"));
    ASSERT_TRUE(run.Started());
    HWND hDialog = run.WaitForSettledDialog();
    ASSERT_NE(hDialog, nullptr);
    const HWND hField = GetDlgItem(hDialog, kFieldId);
    const HWND hCopy = GetDlgItem(hDialog, kCopyButtonId);
    const HWND hClose = GetDlgItem(hDialog, IDCANCEL);

    EXPECT_EQ(AccessibleName(hField), "Generated ID:");
    EXPECT_EQ(AccessibleName(hCopy), "Copy to Clipboard");

    // From the field, Tab visits Copy, then Close, then the field again; Shift+Tab goes back.
    SetForegroundWindow(hDialog);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(hDialog) == hField; }));
    struct Step {
        bool bShift;
        HWND hExpected;
        const char* pName;
    } const steps[] = {{false, hCopy, "Copy"},
                       {false, hClose, "Close"},
                       {false, hField, "the field"},
                       {true, hClose, "Close, backwards"}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.pName);
        if (step.bShift) {
            SendChord(VK_SHIFT, VK_TAB);
        } else {
            SendKey(VK_TAB);
        }
        EXPECT_TRUE(WaitUntil([&] { return FocusOf(hDialog) == step.hExpected; }, 5000));
    }

    PressButton(hDialog, IDCANCEL);
    EXPECT_EQ(run.WaitForExit(), 0u);
    CoUninitialize();
}

// The program's visible tooltip over hDialog, or null.
HWND ShownTooltip(DWORD nProcessId, HWND hDialog) {
    HWND hFound = nullptr;
    for (HWND hWindow = GetTopWindow(nullptr); hWindow != nullptr;
         hWindow = GetWindow(hWindow, GW_HWNDNEXT)) {
        if (hWindow != hDialog && ProcessOf(hWindow) == nProcessId && IsWindowVisible(hWindow) &&
            GetWindow(hWindow, GW_OWNER) == hDialog &&
            (GetWindowLongA(hWindow, GWL_EXSTYLE) & WS_EX_LAYERED) != 0) {
            hFound = hWindow;
        }
    }
    return hFound;
}

TEST(WithId, TheTooltipLeavesTheKeyboardWithTheDialog) {
    CIdrovanRun run(Env("IDROVAN_EXE"));
    ASSERT_TRUE(run.Started());
    HWND hDialog = run.WaitForSettledDialog();
    ASSERT_NE(hDialog, nullptr);
    const HWND hField = GetDlgItem(hDialog, kFieldId);
    const std::string shownId = WindowText(hField);
    ASSERT_TRUE(IsLowerHexId(shownId));
    SetForegroundWindow(hDialog);

    // Narrowed so that the ID is cut, the focused field shows it whole in the tooltip once the
    // pointer rests on it.
    RECT field{};
    GetWindowRect(hField, &field);
    SetWindowPos(hField, nullptr, 0, 0, 70, field.bottom - field.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ASSERT_TRUE(WaitUntil([&] {
        const std::string text = WindowText(hField);
        return text.size() > 3 && text.compare(text.size() - 3, 3, "...") == 0;
    })) << WindowText(hField);
    SetCursorPos(field.left + 30, (field.top + field.bottom) / 2);

    struct Key {
        const char* pName;
        void (*pfnPress)();
        // What the key did, with the dialog's process still running.
        bool (*pfnDone)(HWND hDialog, const std::string& id);
        bool bEndsTheDialog;
    };
    const Key keys[] = {
        {"Tab", [] { SendKey(VK_TAB); },
         [](HWND hDialog, const std::string&) {
             return FocusOf(hDialog) == GetDlgItem(hDialog, kCopyButtonId);
         },
         false},
        {"Alt+C", [] { SendChord(VK_MENU, 'C'); },
         [](HWND, const std::string& id) { return ClipboardText() == id; }, false},
        {"Esc", [] { SendKey(VK_ESCAPE); }, nullptr, true},
    };
    for (const Key& key : keys) {
        SCOPED_TRACE(key.pName);
        // The tooltip of the round before fades out first.
        ASSERT_TRUE(WaitUntil([&] { return ShownTooltip(run.ProcessId(), hDialog) == nullptr; }));
        ASSERT_TRUE(PutOnClipboard("something copied before"));
        // The field takes the focus back (WM_NEXTDLGCTL with a window), and the tooltip comes
        // after the pointer's rest.
        PostMessageA(hDialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hField), TRUE);
        ASSERT_TRUE(WaitUntil([&] { return FocusOf(hDialog) == hField; }));
        HWND hTooltip = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (hTooltip = ShownTooltip(run.ProcessId(), hDialog)); }))
            << "no tooltip";
        EXPECT_EQ(GetForegroundWindow(), hDialog) << "the tooltip took activation";
        EXPECT_EQ(FocusOf(hDialog), hField);
        key.pfnPress();
        if (key.bEndsTheDialog) {
            EXPECT_EQ(run.WaitForExit(), 0u);
        } else {
            EXPECT_TRUE(WaitUntil([&] { return key.pfnDone(hDialog, shownId); }, 10000));
        }
    }
    SetCursorPos(0, 0);
}

TEST(WithId, SystemMenuEndsWithTheAboutEntryAndTheIconsAreTheProgramsOwn) {
    const std::string viewPath = PrepareInProcessView();
    CIdrovanRun run(Env("IDROVAN_EXE"));
    ASSERT_TRUE(run.Started());
    HWND hDialog = run.WaitForSettledDialog();
    ASSERT_NE(hDialog, nullptr);

    std::vector<std::string> menu;
    std::vector<std::string> icons;
    for (const std::string& line : ReadInProcessView(run, viewPath)) {
        (line.rfind("icon ", 0) == 0 ? icons : menu).push_back(line);
    }
    std::string shown;
    for (const std::string& line : menu) {
        shown += line + "\n";
    }
    ASSERT_GE(menu.size(), 3u) << shown;
    EXPECT_EQ(menu[menu.size() - 2].substr(1, 3), " S ") << shown;
    EXPECT_EQ(menu.back(), "16 T &About...") << shown;
    // Exactly one About entry: the menu is built once.
    int nAboutEntries = 0;
    for (const std::string& item : menu) {
        nAboutEntries += item.find("&About...") != std::string::npos;
    }
    EXPECT_EQ(nAboutEntries, 1) << shown;

    // The title bar's two icons and the one shown while the minimised window is dragged.
    EXPECT_EQ(icons, (std::vector<std::string>{"icon big app", "icon small app", "icon drag app"}));

    PressButton(hDialog, IDCANCEL);
    EXPECT_EQ(run.WaitForExit(), 0u);
}

TEST(WithId, AboutBoxOpensForTheWholeAboutCommandRange) {
    CIdrovanRun run(Env("IDROVAN_EXE"));
    ASSERT_TRUE(run.Started());
    HWND hDialog = run.WaitForSettledDialog();
    ASSERT_NE(hDialog, nullptr);

    // The system may set the low four bits of a menu command, so 16 to 31 all mean About.
    for (UINT nCommand : {16u, 23u, 31u}) {
        SCOPED_TRACE(nCommand);
        ExpectAboutBoxFor(hDialog, run.ProcessId(), nCommand);
    }

    PressButton(hDialog, IDCANCEL);
    EXPECT_EQ(run.WaitForExit(), 0u);
}

TEST(WithId, EveryWayOfClosingEndsTheProgramWithExitCodeZero) {
    struct Way {
        const char* pName;
        bool (*pfnClose)(HWND hDialog);
    };
    const Way ways[] = {
        {"Close button",
         [](HWND hDialog) {
             PressButton(hDialog, IDCANCEL);
             return true;
         }},
        {"Escape",
         [](HWND hDialog) {
             SetForegroundWindow(hDialog);
             SendKey(VK_ESCAPE);
             return true;
         }},
        {"Enter in the ID field",
         [](HWND hDialog) {
             SetForegroundWindow(hDialog);
             if (FocusOf(hDialog) != GetDlgItem(hDialog, kFieldId)) {
                 return false;
             }
             SendKey(VK_RETURN);
             return true;
         }},
        {"close box", ClickCloseBox},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.pName);
        CIdrovanRun run(Env("IDROVAN_EXE"));
        ASSERT_TRUE(run.Started());
        HWND hDialog = run.WaitForSettledDialog();
        ASSERT_NE(hDialog, nullptr);
        ASSERT_TRUE(way.pfnClose(hDialog));
        EXPECT_EQ(run.WaitForExit(), 0u);
    }
}

TEST(Resources, VersionStringsAndIcon) {
    const std::string exePath = Env("IDROVAN_EXE");
    DWORD nHandle = 0;
    const DWORD nInfoSize = GetFileVersionInfoSizeA(exePath.c_str(), &nHandle);
    ASSERT_GT(nInfoSize, 0u);
    std::vector<char> info(nInfoSize);
    ASSERT_TRUE(GetFileVersionInfoA(exePath.c_str(), 0, nInfoSize, info.data()));
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT nLength = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&pFixed), &nLength));
    EXPECT_EQ(pFixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(kVersion[1], kVersion[0])));
    EXPECT_EQ(pFixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(kVersion[3], kVersion[2])));
    EXPECT_EQ(pFixed->dwProductVersionMS, static_cast<DWORD>(MAKELONG(kVersion[1], kVersion[0])));
    EXPECT_EQ(pFixed->dwProductVersionLS, static_cast<DWORD>(MAKELONG(kVersion[3], kVersion[2])));
    char* pCopyright = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904e4\\LegalCopyright",
                               reinterpret_cast<void**>(&pCopyright), &nLength));
    EXPECT_STREQ(pCopyright, kLegalCopyright);
    WORD* pTranslation = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&pTranslation), &nLength));
    ASSERT_GE(nLength, 4u);
    EXPECT_EQ(pTranslation[0], 0x0409);
    EXPECT_EQ(pTranslation[1], 1252);

    HMODULE hExe = LoadLibraryExA(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hExe, nullptr);
    const struct {
        UINT nId;
        const char* pText;
    } strings[] = {{3000, "&About..."},
                   {3003, kErrorCaption},
                   {3004, kErrorText},
                   {3005, kClipboardBusyText},
                   {3006, kCopyFailedText}};
    for (const auto& entry : strings) {
        char text[4096] = {0};
        LoadStringA(hExe, entry.nId, text, sizeof(text));
        EXPECT_STREQ(text, entry.pText) << entry.nId;
    }

    // Icon group 2000: exactly one image, 32 x 32 at 32 bits per pixel.
    HRSRC hGroup = FindResourceA(hExe, MAKEINTRESOURCEA(2000), RT_GROUP_ICON);
    ASSERT_NE(hGroup, nullptr);
    const BYTE* pGroup = static_cast<const BYTE*>(LockResource(LoadResource(hExe, hGroup)));
    ASSERT_NE(pGroup, nullptr);
    const WORD nImages = *reinterpret_cast<const WORD*>(pGroup + 4);
    ASSERT_EQ(nImages, 1);
    const BYTE* pEntry = pGroup + 6;  // width, height, colours, reserved, planes, bit count
    EXPECT_EQ(pEntry[0], 32);
    EXPECT_EQ(pEntry[1], 32);
    EXPECT_EQ(*reinterpret_cast<const WORD*>(pEntry + 6), 32);
    FreeLibrary(hExe);
}

TEST(Resources, DialogTemplatesAreExactlyAsDesigned) {
    HMODULE hExe = LoadLibraryExA(Env("IDROVAN_EXE").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hExe, nullptr);
    struct Expected {
        int nId;
        DWORD nStyle;
        DWORD nExStyle;
        short cx, cy;
        const char* pCaption;
        std::vector<TemplateControl> controls;
    };
    const DWORD kChild = WS_CHILD | WS_VISIBLE;
    const Expected dialogs[] = {
        {1001,
         WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS,
         WS_EX_APPWINDOW,
         263,
         55,
         "Veltrane Idrovan",
         {{kChild | WS_GROUP | SS_LEFT, 0, 11, 11, 47, 8, -1, "STATIC", "Generated ID:"},
          {kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, 64, 9, 188, 14, 3001, "EDIT", ""},
          {kChild | WS_TABSTOP | BS_PUSHBUTTON, 0, 118, 31, 74, 16, 3002, "BUTTON",
           "&Copy to Clipboard"},
          {kChild | WS_TABSTOP | BS_PUSHBUTTON, 0, 202, 31, 50, 16, IDCANCEL, "BUTTON", "Close"}}},
        {1000,
         WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS,
         0,
         264,
         78,
         "About",
         {{kChild | SS_ICON, 0, 11, 17, 20, 20, -1, "STATIC", "#2000"},
          {kChild | WS_GROUP | SS_LEFT | SS_NOPREFIX, 0, 40, 10, 219, 8, -1, "STATIC",
           kAboutVersionText},
          {kChild | WS_GROUP | SS_LEFT, 0, 40, 25, 220, 8, -1, "STATIC", kLegalCopyright},
          {kChild | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 107, 53, 50, 16, IDOK, "BUTTON",
           "OK"}}},
    };
    for (const Expected& expected : dialogs) {
        SCOPED_TRACE(expected.nId);
        const DialogTemplate dialog = ReadDialogTemplate(hExe, expected.nId);
        EXPECT_EQ(dialog.nStyle, expected.nStyle);
        EXPECT_EQ(dialog.nExStyle, expected.nExStyle);
        EXPECT_EQ(dialog.cx, expected.cx);
        EXPECT_EQ(dialog.cy, expected.cy);
        EXPECT_EQ(dialog.caption, expected.pCaption);
        EXPECT_EQ(dialog.fontName, "MS Shell Dlg");
        EXPECT_EQ(dialog.nPointSize, 8);
        EXPECT_EQ(dialog.nWeight, 0);
        EXPECT_EQ(dialog.bItalic, 0);
        EXPECT_EQ(dialog.nCharSet, DEFAULT_CHARSET);
        ASSERT_EQ(dialog.controls.size(), expected.controls.size());
        for (size_t i = 0; i < expected.controls.size(); ++i) {
            SCOPED_TRACE(i);
            const TemplateControl& actual = dialog.controls[i];
            const TemplateControl& wanted = expected.controls[i];
            EXPECT_EQ(actual.nStyle, wanted.nStyle) << std::hex << actual.nStyle;
            EXPECT_EQ(actual.nExStyle, wanted.nExStyle);
            EXPECT_EQ(actual.x, wanted.x);
            EXPECT_EQ(actual.y, wanted.y);
            EXPECT_EQ(actual.cx, wanted.cx);
            EXPECT_EQ(actual.cy, wanted.cy);
            EXPECT_EQ(actual.nId, wanted.nId);
            EXPECT_EQ(actual.className, wanted.className);
            EXPECT_EQ(actual.text, wanted.text);
        }
    }
    FreeLibrary(hExe);
}

// The value of attribute name in the first element of that name in xml, or "<missing>".
std::string AttributeOf(const std::string& xml, const std::string& element,
                        const std::string& name) {
    const size_t nStart = xml.find("<" + element);
    const size_t nEnd = nStart == std::string::npos ? nStart : xml.find('>', nStart);
    if (nEnd == std::string::npos) {
        return "<missing>";
    }
    const std::string tag = xml.substr(nStart, nEnd - nStart);
    const std::string key = name + "=\"";
    for (size_t nKey = tag.find(key); nKey != std::string::npos; nKey = tag.find(key, nKey + 1)) {
        const size_t nClose = tag.find('"', nKey + key.size());
        if (std::isspace(static_cast<unsigned char>(tag[nKey - 1])) &&
            nClose != std::string::npos) {
            return tag.substr(nKey + key.size(), nClose - nKey - key.size());
        }
    }
    return "<missing>";
}

TEST(Resources, ManifestAsksForCommonControls6AndNoElevation) {
    HMODULE hExe = LoadLibraryExA(Env("IDROVAN_EXE").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hExe, nullptr);
    // The manifest that Windows reads when it starts the process.
    HRSRC hManifest = FindResourceA(hExe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(hManifest, nullptr);
    const char* pData = static_cast<const char*>(LockResource(LoadResource(hExe, hManifest)));
    ASSERT_NE(pData, nullptr);
    const std::string manifest(pData, SizeofResource(hExe, hManifest));
    FreeLibrary(hExe);

    const size_t nDependency = manifest.find("<dependentAssembly>");
    ASSERT_NE(nDependency, std::string::npos) << manifest;
    const std::string dependency = manifest.substr(nDependency);
    EXPECT_EQ(AttributeOf(dependency, "assemblyIdentity", "name"),
              "Microsoft.Windows.Common-Controls");
    EXPECT_EQ(AttributeOf(dependency, "assemblyIdentity", "version"), "6.0.0.0");
    EXPECT_EQ(AttributeOf(dependency, "assemblyIdentity", "publicKeyToken"), "6595b64144ccf1df");
    EXPECT_EQ(AttributeOf(manifest, "requestedExecutionLevel", "level"), "asInvoker");
}

TEST(NoId, ErrorBoxOverDisabledFieldAndCopy) {
    ASSERT_TRUE(MakeMarkerKeyReadOnly());

    const std::string viewPath = PrepareInProcessView();
    CIdrovanRun run(Env("IDROVAN_EXE"));
    ASSERT_TRUE(run.Started());
    HWND hDialog = run.WaitForSettledDialog();
    ASSERT_NE(hDialog, nullptr);
    HWND hBox = WaitForWindow(run.ProcessId(), kErrorCaption);
    ASSERT_NE(hBox, nullptr);
    EXPECT_EQ(TopLevelWindows(run.ProcessId(), kErrorCaption).size(), 1u);
    EXPECT_EQ(GetWindow(hBox, GW_OWNER), hDialog);

    bool bTextShown = false;
    bool bIconShown = false;
    for (HWND hChild : Children(hBox)) {
        bTextShown |= WindowText(hChild) == kErrorText;
        bIconShown |= ClassName(hChild) == "Static" && IsWindowVisible(hChild) &&
                      (GetWindowLongA(hChild, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
    }
    EXPECT_TRUE(bTextShown);
    EXPECT_TRUE(bIconShown);
    // Which icon it is can only be told inside the program, where the box loaded it.
    std::vector<std::string> boxes;
    for (const std::string& line : ReadInProcessView(run, viewPath)) {
        if (line.rfind("box ", 0) == 0) {
            boxes.push_back(line);
        }
    }
    EXPECT_EQ(boxes, std::vector<std::string>{"box icon hand"}) << "the stop icon";

    EXPECT_EQ(WindowText(GetDlgItem(hDialog, kFieldId)), "");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hDialog, kFieldId)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(hDialog, kCopyButtonId)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hDialog, IDCANCEL)));

    PressButton(hBox, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(hBox); }));
    // Once the dialog has handled everything queued, no second box may have come.
    Settle(hDialog);
    EXPECT_TRUE(TopLevelWindows(run.ProcessId(), kErrorCaption).empty());
    EXPECT_TRUE(IsWindowVisible(hDialog));
    EXPECT_TRUE(ReadMarker().data.empty()) << "a marker was written without full access";

    PressButton(hDialog, IDCANCEL);
    EXPECT_EQ(run.WaitForExit(), 0u);
}
