#include <QApplication>

#include <gtest/gtest.h>

// Every test executable runs inside a QApplication so that event loops, timers,
// widgets and networking work. Without a display it uses the offscreen
// platform; the x11 label sets QT_QPA_PLATFORM=xcb itself.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
