#include "vorp_app.h"

#include "notice.h"
#include "vorp_dlg.h"
#include "vorp_resources.h"

void ShowNoticesInMessageBoxes() {
    SetNoticeHandler([](const std::string& text) { AfxMessageBox(QString::fromStdString(text)); });
}

CVorp_App::CVorp_App() : CWinApp(kAppName, kDesktopFileName, kAppIconPrefix) {}

bool CVorp_App::InitInstance() {
    CWinApp::InitInstance();
    SetRegistryKey(QString::fromUtf8(kRegistryKey));
    ShowNoticesInMessageBoxes();

    CVorp_Dlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    SetNoticeHandler({});
    return false;  // the dialog has closed: end without an event loop
}
