// The entry of every test program with windows: a real widget application
// on the offscreen platform (unless the caller chose another), whose controls
// are named for screen readers as in the program.

#include "uAccessibility.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication Application(argc, argv);
    kelvora::InstallAccessibility();
    return RUN_ALL_TESTS();
}
