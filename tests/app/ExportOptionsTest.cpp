// The export's command line, pure: which way through main, every refusal
// with its one line, the defaults against the music, the frame count, PNG
// frame names and what ffmpeg is asked to do.
#include "ExportOptions.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

using ::testing::HasSubstr;

CommandLine Parse(std::vector<std::string> arguments) { return ParseCommandLine(arguments); }

TEST(ExportOptions, ArgumentsWithoutExportOptionsStartTheWindowAndHelpWinsOverEverything)
{
    for (const std::vector<std::string> &arguments :
         {std::vector<std::string>{}, {"-platform", "xcb"}, {"demo.mp4"}, {"--exported"}})
        EXPECT_EQ(Parse(arguments).action, CommandLineAction::Window) << arguments.size();
    EXPECT_EQ(Parse({"--help"}).action, CommandLineAction::Help);
    EXPECT_EQ(Parse({"--export", "a.avi", "--help"}).action, CommandLineAction::Help);
    EXPECT_FALSE(std::string(ExportUsage()).empty());
}

TEST(ExportOptions, EveryBadArgumentIsRefusedWithOneLine)
{
    const struct
    {
        std::vector<std::string> arguments;
        const char *reason;
    } cases[] = {
        {{"--fps", "30"}, "--export OUT is missing"},
        {{"--export"}, "--export needs a value"},
        {{"--export", ""}, "needs a file name"},
        {{"--export", "a.mp4", "extra"}, "unknown argument 'extra'"},
        {{"--export", "a.mp4", "-v"}, "unknown argument '-v'"},
        {{"--export", "a.mp4", "--export", "b.mp4"}, "--export is given twice"},
        {{"--export", "a.avi"}, "cannot tell the format of 'a.avi'"},
        {{"--export", "video"}, "cannot tell the format"},
        {{"--export", "a%03d.mp4"}, "cannot tell the format"},
        {{"--export", "shots/a.png"}, "exactly one frame number"},
        {{"--export", "shots/%d-%d.png"}, "exactly one frame number"},
        {{"--export", "shots/%s.png"}, "must be %d, %Nd or %0Nd"},
        {{"--export", "shots/%x.png"}, "must be %d, %Nd or %0Nd"},
        {{"--export", "shots%d/a.png"}, "in the PNG file name, not in its folder"},
        {{"--export", "a.mp4", "--fps", "0"}, "--fps must be"},
        {{"--export", "a.mp4", "--fps", "-5"}, "--fps must be"},
        {{"--export", "a.mp4", "--fps", "1000.5"}, "--fps must be"},
        {{"--export", "a.mp4", "--fps", "30fps"}, "--fps must be"},
        {{"--export", "a.mp4", "--fps", "nan"}, "--fps must be"},
        {{"--export", "a.mp4", "--fps"}, "--fps needs a value"},
        {{"--export", "a.mp4", "--size", "1280"}, "--size must be WIDTHxHEIGHT"},
        {{"--export", "a.mp4", "--size", "0x720"}, "--size must be WIDTHxHEIGHT"},
        {{"--export", "a.mp4", "--size", "-2x720"}, "--size must be WIDTHxHEIGHT"},
        {{"--export", "a.mp4", "--size", "1280x720x3"}, "--size must be WIDTHxHEIGHT"},
        {{"--export", "a.mp4", "--size", "99998x10"}, "beyond what the encoder takes; at most 16384x10"},
        {{"--export", "a.mkv", "--size", "16384x16384"}, "beyond what the encoder takes; at most 16254x16254"},
        {{"--export", "%d.png", "--size", "70000x65536"}, "beyond what the encoder takes; at most 16255x16255"},
        {{"--export", "a.mp4", "--size", "641x360"}, "even width and height"},
        {{"--export", "a.mp4", "--from", "-1"}, "--from must be"},
        {{"--export", "a.mp4", "--from", "inf"}, "--from must be"},
        {{"--export", "a.mp4", "--to", "x"}, "--to must be"},
        {{"--export", "a.mp4", "--from", "3", "--to", "3"}, "must come before --to"},
        {{"--export", "a.mp4", "--from=4", "--to=2"}, "must come before --to"},
    };
    for (const auto &c : cases) {
        const CommandLine line = Parse(c.arguments);
        EXPECT_EQ(line.action, CommandLineAction::Refuse) << c.reason;
        EXPECT_THAT(line.error, HasSubstr(c.reason));
        EXPECT_EQ(line.error.find('\n'), std::string::npos) << line.error;
    }
}

