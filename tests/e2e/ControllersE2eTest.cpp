// End to end: a performer's controllers. The program is started with
// --midi and --osc as a user would; a knob is an RtMidi port on the test's
// own JACK server, the OSC comes from liblo's oscsend.
#include "Program.h"

#include "JackServer.h"

#include <rtmidi/RtMidi.h>

#include <QRegularExpression>

namespace {

// update() writes what it sees: the OSC name and level, CC 7, the track
// "fade" (which sync() makes), the whole row, and the MIDI status bytes
// OnMidi saw.
const char kProduction[] =
    "midi = '' function OnMidi(status) midi = midi .. status .. ',' end\n"
    "function update() local f = io.open('out.txt', 'w') f:write(string.format('%s %.3f %.3f %.3f row=%d midi=%s ', "
    "tostring(oscValue('/name')), oscValue('/level') or -1, midiCC(7), sync('fade'), math.floor(getRow()), midi)) f:close() end\n";

class Controllers : public EndToEndTest
{
protected:
    // The program's environment again, now that the server's name is in ours.
    Controllers() { environment = ProgramEnvironment(); }
    void Send(const std::vector<unsigned char> &message) { knobs->sendMessage(&message); }
    void Knob(int value) { Send({0xB0, 7, static_cast<unsigned char>(value)}); }
    int Row() { return Text("out.txt").section("row=", 1).section(' ', 0, 0).toInt(); }

    JackServer jack;
    std::unique_ptr<RtMidiOut> knobs;
};

} // namespace

TEST_F(Controllers, AKnobOnJackAndOscDriveTheProductionAndAKnobIsLearntRecordedAndTakenBack)
{
    ASSERT_TRUE(jack.up()) << "the JACK server did not come up";
    Start(kProduction, {"--midi", "knobs", "--osc", "127.0.0.1:0"});
    ASSERT_TRUE(WaitForDebug("no MIDI input matches \"knobs\" (inputs: ")) << Debug().toStdString();
    // The port plugged in later is opened.
    knobs = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "sender");
    knobs->openVirtualPort("knobs");
    ASSERT_TRUE(WaitForDebug("MIDI input \"sender:knobs\" opened")) << Debug().toStdString();
    ASSERT_TRUE(WaitForDebug("listening for OSC on 127.0.0.1:"));
    const QString port = Debug().section("listening for OSC on 127.0.0.1:", 1).section('\n', 0, 0);

    RunTool("oscsend", {"127.0.0.1", port, "/level", "f", "0.5"});
    RunTool("oscsend", {"127.0.0.1", port, "/name", "s", "intro"});
    // A note, SysEx and clock (not handed on), pitch bend, the knob: in order.
    for (const std::vector<unsigned char> &message : {std::vector<unsigned char>{0x90, 60, 100}, {0xF0, 1, 2, 0xF7}, {0xF8}, {0xE0, 0, 64}})
        Send(message);
    Knob(127);
    EXPECT_TRUE(WaitForFile(path("out.txt"), "intro 0.500 1.000 0.000 row=")) << Text("out.txt").toStdString();
    EXPECT_TRUE(Text("out.txt").contains("midi=144,224,176, ")) << Text("out.txt").toStdString();

    // F2, then L on the track "fade": the next knob moved is bound to it.
    Keys({"key", "F2"});
    Keys({"key", "l"});
    Knob(0);
    ASSERT_TRUE(WaitForFile(path("sync.txt"), "#control fade midi-cc 1 7\n")) << Text("sync.txt").toStdString();
    Knob(64);
    EXPECT_TRUE(WaitForFile(path("out.txt"), "0.504 0.504 row=")) << "the bound track follows its knob";

    // R, and the own clock plays: the knob's movements become keys, one a row.
    Keys({"key", "r"});
    for (int value = 10; value <= 100; value += 30) {
        const int row = Row();
        Knob(value);
        ASSERT_TRUE(WaitUntil([&] { return Row() > row + 1; })) << "the clock plays";
    }
    Keys({"key", "p"});
    const QString recorded = Text("sync.txt");
    EXPECT_EQ(recorded.count(" linear\n"), 4) << recorded.toStdString();
    EXPECT_TRUE(recorded.contains(QRegularExpression(" 0\\.0787402 linear\n.* 0\\.787402 linear\n",
                                                     QRegularExpression::DotMatchesEverythingOption)))
        << recorded.toStdString();
    // Ctrl+Z takes the pass back.
    Keys({"key", "ctrl+z"});
    EXPECT_TRUE(WaitUntil([&] { return !Text("sync.txt").contains("linear"); })) << Text("sync.txt").toStdString();
    EXPECT_TRUE(Text("sync.txt").contains("#control fade midi-cc 1 7\n"));

    // The knob's port goes: closed with one line, which the band shows.
    knobs.reset();
    EXPECT_TRUE(WaitForDebug("MIDI input \"sender:knobs\" has gone: closed"));
    EXPECT_GT(BandPixels(window, true), 20);
}
