#pragma once

#include "stats.h"

#include <QString>

// 7. matrixd on a broker of its own (Debian's mosquitto on a free loopback port), its line a
// pseudo-terminal on which this side plays the switcher, and an MQTT client of this side's that
// sets output B and follows its state. One set-up per call; `brokerNoDelay` is the broker's
// set_tcp_nodelay.
struct MqttResult {
    QString error;
    Summary setToLine;       // ms, the set's publish call to the whole frame readable on the line
    Summary replyToState;    // ms, the reply's first byte written to output/B received
    Summary replyToRoutes;   // ms, the same to routes received, the burst's second message
    Summary timerAlone;      // ms, a 30 ms precise single-shot timer in this event loop
    Summary brokerRoundTrip; // ms, a publish of this side's to its own subscription
    Summary writeSpan;       // ms, the paced reply's first byte to its last
    int rounds = 0;          // measured
    int warmups = 0;
    int wrongFrames = 0; // no frame, or not the one the set asks for
    int timeouts = 0;    // the state did not follow within 2 s
    int failures = 0;    // commands matrixd logged as failed or not confirmed
};
MqttResult measureMqttSetAndState(const QString& matrixdPath, int rounds, bool brokerNoDelay);

// Where the broker is expected; the rows fail with a reason when it is not there.
QString mosquittoPath();
