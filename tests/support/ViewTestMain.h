// The main() of test binaries that show the view: listing the tests needs
// no display; running them needs the view's surface format and an
// application object. Include it once, in one source file of the binary.
#pragma once

#include "WorldWidget.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    WorldWidget::UseViewSurfaceFormat();
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
