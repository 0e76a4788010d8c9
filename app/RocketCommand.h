// The command line of the Rocket editors' project files: velkaro
// --import-rocket FILE writes sync.txt from an editor's project, velkaro
// --export-rocket FILE writes one from sync.txt. Both run without a window
// and end with one line: on standard output when done (status 0), on
// standard error when not (status 2).
#pragma once

#include <QString>

#include <string>
#include <vector>

enum class RocketAction { None, Import, Export, Refuse };

struct RocketCommandLine
{
    RocketAction action = RocketAction::None;
    std::string file;  // FILE.rocket as given
    std::string error; // for Refuse: one line, no program name

    // --rocket [HOST[:PORT]] (with action None): the window as a client of
    // a sync editor; `others` are the arguments without it.
    bool rocket = false;
    std::string address;
    std::vector<std::string> others;
};

// None unless --import-rocket or --export-rocket is among the arguments
// (values also as --name=value); each takes one file and nothing else.
// --rocket takes the next argument as its address unless it starts with
// "-" (or its value as --rocket=HOST:PORT).
RocketCommandLine ParseRocketCommandLine(const std::vector<std::string> &arguments);

// Their lines of the usage text (ends in a newline).
const char *RocketUsage();

// Runs an Import or Export in the working directory, `syncFile` being the
// production's sync file; writes the one line and returns the status.
int RunRocketCommand(const RocketCommandLine &line, const QString &syncFile = QStringLiteral("sync.txt"));
