// A DLL that the end-to-end driver loads into a running idrovan.exe to read what no other
// process can see: the main dialog's system menu and which icons it uses. On load it starts a
// thread (no window calls under the loader lock) that writes to the file named by
// IDROVAN_PROBE_OUT one line per menu item,  <id> <S|T> <text>  (S for a separator, T for a
// text item), then one line per icon the dialog hands out,  icon <big|small|drag> <verdict>,
// where the verdict is app (the program's icon 2000), none, or other; and for each message box
// that the dialog owns, one line  box icon <hand|exclamation|asterisk|question|none|other>,
// naming the system icon that the box shows (as MessageBox loads them, in this process).
// The file appears whole: it is written under another name and then renamed.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HWND FindOwnMainDialog() {
    for (HWND hWnd = FindWindowA(nullptr, "Veltrane Idrovan"); hWnd != nullptr;
         hWnd = FindWindowExA(nullptr, hWnd, nullptr, "Veltrane Idrovan")) {
        DWORD nProcessId = 0;
        GetWindowThreadProcessId(hWnd, &nProcessId);
        if (nProcessId == GetCurrentProcessId()) {
            return hWnd;
        }
    }
    return nullptr;
}

std::string DescribeMenu(HMENU hMenu) {
    std::string lines;
    const int nCount = GetMenuItemCount(hMenu);
    for (int i = 0; i < nCount; ++i) {
        char text[256] = {0};
        MENUITEMINFOA item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = sizeof(text);
        if (!GetMenuItemInfoA(hMenu, static_cast<UINT>(i), TRUE, &item)) {
            continue;
        }
        const bool bSeparator = (item.fType & MFT_SEPARATOR) != 0;
        lines += std::to_string(item.wID) + (bSeparator ? " S " : " T ") + text + "\n";
    }
    return lines;
}

// LoadIconA hands out one shared handle per icon resource within a process, so the program's
// own icon compares equal to whatever it loaded itself.
std::string DescribeIcons(HWND hDialog) {
    const HICON hAppIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(2000));
    struct Query {
        const char* pName;
        UINT nMessage;
        WPARAM wParam;
    };
    const Query queries[] = {{"big", WM_GETICON, ICON_BIG},
                             {"small", WM_GETICON, ICON_SMALL},
                             {"drag", WM_QUERYDRAGICON, 0}};
    std::string lines;
    for (const Query& query : queries) {
        HICON hIcon =
            reinterpret_cast<HICON>(SendMessageA(hDialog, query.nMessage, query.wParam, 0));
        const char* pVerdict = hIcon == nullptr ? "none" : hIcon == hAppIcon ? "app" : "other";
        lines += std::string("icon ") + query.pName + " " + pVerdict + "\n";
    }
    return lines;
}

// Which system icon a message box shows. Within one process LoadIconA hands out the same shared
// handle that MessageBox put into the box's icon control.
std::string DescribeBoxIcon(HWND hBox) {
    struct SystemIcon {
        const char* pName;
        LPCSTR pId;
    };
    const SystemIcon icons[] = {{"hand", IDI_HAND},
                                {"exclamation", IDI_EXCLAMATION},
                                {"asterisk", IDI_ASTERISK},
                                {"question", IDI_QUESTION}};
    for (HWND hChild = GetWindow(hBox, GW_CHILD); hChild != nullptr;
         hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        char className[64] = {0};
        GetClassNameA(hChild, className, sizeof(className));
        if (lstrcmpiA(className, "Static") != 0 || !IsWindowVisible(hChild) ||
            (GetWindowLongA(hChild, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
            continue;
        }
        const HICON hShown = reinterpret_cast<HICON>(SendMessageA(hChild, STM_GETICON, 0, 0));
        for (const SystemIcon& icon : icons) {
            if (hShown != nullptr && hShown == LoadIconA(nullptr, icon.pId)) {
                return icon.pName;
            }
        }
        return hShown == nullptr ? "none" : "other";
    }
    return "none";
}

struct BoxSearch {
    HWND hDialog;
    std::string lines;
};

// A named callback, not a lambda: a lambda converts to a function pointer of the default
// calling convention, and 32-bit callbacks are stdcall.
BOOL CALLBACK DescribeBoxIfOwned(HWND hWnd, LPARAM lParam) {
    auto* pSearch = reinterpret_cast<BoxSearch*>(lParam);
    DWORD nProcessId = 0;
    GetWindowThreadProcessId(hWnd, &nProcessId);
    char className[64] = {0};
    GetClassNameA(hWnd, className, sizeof(className));
    if (nProcessId == GetCurrentProcessId() && IsWindowVisible(hWnd) &&
        GetWindow(hWnd, GW_OWNER) == pSearch->hDialog && lstrcmpA(className, "#32770") == 0) {
        pSearch->lines += "box icon " + DescribeBoxIcon(hWnd) + "\n";
    }
    return TRUE;
}

// One line per visible dialog-class window of this process that hDialog owns.
std::string DescribeOwnedBoxes(HWND hDialog) {
    BoxSearch search{hDialog, {}};
    EnumWindows(DescribeBoxIfOwned, reinterpret_cast<LPARAM>(&search));
    return search.lines;
}

DWORD WINAPI ProbeThread(LPVOID) {
    char outPath[MAX_PATH] = {0};
    if (GetEnvironmentVariableA("IDROVAN_PROBE_OUT", outPath, MAX_PATH) == 0) {
        return 1;
    }
    HWND hDialog = FindOwnMainDialog();
    HMENU hMenu = hDialog != nullptr ? GetSystemMenu(hDialog, FALSE) : nullptr;
    std::string lines = hMenu != nullptr ? DescribeMenu(hMenu) : std::string("no menu\n");
    if (hDialog != nullptr) {
        lines += DescribeIcons(hDialog);
        lines += DescribeOwnedBoxes(hDialog);
    }

    const std::string partPath = std::string(outPath) + ".part";
    FILE* pFile = std::fopen(partPath.c_str(), "wb");
    if (pFile == nullptr) {
        return 1;
    }
    std::fwrite(lines.data(), 1, lines.size(), pFile);
    std::fclose(pFile);
    MoveFileExA(partPath.c_str(), outPath, MOVEFILE_REPLACE_EXISTING);
    return 0;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD nReason, LPVOID) {
    if (nReason == DLL_PROCESS_ATTACH) {
        HANDLE hThread = CreateThread(nullptr, 0, ProbeThread, nullptr, 0, nullptr);
        if (hThread != nullptr) {
            CloseHandle(hThread);
        }
    }
    return TRUE;
}
