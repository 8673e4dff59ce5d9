// GoogleTest on real widgets: one QApplication for the whole binary, on the offscreen
// platform unless the caller chose another (the test discovery runs without the tests'
// environment).
#include <gtest/gtest.h>

#include <QApplication>

#include "qt/Application.h"

#if defined(__SANITIZE_THREAD__)
// Qt is not built with ThreadSanitizer, and its worker threads (the raster engine scales
// images on a thread pool) synchronise in ways it cannot see. Judge only the accesses made
// by instrumented code: ours.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    qtui::setupApplication();
    return RUN_ALL_TESTS();
}
