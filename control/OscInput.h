// OscInput: a UDP port that receives OSC. Its own thread reads each
// datagram (up to kMaxOscDatagram bytes; longer ones are dropped whole),
// decodes it and pushes the messages onto the queue; what it dropped is
// counted for the frame to show. Also sendOsc's sender.
#pragma once

#include "ControlQueue.h"

#include <atomic>
#include <string>
#include <thread>

class OscInput
{
public:
    explicit OscInput(ControlQueue &queue) : queue(queue) {}
    ~OscInput() { close(); }
    OscInput(const OscInput &) = delete;
    OscInput &operator=(const OscInput &) = delete;

    // Listens on "PORT" (on 127.0.0.1) or "ADDRESS:PORT" (0.0.0.0 for every
    // interface). Closes what was open first. False with `error` saying why
    // (a bad port, an address that is not one, the port already bound).
    bool open(const std::string &where, std::string &error);
    void close();
    bool isOpen() const { return socketFd >= 0; }
    // "127.0.0.1:9000" while open.
    const std::string &address() const { return boundTo; }
    // The UDP port bound (the one asked for, or the one the system chose
    // for port 0); 0 while closed.
    int port() const { return boundPort; }

    // Datagrams and messages dropped so far: not OSC, or too long.
    long malformed() const { return malformedCount.load(std::memory_order_relaxed); }
    long tooLong() const { return tooLongCount.load(std::memory_order_relaxed); }

private:
    void receive();

    ControlQueue &queue;
    int socketFd = -1;
    int stopPipe[2] = {-1, -1};
    std::thread reader;
    std::string boundTo;
    int boundPort = 0;
    std::atomic<long> malformedCount{0};
    std::atomic<long> tooLongCount{0};
};

// One argument of a message to send: a number, or a string when `isString`.
struct OscArgument
{
    bool isString = false;
    double number = 0.0;
    std::string text;
};

// Sends one message (numbers as floats, strings as strings) to host:port
// over UDP. False with `error` saying why.
bool SendOsc(const std::string &host, int port, const std::string &path, const OscArgument *args, int count,
             std::string &error);
