// Entry point: with export arguments (velkaro --export OUT ...), the
// offline export; otherwise the application object and the one main
// window, whose constructor performs the whole start-up.
#include "Export.h"
#include "ExportOptions.h"
#include "MainWindow.h"
#include "WorldWidget.h"

#include <QApplication>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
    case CommandLineAction::Help:
        std::fputs(ExportUsage(), stdout);
        return 0;
    case CommandLineAction::Refuse:
        std::fprintf(stderr, "velkaro: %s\n", line.error.c_str());
        return 2;
    case CommandLineAction::Export:
        return RunExport(line.options, argv[0]);
    case CommandLineAction::Window:
        break;
    }

    WorldWidget::UseViewSurfaceFormat();
    QApplication application(argc, argv);
    // The application object took the whole locale from the environment;
    // numbers stay in the C locale, so printf, strtod and Lua write and read
    // "." under any language (Qt's own text does not use it).
    std::setlocale(LC_NUMERIC, "C");
    MainWindow window;
    window.show();
    return application.exec();
}
