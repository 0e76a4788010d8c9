// The main window: performs the ordered start-up in its constructor, ends
// the program on Escape, opens and closes the console on F1 and the sync
// pane on F2, takes the transport keys from the view, and shuts the script
// host and sound down (its production does, when it goes with the window).
#pragma once

#include "Production.h"

#include <QMainWindow>

#include <memory>
#include <string>

class QDockWidget;
class RocketClient;
class QCloseEvent;
class QKeyEvent;
struct MainWindowForm;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // `soundInput`: the live input the frames follow from the start (a part
    // of its name; "" for the music).
    explicit MainWindow(const std::string &soundInput = std::string(), QWidget *parent = nullptr);
    ~MainWindow() override;

    // The form's widgets (the view, the console), for tests and the script API.
    const MainWindowForm &Form() const { return *form; }

    // Sizes the window so that the view is `size` (logical pixels) with the
    // console collapsed; the view's and the console's minimum sizes give
    // way to a smaller size. Call before show().
    void SetViewSize(const QSize &size);
    // Makes the production the client of the sync editor at host:port
    // (--rocket); its messages go to the debug output.
    void ConnectToSyncEditor(const QString &host, quint16 port);
    // Opens the controllers of the command line (--midi, --osc).
    void OpenControllers(const ControlOptions &options) { production.openControllers(options); }

    // Opens the output screen on `screen` (--output; "": the first besides
    // the window's) with its picture at `size` (--output-size; invalid:
    // the screen's). Returns "" or why not.
    std::string OpenOutput(const std::string &screen, const QSize &size);

public slots:
    // Runs a console command and appends its output, then its error text,
    // then a fresh prompt to the console. A command "=expr" runs as
    // "return expr" and also appends its returned values, tab-separated.
    void RunREPLCommand(QString sCommand);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // The output screen goes with the window: a window of its own left
    // open would keep the program running.
    void closeEvent(QCloseEvent *event) override;

private:
    // F2: shows the sync pane beside the view (with the focus) or hides it.
    void toggleSyncPane();

    Production production;
    MainWindowForm *form;
    QDockWidget *syncDock = nullptr; // hidden until F2
    std::unique_ptr<RocketClient> rocket; // goes before the production it edits
};
