// GoogleTest on real widgets: one QApplication for the whole binary, on the offscreen
// platform unless the caller chose another (the test discovery runs without the tests'
// environment).
#include <gtest/gtest.h>

#include <QApplication>

#include "qt/Application.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    qtui::setupApplication();
    return RUN_ALL_TESTS();
}
