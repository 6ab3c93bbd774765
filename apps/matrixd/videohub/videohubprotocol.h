#pragma once

#include <QString>
#include <QStringList>

// The words and bounds of the router control protocol (the Videohub Ethernet Protocol), each
// written once. A block is a header line ending in a colon, its items one a line, and an empty
// line; ACK and NAK are blocks of a header alone.
namespace videohub {

// Devices that send every block of our greeting, END PRELUDE included, report this version.
inline const QString kVersion = QStringLiteral("2.8");

inline const QString kPreamble = QStringLiteral("PROTOCOL PREAMBLE:");
inline const QString kDevice = QStringLiteral("VIDEOHUB DEVICE:");
inline const QString kInputLabels = QStringLiteral("INPUT LABELS:");
inline const QString kOutputLabels = QStringLiteral("OUTPUT LABELS:");
inline const QString kOutputLocks = QStringLiteral("VIDEO OUTPUT LOCKS:");
inline const QString kOutputRouting = QStringLiteral("VIDEO OUTPUT ROUTING:");
inline const QString kConfiguration = QStringLiteral("CONFIGURATION:");
inline const QString kEndPrelude = QStringLiteral("END PRELUDE:");
inline const QString kPing = QStringLiteral("PING:");
inline const QString kAck = QStringLiteral("ACK");
inline const QString kNak = QStringLiteral("NAK");

// The blocks a client may ask for by sending the header alone, in the greeting's order.
inline const QStringList kStatusHeaders = {kPreamble,    kDevice,         kInputLabels,
                                           kOutputLabels, kOutputLocks,   kOutputRouting,
                                           kConfiguration};

inline const QString kVersionField = QStringLiteral("Version: ");
inline const QString kDevicePresentField = QStringLiteral("Device present: ");
inline const QString kModelNameField = QStringLiteral("Model name: ");
inline const QString kFriendlyNameField = QStringLiteral("Friendly name: ");
inline const QString kUniqueIdField = QStringLiteral("Unique ID: ");
inline const QString kVideoInputsField = QStringLiteral("Video inputs: ");
inline const QString kProcessingUnitsField = QStringLiteral("Video processing units: ");
inline const QString kVideoOutputsField = QStringLiteral("Video outputs: ");
inline const QString kMonitoringOutputsField = QStringLiteral("Video monitoring outputs: ");
inline const QString kSerialPortsField = QStringLiteral("Serial ports: ");
inline const QString kTakeModeField = QStringLiteral("Take Mode: ");
inline const QString kTrue = QStringLiteral("true");
inline const QString kFalse = QStringLiteral("false");
inline const QString kUnlocked = QStringLiteral("U");

inline const QString kModelName = QStringLiteral("matrixd 4x4 HDMI matrix");
inline constexpr int kUniqueIdDigits = 12;

inline constexpr char kLineEnd = '\n';
inline constexpr char kCarriageReturn = '\r';
inline constexpr char kTab = '\t';
inline constexpr QChar kItemSeparator{u' '};

// What one client may send: a longer line, or a block with more items, ends its connection.
inline constexpr qsizetype kMaxLineBytes = 1024;
inline constexpr qsizetype kMaxItems = 64;

} // namespace videohub
