// The queue's bound and order, and OSC received over loopback from liblo's
// own sender, raw and random datagrams.
#include "Controllers.h"

#include "FuzzSeed.h"
#include "JackServer.h" // WaitForCondition

#include <gtest/gtest.h>
#include <lo/lo.h>

#include <arpa/inet.h>
#include <cstring>

namespace {

// A message as one line: "/path n:1 s:text -" or "midi 176 7 0".
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
        target = lo_address_new("127.0.0.1", std::to_string(controllers.osc().port()).c_str());
        raw = socket(AF_INET, SOCK_DGRAM, 0);
    }
    void TearDown() override { lo_address_free(target); close(raw); }
    void SendRaw(const std::string &bytes)
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(controllers.osc().port()));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(raw, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof(to));
    }
    // The messages taken until the last is `last`, as lines.
    std::vector<std::string> TakeUntil(const std::string &last)
    {
        std::vector<ControlMessage> got;
        WaitForCondition([&] { return controllers.take(got), !got.empty() && Text(got.back()) == last; });
        std::vector<std::string> lines;
        for (const ControlMessage &m : got)
            lines.push_back(Text(m));
        return lines;
    }

    Controllers controllers;
    lo_address target = nullptr;
    int raw = -1;
};

} // namespace

TEST(ControlQueue, KeepsTheNewestWhenFullInEachSendersOrderAndCountsTheRest)
{
    ControlQueue queue(64);
    const int kThreads = 4, kEach = 1000;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&, t] {
            ControlMessage m;
            m.status = static_cast<std::uint8_t>(t);
            for (int i = 0; i < kEach; ++i, queue.push(m))
                m.number[0] = i;
        });
    for (std::thread &sender : senders)
        sender.join();
    ControlMessage m;
    std::vector<double> last(kThreads, -1);
    std::size_t taken = 0;
    for (; queue.take(m); ++taken) {
        EXPECT_GT(m.number[0], last[m.status]) << "one sender's messages out of order";
        last[m.status] = m.number[0];
    }
    EXPECT_EQ(taken, queue.capacity());
    EXPECT_EQ(queue.dropped() + taken, std::size_t(kThreads * kEach));
    for (int i = 0; i < 100; ++i, queue.push(m))
        m.number[0] = i;
    for (int i = 100 - 64; i < 100; ++i) {
        ASSERT_TRUE(queue.take(m));
        EXPECT_EQ(m.number[0], i) << "one sender: the newest kept, in order";
    }
    EXPECT_FALSE(queue.take(m));
}

TEST_F(OscLoopback, ValuesStringsBundlesAndOrderAsSent)
{
    lo_send(target, "/fader/1", "f", 0.25f);
    lo_send(target, "/all", "hdTFcSsb", int64_t(1) << 40, 2.5, 'x', "sym", "intro", lo_blob_new(3, "abc"));
    lo_bundle inner = lo_bundle_new(LO_TT_IMMEDIATE), outer = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_bundle_add_message(inner, "/b", lo_message_new());
    lo_message first = lo_message_new();
    lo_message_add_int32(first, 1);
    lo_bundle_add_message(outer, "/a", first);
    lo_bundle_add_bundle(outer, inner);
    lo_send_bundle(target, outer);
    lo_bundle_free_recursive(outer);
    for (int i = 0; i < 50; ++i)
        lo_send(target, "/seq", "i", i);
    std::vector<std::string> expected = {"/fader/1 n:0.25", "/all n:1.09951e+12 n:2.5 n:1 n:0 s:x s:sym s:intro -",
                                         "/a n:1", "/b"};
    for (int i = 0; i < 50; ++i)
        expected.push_back("/seq n:" + std::to_string(i));
    EXPECT_EQ(TakeUntil("/seq n:49"), expected);
}

TEST_F(OscLoopback, DropsWhatIsNotOscAndSaysSoOnce)
{
    lo_send(target, "/long", "s", std::string(ControlMessage::kTextBytes, 'a').c_str()); // text beyond the slot
    SendRaw(std::string("/x\0\0,q\0\0", 8));                                           // unknown type tag
    SendRaw(std::string("nopath\0\0", 8));
    SendRaw(std::string("/x\0", 3));                                                   // not 4-byte aligned
    SendRaw(std::string("#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x40/x\0\0", 24));             // element past the end
    SendRaw(std::string(65000, '/'));
    lo_send(target, "/after", "i", 1);
    EXPECT_EQ(TakeUntil("/after n:1"), std::vector<std::string>{"/after n:1"});
    std::vector<std::string> notes;
    controllers.poll(Controllers::Clock::now(), notes);
    controllers.poll(Controllers::Clock::now(), notes);
    EXPECT_EQ(notes, (std::vector<std::string>{"5 OSC datagrams dropped: not OSC",
                                               "1 OSC messages dropped: longer than 65536 bytes, or strings longer "
                                               "than 767 bytes together"}));
}

TEST_F(OscLoopback, RandomDatagramsNeitherCrashNorHideGoodOnes)
{
    FuzzRandom random(0x05C35);
    SCOPED_TRACE(random.Trace());
    const std::string pieces[] = {"/", "#bundle", std::string(1, '\0'), ",", "ifsdhtTFNIbcSm", "\x7f\xff\xff\xff"};
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        for (std::size_t i = random.Below(12); i > 0; --i)
            bytes += random.OneIn(3) ? std::string(1, random.Byte()) : random.Pick(pieces);
        bytes.resize((bytes.size() + 3) / 4 * 4, random.OneIn(2) ? '\0' : random.Byte());
        SendRaw(bytes);
        lo_send(target, "/good", "i", round);
        ASSERT_EQ(TakeUntil("/good n:" + std::to_string(round)).back(), "/good n:" + std::to_string(round));
    }
    EXPECT_EQ(controllers.queue().dropped(), 0u);
}

TEST(OscPort, RefusesWhatCannotBeOpenedWithAReason)
{
    ControlQueue queue;
    OscInput first(queue), second(queue);
    std::string error;
    ASSERT_TRUE(first.open("127.0.0.1:0", error)) << error;
    const std::string port = std::to_string(first.port());
    const std::pair<std::string, std::string> cases[] = {
        {port, "cannot listen for OSC on 127.0.0.1:" + port + ": the port is already in use"},
        {"70000", "OSC port \"70000\" is not a port number (0 to 65535)"},
        {"localhost:9000", "OSC address \"localhost\" is not an IPv4 address such as 127.0.0.1 or 0.0.0.0"},
    };
    for (const auto &[where, why] : cases) {
        EXPECT_FALSE(second.open(where, error)) << where;
        EXPECT_EQ(error, why);
    }
}
