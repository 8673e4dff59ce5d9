// What both programs set up on their QApplication before the window opens.
#pragma once

#include <cstdio>

namespace qtui {

// Needs the QApplication made. The application id (OSTREL_APP_ID) is the name the desktop
// entry, the AppStream metadata and the installed icon go by.
void setupApplication();

// Answers --help and --version on `out` before any QApplication exists, so that both work
// without a display. True when one was answered: the program then ends.
bool answerInfoOptions(int argc, char* argv[], std::FILE* out, const char* program,
                       const char* about);

}  // namespace qtui
