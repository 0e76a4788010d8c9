// Test entry point for the console: a QApplication (offscreen unless a
// platform is chosen), the real console font, and an open script host.
#include "ScriptHost.h"

#include <QApplication>
#include <QFontDatabase>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFontDatabase::addApplicationFont("/usr/share/fonts/truetype/ttf-bitstream-vera/VeraMono.ttf");
    ::testing::InitGoogleTest(&argc, argv);
    OpenScriptHost();
    const int result = RUN_ALL_TESTS();
    CloseScriptHost();
    return result;
}
