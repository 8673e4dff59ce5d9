// ostrel: the programmer for a controller on this machine's USB.
#include <QApplication>
#include <cstdio>

#include "app/COstrelApp.h"
#include "platform/NativeHidPlatform.h"
#include "qt/Application.h"
#include "qt/QtDialogWindow.h"

int main(int argc, char* argv[]) {
    if (qtui::answerInfoOptions(argc, argv, stdout, "ostrel",
                                "The programmer for the Ostrel power-supply controller: shows the "
                                "live status of a\ncontroller attached over USB and reads and "
                                "writes its stored parameters.")) {
        return 0;
    }
    if (qtui::reportMissingDisplay(argc, argv, stderr, "ostrel")) {
        return 1;
    }
    QApplication application(argc, argv);
    qtui::setupApplication();

    platform::NativeHidPlatform hid;
    qtui::QtDialogWindow window;
    COstrelApp program(hid, window);
    program.InitInstance();
    return 0;
}