TEST(ExportOptions, GoodArgumentsAndTheirDefaults)
{
    // Defaults, then every option in any order (odd sizes are fine for PNG).
    const struct { std::vector<std::string> arguments; ExportFormat format; double fps, from, to; int width, height; bool toGiven; }
        cases[] = {{{"--export", "demo.mp4"}, ExportFormat::Mp4, 60, 0, 0, 1280, 720, false},
                   {{"--to=2.5", "--size", "641X361", "--export=shots/%05d.PNG", "--fps", "29.97", "--from", "0.5"},
                    ExportFormat::PngSequence, 29.97, 0.5, 2.5, 641, 361, true}};
    for (const auto &c : cases) {
        const CommandLine line = Parse(c.arguments);
        ASSERT_EQ(line.action, CommandLineAction::Export) << line.error;
        const ExportOptions &o = line.options;
        EXPECT_EQ(o.format, c.format);
        EXPECT_EQ(std::vector<double>({o.fps, o.from, o.width * 1.0, o.height * 1.0}),
                  std::vector<double>({c.fps, c.from, c.width * 1.0, c.height * 1.0}));
        EXPECT_EQ(o.toGiven, c.toGiven);
        EXPECT_EQ(o.toGiven ? o.to : 0.0, c.to);
    }
    for (const auto &[name, format] : {std::pair{"a.MOV", ExportFormat::Mov}, {"dir.x/a.mkv", ExportFormat::Mkv},
                                       {"a.webm", ExportFormat::Webm}})
        EXPECT_EQ(Parse({"--export", name}).options.format, format) << name;
}

TEST(ExportOptions, TheRangeSettlesAgainstTheMusicAndCountsWholeFrames)
{
    const struct
    {
        double from, to;
        bool toGiven;
        double music; // < 0: no music
        double resolvedTo;
        const char *reason; // empty: accepted
        double fps;
        long frames;
    } cases[] = {
        {0, 0, false, 12.5, 12.5, "", 60, 750},
        {0, 0, false, -1, 10, "", 60, 600},
        {2, 0, false, -1, 10, "", 10, 80},
        {0, 1.1, true, -1, 1.1, "", 10, 11},   // 1.1 * 10 is 11.000000000000002
        {0, 1.05, true, 4, 1.05, "", 10, 11},  // a partial frame counts
        {0, 0.001, true, 4, 0.001, "", 60, 1},
        {1, 8, true, 5, 5, "", 2, 8},          // --to beyond the music ends with it
        {0, 86401, true, -1, 0, "longer than 24 hours", 60, 0},
        {5, 0, false, 5, 0, "beyond the end of the music", 60, 0},
        {12, 0, false, -1, 0, "must come before the end", 60, 0},
    };
    for (const auto &c : cases) {
        ExportOptions options;
        options.from = c.from;
        options.to = c.to;
        options.toGiven = c.toGiven;
        options.fps = c.fps;
        const std::string why = ResolveExportRange(options, c.music);
        if (*c.reason) {
            EXPECT_THAT(why, HasSubstr(c.reason)) << c.from;
            continue;
        }
        ASSERT_EQ(why, "") << c.from << " " << c.to;
        EXPECT_DOUBLE_EQ(options.to, c.resolvedTo);
        EXPECT_EQ(ExportFrameCount(options), c.frames) << c.from << " " << options.to << " " << c.fps;
    }
}

TEST(ExportOptions, PngFrameNamesArePrintfStyle)
{
    for (const auto &[pattern, frame, name] :
         {std::tuple{"shots/%05d.png", 7L, "shots/00007.png"}, {"%d.png", 123L, "123.png"},
          {"f%3d.png", 4L, "f  4.png"}, {"100%%-%02d.png", 3L, "100%-03.png"}, {"%02d.png", 123L, "123.png"}})
        EXPECT_EQ(PngFrameName(pattern, frame), name);
}

TEST(ExportOptions, FfmpegGetsRawFramesAndTheMusicOnlyForVideo)
{
    auto has = [](const std::vector<std::string> &a, const std::vector<std::string> &run) {
        return std::search(a.begin(), a.end(), run.begin(), run.end()) != a.end();
    };
    ExportOptions options;
    options.width = 640;
    options.height = 360;
    options.fps = 30;
    options.from = 1.5;
    options.to = 4;
    auto a = FfmpegArguments(options, "/t/.demo.part", "/p/music.mp3");
    EXPECT_TRUE(has(a, {"-f", "rawvideo", "-pix_fmt", "rgb24", "-video_size", "640x360", "-framerate", "30",
                        "-i", "pipe:0"}));
    EXPECT_TRUE(has(a, {"-ss", "1.500000", "-t", "2.500000", "-i", "/p/music.mp3"}));
    EXPECT_TRUE(has(a, {"-c:v", "libx264"}) && has(a, {"-pix_fmt", "yuv420p"}) && has(a, {"-c:a", "aac"}));
    EXPECT_TRUE(has(a, {"-f", "mp4", "/t/.demo.part"}));

    options.format = ExportFormat::Webm;
    a = FfmpegArguments(options, "out", "/p/music.mp3");
    EXPECT_TRUE(has(a, {"-c:v", "libvpx-vp9"}) && has(a, {"-c:a", "libopus"}) && has(a, {"-f", "webm", "out"}));
    a = FfmpegArguments(options, "out", "");
    EXPECT_FALSE(has(a, {"-map", "1:a:0"}));

    options.format = ExportFormat::PngSequence;
    a = FfmpegArguments(options, "tmp/%08d.png", "/p/music.mp3");
    EXPECT_FALSE(has(a, {"-i", "/p/music.mp3"}));
    EXPECT_TRUE(has(a, {"-c:v", "png", "-pix_fmt", "rgb24", "-start_number", "0", "-f", "image2", "tmp/%08d.png"}));
}

} // namespace
