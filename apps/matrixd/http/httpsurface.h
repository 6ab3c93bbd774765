#pragma once

#include "config/switcherconfig.h"
#include "httplimits.h"
#include "switchercommands.h"
#include "switcherstate.h"

#include <QObject>

#include <functional>
#include <memory>

class ApiServer;
class EventsHub;
class HttpListener;
class SessionAuth;

// The switcher on the web: a page and a JSON API served from matrixd itself, with a WebSocket
// of events. Sends through the one command interface and follows the one state, as every
// other surface does.
class HttpSurface : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;

    // config.http must be set and completed. The state and the commands must outlive it.
    HttpSurface(const SwitcherConfig& config, SwitcherState& state, SwitcherCommands& commands,
                Log log, QObject* parent = nullptr);
    ~HttpSurface() override;

    HttpSurface(const HttpSurface&) = delete;
    HttpSurface& operator=(const HttpSurface&) = delete;

    // Listens; false with the reason when it cannot (the port taken, a certificate unreadable).
    bool start(QString& error);
    void stop();

    quint16 port() const;

private:
    void takeWebSockets();
    void warnIfPasswordReadable() const;
    void log(const QString& text) const;

    const SwitcherConfig& config_;
    HttpLimits limits_;
    Log log_;
    std::unique_ptr<SessionAuth> auth_;
    std::unique_ptr<ApiServer> server_;
    std::unique_ptr<EventsHub> events_;
    HttpListener* listener_ = nullptr; // the server's child once bound
};
