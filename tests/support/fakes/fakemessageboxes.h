#pragma once

#include "link/messageboxes.h"

#include <QList>
#include <functional>

// Records each box instead of blocking on it.
class FakeMessageBoxes : public MessageBoxes {
public:
    struct Shown {
        QString text;
        QString title;
    };
    void show(const QString& text, const QString& title) override
    {
        shown.append({text, title});
        if (onShow)
            onShow();
    }
    int failureCount() const
    {
        int n = 0;
        for (const auto& box : shown)
            n += box.text == kFailureText && box.title == kFailureTitle;
        return n;
    }
    QList<Shown> shown;
    std::function<void()> onShow; // runs while the box would be up
};
