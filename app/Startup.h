// The start-up steps that the main window and the offline export share:
// the console font, the music stream, and the production run.
#pragma once

#include <QString>

#include <string>

// Registers the console font "VeraMono.ttf" from the working directory and
// lists the families it supplies on the debug output (nothing when missing).
void RegisterConsoleFont();

// Initialises the sound layer and opens "music.mp3"; failures are reported
// on the debug output and leave gMusicStream null.
void OpenMusic();

// Runs the production, dofile("<fileName>"), and returns its error text
// ("" when it ran). Printed output goes to the debug output only. A file
// that is a pipe, socket or device is refused with "cannot read <name>: not
// a regular file": dofile would block on it where the runaway guard cannot
// reach.
std::string RunProduction(const QString &fileName = QStringLiteral("prod.lua"));
