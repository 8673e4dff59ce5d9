#include "app/COstrelApp.h"

#include "app/COstrelDlg.h"
#include "app/StringTable.h"
#include "params/ParamTable.h"

COstrelApp::COstrelApp(platform::HidPlatform& platform, DialogWindow& mainWindow,
                       std::FILE* diagnostics)
    : m_platform(platform), m_mainWindow(mainWindow), m_diagnostics(diagnostics) {}

bool COstrelApp::InitInstance() {
    // No common-controls registration, socket start-up or registry key here: the toolkit
    // registers its own widgets, and the program talks to no network and stores no
    // settings. So the socket failure message (string 103) cannot arise on this platform.

    // One table per window: the firmware factor switch must not outlive the run that saw it.
    ParamTable table;
    COstrelDlg dialog({m_platform, table, m_mainWindow, m_diagnostics, &loadStringResource});
    m_mainWindow.doModal(dialog);  // the end code tells nothing the program acts on
    return false;
}
