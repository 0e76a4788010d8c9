// PlayerWindow: a production played as a released demo. The view alone (no
// console, no session log, no file watching), the authoring aids off, the
// mouse cursor hidden over the view. The production starts as in the main
// window and runs the same callbacks and music functions. The player ends
// the event loop with status 0 when the music, once started, reaches its
// end, or on Escape; closing the window ends it too.
#pragma once

#include "Production.h"

#include <QMainWindow>

#include <string>

class QKeyEvent;
class QTimer;
class WorldWidget;

class PlayerWindow : public QMainWindow
{
    Q_OBJECT

public:
    // `soundInput`: the live input the frames follow from the start (a part
    // of its name; "" for the music).
    explicit PlayerWindow(const std::string &soundInput = std::string(), QWidget *parent = nullptr);

    WorldWidget *view() const { return worldView; }
    // Opens the controllers of the command line (--midi, --osc).
    void OpenControllers(const ControlOptions &options) { production.openControllers(options); }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Watches the music: once it has been started, its stop at the end of
    // the track ends the player, unless update() starts it again within a
    // frame (a production that loops its music plays on).
    void checkMusic();

    Production production;
    WorldWidget *worldView;
    bool musicStarted = false;
    long endSeenAtTick = -1; // the frame count when the end was first seen
};
