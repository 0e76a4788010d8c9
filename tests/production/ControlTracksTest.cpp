// What the controllers' messages leave (14-bit pairs, notes, OSC paths) and
// the tracks they drive: learnt, recorded into sync.txt, taken back.
#include "ControlValues.h"
#include "SyncControl.h"
#include "SyncFile.h"
#include "Timeline.h"

#include "Files.h"
#include "ScratchDir.h"

#include <gtest/gtest.h>

namespace {

ControlMessage Midi(int status, int data1, int data2)
{
    ControlMessage m;
    m.status = static_cast<std::uint8_t>(status);
    m.data1 = static_cast<std::uint8_t>(data1);
    m.data2 = static_cast<std::uint8_t>(data2);
    return m;
}

ControlMessage Osc(const char *path)
{
    ControlMessage m;
    m.kind = ControlMessage::Osc;
    std::snprintf(m.text, sizeof(m.text), "%s", path);
    m.argCount = 1;
    m.type[0] = 'n';
    return m;
}

} // namespace

TEST(ControlValues, ControlChangesPairsNotesAndPaths)
{
    const struct
    {
        std::vector<ControlMessage> messages;
        int channel, controller;
        double cc;
        std::string moved; // the controls moved, in order
    } cases[] = {
        {{Midi(0xB0, 7, 127)}, 1, 7, 1.0, "CC 7 on channel 1"},
        {{Midi(0xB2, 7, 64)}, 3, 7, 64 / 127.0, "CC 7 on channel 3"},
        // A low half straight after its high half: one 14-bit value.
        {{Midi(0xB0, 1, 64), Midi(0xB0, 33, 1)}, 1, 1, (64 * 128 + 1) / 16383.0, "CC 1 on channel 1,CC 1 on channel 1"},
        // Once paired, a high half alone clears the low half.
        {{Midi(0xB0, 1, 64), Midi(0xB0, 33, 1), Midi(0xB0, 1, 10)}, 1, 1, 10 * 128 / 16383.0,
         "CC 1 on channel 1,CC 1 on channel 1,CC 1 on channel 1"},
        // 32..63 not straight after their partner: controls of their own.
        {{Midi(0xB0, 1, 64), Midi(0x90, 60, 1), Midi(0xB0, 33, 127)}, 1, 1, 64 / 127.0, "CC 1 on channel 1,CC 33 on channel 1"},
        {{Midi(0xB0, 1, 64), Midi(0xB1, 33, 127)}, 1, 1, 64 / 127.0, "CC 1 on channel 1,CC 33 on channel 2"},
        {{Osc("/fader/1"), Midi(0xE0, 0, 64)}, 1, 0, 0.0, "OSC /fader/1"},
    };
    for (const auto &c : cases) {
        ControlValues values;
        std::string moved;
        for (const ControlMessage &m : c.messages) {
            ControlBinding binding;
            if (values.apply(m, binding))
                moved += (moved.empty() ? "" : ",") + binding.describe();
        }
        EXPECT_DOUBLE_EQ(values.cc(c.channel, c.controller), c.cc) << c.moved;
        EXPECT_EQ(moved, c.moved);
    }
    ControlValues values;
    ControlBinding binding;
    // Held, released by a note on at velocity 0 or by a note off.
    for (const auto &[status, velocity, held] : {std::tuple{0x95, 127, 1.0}, {0x95, 0, 0.0}, {0x95, 1, 1 / 127.0}, {0x85, 9, 0.0}}) {
        values.apply(Midi(status, 60, velocity), binding);
        EXPECT_DOUBLE_EQ(values.note(6, 60), held);
    }
    EXPECT_EQ(values.cc(0, 7) + values.cc(17, 7) + values.cc(1, 128), 0.0);
}

// Learn a CC onto a track, record a pass while the virtual clock plays,
// read the keys back from sync.txt, take the pass back.
TEST(ControlTracks, LearnRecordAndUndoAPass)
{
    ScratchDir dir;
    SyncFile file;
    file.read();
    Timeline clock;
    clock.useVirtualClock(0.0); // 120 bpm, 4 rows per beat: 8 rows a second
    ControlValues values;
    SyncControl control;
    std::vector<std::string> notes;
    // One frame of 1/64 s (8 frames a row) with these messages.
    const auto frame = [&](const std::vector<ControlMessage> &messages) {
        clock.beginFrame();
        std::vector<ControlBinding> moved;
        ControlBinding binding;
        for (const ControlMessage &m : messages)
            if (values.apply(m, binding))
                moved.push_back(binding);
        control.frame(moved, values, clock, file, notes);
        clock.advanceVirtualClock(1.0 / 64);
    };

    control.learn("fade");
    frame({Midi(0x90, 60, 100)}); // a note is no control: still learning
    EXPECT_EQ(control.learning(), "fade");
    frame({Midi(0xB0, 7, 0), Midi(0xB0, 8, 0)});
    EXPECT_EQ(control.learning(), "");
    EXPECT_EQ(notes, std::vector<std::string>{"track fade follows CC 7 on channel 1"});
    EXPECT_EQ(ReadFile("sync.txt").toStdString(), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\n#control fade midi-cc 1 7\n");

    control.setRecording(true);
    clock.seek(0.0);
    // Rows 0..3 the knob turns up, rows 4..7 it sends 124 again and again,
    // rows 8..9 nothing comes.
    for (int f = 0; f < 80; ++f)
        frame(f < 64 ? std::vector<ControlMessage>{Midi(0xB0, 7, 4 * std::min(f, 31))} : std::vector<ControlMessage>{});
    clock.pause();
    frame({});
    // One linear key a row, the row's last value; none for the steady rows.
    std::string keys;
    for (int row = 0; row < 4; ++row)
        keys += std::to_string(row) + " " + FormatNumber(4 * (8 * row + 7) / 127.0) + " linear\n";
    EXPECT_EQ(ReadFile("sync.txt").toStdString(),
              "velkaro-sync 1\nbpm 120\nrows-per-beat 4\n#control fade midi-cc 1 7\ntrack fade\n" + keys);
    EXPECT_TRUE(file.undo());
    EXPECT_EQ(ReadFile("sync.txt").toStdString(), "velkaro-sync 1\nbpm 120\nrows-per-beat 4\n#control fade midi-cc 1 7\n");
}
