// The command line, pure.
#include "CommandLine.h"

#include <gmock/gmock.h>

#include <algorithm>

namespace {

using ::testing::HasSubstr;

TEST(CommandLine, TheActionAndEveryKindOfBadArgument)
{
    // The window hands what is not its own to Qt, which takes out its options; the rest is refused in main.
    for (const std::vector<std::string> &arguments : {std::vector<std::string>{}, {"-platform", "xcb"}, {"demo.mp4"}, {"--exported"}}) {
        EXPECT_EQ(ParseCommandLine(arguments).action, CommandLineAction::Window);
        EXPECT_EQ(ParseCommandLine(arguments).forQt, arguments);
    }
    const CommandLine sized = ParseCommandLine({"-style", "fusion", "--size=320x200", "-geometry", "+0+0"});
    EXPECT_EQ(sized.forQt, std::vector<std::string>({"-style", "fusion", "-geometry", "+0+0"}));
    EXPECT_EQ(std::vector<int>({sized.view.sizeGiven, sized.view.width, sized.view.height}), std::vector<int>({1, 320, 200}));
    EXPECT_EQ(ParseCommandLine({"--input", "usb", "-style", "fusion"}).view.soundInput, "usb");
    EXPECT_EQ(ParseCommandLine({"--play", "--input=USB mic"}).view.soundInput, "USB mic");
    const CommandLine output = ParseCommandLine({"--output", "-style", "fusion", "--output-size=1920x1080"});
    EXPECT_EQ(std::vector<int>({output.view.output, output.view.outputWidth, output.view.outputHeight}), std::vector<int>({1, 1920, 1080}));
    EXPECT_EQ(output.view.outputScreen, "");
    EXPECT_EQ(output.forQt, std::vector<std::string>({"-style", "fusion"}));
    EXPECT_EQ(ParseCommandLine({"--output", "HDMI-1"}).view.outputScreen, "HDMI-1");
    EXPECT_EQ(ParseCommandLine({"--output=2"}).view.outputScreen, "2");
    EXPECT_EQ(ParseCommandLine({"--export", "a.avi", "--help"}).action, CommandLineAction::Help);
    EXPECT_EQ(ParseCommandLine({"--export", "a.avi", "--version"}).action, CommandLineAction::Version);
    EXPECT_EQ(ParseCommandLine({"--version", "--help"}).action, CommandLineAction::Help);
    const std::pair<std::vector<std::string>, const char *> refusals[] = {
        {{"--fps", "30"}, "--export OUT is missing"}, {{"--export"}, "--export needs a value"},
        {{"--export", "a.mp4", "extra"}, "unknown argument 'extra'"}, {{"--export", "a.mp4", "--export", "b.mp4"}, "given twice"},
        {{"--export", "a%03d.mp4"}, "cannot tell the format"}, {{"--export", "s/%d-%d.png"}, "exactly one frame number"},
        {{"--export", "s/%x.png"}, "must be %d, %Nd or %0Nd"}, {{"--export", "s%d/a.png"}, "in the PNG file name, not in its folder"},
        {{"--export", "a.mp4", "--fps", "1000.5"}, "--fps must be"}, {{"--export", "a.mp4", "--fps", "nan"}, "--fps must be"},
        {{"--export", "a.mp4", "--size", "1280x720x3"}, "--size must be WIDTHxHEIGHT"},
        {{"--export", "a.mp4", "--size", "99998x10"}, "beyond what the encoder takes; at most 16384x10"},
        {{"--export", "a.mkv", "--size", "16384x16384"}, "beyond what the encoder takes; at most 16254x16254"},
        {{"--export", "a.mp4", "--size", "641x360"}, "even width and height"}, {{"--export", "a.mp4", "--from", "inf"}, "--from must be"},
        {{"--export", "a.mp4", "--from=4", "--to=2"}, "must come before --to"}, {{"--size", "320"}, ""}, {{"--size", "20000x100"}, ""},
        {{"--window"}, ""}, {{"--play", "--size", "0x1"}, ""}, {{"--play", "--window=yes"}, ""}, {{"--play", "--crf", "20"}, ""},
        {{"--play", "--fullscreen"}, "unknown argument '--fullscreen'"}, {{"--play", "-platform", "xcb"}, "unknown argument '-platform'"},
        {{"--play", "--export", "a.mp4"}, "--play and --export do not go together"}, {{"--fps", "9", "--play"}, "--fps goes with --export, not with --play"},
        {{"--export", "a.mp4", "--crf", "52"}, "--crf for H.264 must be a whole number from 0 to 51, not '52'"},
        {{"--crf", "-1", "--export", "a.mkv"}, "--crf for H.264 must be a whole number from 0 to 51, not '-1'"},
        {{"--export", "a.webm", "--crf", "64"}, "--crf for VP9 (.webm) must be a whole number from 0 to 63"},
        {{"--export", "a.mp4", "--crf", "high"}, "from 0 to 51, not 'high'"}, {{"--export", "%d.png", "--crf", "1"}, "PNG frames are lossless"},
        {{"--export", "a.mp4", "--overlays=no"}, "takes no value"}, {{"--export", "a.mp4", "--input", "usb"}, "--input goes with the window or --play"},
        {{"--play", "--input"}, "--input needs a value"}, {{"--output", "--output", "2"}, "--output is given twice"},
        {{"--play", "--output"}, "--output goes with the window"}, {{"--output-size", "1920"}, "--output-size must be WIDTHxHEIGHT"},
        {{"--output-size", "20000x10"}, "at most 16384x16384"}, {{"--input="}, "--input needs a part of an input's name"},
        {{"--export", "a.mp4", "--preset", "placebo"}, "--preset must be one of ultrafast, superfast, veryfast, faster, fast, medium, slow, slower, veryslow, not 'placebo'"},
        {{"--export", "a.mp4", "--preset", "Slow"}, "not 'Slow'"}, {{"--export", "a.webm", "--preset", "slow"}, "a .webm is VP9"},
        {{"--export", "%d.png", "--preset", "slow"}, "PNG frames have none"}, {{"--play", "--preset", "slow"}, "goes with --export"},
        {{"--export", "a.mp4", "--audio-bitrate", "31999"}, "--audio-bitrate must be from 32k to 510k bits per second"},
        {{"--export", "a.mp4", "--audio-bitrate", "511k"}, "not '511k'"}, {{"--export", "a.mp4", "--audio-bitrate", "999999999k"}, "not '999999999k'"},
        {{"--export", "a.mp4", "--audio-bitrate", "192kb"}, "not '192kb'"}, {{"--export", "a.mp4", "--audio-bitrate", "k"}, "not 'k'"},
        {{"--export", "a.mp4", "--audio-bitrate", "-192k"}, "not '-192k'"}, {{"--export", "%d.png", "--audio-bitrate", "192k"}, "PNG frames have no sound"}};
    for (const auto &[arguments, reason] : refusals) {
        const CommandLine line = ParseCommandLine(arguments);
        EXPECT_EQ(line.action, CommandLineAction::Refuse) << reason << arguments.back();
        EXPECT_THAT(line.error, HasSubstr(reason));
        EXPECT_EQ(line.error.find('\n'), std::string::npos);
        // Only an argument nobody knows brings the usage along.
        EXPECT_EQ(line.withUsage, line.error.rfind("unknown argument", 0) == 0) << line.error;
    }
}

TEST(CommandLine, ControllerOptionsAreTakenOutFirst)
{
    const struct { std::vector<std::string> arguments; bool midi; const char *name, *osc, *error; std::vector<std::string> others; } cases[] = {
        {{"--midi", "--play"}, true, "", "", "", {"--play"}},
        {{"--play", "--midi", "nano", "--osc", "9000"}, true, "nano", "9000", "", {"--play"}},
        {{"--midi=-x", "--osc=0.0.0.0:9000", "-style", "fusion"}, true, "-x", "0.0.0.0:9000", "", {"-style", "fusion"}},
        {{"--osc"}, false, "", "", "--osc needs a port, or ADDRESS:PORT (e.g. --osc 9000, --osc 0.0.0.0:9000)", {}},
        {{"--midi", "--midi"}, true, "", "", "--midi is given twice", {}},
    };
    for (const auto &c : cases) {
        const ControlCommandLine line = ParseControlCommandLine(c.arguments);
        EXPECT_EQ(std::tie(line.midi, line.midiName, line.osc, line.error, line.others),
                  std::tie(c.midi, c.name, c.osc, c.error, c.others)) << c.arguments.front();
    }
}

TEST(CommandLine, GoodArgumentsAndTheRangeAgainstTheMusic)
{
    const CommandLine line = ParseCommandLine({"--to=2.5", "--size", "641X361", "--export=shots/%05d.PNG", "--fps", "29.97", "--from", "0.5"});
    ASSERT_EQ(line.action, CommandLineAction::Export) << line.error;
    EXPECT_EQ(line.options.format, ExportFormat::PngSequence);
    EXPECT_EQ(std::vector<double>({line.options.fps, line.options.from, line.options.to, line.options.width * 1.0, line.options.height * 1.0}),
              std::vector<double>({29.97, 0.5, 2.5, 641, 361}));
    for (const auto &[name, format] : {std::pair{"a.MOV", ExportFormat::Mov}, {"dir.x/a.mkv", ExportFormat::Mkv}, {"a.webm", ExportFormat::Webm}})
        EXPECT_EQ(ParseCommandLine({"--export", name}).options.format, format) << name;
    // from, to (< 0: not given), music (< 0: none), fps; the end settled, the frames or the refusal.
    const struct { double from, to, music, fps, end; long frames; const char *reason; } ranges[] = {
        {0, -1, 12.5, 60, 12.5, 750, ""}, {2, -1, -1, 10, 10, 80, ""}, {0, 1.1, -1, 10, 1.1, 11, ""}, // 1.1 * 10 > 11
        {0, 1.05, 4, 10, 1.05, 11, ""}, {1, 8, 5, 2, 5, 8, ""}, {0, 86401, -1, 60, 0, 0, "longer than 24 hours"}, {5, -1, 5, 60, 0, 0, "beyond the end of the music"},
        {12, -1, -1, 60, 0, 0, "must come before the end"}};
    for (const auto &r : ranges) {
        ExportOptions o;
        o.from = r.from, o.to = std::max(r.to, 0.0), o.toGiven = r.to >= 0, o.fps = r.fps;
        const std::string why = ResolveExportRange(o, r.music);
        EXPECT_THAT(why, HasSubstr(r.reason)) << r.from;
        if (!*r.reason) {
            EXPECT_EQ(why, "");
            EXPECT_DOUBLE_EQ(o.to, r.end);
            EXPECT_EQ(ExportFrameCount(o), r.frames) << r.from << " " << o.to;
        }
    }
    for (const auto &[pattern, frame, name] : {std::tuple{"s/%05d.png", 7L, "s/00007.png"}, {"f%3d.png", 4L, "f  4.png"},
                                               {"100%%-%02d.png", 123L, "100%-123.png"}})
        EXPECT_EQ(PngFrameName(pattern, frame), name);
}

// A WebM soundtrack is Opus, which WebM requires.
TEST(CommandLine, TheEncodersGetTheirPresetQualityAndBitrate)
{
    const struct { std::vector<std::string> arguments, encode, mux; } cases[] = {
        {{"--export", "a.mp4"}, {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18"}, {"-c:a", "aac", "-b:a", "192000"}},
        {{"--export", "a.mkv", "--preset=veryslow", "--audio-bitrate", "256k", "--crf", "0"},
         {"-preset", "veryslow", "-crf", "0"}, {"-c:a", "aac", "-b:a", "256000"}},
        {{"--export", "a.mov", "--preset", "ultrafast", "--audio-bitrate", "510000"}, {"-preset", "ultrafast"}, {"-b:a", "510000"}},
        {{"--export", "a.webm"}, {"-c:v", "libvpx-vp9", "-pix_fmt", "yuv420p", "-crf", "31"}, {"-c:a", "libopus", "-b:a", "128000"}},
        {{"--export", "a.webm", "--audio-bitrate", "32K", "--crf", "63"}, {"-crf", "63"}, {"-c:a", "libopus", "-b:a", "32000"}},
    };
    const auto contains = [](const std::vector<std::string> &a, const std::vector<std::string> &part) {
        return std::search(a.begin(), a.end(), part.begin(), part.end()) != a.end();
    };
    for (const auto &c : cases) {
        const CommandLine line = ParseCommandLine(c.arguments);
        ASSERT_EQ(line.action, CommandLineAction::Export) << line.error;
        EXPECT_TRUE(contains(FfmpegArguments(line.options, "out"), c.encode)) << c.arguments[1];
        EXPECT_TRUE(contains(MuxArguments(line.options, "v", "a", 44100, "out"), c.mux)) << c.arguments[1];
    }
}

} // namespace
