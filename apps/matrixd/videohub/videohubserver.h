#pragma once

#include "config/switcherconfig.h"
#include "statusblocks.h"
#include "switchercommands.h"
#include "switcherstate.h"

#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <functional>

class QHostAddress;
class VideohubConnection;

// The switcher for router control clients (Companion, router panels, control apps) on the
// Videohub Ethernet Protocol: listens, lets in who the allow list names up to max_clients, and
// tells every client each change of the routes and of whether the switcher answers.
class VideohubServer : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;

    // config.videohub must be set. The state and the commands must outlive the server. Each log
    // line is one event, without a trailing newline.
    VideohubServer(const SwitcherConfig& config, SwitcherState& state, SwitcherCommands& commands,
                   Log log, QObject* parent = nullptr);
    ~VideohubServer() override;

    VideohubServer(const VideohubServer&) = delete;
    VideohubServer& operator=(const VideohubServer&) = delete;

    // False with the reason, in the configuration's FILE:LINE form, when the address is taken.
    bool listen(QString& error);
    // Closes every connection and stops listening.
    void stop();

    int clientCount() const { return int(connections_.size()); }

private:
    void onNewConnection();
    void onChanged(const SwitcherFacts& before);
    void onAnsweringChanged(bool answering);
    void sendRouting(const QList<int>& outputs);
    void broadcast(const QByteArray& bytes);
    bool allows(const QHostAddress& peer) const;
    void log(const QString& text) const;

    SwitcherConfig config_;
    StatusBlocks blocks_;
    SwitcherState& state_;
    SwitcherCommands& commands_;
    Log log_;
    QTcpServer server_;
    QList<VideohubConnection*> connections_; // children
    // The switcher is back: every client is told the whole routing once it is read.
    bool routingOwed_ = false;
    QTimer owedRouting_; // runs after the reply that brought the switcher back
};
