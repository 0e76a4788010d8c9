// Entry point: the application object and the one main window, whose
// constructor performs the whole start-up.
#include "MainWindow.h"

#include <QApplication>
#include <QSurfaceFormat>

int main(int argc, char **argv)
{
    // Fixed-function drawing needs a compatibility-profile context with depth.
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setAlphaBufferSize(8);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    QSurfaceFormat::setDefaultFormat(format);

    QApplication *application = new QApplication(argc, argv);
    MainWindow *window = new MainWindow();
    window->show();
    const int result = application->exec();
    delete window;
    delete application;
    return result;
}
