// Resource identifiers of idrovan.exe, shared by the resource script and the code.
// Kept free of C++ so that windres can read it.
#pragma once

#define IDD_ABOUTBOX 1000
#define IDD_IDROVAN_DIALOG 1001
#define IDR_MAINFRAME 2000
#define IDS_ABOUTBOX 3000
#define IDC_EDIT_ID 3001
#define IDC_BUTTON_COPY 3002
#define IDS_ERROR_CAPTION 3003
#define IDS_ERROR_NO_ID 3004
#define IDS_ERROR_CLIPBOARD_BUSY 3005
#define IDS_ERROR_COPY_FAILED 3006

// System-menu command of the About entry; the system reserves the low four bits.
#define IDM_ABOUTBOX 0x0010
