// The command line of the window, the player and the export: parsing,
// checks, defaults, the frame count, PNG frame names and the ffmpeg command.
#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const double kMaxFps = 1000.0;
const double kDefaultSecondsWithoutMusic = 10.0;
const double kMaxSecondsWithoutMusic = 24 * 3600.0;

// What the encoders take (the GL limit is checked later): ffmpeg reads a
// raw frame only while 8 (w + 128) (h + 128) stays below INT_MAX; x264
// takes at most 16384 pixels a side, libvpx and the PNG encoder 65536.
long long MaxSide(ExportFormat format)
{
    return format == ExportFormat::Webm || format == ExportFormat::PngSequence ? 65536 : 16384;
}

bool EncoderTakes(ExportFormat format, long long width, long long height)
{
    const long long maxSide = MaxSide(format);
    return width >= 1 && height >= 1 && width <= maxSide && height <= maxSide &&
           8 * (width + 128) * (height + 128) < 2147483647LL;
}

// Empty when the encoder takes the export's size, else why not, with the
// largest size it takes within the one asked for: each side cut to the
// encoder's largest, then both shrunk alike (even sides for video).
std::string EncoderSizeLimit(const ExportOptions &o)
{
    if (EncoderTakes(o.format, o.width, o.height))
        return std::string();
    const long long step = IsVideoFormat(o.format) ? 2 : 1;
    const long long width = std::min<long long>(o.width, MaxSide(o.format)) / step * step;
    const long long height = std::min<long long>(o.height, MaxSide(o.format)) / step * step;
    const auto heightFor = [&](long long w) { return std::max(step, w * height / width / step * step); };
    long long low = 1, high = width / step;   // the most steps of width that fit, by halving
    while (low < high) {
        const long long middle = (low + high + 1) / 2;
        if (EncoderTakes(o.format, middle * step, heightFor(middle * step)))
            low = middle;
        else
            high = middle - 1;
    }
    return "--size " + std::to_string(o.width) + "x" + std::to_string(o.height) +
           " is beyond what the encoder takes; at most " + std::to_string(low * step) + "x" +
           std::to_string(heightFor(low * step));
}
const int kMaxSide = 65536; // a sanity bound; the GL limit is checked later
const int kMaxWindowSide = 16384; // beyond it X and the GL's viewport give up
// The soundtrack's bitrate: below 32k stereo music sounds broken; Opus
// takes at most 510k, and AAC gains nothing audible above it.
const long long kMinAudioBitrate = 32000, kMaxAudioBitrate = 510000;
const int kDefaultAacBitrate = 192000, kDefaultOpusBitrate = 128000;

// --- Reading values ---------------------------------------------------------

// A finite decimal number filling the whole text.
bool ReadNumber(const std::string &text, double &value)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

// A whole number of 1 to 9 digits, no sign.
bool ReadSide(const std::string &text, int &value)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    value = std::atoi(text.c_str());
    return true;
}

std::string Lower(std::string text)
{
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Seconds(double seconds)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%.3g s", seconds);
    return text;
}

// --- PNG patterns -------------------------------------------------------------

// One frame-number conversion of a pattern, split out of its text.
struct FramePattern
{
    std::string before, after; // with %% already turned into %
    bool zeroPad = false;
    int width = 0;
};

// Splits `pattern` at its one %d / %Nd / %0Nd; false (with a reason) when
// it has none, more than one, or another conversion.
bool SplitPattern(const std::string &pattern, FramePattern &split, std::string *why)
{
    int conversions = 0;
    std::string *side = &split.before;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            *side += pattern[i];
            continue;
        }
        size_t j = i + 1;
        if (j < pattern.size() && pattern[j] == '%') {
            *side += '%';
            i = j;
            continue;
        }
        const bool zero = j < pattern.size() && pattern[j] == '0';
        if (zero)
            ++j;
        int width = 0;
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])) && width < 100)
            width = width * 10 + (pattern[j++] - '0');
        if (j >= pattern.size() || pattern[j] != 'd' || width > 20) {
            if (why)
                *why = "the frame number in a PNG name must be %d, %Nd or %0Nd (write %% for a percent sign)";
            return false;
        }
        ++conversions;
        split.zeroPad = zero;
        split.width = width;
        side = &split.after;
        i = j;
    }
    if (conversions != 1) {
        if (why)
            *why = "a PNG name needs exactly one frame number, e.g. shots/%05d.png";
        return false;
    }
    return true;
}

