// GL tests need a QGuiApplication for their offscreen context; listing them needs no display.
#include <QGuiApplication>
#include <gtest/gtest.h>
#include <optional>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::optional<QGuiApplication> app;
    if (!GTEST_FLAG_GET(list_tests))
        app.emplace(argc, argv);
    return RUN_ALL_TESTS();
}
