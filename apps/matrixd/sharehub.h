#pragma once

#include "config/switcherconfig.h"
#include "switcherservice.h"
#include "virtualport.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

// The virtual ports around the service. Frames from a share go on the line in turn and the
// switcher's answer goes back to that share as it arrives; what changed is told to every other
// share as the switcher's own reply texts. It observes the state as every other surface does.
class ShareHub : public QObject {
    Q_OBJECT
public:
    // Announcements to one client keep at least this far apart, and this far from the
    // client's own reply: longer than a client's settle wait, so each is read as its own text.
    static constexpr std::chrono::milliseconds kAnnouncementGap{60};

    explicit ShareHub(SwitcherService& service, QObject* parent = nullptr);
    ~ShareHub() override;

    // Links every virtual port; on failure nothing stays linked and `error` names the share.
    bool open(QString& error);
    void close();

signals:
    void logLine(const QString& line);
    void traffic(const QString& line);

private:
    struct Client {
        std::unique_ptr<VirtualPort> port;
        SwitcherFacts known; // what this client has been told or read itself
        // Commands of a client that has gone, still queued or on the line: their answers
        // are nobody's, whoever has opened the share since.
        int answersOfGone = 0;
        // Frames refused for want of room since the share's queue last ran dry: a flood
        // gets one log line, and one more with the count when it is over.
        int refusedForRoom = 0;
        std::chrono::steady_clock::time_point quietUntil{};
        QTimer announceLater;
    };

    Client& client(Origin origin) { return *clients_.at(std::size_t(origin)); }
    bool isShare(Origin origin) const { return origin >= 0 && origin < Origin(clients_.size()); }
    void onFrame(Origin origin, const QByteArray& frame);
    void onAnswerBytes(Origin origin, const QByteArray& bytes);
    void announce(Origin origin);
    void announceToAll();

    SwitcherService& service_;
    std::vector<std::unique_ptr<Client>> clients_;
};
