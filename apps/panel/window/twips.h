#pragma once

#include <QRect>
#include <QWidget>

// The window is laid out in twips (1/1440 inch); at 96 dpi a pixel is 15 twips. Every
// position and size goes through here, so rounding happens in one place.
inline constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return qRound(twips / double(kTwipsPerPixel));
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

inline void placeTwips(QWidget& widget, int left, int top, int width, int height)
{
    widget.setGeometry(twipsRect(left, top, width, height));
}
