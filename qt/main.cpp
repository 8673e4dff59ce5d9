// ostrel: the programmer for a controller on this machine's USB.
#include <QApplication>

#include "app/COstrelApp.h"
#include "platform/NativeHidPlatform.h"
#include "qt/Application.h"
#include "qt/QtDialogWindow.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    qtui::setupApplication();

    platform::NativeHidPlatform hid;
    qtui::QtDialogWindow window;
    COstrelApp program(hid, window);
    program.InitInstance();
    return 0;
}
