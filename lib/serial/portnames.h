#pragma once

#include <QString>

#include <optional>

inline constexpr int kFirstPortNumber = 1;
inline constexpr int kLastPortNumber = 10;

// "COM<n>".
QString portLabel(int portNumber);

// The device that COM<n> stands for: COM<n> itself on Windows; elsewhere ./COM<n> in the working
// directory when it exists (a link such as `ln -s /dev/ttyUSB0 COM1`), else /dev/ttyS<n-1>.
// Symbolic links are resolved so that port locks name the real device.
QString portDevicePath(int portNumber);

// A port named as the panel names ports (COM1..COM10) or by its device path (anything with a /).
struct PortName {
    int number = 0;     // 1..10 when named COM<n>
    QString devicePath; // set when named by its path
    // "COM3", or the path.
    QString label() const;
    friend bool operator==(const PortName&, const PortName&) = default;
};
std::optional<PortName> parsePortName(const QString& text);
