#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

class SerialLink;

inline const QString kPortFileName = QStringLiteral("COMPORT");
inline constexpr int kPortEntryCount = 10;

// The first number of a "COMPORT" file as an unsigned 8-bit value: leading blanks and line
// breaks skipped, ended by a blank, comma or line break; leading zeros are part of it. Empty,
// non-numeric or over 255 give 0.
std::uint8_t parsePortFile(const QByteArray& content);
// " <index> " CR LF.
QByteArray formatPortFile(int index);
// The list index a file's content restores: 10 to 255 name no entry and fall back to COM1.
int restoredIndex(const QByteArray& content);
// "COM1" .. "COM10".
QStringList portEntries();

// The operator's port choice, remembered in "COMPORT" in the working directory.
class PortChoice {
public:
    explicit PortChoice(SerialLink& link, QString fileName = kPortFileName);

    // The index to select at start-up; 0 when the file is missing or unusable.
    int rememberedIndex() const;
    // The selection became `index`: close the link, set the port number, remember it.
    void pick(int index);

private:
    void remember(int index) const;

    SerialLink& link_;
    QString fileName_;
};
