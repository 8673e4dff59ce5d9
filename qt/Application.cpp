#include "qt/Application.h"

#include <QApplication>
#include <cstring>

#include "app/Resource.h"
#include "qt/DialogBuilder.h"
#include "qt/Resources.h"

namespace qtui {

void setupApplication() {
    QApplication::setApplicationName(QStringLiteral("ostrel"));
    QApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
    // No display name: Qt would append it to the caption, which the window sets itself.
    // Wayland finds the window's icon and name through the desktop file.
    QGuiApplication::setDesktopFileName(QStringLiteral(OSTREL_APP_ID));
    QApplication::setWindowIcon(resourceIcon(IDR_MAINFRAME));
    QApplication::setFont(dialogFont());
    // The dialog runs its own loop and ends the program; a message box closing before the
    // window shows must not quit anything.
    QApplication::setQuitOnLastWindowClosed(false);
}

bool answerInfoOptions(int argc, char* argv[], std::FILE* out, const char* program,
                       const char* about) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fprintf(out, "%s %s\n", program, OSTREL_VERSION);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fprintf(out,
                         "Usage: %s [QT-OPTION]...\n"
                         "%s\n"
                         "\n"
                         "Options:\n"
                         "  -h, --help     show this help and exit\n"
                         "  --version      show the version and exit\n"
                         "\n"
                         "Qt's own options, such as -platform, are taken as well. The device "
                         "search writes\nits findings to standard output. ostrelctl(1) does "
                         "the same from the command line.\n",
                         program, about);
            return true;
        }
    }
    return false;
}

}  // namespace qtui
