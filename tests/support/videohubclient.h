#pragma once

// A router control client written from the Videohub Ethernet Protocol's published description,
// not from matrixd's code: every line ends in a newline, a block is an all-caps header ending in
// a colon, its lines and a blank line (ACK and NAK are a word and a blank line); the server
// sends its whole state on connecting and then a block of what changed. Like a real client it
// keeps a copy of the routing and of "Device present" from those blocks. Each block is stamped
// with the time its last line was read, for the benchmark.

#include <QByteArray>
#include <QEventLoop>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class VideohubClient {
public:
    using Clock = std::chrono::steady_clock;

    struct Block {
        QString header;
        QStringList items;
        Clock::time_point at;
        bool operator==(const QString& text) const { return header == text; }
    };

    VideohubClient()
    {
        QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { read(); });
    }

    bool connectTo(int port, int timeoutMs = 3000)
    {
        socket_.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        return socket_.waitForConnected(timeoutMs);
    }

    bool send(const QByteArray& bytes)
    {
        return socket_.write(bytes) == bytes.size() && socket_.flush();
    }

    // Runs a real event loop until `done` holds after a read, or the timeout.
    bool waitFor(const std::function<bool()>& done, int timeoutMs = 3000)
    {
        if (done())
            return true;
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        const auto check = [&] {
            if (done())
                loop.quit();
        };
        QObject::connect(&socket_, &QTcpSocket::readyRead, &loop, check);
        QObject::connect(&socket_, &QTcpSocket::disconnected, &loop, check);
        loop.exec();
        return done();
    }

    bool waitForBlocks(qsizetype count, int timeoutMs = 3000)
    {
        return waitFor([&] { return blocks.size() >= count; }, timeoutMs);
    }
    // The greeting ends with END PRELUDE.
    bool waitForGreeting(int timeoutMs = 3000)
    {
        return waitFor([&] { return blocks.contains(QStringLiteral("END PRELUDE:")); }, timeoutMs);
    }
    bool waitForClose(int timeoutMs = 3000)
    {
        return waitFor([&] { return socket_.state() == QAbstractSocket::UnconnectedState; },
                       timeoutMs);
    }

    // The blocks from `from` on whose header is `header`.
    QList<Block> blocksNamed(const QString& header, qsizetype from = 0) const
    {
        QList<Block> found;
        for (qsizetype i = from; i < blocks.size(); ++i) {
            if (blocks.at(i).header == header)
                found << blocks.at(i);
        }
        return found;
    }
    // The headers from `from` on, "ACK" and "NAK" among them.
    QStringList headers(qsizetype from = 0) const
    {
        QStringList found;
        for (qsizetype i = from; i < blocks.size(); ++i)
            found << blocks.at(i).header;
        return found;
    }

    bool isConnected() const { return socket_.state() == QAbstractSocket::ConnectedState; }
    QTcpSocket& socket() { return socket_; }

    QList<Block> blocks;
    QList<QByteArray> reads; // each read as it came, for how the bytes were cut
    QByteArray raw;
    QMap<int, int> routing; // output -> input, counted from 0 as on the wire
    std::optional<bool> devicePresent;

private:
    void read()
    {
        const QByteArray bytes = socket_.readAll();
        if (bytes.isEmpty())
            return;
        reads << bytes;
        raw += bytes;
        pending_ += bytes;
        qsizetype end = 0;
        while ((end = pending_.indexOf('\n')) >= 0) {
            QString line = QString::fromUtf8(pending_.left(end));
            pending_.remove(0, end + 1);
            if (line.endsWith(u'\r'))
                line.chop(1);
            take(line);
        }
    }

    void take(const QString& line)
    {
        if (!current_) {
            if (!line.isEmpty())
                current_ = Block{line, {}, {}};
            return;
        }
        if (!line.isEmpty()) {
            current_->items << line;
            return;
        }
        current_->at = Clock::now();
        apply(*current_);
        blocks << *std::exchange(current_, std::nullopt);
    }

    void apply(const Block& block)
    {
        if (block.header == u"VIDEO OUTPUT ROUTING:") {
            for (const QString& item : block.items) {
                const QStringList pair = item.split(u' ');
                if (pair.size() == 2)
                    routing[pair.at(0).toInt()] = pair.at(1).toInt();
            }
        } else if (block.header == u"VIDEOHUB DEVICE:") {
            for (const QString& item : block.items) {
                if (item.startsWith(QStringLiteral("Device present: ")))
                    devicePresent = item.endsWith(QStringLiteral(": true"));
            }
        }
    }

    QTcpSocket socket_;
    QByteArray pending_;
    std::optional<Block> current_;
};
