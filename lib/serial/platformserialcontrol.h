#pragma once

#include <QtGlobal>

// The serial control the programs open real ports with on this platform.
#ifdef Q_OS_WIN
#include "winserialcontrol.h"
using PlatformSerialControl = WinSerialControl;
#else
#include "qtserialcontrol.h"
using PlatformSerialControl = QtSerialControl;
#endif
