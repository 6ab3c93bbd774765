#pragma once

#include <QString>

inline constexpr int kFirstPortNumber = 1;
inline constexpr int kLastPortNumber = 10;

// "COM<n>".
QString portLabel(int portNumber);

// The device that COM<n> stands for: COM<n> itself on Windows; elsewhere ./COM<n> in the working
// directory when it exists (a link such as `ln -s /dev/ttyUSB0 COM1`), else /dev/ttyS<n-1>.
// Symbolic links are resolved so that port locks name the real device.
QString portDevicePath(int portNumber);