// The format that OUT's name asks for, or a reason it asks for none.
bool FormatOf(const std::string &output, ExportFormat &format, std::string &why)
{
    if (output.empty()) {
        why = "--export needs a file name, e.g. --export demo.mp4";
        return false;
    }
    const size_t slash = output.find_last_of('/');
    const std::string name = slash == std::string::npos ? output : output.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    const std::string extension = dot == std::string::npos ? "" : Lower(name.substr(dot + 1));
    const bool numbered = name.find('%') != std::string::npos;
    if (extension == "png") {
        if (slash != std::string::npos && output.find('%') < slash) {
            why = "the frame number must be in the PNG file name, not in its folder";
            return false;
        }
        FramePattern split;
        if (!SplitPattern(name, split, &why))
            return false;
        format = ExportFormat::PngSequence;
        return true;
    }
    static const struct { const char *extension; ExportFormat format; } kVideo[] = {
        {"mp4", ExportFormat::Mp4}, {"mov", ExportFormat::Mov},
        {"mkv", ExportFormat::Mkv}, {"webm", ExportFormat::Webm}};
    for (const auto &video : kVideo) {
        if (extension == video.extension && !numbered) {
            format = video.format;
            return true;
        }
    }
    why = "cannot tell the format of '" + output +
          "': use a name ending in .mp4, .mov, .mkv or .webm, or PNG frames like shots/%05d.png";
    return false;
}

// The option names of the export command line.
bool IsExportOption(const std::string &name)
{
    return name == "--export" || name == "--fps" || name == "--from" || name == "--to" || name == "--crf" ||
           name == "--preset" || name == "--audio-bitrate" || name == "--overlays" || name == "--no-preroll";
}

// Options that stand alone; the others take a value.
bool IsFlag(const std::string &name)
{
    return name == "--overlays" || name == "--no-preroll" || name == "--play" || name == "--window" || name == "--help";
}

// The options of the window and the player (--size also goes with the export).
bool IsViewOption(const std::string &name)
{
    return name == "--size" || name == "--play" || name == "--window" || name == "--input" || name == "--output" ||
           name == "--output-size";
}

std::string OptionName(const std::string &argument)
{
    return argument.substr(0, argument.find('='));
}

// Why the known option `name` does not go with the command line `action`
// is; "" when it does.
std::string NotAllowed(CommandLineAction action, const std::string &name)
{
    if (name == "--window" && action != CommandLineAction::Play)
        return "--window goes with --play (velkaro --play --window)";
    if ((name == "--output" || name == "--output-size") && action != CommandLineAction::Window)
        return name + " goes with the window (velkaro --output [SCREEN])";
    if (name == "--input" && action == CommandLineAction::Export)
        return "--input goes with the window or --play; the export follows the music";
    if (action == CommandLineAction::Play && name == "--export")
        return "--play and --export do not go together: --play shows the production, --export writes it to a file";
    if (action == CommandLineAction::Play && IsExportOption(name))
        return name + " goes with --export, not with --play";
    return std::string();
}

// "ultrafast, superfast, ..., veryslow"
std::string PresetNames()
{
    std::string names;
    for (const char *preset : kPresets)
        names += (names.empty() ? "" : ", ") + std::string(preset);
    return names;
}

// Bits per second from "192k" or "192000"; false when it is neither or out of range.
bool ReadAudioBitrate(const std::string &text, int &bitrate)
{
    const bool kilo = !text.empty() && (text.back() == 'k' || text.back() == 'K');
    int number = 0;
    if (!ReadSide(kilo ? text.substr(0, text.size() - 1) : text, number))
        return false;
    const long long bits = number * (kilo ? 1000LL : 1LL);
    bitrate = static_cast<int>(std::clamp(bits, 0LL, kMaxAudioBitrate + 1));
    return bits >= kMinAudioBitrate && bits <= kMaxAudioBitrate;
}

} // namespace

// --- Command line -------------------------------------------------------------

