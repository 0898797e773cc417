// GoogleTest entry for tests that need a Qt event loop (sockets, timers, widgets).

#include <gtest/gtest.h>

#include "support/qt_test_app.h"

int main(int argc, char** argv) {
    QApplication& app = vellumora::testing::testApp();
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    delete &app;  // before static destruction, which would outlive Qt's own globals
    return result;
}
