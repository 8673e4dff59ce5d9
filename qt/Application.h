// What both programs set up on their QApplication before the window opens.
#pragma once

namespace qtui {

// Needs the QApplication made. The application id (OSTREL_APP_ID) is the name the desktop
// entry, the AppStream metadata and the installed icon go by.
void setupApplication();

}  // namespace qtui