CommandLine ParseCommandLine(const std::vector<std::string> &arguments)
{
    CommandLine line;
    auto given = [&arguments](bool (*test)(const std::string &)) {
        return std::any_of(arguments.begin(), arguments.end(),
                           [test](const std::string &a) { return test(OptionName(a)); });
    };
    if (given([](const std::string &n) { return n == "--help"; })) {
        line.action = CommandLineAction::Help;
        return line;
    }
    if (given([](const std::string &n) { return n == "--version"; })) {
        line.action = CommandLineAction::Version;
        return line;
    }
    if (given([](const std::string &n) { return n == "--play"; }))
        line.action = CommandLineAction::Play;
    else if (given(IsExportOption))
        line.action = CommandLineAction::Export;

    const CommandLineAction action = line.action;
    auto refuse = [&line](const std::string &why) {
        line.action = CommandLineAction::Refuse;
        line.error = why;
        return line;
    };

    bool haveOutput = false;
    std::string crfText, presetText, audioText;
    std::vector<std::string> seen;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        const std::string name = OptionName(argument);
        // The window hands every argument but its own to Qt.
        if (action == CommandLineAction::Window && !IsViewOption(name)) {
            line.forQt.push_back(argument);
            continue;
        }
        if (!IsExportOption(name) && !IsViewOption(name))
            return RefuseUnknown(argument);
        const std::string why = NotAllowed(action, name);
        if (!why.empty())
            return refuse(why);
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            return refuse(name + " is given twice");
        seen.push_back(name);
        std::string value;
        if (IsFlag(name)) {
            if (name.size() < argument.size())
                return refuse(name + " takes no value");
        } else if (name == "--output") {
            // The screen is optional: the next argument is it unless it is an option.
            if (name.size() < argument.size())
                value = argument.substr(name.size() + 1);
            else if (i + 1 < arguments.size() && arguments[i + 1].rfind('-', 0) != 0)
                value = arguments[++i];
        } else if (name.size() < argument.size()) {
            value = argument.substr(name.size() + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return refuse(name + " needs a value");
        }

        ExportOptions &o = line.options;
        if (name == "--export") {
            std::string why;
            if (!FormatOf(value, o.format, why))
                return refuse(why);
            o.output = value;
            haveOutput = true;
        } else if (name == "--fps") {
            if (!ReadNumber(value, o.fps) || o.fps <= 0.0 || o.fps > kMaxFps)
                return refuse("--fps must be a number above 0 and at most 1000, not '" + value + "'");
        } else if (name == "--output") {
            line.view.output = true;
            line.view.outputScreen = value;
        } else if (name == "--output-size") {
            ViewOptions &v = line.view;
            const size_t x = value.find_first_of("xX");
            if (x == std::string::npos || !ReadSide(value.substr(0, x), v.outputWidth) ||
                !ReadSide(value.substr(x + 1), v.outputHeight) || v.outputWidth < 1 || v.outputHeight < 1 ||
                v.outputWidth > kMaxWindowSide || v.outputHeight > kMaxWindowSide)
                return refuse("--output-size must be WIDTHxHEIGHT in pixels, at most " +
                              std::to_string(kMaxWindowSide) + "x" + std::to_string(kMaxWindowSide) +
                              ", e.g. 1920x1080, not '" + value + "'");
        } else if (name == "--size") {
            const size_t x = value.find_first_of("xX");
            if (x == std::string::npos || !ReadSide(value.substr(0, x), o.width) ||
                !ReadSide(value.substr(x + 1), o.height) || o.width < 1 || o.height < 1)
                return refuse("--size must be WIDTHxHEIGHT in pixels, e.g. 1280x720, not '" + value + "'");
            if (action != CommandLineAction::Export && (o.width > kMaxWindowSide || o.height > kMaxWindowSide))
                return refuse("--size of a window must be at most " + std::to_string(kMaxWindowSide) + "x" +
                              std::to_string(kMaxWindowSide) + ", not '" + value + "'");
            line.view.sizeGiven = true;
            line.view.width = o.width;
            line.view.height = o.height;
        } else if (name == "--input") {
            if (value.empty())
                return refuse("--input needs a part of an input's name, e.g. --input usb");
            line.view.soundInput = value;
        } else if (name == "--from") {
            if (!ReadNumber(value, o.from) || o.from < 0.0)
                return refuse("--from must be a number of seconds, 0 or more, not '" + value + "'");
        } else if (name == "--to") {
            if (!ReadNumber(value, o.to) || o.to < 0.0)
                return refuse("--to must be a number of seconds, 0 or more, not '" + value + "'");
            o.toGiven = true;
        } else if (name == "--crf") {
            crfText = value; // its range depends on the format
        } else if (name == "--preset") {
            if (std::find_if(std::begin(kPresets), std::end(kPresets),
                             [&](const char *preset) { return value == preset; }) == std::end(kPresets))
                return refuse("--preset must be one of " + PresetNames() + ", not '" + value + "'");
            o.preset = presetText = value;
        } else if (name == "--audio-bitrate") {
            if (!ReadAudioBitrate(value, o.audioBitrate))
                return refuse("--audio-bitrate must be from " + std::to_string(kMinAudioBitrate / 1000) + "k to " +
                              std::to_string(kMaxAudioBitrate / 1000) + "k bits per second (e.g. 192k or 192000), not '" +
                              value + "'");
            audioText = value;
        } else if (name == "--overlays") {
            o.overlays = true;
        } else if (name == "--no-preroll") {
            o.preroll = false;
        } else if (name == "--window") {
            line.view.windowed = true;
        }
    }
    if (action != CommandLineAction::Export)
        return line;
    ExportOptions &o = line.options;
    if (!haveOutput)
        return refuse("--export OUT is missing, e.g. velkaro --export demo.mp4");
    if (o.toGiven && o.from >= o.to)
        return refuse("--from (" + Seconds(o.from) + ") must come before --to (" + Seconds(o.to) + ")");
    // 4:2:0 video halves the colour resolution in both directions.
    if (IsVideoFormat(o.format) && (o.width % 2 || o.height % 2))
        return refuse("a video needs an even width and height, not " + std::to_string(o.width) + "x" +
                      std::to_string(o.height));
    const std::string tooLarge = EncoderSizeLimit(o);
    if (!tooLarge.empty())
        return refuse(tooLarge);
    if (!crfText.empty() && !IsVideoFormat(o.format))
        return refuse("--crf sets the quality of a video; PNG frames are lossless");
    if (!crfText.empty() && (!ReadSide(crfText, o.crf) || o.crf > MaxCrf(o.format)))
        return refuse(std::string("--crf for ") + (o.format == ExportFormat::Webm ? "VP9 (.webm)" : "H.264") +
                      " must be a whole number from 0 to " + std::to_string(MaxCrf(o.format)) + ", not '" +
                      crfText + "'");
    if (!presetText.empty() && !IsVideoFormat(o.format))
        return refuse("--preset sets the speed of the H.264 encoder; PNG frames have none");
    if (!presetText.empty() && o.format == ExportFormat::Webm)
        return refuse("--preset sets the speed of the H.264 encoder (.mp4, .mov, .mkv); a .webm is VP9");
    if (!audioText.empty() && !IsVideoFormat(o.format))
        return refuse("--audio-bitrate sets the bitrate of a video's soundtrack; PNG frames have no sound");
    return line;
}

