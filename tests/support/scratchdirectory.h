#pragma once

#include <QDir>
#include <QTemporaryDir>

// A fresh temporary directory as the working directory while it lives: the panel keeps
// "COMPORT" and opens ./COM<n> there.
class ScratchDirectory {
public:
    ScratchDirectory() : valid_(dir_.isValid() && QDir::setCurrent(dir_.path())) {}
    ~ScratchDirectory() { QDir::setCurrent(previous_); }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    bool isValid() const { return valid_; }
    QString path() const { return dir_.path(); }

private:
    QString previous_ = QDir::currentPath();
    QTemporaryDir dir_;
    bool valid_;
};
