// The world tests need a QGuiApplication for their offscreen GL context;
// listing the tests needs no display.
#include <QGuiApplication>
#include <gtest/gtest.h>
#include <memory>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QGuiApplication> app;
    if (!GTEST_FLAG_GET(list_tests))
        app = std::make_unique<QGuiApplication>(argc, argv);
    return RUN_ALL_TESTS();
}