CommandLine RefuseUnknown(const std::string &argument)
{
    CommandLine line;
    line.action = CommandLineAction::Refuse;
    line.error = "unknown argument '" + argument + "'";
    line.withUsage = true;
    return line;
}

int AudioBitrate(const ExportOptions &options)
{
    if (options.audioBitrate > 0)
        return options.audioBitrate;
    return options.format == ExportFormat::Webm ? kDefaultOpusBitrate : kDefaultAacBitrate;
}

int DefaultCrf(ExportFormat format)
{
    return format == ExportFormat::PngSequence ? -1 : format == ExportFormat::Webm ? 31 : 18;
}

int MaxCrf(ExportFormat format)
{
    return format == ExportFormat::PngSequence ? -1 : format == ExportFormat::Webm ? 63 : 51;
}

const char *ExportUsage()
{
    return "Usage: velkaro [--size WxH] [--input NAME] [--output [SCREEN]] [--output-size WxH]\n"
           "                                   open the production in this folder in a window\n"
           "       velkaro --play [--window] [--size WxH] [--input NAME]\n"
           "       velkaro --export OUT [--fps N] [--size WxH] [--from SECONDS] [--to SECONDS]\n"
           "               [--crf N] [--preset NAME] [--audio-bitrate N] [--overlays] [--no-preroll]\n"
           "       velkaro --help | --version\n"
           "The window and --play also take --midi [NAME] and --osc [ADDRESS:]PORT.\n"
           "\n"
           "--size WxH sets the size of the view in pixels. The window also takes Qt's\n"
           "own options (-platform, -style, -geometry, -display, ...).\n"
           "--input NAME makes the spectrum, the level and the onsets follow the live\n"
           "sound input whose name contains NAME (any case) instead of the music.\n"
           "--output [SCREEN] shows the picture alone, borderless, on another screen (by\n"
           "number or name; the first one besides the window's by default); the window\n"
           "keeps its view with the grid. --output-size WxH fixes the picture's size\n"
           "(default: the output screen's). F3 opens and closes the output.\n"
           "\n"
           "--midi [NAME] opens the MIDI inputs whose name contains NAME (all of them\n"
           "without NAME), and those that appear later; --osc PORT listens for OSC on\n"
           "UDP PORT of 127.0.0.1 (--osc 0.0.0.0:PORT: on every interface).\n"
           "\n"
           "--play plays the production in this folder as a released demo: full screen\n"
           "(--window: in a window, 1280x720 unless --size), the view only, no grid or\n"
           "marker, no mouse cursor. It ends when the music reaches its end, or on Escape.\n"
           "\n"
           "--export renders the production frame by frame, without a window, and writes\n"
           "it with its music to OUT:\n"
           "  OUT.mp4, .mov, .mkv   H.264 video (yuv420p) with AAC audio\n"
           "  OUT.webm              VP9 video with Opus audio\n"
           "  shots/%05d.png        numbered PNG frames from 0, no audio\n"
           "Options:\n"
           "  --fps N          frames per second (default 60, at most 1000)\n"
           "  --size WxH       picture size in pixels (default 1280x720)\n"
           "  --from SECONDS   music time of the first frame (default 0)\n"
           "  --to SECONDS     music time where the export ends (default: the end of\n"
           "                   the music, or 10 s without music)\n"
           "  --crf N          video quality, lower is better and larger: H.264 0-51\n"
           "                   (default 18), VP9 0-63 (default 31)\n"
           "  --preset NAME    the H.264 encoder's speed: ultrafast, superfast, veryfast\n"
           "                   (default), faster, fast, medium, slow, slower, veryslow;\n"
           "                   slower makes a smaller file at the same quality\n"
           "  --audio-bitrate N  the soundtrack's bitrate, 32k to 510k, e.g. 256k or\n"
           "                   256000 (default: AAC 192k, Opus 128k)\n"
           "  --overlays       keep the grid, the floor's outline and the pick marker\n"
           "  --no-preroll     start at --from at once; by default update() runs for\n"
           "                   every frame before --from first (nothing drawn), so\n"
           "                   the production's state is the one a whole export has\n"
           "  --help           this text\n"
           "  --version        the program's version\n"
           "Needs ffmpeg (Debian package ffmpeg) and a display for OpenGL; on a machine\n"
           "without one: xvfb-run -a velkaro --export demo.mp4\n";
}

