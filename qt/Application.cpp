#include "qt/Application.h"

#include <QApplication>
#include <cstdlib>
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

std::string missingDisplay(const char* program, int argc, const char* const argv[],
                           const std::function<const char*(const char*)>& environment) {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = environment(variable);
        if (value != nullptr && *value != '\0') {
            return {};
        }
    }
    // Qt takes its options with one dash or two, each followed by its value.
    for (int i = 1; i + 1 < argc; ++i) {
        const char* option = argv[i][0] == '-' && argv[i][1] == '-' ? argv[i] + 1 : argv[i];
        if (std::strcmp(option, "-platform") == 0 || std::strcmp(option, "-display") == 0) {
            return {};
        }
    }
    return std::string(program) +
           ": no graphical display (DISPLAY and WAYLAND_DISPLAY are unset); on a machine "
           "without one, ostrelctl reads and writes the controller from the command line";
}

bool reportMissingDisplay(int argc, const char* const argv[], std::FILE* err, const char* program) {
    const std::string line =
        missingDisplay(program, argc, argv, [](const char* name) { return std::getenv(name); });
    if (line.empty()) {
        return false;
    }
    std::fprintf(err, "%s\n", line.c_str());
    return true;
}

}  // namespace qtui
