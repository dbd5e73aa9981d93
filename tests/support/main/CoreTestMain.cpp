// The entry of every test program without windows: mail conversations and
// downloads wait in local event loops, which need an application object.

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication Application(argc, argv);
    return RUN_ALL_TESTS();
}
