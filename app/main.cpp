// Entry point: the application object and the one main window, whose
// constructor performs the whole start-up.
#include "MainWindow.h"
#include "WorldWidget.h"

#include <QApplication>

int main(int argc, char **argv)
{
    WorldWidget::UseViewSurfaceFormat();
    QApplication application(argc, argv);
    MainWindow window;
    window.show();
    return application.exec();
}
