// MIDI through JACK's dummy backend: the test starts its own JACK server
// (a name of its own, so nothing else on the machine is touched), sends
// from an RtMidi output port and reads what Velkaro's inputs received.
#include "Controllers.h"

#include <gtest/gtest.h>
#include <rtmidi/RtMidi.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

extern char **environ;

namespace {

// Starts a program with its output thrown away; its process id (0 when it
// could not start).
pid_t Start(std::vector<std::string> args)
{
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ) != 0)
        pid = 0;
    posix_spawn_file_actions_destroy(&quiet);
    return pid;
}

// Runs a program and waits for it; true when it exits with status 0.
bool Succeeds(std::vector<std::string> args)
{
    const pid_t pid = Start(std::move(args));
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool WaitFor(const std::function<bool()> &condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class MidiThroughJack : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string name = "velkaro-test-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        server = Start({"jackd", "-n", name, "--no-realtime", "-d", "dummy"});
        ASSERT_GT(server, 0) << "jackd cannot be started";
        ASSERT_TRUE(WaitFor([] { return Succeeds({"jack_lsp"}); })) << "the JACK server did not come up";
    }
    void TearDown() override
    {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    }

    // Takes messages until `count` have come.
    std::vector<ControlMessage> Take(std::size_t count)
    {
        std::vector<ControlMessage> got;
        WaitFor([&] {
            controllers.take(got);
            return got.size() >= count;
        });
        return got;
    }

    pid_t server = 0;
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
    ASSERT_TRUE(WaitFor([&] {
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
    ASSERT_TRUE(WaitFor([&] {
        controllers.poll(Controllers::Clock::now(), notes);
        return controllers.midi().open().empty();
    }));
    EXPECT_EQ(notes, std::vector<std::string>{"MIDI input \"sender:knobs\" has gone: closed"});
}
