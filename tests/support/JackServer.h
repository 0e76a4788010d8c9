// A JACK server of the test's own (dummy backend: no sound card, no realtime
// rights), named after the test process and made the default of every JACK
// client the test and its children open; ended with the object.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

extern char **environ;

// Polls `condition` every 20 ms for up to 20 s.
inline bool WaitForCondition(const std::function<bool()> &condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (; !condition(); std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    return true;
}

class JackServer
{
public:
    JackServer()
    {
        const std::string name = "velkaro-test-" + std::to_string(getpid());
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        // Its chatter and jack_lsp's listing stay out of the test's output.
        std::string command = "exec jackd -n " + name + " --no-realtime -d dummy >/dev/null 2>&1";
        char *const args[] = {const_cast<char *>("sh"), const_cast<char *>("-c"), command.data(), nullptr};
        running = posix_spawnp(&server, "sh", nullptr, nullptr, args, environ) == 0 &&
                  WaitForCondition([] { return std::system("jack_lsp >/dev/null 2>&1") == 0; });
    }
    ~JackServer()
    {
        if (server > 0 && kill(server, SIGTERM) == 0) // never kill(0): the whole group
            waitpid(server, nullptr, 0);
    }
    bool up() const { return running; }

private:
    pid_t server = 0;
    bool running = false;
};
