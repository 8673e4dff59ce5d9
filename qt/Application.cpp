#include "qt/Application.h"

#include <QApplication>

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

}  // namespace qtui
