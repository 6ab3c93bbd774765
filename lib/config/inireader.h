#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One line of an INI text that says something: a section header or KEY = VALUE.
struct IniEntry {
    int line = 0;
    bool isHeader = false;
    QString section; // a header's name, as written between the brackets
    QString key;     // for KEY = VALUE
    QString value;   // without the quotes around it
};

// The INI grammar alone, line by line, so that the first fault of a file is the one reported,
// whichever of grammar or content it is. What sections and keys mean is the caller's.
class IniReader {
public:
    explicit IniReader(const QByteArray& text);

    // The next header or key; blank lines and comments (# or ;) are skipped. Nothing at the end,
    // or at a line that is neither, with error() saying what is wrong with it.
    std::optional<IniEntry> next();
    QString error() const { return error_; }
    // The line last read, counting from 1.
    int line() const { return int(next_); }

private:
    QList<QByteArray> lines_;
    qsizetype next_ = 0;
    bool inSection_ = false;
    QString error_;
};
