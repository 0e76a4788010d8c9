// Entry point: with export arguments (velkaro --export OUT ...), the
// offline export; with --play, the player; otherwise the application object
// and the one main window, whose constructor performs the whole start-up.
#include "Export.h"
#include "CommandLine.h"
#include "MainWindow.h"
#include "PlayerWindow.h"
#include "RocketClient.h"
#include "RocketCommand.h"
#include "WorldWidget.h"

#include <QApplication>
#include <QScreen>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The player's window size when --window comes without --size.
const QSize kPlayerWindowSize(1280, 720);

int Play(const ViewOptions &view, const ControlOptions &controls, char *program)
{
    // Qt sees only the program name: every other argument is the player's.
    int qtArgc = 1;
    char *qtArgv[] = {program, nullptr};
    WorldWidget::UseViewSurfaceFormat();
    QApplication application(qtArgc, qtArgv);
    std::setlocale(LC_NUMERIC, "C"); // numbers with "." under any language, as in the window
    PlayerWindow player(view.soundInput);
    player.OpenControllers(controls);
    // The normal size also serves a later windowedMode().
    player.resize(view.sizeGiven ? QSize(view.width, view.height) : kPlayerWindowSize);
    if (view.windowed) {
        player.show();
    } else {
        player.showFullScreen();
        // Without a window manager nothing answers the full-screen request:
        // cover the screen directly (with one this changes nothing).
        player.setGeometry(player.screen()->geometry());
    }
    return application.exec();
}

// The refusal's line on stderr, the usage after it for an unknown argument; status 2.
int Refuse(const CommandLine &line)
{
    std::fprintf(stderr, "velkaro: %s\n", line.error.c_str());
    if (line.withUsage)
        std::fputs(ExportUsage(), stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // The Rocket editors' projects: converted without a window.
    const RocketCommandLine rocket = ParseRocketCommandLine(arguments);
    if (rocket.action != RocketAction::None)
        return RunRocketCommand(rocket);

    const ControlCommandLine control = ParseControlCommandLine(rocket.others);
    const CommandLine line = ParseCommandLine(control.others);
    ControlOptions controls;
    controls.midiWanted = control.midi;
    controls.midi = control.midiName;
    controls.osc = control.osc;
    if (line.action != CommandLineAction::Help && line.action != CommandLineAction::Refuse &&
        (control.midi || !control.osc.empty() || !control.error.empty())) {
        std::string why = control.error;
        if (why.empty() && line.action == CommandLineAction::Export)
            why = "--midi and --osc go with the window and --play: the export plays the recorded keys";
        if (!why.empty()) {
            std::fprintf(stderr, "velkaro: %s\n", why.c_str());
            return 2;
        }
    }
    QString rocketHost;
    quint16 rocketPort = 0;
    std::string rocketError;
    if (rocket.rocket && line.action != CommandLineAction::Help && line.action != CommandLineAction::Refuse) {
        if (line.action != CommandLineAction::Window)
            rocketError = "--rocket goes with the window (velkaro --rocket [HOST[:PORT]])";
        else
            RocketClient::ParseAddress(rocket.address, rocketHost, rocketPort, rocketError);
        if (!rocketError.empty()) {
            std::fprintf(stderr, "velkaro: %s\n", rocketError.c_str());
            return 2;
        }
    }
    switch (line.action) {
    case CommandLineAction::Help:
        std::fputs(ExportUsage(), stdout);
        std::fputs(RocketUsage(), stdout);
        return 0;
    case CommandLineAction::Version:
        std::puts("velkaro " VELKARO_VERSION);
        return 0;
    case CommandLineAction::Refuse:
        return Refuse(line);
    case CommandLineAction::Export:
        return RunExport(line.options, argv[0]);
    case CommandLineAction::Play:
        return Play(line.view, controls, argv[0]);
    case CommandLineAction::Window:
        break;
    }

    // Qt gets the program name and the arguments that are not ours; it
    // takes out its own options (-platform, -style, -display, ...), and
    // what it leaves nobody knows.
    std::vector<std::string> forQt = line.forQt;
    std::vector<char *> qtArgv = {argv[0]};
    for (std::string &argument : forQt)
        qtArgv.push_back(argument.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgv.size()) - 1;
    WorldWidget::UseViewSurfaceFormat();
    QApplication application(qtArgc, qtArgv.data());
    if (qtArgc > 1)
        return Refuse(RefuseUnknown(qtArgv[1]));
    // The application object took the whole locale from the environment;
    // numbers stay in the C locale, so printf, strtod and Lua write and read
    // "." under any language (Qt's own text does not use it).
    std::setlocale(LC_NUMERIC, "C");
    MainWindow window(line.view.soundInput);
    window.OpenControllers(controls);
    if (line.view.sizeGiven)
        window.SetViewSize(QSize(line.view.width, line.view.height));
    if (rocket.rocket)
        window.ConnectToSyncEditor(rocketHost, rocketPort);
    window.show();
    if (line.view.output &&
        !window.OpenOutput(line.view.outputScreen, QSize(line.view.outputWidth, line.view.outputHeight)).empty())
        return 2;   // said why on stderr
    return application.exec();
}
