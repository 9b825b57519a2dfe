// Test entry for widget tests: a QApplication on the X server the test run started for them
// (PARVULA_TEST_X11), else on the offscreen platform, so no display is needed.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv)
{
    // A DISPLAY alone is not enough: tests started by hand on a desktop stay off its screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        const bool x11 = !qEnvironmentVariableIsEmpty("PARVULA_TEST_X11")
            && !qEnvironmentVariableIsEmpty("DISPLAY");
        qputenv("QT_QPA_PLATFORM", x11 ? "xcb" : "offscreen");
    }
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
