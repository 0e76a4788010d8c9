// The queue's bound and order, and OSC received over loopback.
#include "Controllers.h"
#include "OscDecode.h"

#include "FuzzSeed.h"

#include <gtest/gtest.h>
#include <lo/lo.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

// Takes messages until `count` have come (or 10 s have passed).
std::vector<ControlMessage> TakeAtLeast(Controllers &controllers, std::size_t count)
{
    std::vector<ControlMessage> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        controllers.take(got);
        std::this_thread::yield();
    }
    return got;
}

// A raw datagram to 127.0.0.1:port.
void SendRaw(int port, const std::string &bytes)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof(to));
    close(fd);
}

// What a message says, as one line: "/path n:1 s:text -".
std::string Text(const ControlMessage &m)
{
    if (m.kind == ControlMessage::Midi)
        return "midi " + std::to_string(m.status) + " " + std::to_string(m.data1) + " " + std::to_string(m.data2);
    std::string text = m.path();
    for (int i = 0; i < m.argCount; ++i) {
        char number[32];
        std::snprintf(number, sizeof(number), "%g", m.number[i]);
        text += m.type[i] == 's' ? " s:" + std::string(m.string(i)) : m.type[i] == 'n' ? " n:" + std::string(number) : " -";
    }
    return text;
}

struct OscLoopback : ::testing::Test
{
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(controllers.osc().open("0", error)) << error;
        port = controllers.osc().port();
        target = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    }
    void TearDown() override { lo_address_free(target); }

    Controllers controllers;
    int port = 0;
    lo_address target = nullptr;
};

} // namespace

TEST(ControlQueue, KeepsTheNewestWhenFullAndCountsTheRest)
{
    ControlQueue queue(64);
    const int kThreads = 4, kEach = 1000;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                ControlMessage m;
                m.status = static_cast<std::uint8_t>(t);
                m.number[0] = i;
                queue.push(m);
            }
        });
    for (std::thread &sender : senders)
        sender.join();
    ControlMessage m;
    std::vector<int> last(kThreads, -1);
    std::size_t taken = 0;
    while (queue.take(m)) {
        ++taken;
        EXPECT_GT(m.number[0], last[m.status]) << "one sender's messages out of order";
        last[m.status] = static_cast<int>(m.number[0]);
    }
    EXPECT_EQ(taken, queue.capacity());
    EXPECT_EQ(queue.dropped() + taken, std::size_t(kThreads * kEach));

    // One sender: what is kept is the newest, in order.
    for (int i = 0; i < 100; ++i) {
        m.number[0] = i;
        queue.push(m);
    }
    for (int i = 100 - 64; i < 100; ++i) {
        ASSERT_TRUE(queue.take(m));
        EXPECT_EQ(m.number[0], i);
    }
    EXPECT_FALSE(queue.take(m));
    EXPECT_EQ(queue.dropped(), std::size_t(kThreads * kEach - 64 + 100 - 64));
}

TEST_F(OscLoopback, ValuesStringsAndOrderAsSent)
{
    lo_send(target, "/fader/1", "f", 0.25f);
    lo_send(target, "/name", "si", "intro", 7);
    lo_send(target, "/all", "hdTFcSb", int64_t(1) << 40, 2.5, 'x', "sym", lo_blob_new(3, "abc"));
    for (int i = 0; i < 50; ++i)
        lo_send(target, "/seq", "i", i);
    const std::vector<ControlMessage> got = TakeAtLeast(controllers, 53);
    ASSERT_EQ(got.size(), 53u);
    EXPECT_EQ(Text(got[0]), "/fader/1 n:0.25");
    EXPECT_EQ(Text(got[1]), "/name s:intro n:7");
    EXPECT_EQ(Text(got[2]), "/all n:1.09951e+12 n:2.5 n:1 n:0 s:x s:sym -");
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(Text(got[3 + i]), "/seq n:" + std::to_string(i));
}

