// MIDI through JACK's dummy backend: the test starts its own JACK server
// (a name of its own, so nothing else on the machine is touched), sends
// from an RtMidi output port and reads what Velkaro's inputs received.
#include "Controllers.h"

#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include "JackServer.h"

#include <thread>

namespace {

class MidiThroughJack : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(jack.up()) << "the JACK server did not come up"; }

    // Takes messages until `count` have come.
    std::vector<ControlMessage> Take(std::size_t count)
    {
        std::vector<ControlMessage> got;
        WaitForCondition([&] {
            controllers.take(got);
            return got.size() >= count;
        });
        return got;
    }

    JackServer jack;
    Controllers controllers;
};

} // namespace

TEST_F(MidiThroughJack, ControlChangesAndNotesArriveInOrderAndPortsComeAndGo)
{
    const std::string missing = controllers.midi().want("knobs");
    EXPECT_EQ(missing.rfind("no MIDI input matches \"knobs\" (inputs: ", 0), 0u) << missing;

    auto out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "sender");
    out->openVirtualPort("knobs");
    std::vector<std::string> notes;
    ASSERT_TRUE(WaitForCondition([&] {
        controllers.poll(Controllers::Clock::now(), notes);
        return !controllers.midi().open().empty();
    })) << "a port that appears later is opened";
    EXPECT_EQ(notes, std::vector<std::string>{"MIDI input \"sender:knobs\" opened"});

    const std::vector<std::vector<unsigned char>> sent = {
        {0xB0, 7, 100}, {0x90, 60, 127}, {0xF0, 1, 2, 3, 0xF7}, {0xB3, 1, 0}, {0x80, 60, 0}, {0xF8}, {0xE0, 0, 64}};
    for (const auto &bytes : sent)
        out->sendMessage(&bytes);
    const std::vector<ControlMessage> got = Take(5);
    ASSERT_EQ(got.size(), 5u) << "SysEx and clock are not handed on";
    const unsigned char expected[5][3] = {{0xB0, 7, 100}, {0x90, 60, 127}, {0xB3, 1, 0}, {0x80, 60, 0}, {0xE0, 0, 64}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(got[i].kind, ControlMessage::Midi);
        EXPECT_EQ(got[i].status, expected[i][0]) << i;
        EXPECT_EQ(got[i].data1, expected[i][1]) << i;
        EXPECT_EQ(got[i].data2, expected[i][2]) << i;
    }

    out.reset();
    notes.clear();
    ASSERT_TRUE(WaitForCondition([&] {
        controllers.poll(Controllers::Clock::now(), notes);
        return controllers.midi().open().empty();
    }));
    EXPECT_EQ(notes, std::vector<std::string>{"MIDI input \"sender:knobs\" has gone: closed"});
}
