// What both programs set up on their QApplication before the window opens.
#pragma once

namespace qtui {

// The name the desktop file, the AppStream metadata and the installed icon go by.
inline constexpr const char* DESKTOP_FILE_ID = "com.tavren.Ostrel";

// Needs the QApplication made.
void setupApplication();

}  // namespace qtui
