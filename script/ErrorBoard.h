// ErrorBoard: the latest error of each place that runs production code
// (update, render, the mouse callbacks, loading prod.lua, reading
// sync.txt, shaders, the live sound input, the controllers, the output
// screen), with how often
// it came in a row, the note about a texture drawn from a scaled-down copy,
// a canvas read while drawn into, and the mesh a frame could not draw. The
// runs report into it;
// the view reads it to show the errors. Plain data: no Qt, no GL.
#pragma once

#include <string>
#include <vector>

class ErrorBoard
{
public:
    // The places whose errors are kept, in the order the lines are shown.
    // The three mouse callbacks are kept apart (a good mouse move must not
    // clear a failing LMBDown) and shown as one line.
    enum Source { Update, Render, MouseMove, LeftButtonDown, LeftButtonUp, Production, Sync, Shader, Texture, Canvas, Mesh, SoundInput, ControlCall, Controls, Output, SourceCount };

    // One run's outcome: an empty `error` clears the source's entry, the
    // same text as before counts once more, another text starts over at 1.
    // Trailing line ends are ignored. True when this starts a new message
    // (an error that was not the source's latest), for those who write
    // each error once to the debug output.
    bool report(Source source, const std::string &error);

    // True while no source holds an error.
    bool empty() const;

    // One line per shown group that holds an error, in Source order:
    // "label: message", line breaks and tabs within the message turned into
    // spaces. Of the mouse callbacks the most recently reported error is
    // shown.
    struct Line
    {
        std::string label;     // "update()", "render()", "OnMouseMove()", ..., "prod.lua", "sync.txt", "shader", "texture", "canvas", "mesh", "sound input", "OnMidi()/OnOsc()", "controllers", "output"
        std::string message;   // on one line
        long long count = 0;   // how many runs in a row gave this message
    };
    std::vector<Line> lines() const;

    // What is shown before the message: "label: ", or nothing when the
    // message starts with "label:" itself (prod.lua's own errors name it).
    static std::string prefix(const Line &line);

    // The text of a line as shown: prefix and message, and " (×N)" when N > 1.
    static std::string format(const Line &line);

private:
    struct Entry
    {
        std::string message;
        long long count = 0;         // 0: no error
        unsigned long long order = 0; // when it was last reported, for the mouse line
    };
    Entry entries[SourceCount];
    unsigned long long reports = 0;
};