std::string ResolveExportRange(ExportOptions &options, double musicSeconds, std::string *note)
{
    if (musicSeconds > 0.0 && options.from >= musicSeconds)
        return "--from " + Seconds(options.from) + " is beyond the end of the music (" +
               Seconds(musicSeconds) + ")";
    if (!options.toGiven) {
        options.to = musicSeconds > 0.0 ? musicSeconds : kDefaultSecondsWithoutMusic;
        options.toGiven = true;
    }
    if (options.from >= options.to)
        return "--from (" + Seconds(options.from) + ") must come before the end (" + Seconds(options.to) + ")";
    if (musicSeconds > 0.0 && options.to > musicSeconds) {
        if (note)
            *note = "--to " + Seconds(options.to) + " is beyond the end of the music; the export ends with it at " +
                    Seconds(musicSeconds);
        options.to = musicSeconds;
    }
    if (musicSeconds <= 0.0 && options.to - options.from > kMaxSecondsWithoutMusic)
        return "--from " + Seconds(options.from) + " to --to " + Seconds(options.to) +
               " is longer than 24 hours; without music the span must be shorter";
    return std::string();
}

long ExportFrameCount(const ExportOptions &options)
{
    const double frames = (options.to - options.from) * options.fps;
    return std::max(1L, static_cast<long>(std::ceil(frames - 1e-6)));
}

bool IsVideoFormat(ExportFormat format)
{
    return format != ExportFormat::PngSequence;
}

std::string PngFrameName(const std::string &pattern, long frame)
{
    FramePattern split;
    if (!SplitPattern(pattern, split, nullptr))
        return pattern;
    char number[64];
    std::snprintf(number, sizeof(number), split.zeroPad ? "%0*ld" : "%*ld", split.width, frame);
    return split.before + number + split.after;
}

