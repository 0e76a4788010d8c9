// The command line of the offline export: which way through main the
// arguments ask for, the export's options with their defaults and checks,
// the frame count, the PNG frame names and the ffmpeg command. All pure:
// no files, no GL, no processes, so every rule is tested on its own.
#pragma once

#include <string>
#include <vector>

// What the output file name asks for.
enum class ExportFormat { Mp4, Mov, Mkv, Webm, PngSequence };

struct ExportOptions
{
    std::string output;                  // OUT as given
    ExportFormat format = ExportFormat::Mp4;
    double fps = 60.0;                   // frames per second, 0 < fps <= 1000
    int width = 1280;                    // pixels
    int height = 720;
    double from = 0.0;                   // seconds of music time
    double to = 0.0;                     // seconds; meaningful once toGiven or resolved
    bool toGiven = false;
};

// Which way through main: the window (no export arguments at all), the
// usage, an export, or a refusal with one line of reason.
enum class CommandLineAction { Window, Help, Export, Refuse };

struct CommandLine
{
    CommandLineAction action = CommandLineAction::Window;
    ExportOptions options;
    std::string error; // for Refuse: one line, no program name, no newline
};

// Reads the arguments after the program name. Any of --export, --fps,
// --size, --from, --to, --help (also as --name=value) makes this an export
// command line, in which every other argument is refused; without them the
// window starts as usual and the arguments go to Qt unchanged.
CommandLine ParseCommandLine(const std::vector<std::string> &arguments);

// The usage text printed by --help (several lines, ends in a newline).
const char *ExportUsage();

// Settles the time range against the music: `musicSeconds` is its length,
// or a negative value when there is no music. Without --to the range ends
// with the music, or after 10 s without it; a --to beyond the music's end
// is cut to it, and `note` (when given) gets one line saying so. Without
// music the range may span at most 24 hours. Returns an empty string when
// the range is good, else one line saying why not.
std::string ResolveExportRange(ExportOptions &options, double musicSeconds, std::string *note = nullptr);

// Frames to render: ceil((to - from) * fps), at least 1. A product that
// lands a hair above a whole number through rounding counts as that number.
long ExportFrameCount(const ExportOptions &options);

// True for the video formats (one file, H.264 or VP9, with audio).
bool IsVideoFormat(ExportFormat format);

// The name of PNG frame `frame` for a pattern with one %d, %Nd or %0Nd
// (and %% for a percent sign), as printf would write it.
std::string PngFrameName(const std::string &pattern, long frame);

// The arguments of ffmpeg (without the program name) that read raw rgb24
// frames of the export's size and rate from standard input and write
// `target`: a file for video formats, a pattern for PNG frames. With
// `musicFile` non-empty and a video format, the music from --from for
// (to - from) seconds is muxed in.
std::vector<std::string> FfmpegArguments(const ExportOptions &options, const std::string &target,
                                         const std::string &musicFile);
