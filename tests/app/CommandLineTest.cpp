// The command line, pure: the way through main, refusals with one
// line, the range against the music, the frame count, PNG frame names and
// the WebM soundtrack's codec.
#include "CommandLine.h"

#include <gmock/gmock.h>

#include <algorithm>

namespace {

using ::testing::HasSubstr;

TEST(CommandLine, TheActionAndEveryKindOfBadArgument)
{
    for (const std::vector<std::string> &arguments : {std::vector<std::string>{}, {"-platform", "xcb"}, {"demo.mp4"}, {"--exported"}})
        EXPECT_EQ(ParseCommandLine(arguments).action, CommandLineAction::Window);
    EXPECT_EQ(ParseCommandLine({"--export", "a.avi", "--help"}).action, CommandLineAction::Help);
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
        {{"--play", "--fullscreen"}, ""}, {{"--export", "a.mp4", "--crf", "52"}, ""}, {{"--export", "a.webm", "--crf", "64"}, ""},
        {{"--export", "a.mp4", "--crf", "high"}, ""}, {{"--export", "%d.png", "--crf", "1"}, ""}, {{"--export", "a.mp4", "--overlays=no"}, ""}};
    for (const auto &[arguments, reason] : refusals) {
        const CommandLine line = ParseCommandLine(arguments);
        EXPECT_EQ(line.action, CommandLineAction::Refuse) << reason << arguments.back();
        EXPECT_THAT(line.error, HasSubstr(reason));
        EXPECT_EQ(line.error.find('\n'), std::string::npos);
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

// The end-to-end exports run ffmpeg on MP4, MKV, a silent WebM and PNG
// frames; a WebM soundtrack is muxed as Opus, which WebM requires.
TEST(CommandLine, AWebmSoundtrackIsOpus)
{
    ExportOptions o;
    o.format = ExportFormat::Webm;
    const std::vector<std::string> a = MuxArguments(o, "v", "a", 44100, "out"), opus = {"-c:a", "libopus"};
    EXPECT_NE(std::search(a.begin(), a.end(), opus.begin(), opus.end()), a.end());
}

} // namespace
