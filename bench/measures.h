#pragma once

#include "stats.h"

#include <QString>

#include <array>
#include <chrono>

// 1. Button click to the frame's last byte readable on the far side of the line.
struct ClickResult {
    QString error;
    Summary toWire; // ms
    int wrongFrames = 0;
    int failureBoxes = 0;
};
ClickResult measureClickToWire(int clicks);

// 2. First byte of a paced 14-byte status reply to all four lamps lit.
struct LampResult {
    QString error;
    Summary toLamps;             // ms
    Summary writeSpan;           // ms from first to last byte written, the pacing itself
    Summary toNotification;      // ms from the first byte to the port's first notification
    Summary notificationToLamps; // ms from there to the lamps: settle wait, decode, apply
    Summary settleTimerAlone;    // ms a 30 ms precise single-shot timer takes in this event loop
    Summary applyAlone;          // ms the window takes to apply one status reply text
    int splitReplies = 0;
    int timeouts = 0;
    int lineStalls = 0; // runs left out: the writer itself took longer than the settle wait
    int iterations = 0;
};
LampResult measureReplyToLamp(int iterations);

// 3. One entry appended to a log of each size, by the log and by rewriting the whole text.
struct AppendResult {
    QString error;
    std::array<qsizetype, 3> sizes{};  // characters (one per received byte)
    std::array<Summary, 3> append;     // ms: appendEntry + selectAll + the repaint that follows
    std::array<Summary, 3> appendCall; // ms: appendEntry + selectAll alone
    std::array<Summary, 3> rewrite;    // ms: setPlainText(old + entry) + the repaint
};
AppendResult measureLogAppend(const std::array<qsizetype, 3>& sizes, int appends, int rewrites);

// 4. Replies per second through bytes2BSTR and decodeReply over a mix of reply forms.
struct DecodeResult {
    Summary perSecond; // median and spread over blocks
    int forms = 0;
};
DecodeResult measureDecoding(int blocks, int repliesPerBlock);

// 5. The real panel binary: spawn to its window's first frame, and its resident memory then.
struct StartupResult {
    QString error;
    Summary toFirstFrame; // ms
    Summary residentKb;
    int runs = 0;
};
StartupResult measurePanelStartup(const QString& panelPath, int runs);

// 5. A child of this program doing what main.cpp does, then taking many log entries.
struct MemoryResult {
    QString error;
    double mainToFirstPaintMs = 0;
    long residentAfterStartKb = 0;
    long residentAfterEntriesKb = 0;
    double entriesSeconds = 0;
    double firstRepliesMs = 0; // median time of one status reply, early in the run
    double lastRepliesMs = 0;  // the same at the end, the log long
    int edgeReplies = 0;
    int entries = 0;
    qsizetype logChars = 0;
};
MemoryResult measureMemoryInChild(const QString& benchPath, int entries);
// The child's side: prints "key value" lines and returns the exit code.
int runMemoryChild(int entries, std::chrono::steady_clock::time_point mainEntered);
