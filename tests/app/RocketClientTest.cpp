// The client against a fake sync editor on loopback that speaks the protocol.
#include "RocketClient.h"

#include "RocketBytes.h"
#include "ScratchDir.h"
#include "SyncFile.h"
#include "Timeline.h"

#include <QCoreApplication>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

using namespace rocket;

// The editor's end of one connection, greeted and paused at row 0 as a running editor is.
struct Editor
{
    explicit Editor(QTcpServer &server)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 5000));
        socket = server.nextPendingConnection();
        EXPECT_TRUE(socket);
        EXPECT_TRUE(Expect("hello, synctracker!"));
        socket->write(QByteArray::fromStdString("hello, demo!" + Pause(true) + SetRow(0)));
    }
    // Waits for exactly these bytes next.
    bool Expect(const std::string &text)
    {
        const QByteArray bytes = QByteArray::fromStdString(text);
        if (!socket || !QTest::qWaitFor([&] { return socket->bytesAvailable() >= bytes.size(); }, 5000))
            return false;
        const QByteArray got = socket->read(bytes.size());
        EXPECT_EQ(got.toHex(' '), bytes.toHex(' '));
        return got == bytes;
    }
    QTcpSocket *socket = nullptr;
};

TEST(RocketClient, DrivenByAFakeEditor)
{
    ScratchDir scratch;
    SyncFile sync;
    sync.tracks().findOrAdd("a")->setKey(0, 9.0);
    sync.tracks().findOrAdd("cam:y");
    Timeline timeline;
    timeline.beginFrame();
    timeline.play();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    std::vector<std::string> said;
    int changes = 0;
    RocketClient client(sync, timeline, QStringLiteral("127.0.0.1"), server.serverPort(), [&] { ++changes; },
                        [&](const std::string &line) { said.push_back(line); });

    auto editor = std::make_unique<Editor>(server);
    ASSERT_TRUE(editor->Expect(GetTrack("a") + GetTrack("cam:y")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !timeline.playing(); })) << "the editor's pause";
    EXPECT_EQ(sync.tracks().value("a", 0), 0.0) << "the editor's keys replace the file's";
    sync.tracks().findOrAdd("late");
    ASSERT_TRUE(editor->Expect(GetTrack("late")));

    // Keys (the second track: index 1), a delete, the row.
    editor->socket->write(QByteArray::fromStdString(SetKey(1, 4, 2.5f, 2) + SetKey(1, 8, 5.0f, 3) + SetKey(1, 12, 6.0f, 1) +
                                SetKey(2, 1, 7.0f, 0) + DeleteKey(2, 1) + SetRow(16)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return timeline.wholeRow() == 16; }));
    EXPECT_EQ(sync.tracks().value("cam:y", 6), 3.75) << "smooth, halfway";
    EXPECT_EQ(sync.tracks().value("cam:y", 10), 5.25) << "ramp, halfway";
    EXPECT_TRUE(sync.tracks().find("late")->keys().empty());
    EXPECT_GT(changes, 0);

    // Play: the client sends its rows as they change; pause again.
    editor->socket->write(QByteArray::fromStdString(Pause(false)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return timeline.playing(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        timeline.beginFrame();
        return editor->socket->bytesAvailable() >= 5;
    }));
    const QByteArray row = editor->socket->read(5);
    EXPECT_EQ(row[0], '\3');
    EXPECT_GT(qFromBigEndian<quint32>(row.constData() + 1), 16u);
    editor->socket->write(QByteArray::fromStdString(Pause(true)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !timeline.playing(); }));

    // Save: sync.txt holds the editor's keys.
    editor->socket->write(QByteArray(1, '\5'));
    const QByteArray saved = "velkaro-sync 1\nbpm 120\nrows-per-beat 4\ntrack a\ntrack cam:y\n4 2.5 smooth\n"
                             "8 5 ramp\n12 6 linear\ntrack late\n";
    ASSERT_TRUE(QTest::qWaitFor([&] {
        QFile file("sync.txt");
        return file.open(QIODevice::ReadOnly) && file.readAll() == saved;
    }));

    // The editor restarts: a new connection asks for every track again,
    // the indices from 0.
    editor->socket->close();
    editor = std::make_unique<Editor>(server);
    ASSERT_TRUE(editor->Expect(GetTrack("a") + GetTrack("cam:y") + GetTrack("late")));
    editor->socket->write(QByteArray::fromStdString(SetKey(1, 2, 6.0f, 0) + SetKey(2, 2, 1.0f, 0)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sync.tracks().value("late", 2) == 1.0; }));
    EXPECT_EQ(sync.tracks().value("cam:y", 2), 6.0);
    EXPECT_TRUE(sync.tracks().find("a")->keys().empty());

    // A broken stream (a track this connection never asked for): one
    // message, the connection closed, the tracks kept; then it connects again.
    said.clear();
    editor->socket->write(QByteArray::fromStdString(SetKey(0, 3, 1.0f, 0) + SetKey(3, 3, 1.0f, 0)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return editor->socket->state() == QAbstractSocket::UnconnectedState; }));
    ASSERT_EQ(said.size(), 1u);
    EXPECT_NE(said[0].find("track 3, which was never asked for"), std::string::npos) << said[0];
    EXPECT_TRUE(sync.tracks().find("a")->keys().empty());
    editor = std::make_unique<Editor>(server);
    EXPECT_TRUE(editor->Expect(GetTrack("a") + GetTrack("cam:y") + GetTrack("late")));
}

TEST(RocketClient, Address)
{
    const struct { const char *text, *address; } cases[] = {
        {"", "127.0.0.1:1338"}, {"editor.local", "editor.local:1338"}, {":99", "127.0.0.1:99"},
        {"h:0", ""}, {"h:65536", ""}, {"h:", ""}, {"h:1x", ""}};
    for (const auto &c : cases) {
        QString host;
        quint16 port = 0;
        std::string why;
        const bool good = RocketClient::ParseAddress(c.text, host, port, why);
        EXPECT_EQ(good ? host.toStdString() + ":" + std::to_string(port) : why.substr(0, 17),
                  *c.address ? c.address : "--rocket takes HO") << c.text;
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
