// ErrorBoard: per-source latest error and repeat count, and the lines the
// view shows for them.
#include "ErrorBoard.h"

namespace {

const char *const kLabels[ErrorBoard::SourceCount] = {
    "update()", "render()", "OnMouseMove()", "LMBDown()", "LMBUp()", "prod.lua", "sync.txt", "shader", "texture", "canvas", "mesh",
    "sound input",
    "OnMidi()/OnOsc()", "controllers", "output",
};

// `text` without trailing line ends, on one line: \r, \n and \t become spaces.
std::string OneLine(const std::string &text)
{
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    for (char &c : line) {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    }
    return line;
}

} // namespace

bool ErrorBoard::report(Source source, const std::string &error)
{
    Entry &entry = entries[source];
    if (error.empty()) {
        entry = Entry();
        return false;
    }
    const std::string message = OneLine(error);
    if (entry.count > 0 && entry.message == message) {
        ++entry.count;
    } else {
        entry.message = message;
        entry.count = 1;
    }
    entry.order = ++reports;
    return entry.count == 1;
}

bool ErrorBoard::empty() const
{
    for (const Entry &entry : entries) {
        if (entry.count > 0)
            return false;
    }
    return true;
}

std::vector<ErrorBoard::Line> ErrorBoard::lines() const
{
    std::vector<Line> result;
    auto add = [&](int source) {
        if (source >= 0 && entries[source].count > 0)
            result.push_back({kLabels[source], entries[source].message, entries[source].count});
    };
    add(Update);
    add(Render);
    int latestMouse = -1;
    for (int source : {MouseMove, LeftButtonDown, LeftButtonUp}) {
        if (entries[source].count > 0 && (latestMouse < 0 || entries[source].order > entries[latestMouse].order))
            latestMouse = source;
    }
    add(latestMouse);
    add(Production);
    add(Sync);
    add(Shader);
    add(Texture);
    add(SoundInput);
    add(ControlCall);
    add(Controls);
    add(Canvas);
    add(Mesh);
    add(Output);
    return result;
}

std::string ErrorBoard::prefix(const Line &line)
{
    const bool named = line.message.compare(0, line.label.size() + 1, line.label + ":") == 0;
    return named ? std::string() : line.label + ": ";
}

std::string ErrorBoard::format(const Line &line)
{
    std::string text = prefix(line) + line.message;
    if (line.count > 1)
        text += " (\u00d7" + std::to_string(line.count) + ")";
    return text;
}
