// The start-up steps that the main window and the offline export share:
// the console font, the music stream, and the production run.
#pragma once

// Registers the console font "VeraMono.ttf" from the working directory and
// lists the families it supplies on the debug output (nothing when missing).
void RegisterConsoleFont();

// Initialises the sound layer and opens "music.mp3"; failures are reported
// on the debug output and leave gMusicStream null.
void OpenMusic();

// Runs the production: dofile("prod.lua"), output and error dropped (the
// script host leaves its debug trace of a failure).
void RunProduction();
