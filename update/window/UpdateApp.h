// The application object of Update.exe: runs one modal UpdateDialog, then ends the program.
#pragma once

#include "WinApp.h"

class UpdateApp : public CWinApp {
public:
    // Always FALSE: the program ends once the dialog has closed.
    BOOL InitInstance() override;
    DECLARE_MESSAGE_MAP()
};
