// The command line: which way through main the arguments ask for (the
// window, the player, the export), the export's options with their defaults and checks,
// the frame count, the PNG frame names and the ffmpeg command. All pure:
// no files, no GL, no processes, so every rule is tested on its own.
#pragma once

#include <string>
#include <vector>

// What the output file name asks for.
enum class ExportFormat { Mp4, Mov, Mkv, Webm, PngSequence };

// The H.264 encoder's presets, fastest (largest file) first, and the one
// used unless --preset names another.
inline constexpr const char *kPresets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                          "medium",    "slow",      "slower",   "veryslow"};
inline constexpr const char *kDefaultPreset = "veryfast";

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
    int crf = -1;                        // encoder quality; -1: the format's default
    std::string preset = kDefaultPreset; // the H.264 encoder's speed, one of kPresets
    int audioBitrate = 0;                // bits per second; 0: the format's default
    bool overlays = false;               // keep the grid, floor outline and pick marker
    bool preroll = true;                 // run update() for the frames before `from`
};

// The window's view or the player's, from --size, --window, --play and --input.
struct ViewOptions
{
    bool sizeGiven = false;              // --size: the view's size in pixels
    int width = 0;
    int height = 0;
    bool windowed = false;               // --window: the player in a window, not full screen
    std::string soundInput;              // --input NAME: follow this live input (a part of its name)
    bool output = false;                 // --output [SCREEN]: the picture alone on a screen of its own
    std::string outputScreen;            // its number or name; "": the first besides the window's
    int outputWidth = 0;                 // --output-size WxH: the picture's size; 0: the screen's
    int outputHeight = 0;
};

// Which way through main: the window, the usage, the version, an export,
// the player, or a refusal with one line of reason.
enum class CommandLineAction { Window, Help, Version, Export, Play, Refuse };

struct CommandLine
{
    CommandLineAction action = CommandLineAction::Window;
    ExportOptions options;
    ViewOptions view;  // for Window and Play
    std::vector<std::string> forQt; // for Window: the arguments that are not ours, in order
    std::string error; // for Refuse: one line, no program name, no newline
    bool withUsage = false; // for Refuse: an unknown argument, so the usage follows the line
};

// Reads the arguments after the program name (values also as --name=value).
// --help anywhere asks for the usage, else --version for the version.
// --play makes a player command line (--play, --window, --size, --input); any of
// --export, --fps, --from, --to, --crf, --preset, --audio-bitrate,
// --overlays, --no-preroll an export command line (those and --size); in both every other
// argument is refused. Otherwise the window starts, with --size, --input, --output [SCREEN]
// (SCREEN is the next argument unless it starts with "-") and --output-size if given,
// and the other arguments go to Qt (`forQt`), which takes its own options
// out; what it leaves is refused with RefuseUnknown.
CommandLine ParseCommandLine(const std::vector<std::string> &arguments);

// The refusal of `argument`, which no part of the program knows.
CommandLine RefuseUnknown(const std::string &argument);

// The encoder's quality setting for `format`: its default (H.264 18, VP9
// 31) and its largest value (H.264 51, VP9 63); -1 for PNG frames.
int DefaultCrf(ExportFormat format);
int MaxCrf(ExportFormat format);

// The usage text printed by --help (several lines, ends in a newline).
const char *ExportUsage();

// The encoder's audio bitrate for `format` in bits per second: --audio-bitrate
// if given, else its default (AAC 192000, Opus 128000).
int AudioBitrate(const ExportOptions &options);

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
// `target`: a file for video formats (at the export's crf and, for H.264,
// preset), a pattern for PNG frames.
std::vector<std::string> FfmpegArguments(const ExportOptions &options, const std::string &target);

// The arguments of ffmpeg that put the finished `video` (a video format,
// copied as it is) and the `soundtrack` (raw stereo float at `rate` Hz)
// into `target`, the audio encoded as the format has it at AudioBitrate.
std::vector<std::string> MuxArguments(const ExportOptions &options, const std::string &video,
                                      const std::string &soundtrack, int rate, const std::string &target);

// The controller options, taken out of the arguments before the rest is
// read: --midi [NAME] (the MIDI inputs whose name contains NAME; all of them
// without one: a NAME is the next argument unless it starts with "-") and
// --osc PORT or --osc ADDRESS:PORT. For the window and the player.
struct ControlCommandLine
{
    bool midi = false;
    std::string midiName;
    std::string osc;
    std::vector<std::string> others; // the arguments that are not these, in order
    std::string error;               // one line when these are given wrongly
};
ControlCommandLine ParseControlCommandLine(const std::vector<std::string> &arguments);
