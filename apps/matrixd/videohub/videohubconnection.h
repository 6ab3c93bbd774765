#pragma once

#include "blockreader.h"
#include "statusblocks.h"
#include "switchercommands.h"
#include "switcherstate.h"
#include "videohubrequest.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QTcpSocket;

// One router control client: reads its blocks, answers them from the state, turns valid
// routing blocks into commands, and sends it what the server tells every client. A client that
// sends what no client would, or stops reading, is closed; one that only idles is kept.
class VideohubConnection : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;

    // Bytes the client has not taken yet, beyond which it is taken as not reading. The
    // greeting is under 2 kB and an update a few dozen bytes.
    static constexpr qint64 kMostUnsent = qint64{64} * 1024;

    // Takes the connected socket over. The blocks, state and commands must outlive it.
    VideohubConnection(QTcpSocket* socket, const StatusBlocks& blocks, SwitcherState& state,
                       SwitcherCommands& commands, Log log, QObject* parent = nullptr);

    // "127.0.0.1:53422", "[::1]:53422".
    QString peer() const { return peer_; }
    static QString peerOf(const QTcpSocket& socket);

    // The greeting.
    void start();
    // One block (or the greeting) in one write.
    void send(const QByteArray& bytes);
    // At once, without a word to the client.
    void close();

signals:
    // The connection is closed; it may be deleted later.
    void finished();

private:
    void onReadable();
    void handle(const VideohubBlock& block);
    void makeRoutes(const VideohubRequest& request);
    void refuse(const QString& why);
    void fail(const QString& why);
    void log(const QString& text) const;

    QTcpSocket* socket_;
    const StatusBlocks& blocks_;
    SwitcherState& state_;
    SwitcherCommands& commands_;
    Log log_;
    QString peer_;
    BlockReader reader_;
    bool closing_ = false;
    bool endLogged_ = false;
    // A client told NAK is given this long to take it before it is cut off.
    QTimer lingerLimit_;
};
