#pragma once

#include "stats.h"

#include <QString>

#include <chrono>

// 6a-6c. The panel's window presses Status and this side, playing the switcher, answers with a
// paced status reply: once with the window on the line itself, once on a share of matrixd,
// turn about in the same run. Times from the reply's first byte to the four lamps lit.
struct ShareLampResult {
    QString error;
    struct Side {
        Summary toLamps;      // ms, first reply byte written to all four lamps lit
        Summary pressToFrame; // ms, click() to the whole query readable at the switcher
        Summary toNotice;     // ms, first reply byte written to the window's first notification
        int splitReplies = 0;
        int timeouts = 0;
        int lineStalls = 0; // left out: the writer itself took longer than the settle wait
        int wrongFrames = 0;
    };
    Side direct;
    Side share;
    int iterations = 0; // measured, each way
    int warmups = 0;
};
ShareLampResult measureShareReplyToLamp(const QString& matrixdPath, int iterations);

// 6d. A client writes a route frame to a share, the line idle: time until the whole frame is
// readable at the switcher's end of matrixd's line.
struct ShareFrameResult {
    QString error;
    Summary toLine; // ms
    // The slowest tenth of the frames, and how long matrixd waited for a CPU during them.
    Summary slowTenth;     // ms
    Summary slowTenthWait;     // ms runnable but not running, from /proc/<pid>/schedstat
    Summary slowTenthSelfWait; // the same for this side, which reads the line
    int wrongFrames = 0;
    int unconfirmed = 0; // commands matrixd logged as not confirmed; should stay 0
};
ShareFrameResult measureShareFrameToLine(const QString& matrixdPath, int frames);

// 6e, 6f. matrixd polling the simulator (no pacing) back to back.
struct PollMemoryResult {
    QString error;
    int polls = 0;
    int firstAt = 0;      // polls answered when the first sample was taken
    long firstKb = 0;     // VmRSS then
    long lastKb = 0;      // VmRSS after the last poll
    long maxKb = 0;       // the largest of the samples (every 1000 polls)
    double seconds = 0;   // for all polls, from matrixd's start
    double cpuPercent = 0; // matrixd's CPU between the two samples, % of one core
};
PollMemoryResult measurePollMemory(const QString& matrixdPath, const QString& simPath, int polls);

// 6g. matrixd at its default poll of 5 s, no client, the simulator paced: CPU over a span.
struct IdleCpuResult {
    QString error;
    double percent = 0; // of one core
    double seconds = 0;
    long ticks = 0; // utime + stime over the span, in clock ticks
    long ticksPerSecond = 0;
    long residentKb = 0;
};
IdleCpuResult measureIdleCpu(const QString& matrixdPath, const QString& simPath,
                             std::chrono::seconds span);
