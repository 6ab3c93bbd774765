#pragma once

#include <QtGlobal>

#include <chrono>

// What one client may cost the service; each limit answers with its own status, never with
// unbounded memory. Qt's HTTP server of Debian 12 enforces none of them itself.
struct HttpLimits {
    int maxClients = 64;                      // connections at once, WebSockets included; then 503
    qint64 headerBytes = 8 * qint64{1024};         // request line and headers; then 431
    qint64 bodyBytes = 16 * qint64{1024};          // then 413
    std::chrono::milliseconds requestTime{10'000}; // from a request's first byte to its last
    std::chrono::milliseconds idleTime{60'000};    // a kept-alive connection with nothing to do
    qint64 eventsBacklog = 64 * qint64{1024};      // unsent bytes before a WebSocket client is closed
    qint64 eventsIncoming = 1024;             // a client has nothing to say; bigger is refused
    std::chrono::milliseconds eventsPing{30'000}; // a client that answers no ping in this long goes
    int sessions = 256;                       // logged-in browsers remembered, oldest forgotten
    int failedAddresses = 1024;               // addresses remembered for the login delay
};
