#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One block of the router control protocol: its header line as written ("VIDEO OUTPUT
// ROUTING:", "ACK") and its item lines, without line ends.
struct VideohubBlock {
    QString header;
    QStringList items;

    // UTF-8 with LF line ends and the closing empty line, for one write.
    QByteArray encoded() const;

    static VideohubBlock ack();
    static VideohubBlock nak();

    friend bool operator==(const VideohubBlock&, const VideohubBlock&) = default;
};
