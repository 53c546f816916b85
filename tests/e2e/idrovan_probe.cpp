// idrovan_probe.exe: reads a running idrovan.exe off the screen for scripts/run.sh.
//
//   idrovan_probe show    waits for the main dialog to settle, then prints
//                         "id <ID>" or "error <first line of the error box>", and
//                         "area <left> <top> <width> <height>": the screen rectangle that
//                         holds the program's windows, for a screenshot
//   idrovan_probe close   dismisses the error box, if any, and presses Close
//
// Exit code 0 on success, 1 when the dialog did not appear or did not close in time.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/dialog_probe.h"

using namespace idrovan_e2e;

namespace {

constexpr const char* kErrorCaption = "Quillon Idrovan";

HWND FindMainDialog() {
    return WaitForWindow(0, kMainCaption);
}

int Show() {
    HWND hDialog = FindMainDialog();
    if (hDialog == nullptr) {
        std::fprintf(stderr, "idrovan_probe: the dialog did not appear\n");
        return 1;
    }
    Settle(hDialog);
    const DWORD nProcessId = ProcessOf(hDialog);
    // Without an ID the dialog disables its field and puts up the error box.
    if (!IsWindowEnabled(GetDlgItem(hDialog, kFieldId))) {
        WaitForWindow(nProcessId, kErrorCaption);
    }
    std::vector<HWND> boxes = TopLevelWindows(nProcessId, kErrorCaption);
    RECT area;
    GetWindowRect(hDialog, &area);
    if (boxes.empty()) {
        std::printf("id %s\n", WindowText(GetDlgItem(hDialog, kFieldId)).c_str());
    } else {
        std::string message;
        for (HWND hChild : Children(boxes.front())) {
            std::string text = WindowText(hChild);
            if (text.size() > message.size()) {
                message = text;
            }
        }
        std::printf("error %s\n", message.substr(0, message.find('\n')).c_str());
        RECT box;
        GetWindowRect(boxes.front(), &box);
        UnionRect(&area, &area, &box);
    }
    std::printf("area %ld %ld %ld %ld\n", area.left, area.top, area.right - area.left,
                area.bottom - area.top);
    return 0;
}

int Close() {
    HWND hDialog = FindMainDialog();
    if (hDialog == nullptr) {
        return 1;
    }
    for (HWND hBox : TopLevelWindows(ProcessOf(hDialog), kErrorCaption)) {
        PressButton(hBox, IDOK);
        WaitUntil([&] { return !IsWindow(hBox); });
    }
    PressButton(hDialog, IDCANCEL);
    return WaitUntil([&] { return !IsWindow(hDialog); }) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "show") == 0) {
        return Show();
    }
    if (argc == 2 && std::strcmp(argv[1], "close") == 0) {
        return Close();
    }
    std::fprintf(stderr, "usage: idrovan_probe show|close\n");
    return 2;
}
