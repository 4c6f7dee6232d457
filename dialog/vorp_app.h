// The application object: shows the main dialog modally and ends when it
// closes.
#pragma once

#include "dialog_layer.h"

class CVorp_App : public CWinApp {
public:
    CVorp_App();
    bool InitInstance() override;
};

// Makes every notice of the run a message box (see AfxMessageBox); from the
// worker thread a notice waits until OK is pressed.
void ShowNoticesInMessageBoxes();
