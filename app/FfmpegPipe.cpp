// FfmpegPipe: fork/exec of ffmpeg with a pipe on its standard input.
#include "FfmpegPipe.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int kPipeBytes = 4 << 20; // room for a few frames, so a write rarely waits
const int kStopPollMs = 50;     // how often a waiting write or finish looks at the stop flag

// Waits for `pid`, retrying when a signal interrupts the wait.
int Reap(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool Stopped(const std::atomic<int> *stop)
{
    return stop && stop->load() != 0;
}

} // namespace

FfmpegPipe::~FfmpegPipe()
{
    kill();
}

bool FfmpegPipe::start(const std::string &program, const std::vector<std::string> &arguments, std::string &error)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    // The kernel caps the size (pipe-max-size); a smaller pipe only waits more.
    for (int bytes = kPipeBytes; bytes >= 65536 && fcntl(ends[1], F_SETPIPE_SZ, bytes) < 0; bytes /= 2) {
    }
    // The argument vector is built before fork: the child may only make
    // async-signal-safe calls until exec.
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("cannot start ffmpeg: ") + std::strerror(errno);
        close(ends[0]);
        close(ends[1]);
        return false;
    }
    if (pid == 0) {
        // Child: the pipe becomes stdin; signals back to their defaults
        // (an ignored SIGPIPE would be inherited through exec).
        signal(SIGPIPE, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        if (dup2(ends[0], STDIN_FILENO) < 0)
            _exit(127);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(ends[0]);
    input = ends[1];
    child = pid;
    // Writes never block: the wait for room is a poll that also watches
    // the stop flag.
    fcntl(input, F_SETFL, fcntl(input, F_GETFL) | O_NONBLOCK);
    return true;
}

bool FfmpegPipe::write(const void *data, size_t size, const std::atomic<int> *stop, std::string &error)
{
    const char *bytes = static_cast<const char *>(data);
    while (size > 0) {
        if (Stopped(stop)) {
            error = "stopped";
            return false;
        }
        const ssize_t written = ::write(input, bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue; // a signal: look at the stop flag again
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // The pipe is full: wait for room (or ffmpeg's end, which
                // the next write sees as EPIPE) a little at a time.
                pollfd room = {input, POLLOUT, 0};
                poll(&room, 1, kStopPollMs);
                continue;
            }
            error = errno == EPIPE ? std::string("ffmpeg stopped reading the frames")
                                   : std::string("cannot write to ffmpeg: ") + std::strerror(errno);
            return false;
        }
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool FfmpegPipe::finish(std::string &error, const std::atomic<int> *stop)
{
    if (input >= 0) {
        close(input);
        input = -1;
    }
    if (child < 0) {
        error = "ffmpeg was not running";
        return false;
    }
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, WNOHANG)) == 0 || (ended < 0 && errno == EINTR)) {
        if (Stopped(stop)) {
            kill();
            error = "stopped";
            return false;
        }
        if (ended == 0)
            usleep(kStopPollMs * 1000);
    }
    child = -1;
    if (ended < 0) {
        error = std::string("cannot wait for ffmpeg: ") + std::strerror(errno);
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    if (WIFEXITED(status))
        error = WEXITSTATUS(status) == 127 ? "ffmpeg could not be run"
                                           : "ffmpeg failed with exit status " + std::to_string(WEXITSTATUS(status));
    else
        error = "ffmpeg was ended by signal " + std::to_string(WTERMSIG(status));
    return false;
}

void FfmpegPipe::terminate()
{
    if (child > 0)
        ::kill(child, SIGKILL);
}

void FfmpegPipe::kill()
{
    if (input >= 0) {
        close(input);
        input = -1;
    }
    if (child > 0) {
        ::kill(child, SIGKILL);
        Reap(child);
        child = -1;
    }
}
