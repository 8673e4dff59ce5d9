// What both programs set up on their QApplication before the window opens.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace qtui {

// Needs the QApplication made. The application id (OSTREL_APP_ID) is the name the desktop
// entry, the AppStream metadata and the installed icon go by.
void setupApplication();

// Answers --help and --version on `out` before any QApplication exists, so that both work
// without a display. True when one was answered: the program then ends.
bool answerInfoOptions(int argc, char* argv[], std::FILE* out, const char* program,
                       const char* about);

// Without a display Qt aborts while the QApplication is made. The line that says so in plain
// words, or empty when a display is there or the user chose a platform (QT_QPA_PLATFORM, or
// Qt's -platform or -display option). `environment` gives a variable's value or null.
std::string missingDisplay(const char* program, int argc, const char* const argv[],
                           const std::function<const char*(const char*)>& environment);

// missingDisplay on this process's environment, its line written to `err`: true when the
// program must end (with exit status 1).
bool reportMissingDisplay(int argc, const char* const argv[], std::FILE* err, const char* program);

}  // namespace qtui
