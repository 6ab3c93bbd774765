#pragma once

#include "stats.h"

#include <QString>

// 8. matrixd's web surface, its line a pseudo-terminal on which this side plays the switcher,
// reached over loopback from this process, from Debian's wrk and from Debian's chromium.
struct HttpResult {
    QString error;
    Summary putToFrame;     // ms, PUT outputs/B written to its frame readable on the line
    Summary replyToEvents;  // ms, a paced announcement's first byte to the event at each client
    Summary eventSpread;    // ms, first client's event to the last one's, per change
    Summary timerAlone;     // ms, a 30 ms precise timer in this event loop
    int clients = 0;
    int rounds = 0;
    int wrongFrames = 0;
    int missedEvents = 0;

    // wrk, the same load against matrixd's GET state and nginx serving the same JSON.
    struct Load {
        double requestsPerSecond = 0;
        double p99Ms = 0;
        long errors = 0; // non-2xx answers and socket errors wrk counted
    };
    Load matrixd;
    Load nginx;
    QString loadError;

    // The page in chromium: bytes of the page's files, navigation start to the state shown.
    double pageBytes = 0;
    Summary pageToState; // ms
    QString pageError;

    // matrixd's resident memory: at start, with the WebSocket clients, after each block of
    // API requests.
    long startKb = 0;
    long withClientsKb = 0;
    long afterFirstKb = 0;
    long afterSecondKb = 0;
    int requestsPerBlock = 0;
};

struct HttpSettingsForBench {
    int rounds = 50;
    int clients = 50;
    int wrkSeconds = 10;
    int pageRuns = 10;
    int requestsPerBlock = 10'000;
};

HttpResult measureHttp(const QString& matrixdPath, const HttpSettingsForBench& settings);
