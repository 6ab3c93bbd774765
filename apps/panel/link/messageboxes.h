#pragma once

#include <QString>

// Modal message boxes: text, title, an OK button, no icon. Returns when the operator closes it.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void show(const QString& text, const QString& title) = 0;
};

// The one failure box of the panel: a failed open, a failed write.
inline const QString kFailureText = QStringLiteral("open serial port fail\uFF01 ");
inline const QString kFailureTitle = QStringLiteral("ERROR");

inline void showFailure(MessageBoxes& boxes)
{
    boxes.show(kFailureText, kFailureTitle);
}
