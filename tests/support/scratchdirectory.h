#pragma once

#include <QDir>
#include <QFile>
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

namespace scratch {

// A file of the working directory, whole; "<missing>" when it cannot be read.
inline QByteArray readFile(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void writeFile(const QString& name, const QByteArray& content)
{
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0)
        qFatal("cannot write %s", qPrintable(name));
}

} // namespace scratch
