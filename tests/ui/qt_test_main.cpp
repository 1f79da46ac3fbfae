// gtest main for tests that need a QApplication: offscreen, whatever the desktop says.
#include <gtest/gtest.h>

#include <QtWidgets/QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    // A desktop theme plug-in (gtk3) aborts without a display; offscreen needs none.
    ::unsetenv("QT_QPA_PLATFORMTHEME");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
