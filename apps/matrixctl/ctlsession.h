#pragma once

#include "ctlrequest.h"
#include "serial/replyintake.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class SerialControl;

namespace ctl {

struct Outcome {
    int exitCode = kOk;
    QString output; // for standard output
    QString error;  // one line for standard error; empty on success
};

// One request on one port whose number or device is already set: open, send the frame, judge
// the first reply text within the timeout, close. `watch` prints every reply until stop().
// Nothing is retried.
class Session : public QObject {
    Q_OBJECT
public:
    Session(SerialControl& serial, const Request& request, const QString& portName,
            QObject* parent = nullptr);

    void start();
    // Ends a watch with success; ignored once finished.
    void stop();
    bool isFinished() const { return outcome_.has_value(); }
    const Outcome& outcome() const { return *outcome_; }

signals:
    // A watch's lines, as they come.
    void printed(const QString& text);
    void finished();

private:
    void onReply(const QString& text);
    void finish(int exitCode, const QString& output, const QString& error = {});

    SerialControl& serial_;
    Request request_;
    QString portName_;
    ReplyIntake intake_;
    QTimer deadline_;
    std::optional<Outcome> outcome_;
};

// Sends the status query on COM1 to COM10 at once and lists the ports that answer with a status
// reply within the timeout.
class Detector : public QObject {
    Q_OBJECT
public:
    // A serial control with its port number set, not yet open.
    using PortFactory = std::function<std::unique_ptr<SerialControl>(int portNumber)>;

    Detector(PortFactory factory, std::chrono::milliseconds timeout, bool json,
             QObject* parent = nullptr);
    ~Detector() override;

    void start();
    bool isFinished() const { return outcome_.has_value(); }
    const Outcome& outcome() const { return *outcome_; }

signals:
    void finished();

private:
    void probeFinished();

    struct Probe {
        int portNumber;
        std::unique_ptr<SerialControl> serial;
        std::unique_ptr<Session> session;
    };

    PortFactory factory_;
    std::chrono::milliseconds timeout_;
    bool json_;
    std::vector<Probe> probes_;
    std::optional<Outcome> outcome_;
};

} // namespace ctl