// --- ffmpeg -------------------------------------------------------------------

namespace {

// The codecs and container of the export's format, then `target`. The
// video is encoded, or copied when `copyVideo`; `audio`: there is a second
// input to encode as the format's audio.
void AddOutput(std::vector<std::string> &a, const ExportOptions &options, bool copyVideo, bool audio,
               const std::string &target)
{
    const std::string crf = std::to_string(options.crf >= 0 ? options.crf : DefaultCrf(options.format));
    switch (options.format) {
    case ExportFormat::Mp4:
    case ExportFormat::Mov:
    case ExportFormat::Mkv:
        if (copyVideo)
            a.insert(a.end(), {"-c:v", "copy"});
        else
            a.insert(a.end(), {"-c:v", "libx264", "-preset", options.preset, "-crf", crf, "-pix_fmt", "yuv420p"});
        if (audio)
            a.insert(a.end(), {"-c:a", "aac", "-b:a", std::to_string(AudioBitrate(options))});
        if (options.format == ExportFormat::Mkv)
            a.insert(a.end(), {"-f", "matroska"});
        else // the index at the front, so players start before the whole file is read
            a.insert(a.end(), {"-movflags", "+faststart", "-f", options.format == ExportFormat::Mp4 ? "mp4" : "mov"});
        break;
    case ExportFormat::Webm:
        if (copyVideo)
            a.insert(a.end(), {"-c:v", "copy"});
        else
            a.insert(a.end(), {"-c:v", "libvpx-vp9", "-pix_fmt", "yuv420p", "-crf", crf, "-b:v", "0",
                               "-deadline", "realtime", "-cpu-used", "8", "-row-mt", "1"});
        if (audio)
            a.insert(a.end(), {"-c:a", "libopus", "-b:a", std::to_string(AudioBitrate(options))});
        a.insert(a.end(), {"-f", "webm"});
        break;
    case ExportFormat::PngSequence:
        a.insert(a.end(), {"-c:v", "png", "-pix_fmt", "rgb24", "-start_number", "0", "-f", "image2"});
        break;
    }
    a.push_back(target);
}

} // namespace

std::vector<std::string> FfmpegArguments(const ExportOptions &options, const std::string &target)
{
    char number[64];
    std::vector<std::string> a = {"-hide_banner", "-loglevel", "error", "-nostats", "-y"};
    // The frames: raw rgb24, top row first, at the export's rate.
    std::snprintf(number, sizeof(number), "%.9g", options.fps);
    a.insert(a.end(), {"-f", "rawvideo", "-pix_fmt", "rgb24", "-video_size",
                       std::to_string(options.width) + "x" + std::to_string(options.height),
                       "-framerate", number, "-i", "pipe:0", "-map", "0:v:0"});
    AddOutput(a, options, false, false, target);
    return a;
}

std::vector<std::string> MuxArguments(const ExportOptions &options, const std::string &video,
                                      const std::string &soundtrack, int rate, const std::string &target)
{
    std::vector<std::string> a = {"-hide_banner", "-loglevel", "error", "-nostats", "-y", "-i", video,
                                  "-f", "f32le", "-ar", std::to_string(rate), "-ac", "2", "-i", soundtrack,
                                  "-map", "0:v:0", "-map", "1:a:0"};
    AddOutput(a, options, true, true, target);
    return a;
}

ControlCommandLine ParseControlCommandLine(const std::vector<std::string> &arguments)
{
    ControlCommandLine line;
    bool oscGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        const std::string name = OptionName(argument);
        const bool inline_ = name.size() < argument.size();
        if (name == "--midi") {
            if (line.midi)
                line.error = "--midi is given twice";
            line.midi = true;
            if (inline_)
                line.midiName = argument.substr(name.size() + 1);
            else if (i + 1 < arguments.size() && arguments[i + 1].rfind('-', 0) != 0)
                line.midiName = arguments[++i];
        } else if (name == "--osc") {
            if (oscGiven)
                line.error = "--osc is given twice";
            oscGiven = true;
            if (inline_)
                line.osc = argument.substr(name.size() + 1);
            else if (i + 1 < arguments.size())
                line.osc = arguments[++i];
            if (line.osc.empty() && line.error.empty())
                line.error = "--osc needs a port, or ADDRESS:PORT (e.g. --osc 9000, --osc 0.0.0.0:9000)";
        } else {
            line.others.push_back(argument);
        }
    }
    return line;
}
