#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>

// The switcher's end of a serial line: the master side of a pseudo-terminal, optionally linked
// as COM<n> so the panel opens it like a port. Closing the master is a real hang-up for the
// panel. Unix only.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens a raw master/slave pair. The slave stays open too until closeSlave(), so that
    // nothing is lost before the panel opens its end.
    bool open();
    bool isOpen() const { return master_ >= 0; }
    int masterFd() const { return master_; }
    int slaveFd() const { return slave_; }
    QString slavePath() const { return slavePath_; }

    // mayLinkAt(), open(), then `prepare` (an error text, or empty to go on), then linkAs();
    // on failure nothing stays open or linked and `error` says why.
    bool openLinkedAt(const QString& linkPath, QString& error,
                      const std::function<QString()>& prepare = {});

    // A symbolic link at linkPath to the slave device; removed by unlink() and the destructor.
    bool linkAs(const QString& linkPath);
    void unlink();
    QString linkPath() const { return linkPath_; }

    // Drops this process's own hold on the slave side.
    void closeSlave();
    // Hangs up: the panel's port sees the device go away.
    void closeMaster();

    // Writes all bytes; with a per-byte delay, one at a time like a slow line.
    bool write(const QByteArray& bytes,
               std::chrono::microseconds perByte = std::chrono::microseconds{0});
    // What a full line does to a paced write: wait for room, or end the write there.
    enum class WhenFull { Wait, Stop };
    // Bytes `perByte` apart against one clock from the first; how many went out, -1 on failure.
    qsizetype writePaced(const QByteArray& bytes, std::chrono::microseconds perByte,
                         WhenFull whenFull);
    // Everything the other side has written and not yet been read, without waiting. A read
    // that fails for another reason than "nothing more" sets `failure` to its errno.
    QByteArray readAvailable(int* failure = nullptr);
    // Reads what arrives within the timeout; returns as soon as `atLeast` bytes are in hand.
    QByteArray read(std::chrono::milliseconds timeout, qsizetype atLeast = 1);

    // Whether a link may be made at linkPath: nothing there, or a link into /dev/pts (a
    // pseudo-terminal's, live or left by a stopped run). Any other file or link (a real
    // adapter's, even one unplugged) belongs to the user and is never replaced.
    static bool mayLinkAt(const QString& linkPath, QString& error);

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    QString linkPath_;
};
