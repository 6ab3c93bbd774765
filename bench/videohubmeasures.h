#pragma once

#include "stats.h"

#include <QString>

// 8a-8e. matrixd with --videohub on loopback and router control clients of this side's (the
// test support's client, written from the protocol's description).

// 8a-8c: matrixd's line is a pseudo-terminal on which this side plays the switcher. The first of
// `clients` sends a routing block for output B; the switcher confirms at 9600 baud, and every
// client reads the routing block that follows.
struct VideohubRouteResult {
    QString error;
    Summary blockToLine;   // ms, the block written to the whole frame readable on the idle line
    Summary replyToBlock;  // ms, the reply's first byte written to the block read, every client
    Summary spread;        // ms, per round: the last client's block - the first client's
    Summary timerAlone;    // ms, a 30 ms precise single-shot timer in this event loop
    Summary writeSpan;     // ms, the paced reply's first byte to its last
    int clients = 0;
    int rounds = 0; // measured
    int warmups = 0;
    int wrongFrames = 0; // no frame, or not the one the block asks for
    int timeouts = 0;    // some client had no block within 2 s
    int failures = 0;    // commands matrixd logged as failed or not confirmed
};
VideohubRouteResult measureVideohubRoutes(const QString& matrixdPath, int clients, int rounds);

// 8d-8e: the simulator (no pacing) as the switcher, `clients` connected, one of them making
// `routes` routes one after another, each changing its output; matrixd's resident memory.
struct VideohubMemoryResult {
    QString error;
    int clients = 0;
    int routes = 0;   // made and told to every client
    int firstAt = 0;  // routes made when the first sample was taken
    long firstKb = 0; // VmRSS then
    long lastKb = 0;  // after the last route
    long maxKb = 0;   // the largest of the samples (every 1000 routes)
    double seconds = 0;
    int refused = 0; // NAKs, or routes that did not reach every client within 2 s
};
VideohubMemoryResult measureVideohubMemory(const QString& matrixdPath, const QString& simPath,
                                           int clients, int routes);
