// The yardstick for idrovan.exe's start-up: the same main dialog template, icon, manifest and
// build flags, shown with one DialogBoxParamA and nothing else.
#include <windows.h>

namespace {

INT_PTR CALLBACK BareDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hDlg, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(hInstance, MAKEINTRESOURCEA(1001), nullptr, BareDialogProc, 0);
    return 0;
}
