// RocketClient: the production as the client of a Rocket-protocol sync
// editor over TCP (velkaro --rocket). It connects, greets, asks for every
// track the production uses (and for each new one as sync() makes it),
// applies the keys the editor sets and deletes, seeks the timeline to the
// editor's row, pauses and plays with it, writes sync.txt on the editor's
// save, and while playing sends the row whenever it changes. A broken
// stream ends the connection with one message; the tracks stay as they
// were. Without an editor, or after it went away, it tries again about
// once a second.
#pragma once

#include "RocketProtocol.h"

#include <QObject>
#include <QString>

#include <functional>
#include <string>

class QTcpSocket;
class QTimer;
class SyncFile;
class Timeline;

class RocketClient : public QObject
{
public:
    static constexpr quint16 kDefaultPort = 1338;
    static constexpr int kRetryMs = 1000;

    // `changed` is called after the editor changed the tracks or the file
    // was written; `say` takes the one-line messages (connected, lost,
    // refused streams).
    RocketClient(SyncFile &sync, Timeline &timeline, const QString &host, quint16 port,
                 std::function<void()> changed, std::function<void(const std::string &)> say,
                 QObject *parent = nullptr);

    bool connectedToEditor() const;

    // Reads HOST, HOST:PORT or :PORT (empty: 127.0.0.1:1338); false with
    // `why` for a port that is not 1 to 65535 or an empty host before ":".
    static bool ParseAddress(const std::string &text, QString &host, quint16 &port, std::string &why);

private:
    // Once a frame's worth: new tracks asked for, the row sent while playing.
    void poll();
    void received();
    void lost(const std::string &why);

    SyncFile &sync;
    Timeline &timeline;
    QString host;
    quint16 port;
    std::function<void()> changed;
    std::function<void(const std::string &)> say;
    QTcpSocket *socket;
    QTimer *pollTimer;
    QTimer *retryTimer;
    RocketSession session;
    int lastRow = -1;     // the row last sent or sought
    bool dropping = false; // inside lost()
    bool quiet = false;   // "cannot connect" said once until connected again
};
