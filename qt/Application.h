// What both programs set up on their QApplication before the window opens.
#pragma once

#include <cstdio>

namespace qtui {

// The name the desktop file, the AppStream metadata and the installed icon go by.
inline constexpr const char* DESKTOP_FILE_ID = "com.tavren.Ostrel";

// Needs the QApplication made.
void setupApplication();

// Answers --help and --version on `out` before any QApplication exists, so that both work
// without a display. True when one was answered: the program then ends.
bool answerInfoOptions(int argc, char* argv[], std::FILE* out, const char* program,
                       const char* about);

}  // namespace qtui
