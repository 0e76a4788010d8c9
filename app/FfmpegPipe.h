// FfmpegPipe: one ffmpeg child process whose standard input is a pipe that
// the export writes raw frames into. A dying ffmpeg turns into a failed
// write (EPIPE, never SIGPIPE); a stop request (Ctrl+C, SIGTERM) breaks off
// a blocked write.
#pragma once

#include <atomic>
#include <string>
#include <sys/types.h>
#include <vector>

class FfmpegPipe
{
public:
    FfmpegPipe() = default;
    ~FfmpegPipe();                       // kills a child still running
    FfmpegPipe(const FfmpegPipe &) = delete;
    FfmpegPipe &operator=(const FfmpegPipe &) = delete;

    // Starts `program` with `arguments`, its stdin the pipe, stdout and
    // stderr shared with this process. False with `error` set on failure.
    bool start(const std::string &program, const std::vector<std::string> &arguments, std::string &error);

    // Writes all `size` bytes. False when ffmpeg has gone (the reason in
    // `error`) or when *stop became non-zero while the write waited: the
    // wait for room in the pipe looks at it every 50 ms, so an encoder
    // that stopped reading cannot hold the stop up.
    bool write(const void *data, size_t size, const std::atomic<int> *stop, std::string &error);

    // Closes the pipe (end of input) and waits for ffmpeg to finish writing.
    // True when it exited with status 0; else `error` says how it ended.
    // When *stop becomes non-zero during the wait, ffmpeg is ended at once.
    bool finish(std::string &error, const std::atomic<int> *stop = nullptr);

    // Sends ffmpeg SIGKILL without touching the pipe, so a write blocked in
    // another thread returns with EPIPE; kill() then reaps it.
    void terminate();

    // Ends ffmpeg at once (SIGKILL) and reaps it; for an export broken off.
    void kill();

private:
    int input = -1;   // write end of the pipe
    pid_t child = -1;
};
