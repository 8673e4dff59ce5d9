#include "app/COstrelApp.h"

#include "app/COstrelDlg.h"
#include "app/Resource.h"
#include "app/StringTable.h"
#include "params/ParamTable.h"

COstrelApp::COstrelApp(platform::HidPlatform& platform, DialogWindow& mainWindow,
                       std::FILE* diagnostics, AppStartup* startup)
    : m_platform(platform),
      m_mainWindow(mainWindow),
      m_diagnostics(diagnostics),
      m_startup(startup) {}

bool COstrelApp::InitInstance() {
    if (m_startup != nullptr) {
        m_startup->initCommonControls();
        if (!m_startup->initSockets()) {
            // Before any window: the box stands alone and the program ends.
            m_mainWindow.messageBox(loadStringResource(IDP_SOCKETS_INIT_FAILED));
            return false;
        }
    }
    // No registry key: the program stores no settings.

    // One table per window: the firmware factor switch must not outlive the run that saw it.
    ParamTable table;
    COstrelDlg dialog({m_platform, table, m_mainWindow, m_diagnostics, &loadStringResource});
    m_mainWindow.doModal(dialog);  // the end code tells nothing the program acts on
    return false;
}
