// CIdrovanApp: the application object, one global constructed before the program's entry
// runs. Its InitInstance shows the main dialog modally and returns FALSE, so the program ends
// as soon as the dialog closes; there is no message loop beyond the dialog's own.
// UI thread only.
#pragma once

#include "framework/win_app.h"

class CIdrovanApp : public CWinApp {
public:
    CIdrovanApp();

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CIdrovanApp theApp;
