// RocketClient: the socket, the retries and the editor's requests applied.
#include "RocketClient.h"

#include "SyncFile.h"
#include "Timeline.h"

#include <QTcpSocket>
#include <QTimer>

#include <charconv>

namespace {

const int kPollMs = 15;
const qint64 kReadChunk = 64 * 1024; // bytes taken in per read

} // namespace

RocketClient::RocketClient(SyncFile &sync, Timeline &timeline, const QString &host, quint16 port,
                           std::function<void()> changed, std::function<void(const std::string &)> say,
                           QObject *parent)
    : QObject(parent)
    , sync(sync)
    , timeline(timeline)
    , host(host)
    , port(port)
    , changed(std::move(changed))
    , say(std::move(say))
    , socket(new QTcpSocket(this))
    , pollTimer(new QTimer(this))
    , retryTimer(new QTimer(this))
{
    const std::string where = host.toStdString() + ":" + std::to_string(port);
    connect(socket, &QTcpSocket::connected, this, [this, where] {
        quiet = false;
        lastRow = -1;
        this->say("rocket: connected to the sync editor at " + where);
        const std::string hello = session.connected();
        socket->write(hello.data(), static_cast<qint64>(hello.size()));
    });
    connect(socket, &QTcpSocket::readyRead, this, &RocketClient::received);
    connect(socket, &QTcpSocket::disconnected, this, [this] { lost("the sync editor closed the connection"); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, where](QAbstractSocket::SocketError) {
        if (socket->state() == QAbstractSocket::ConnectedState)
            return;
        if (!quiet)
            this->say("rocket: cannot connect to a sync editor at " + where + " (" +
                      socket->errorString().toStdString() + "); trying again every second");
        quiet = true;
        retryTimer->start(kRetryMs);
    });
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, [this] {
        if (socket->state() == QAbstractSocket::UnconnectedState)
            socket->connectToHost(this->host, this->port);
    });
    connect(pollTimer, &QTimer::timeout, this, &RocketClient::poll);
    pollTimer->start(kPollMs);
    socket->connectToHost(host, port);
}

bool RocketClient::connectedToEditor() const
{
    return socket->state() == QAbstractSocket::ConnectedState && session.greeted();
}

bool RocketClient::ParseAddress(const std::string &text, QString &host, quint16 &port, std::string &why)
{
    host = QStringLiteral("127.0.0.1");
    port = kDefaultPort;
    if (text.empty())
        return true;
    const size_t colon = text.rfind(':');
    const std::string name = text.substr(0, colon);
    if (colon != std::string::npos) {
        const std::string number = text.substr(colon + 1);
        unsigned value = 0;
        const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
        if (number.empty() || result.ec != std::errc() || result.ptr != number.data() + number.size() ||
            value < 1 || value > 65535) {
            why = "--rocket takes HOST[:PORT], the port from 1 to 65535, not '" + text + "'";
            return false;
        }
        port = static_cast<quint16>(value);
    }
    if (!name.empty())
        host = QString::fromStdString(name);
    return true;
}

void RocketClient::lost(const std::string &why)
{
    if (dropping)
        return; // the abort below reports the disconnection again
    dropping = true;
    socket->abort();
    dropping = false;
    say("rocket: " + why + "; trying again every second");
    quiet = true;
    retryTimer->start(kRetryMs);
}

void RocketClient::received()
{
    RocketRequests requests;
    bool keys = false;
    while (socket->bytesAvailable() > 0) {
        const QByteArray bytes = socket->read(kReadChunk);
        if (!session.received(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), sync.tracks(),
                              requests))
            return lost(session.error() + "; disconnected");
        keys = true;
    }
    if (requests.pause == 1)
        timeline.pause();
    if (requests.seekRow >= 0) {
        timeline.seekRow(requests.seekRow);
        lastRow = requests.seekRow;
    }
    if (requests.pause == 0)
        timeline.play();
    if (requests.save && !sync.write())
        say("rocket: the editor's save failed: " + sync.error());
    if (keys || requests.save)
        changed();
    poll(); // the greeting may have come: ask for the tracks at once
}

void RocketClient::poll()
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    std::string out = session.requestTracks(sync.tracks());
    if (session.greeted() && timeline.playing()) {
        const int row = timeline.wholeRow();
        if (row != lastRow) {
            out += RocketSession::SetRow(row);
            lastRow = row;
        }
    }
    if (!out.empty())
        socket->write(out.data(), static_cast<qint64>(out.size()));
}
