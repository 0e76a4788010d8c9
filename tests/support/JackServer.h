// A JACK server of the test's own (the dummy backend, no sound card, no
// realtime rights needed), started with the test and ended with it. Its
// name is the test process's, set as the default for every JACK client the
// test and its child processes open, so nothing else on the machine is
// touched.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

// Starts a program with its output thrown away; its process id (0 when it
// could not start).
inline pid_t StartQuietly(std::vector<std::string> args)
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

// Polls `condition` every 20 ms for up to 20 s.
inline bool WaitForCondition(const std::function<bool()> &condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class JackServer
{
public:
    // Starts jackd; up() says whether it answers (jack_lsp lists its ports).
    JackServer()
    {
        const std::string name = "velkaro-test-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        server = StartQuietly({"jackd", "-n", name, "--no-realtime", "-d", "dummy"});
        running = server > 0 && WaitForCondition([] {
            const pid_t lister = StartQuietly({"jack_lsp"});
            int status = 0;
            return lister > 0 && waitpid(lister, &status, 0) == lister && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        });
    }
    ~JackServer()
    {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    }
    JackServer(const JackServer &) = delete;
    JackServer &operator=(const JackServer &) = delete;
    bool up() const { return running; }

private:
    pid_t server = 0;
    bool running = false;
};
