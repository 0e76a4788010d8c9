// OscInput: the socket, its reading thread, and the sender.
#include "OscInput.h"

#include "OscDecode.h"

#include <lo/lo.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void PushOnto(const ControlMessage &message, void *queue)
{
    static_cast<ControlQueue *>(queue)->push(message);
}

// "9000" or "ADDRESS:9000" into an IPv4 address and a port (0..65535).
bool ParseWhere(const std::string &where, sockaddr_in &address, std::string &error)
{
    const std::size_t colon = where.rfind(':');
    const std::string host = colon == std::string::npos ? "127.0.0.1" : where.substr(0, colon);
    const std::string port = colon == std::string::npos ? where : where.substr(colon + 1);
    char *end = nullptr;
    errno = 0;
    const long number = port.empty() ? -1 : std::strtol(port.c_str(), &end, 10);
    if (number < 0 || number > 65535 || errno != 0 || (end && *end != '\0')) {
        error = "OSC port \"" + port + "\" is not a port number (0 to 65535)";
        return false;
    }
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(number));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        error = "OSC address \"" + host + "\" is not an IPv4 address such as 127.0.0.1 or 0.0.0.0";
        return false;
    }
    return true;
}

} // namespace

bool OscInput::open(const std::string &where, std::string &error)
{
    close();
    sockaddr_in address;
    if (!ParseWhere(where, address, error))
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot open a UDP socket for OSC: ") + std::strerror(errno);
        return false;
    }
    char host[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address.sin_addr, host, sizeof(host));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        const int why = errno;
        ::close(fd);
        error = "cannot listen for OSC on " + std::string(host) + ":" + std::to_string(ntohs(address.sin_port)) +
                ": " + (why == EADDRINUSE ? std::string("the port is already in use") : std::strerror(why));
        return false;
    }
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    if (::pipe2(stopPipe, O_CLOEXEC) != 0) {
        ::close(fd);
        error = std::string("cannot start the OSC reader: ") + std::strerror(errno);
        return false;
    }
    socketFd = fd;
    boundPort = ntohs(address.sin_port);
    boundTo = std::string(host) + ":" + std::to_string(boundPort);
    reader = std::thread([this] { receive(); });
    return true;
}

void OscInput::close()
{
    if (socketFd < 0)
        return;
    const char stop = 0;
    if (::write(stopPipe[1], &stop, 1) != 1) {
        // The pipe is ours and empty: a write cannot fail short of a broken
        // process; the reader also ends when the socket is closed below.
    }
    reader.join();
    ::close(socketFd);
    ::close(stopPipe[0]);
    ::close(stopPipe[1]);
    socketFd = -1;
    stopPipe[0] = stopPipe[1] = -1;
    boundTo.clear();
    boundPort = 0;
}

void OscInput::receive()
{
    // One byte more than the largest datagram kept, so a longer one shows.
    std::vector<char> buffer(kMaxOscDatagram + 4);
    pollfd waits[2] = {{socketFd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
    for (;;) {
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (waits[1].revents != 0)
            return;
        const ssize_t got = ::recv(socketFd, buffer.data(), buffer.size(), MSG_TRUNC);
        if (got < 0)
            continue;
        if (static_cast<std::size_t>(got) > kMaxOscDatagram) {
            tooLongCount.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        const OscDecodeResult result = DecodeOscPacket(buffer.data(), static_cast<std::size_t>(got), PushOnto, &queue);
        if (result.malformed)
            malformedCount.fetch_add(result.malformed, std::memory_order_relaxed);
        if (result.tooLong)
            tooLongCount.fetch_add(result.tooLong, std::memory_order_relaxed);
    }
}

bool SendOsc(const std::string &host, int port, const std::string &path, const OscArgument *args, int count,
             std::string &error)
{
    if (path.empty() || path[0] != '/') {
        error = "an OSC path starts with \"/\"";
        return false;
    }
    if (port < 1 || port > 65535) {
        error = "OSC port " + std::to_string(port) + " is not a port number (1 to 65535)";
        return false;
    }
    const std::unique_ptr<std::remove_pointer_t<lo_address>, void (*)(lo_address)> target(
        lo_address_new(host.c_str(), std::to_string(port).c_str()), lo_address_free);
    const std::unique_ptr<std::remove_pointer_t<lo_message>, void (*)(lo_message)> message(lo_message_new(),
                                                                                          lo_message_free);
    if (!target || !message) {
        error = "cannot send OSC to " + host;
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (args[i].isString)
            lo_message_add_string(message.get(), args[i].text.c_str());
        else
            lo_message_add_float(message.get(), static_cast<float>(args[i].number));
    }
    if (lo_send_message(target.get(), path.c_str(), message.get()) < 0) {
        error = "cannot send OSC to " + host + ":" + std::to_string(port) + ": " +
                (lo_address_errstr(target.get()) ? lo_address_errstr(target.get()) : "unknown error");
        return false;
    }
    return true;
}
