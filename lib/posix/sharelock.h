#pragma once

#include <QString>

// matrixd's claim on a share's link while it runs: an exclusive flock on LINK.lock, which holds
// the owner's pid. The kernel drops the lock when the owner dies, however it dies, so a link
// left by a killed run is free to replace while a live one's is not.
class ShareLock {
public:
    ShareLock() = default;
    ~ShareLock();
    ShareLock(const ShareLock&) = delete;
    ShareLock& operator=(const ShareLock&) = delete;

    // False with the reason when another live process holds the lock, or it cannot be taken.
    bool acquire(const QString& linkPath, QString& error);
    // Removes the lock file, then lets go of the lock.
    void release();
    bool isHeld() const { return fd_ >= 0; }

    static QString lockPathFor(const QString& linkPath);

private:
    int fd_ = -1;
    QString lockPath_;
};