TEST_F(OscLoopback, DropsWhatIsNotOscAndSaysSo)
{
    const std::string longString(ControlMessage::kTextBytes, 'a');
    lo_send(target, "/long", "s", longString.c_str());          // text beyond the slot
    SendRaw(port, std::string("/x\0\0,q\0\0", 8));                 // unknown type tag
    SendRaw(port, std::string("nopath\0\0", 8));                   // no path
    SendRaw(port, std::string("/x\0", 3));                         // not 4-byte aligned
    SendRaw(port, std::string("#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x40/x\0\0", 24)); // element longer than the bundle
    SendRaw(port, std::string(65000, '/'));                        // a huge datagram of garbage
    lo_send(target, "/after", "i", 1);
    const std::vector<ControlMessage> got = TakeAtLeast(controllers, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(Text(got[0]), "/after n:1");
    EXPECT_EQ(controllers.osc().malformed(), 5);
    EXPECT_EQ(controllers.osc().tooLong(), 1);
    std::vector<std::string> notes;
    controllers.poll(Controllers::Clock::now(), notes);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], "5 OSC datagrams dropped: not OSC");
    notes.clear();
    controllers.poll(Controllers::Clock::now(), notes);
    EXPECT_TRUE(notes.empty()) << "a count is shown once";
}

TEST_F(OscLoopback, NestedBundlesArriveInOrder)
{
    lo_bundle inner = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_bundle_add_message(inner, "/b", lo_message_new());
    lo_bundle outer = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_message first = lo_message_new();
    lo_message_add_int32(first, 1);
    lo_bundle_add_message(outer, "/a", first);
    lo_bundle_add_bundle(outer, inner);
    lo_send_bundle(target, outer);
    lo_bundle_free_recursive(outer);
    const std::vector<ControlMessage> got = TakeAtLeast(controllers, 2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(Text(got[0]), "/a n:1");
    EXPECT_EQ(Text(got[1]), "/b");
}

TEST_F(OscLoopback, RandomDatagramsNeitherCrashNorHideGoodOnes)
{
    FuzzRandom random(0x05C35);
    SCOPED_TRACE(random.Trace());
    const std::string pieces[] = {"/", "#bundle", std::string(1, '\0'), ",", "ifsdhtTFNIbcSm", "\x7f\xff\xff\xff"};
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        const std::size_t parts = random.Below(12);
        for (std::size_t i = 0; i < parts; ++i)
            bytes += random.OneIn(3) ? std::string(1, random.Byte()) : random.Pick(pieces);
        bytes.resize((bytes.size() + 3) / 4 * 4, random.OneIn(2) ? '\0' : random.Byte());
        SendRaw(port, bytes);
        lo_send(target, "/good", "i", round);
        // Whatever the garbage decoded to, the good message comes through.
        bool seen = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::vector<ControlMessage> got;
        while (!seen && std::chrono::steady_clock::now() < deadline) {
            got.clear();
            controllers.take(got);
            for (const ControlMessage &m : got)
                seen = seen || (std::strcmp(m.path(), "/good") == 0 && m.number[0] == round);
        }
        ASSERT_TRUE(seen) << "round " << round << ": the good message after garbage is lost";
    }
    EXPECT_EQ(controllers.queue().dropped(), 0u);
}

TEST(OscPort, RefusesWhatCannotBeOpenedWithAReason)
{
    ControlQueue queue;
    OscInput first(queue), second(queue);
    std::string error;
    ASSERT_TRUE(first.open("127.0.0.1:0", error)) << error;
    const struct
    {
        std::string where, error;
    } cases[] = {
        {std::to_string(first.port()), "cannot listen for OSC on 127.0.0.1:" + std::to_string(first.port()) +
                                           ": the port is already in use"},
        {"70000", "OSC port \"70000\" is not a port number (0 to 65535)"},
        {"nine", "OSC port \"nine\" is not a port number (0 to 65535)"},
        {"localhost:9000", "OSC address \"localhost\" is not an IPv4 address such as 127.0.0.1 or 0.0.0.0"},
    };
    for (const auto &c : cases) {
        EXPECT_FALSE(second.open(c.where, error)) << c.where;
        EXPECT_EQ(error, c.error);
    }
    EXPECT_EQ(first.address(), "127.0.0.1:" + std::to_string(first.port()));
}
