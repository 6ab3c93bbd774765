#include "framebox.h"

#include <QPainter>

FrameBox::FrameBox(const QString& title, QWidget* parent) : QGroupBox(title, parent)
{
    setAutoFillBackground(true);
}

void FrameBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int lineY = metrics.height() / 2;
    const QColor light = palette().color(QPalette::Light);
    const QColor dark = palette().color(QPalette::Mid);
    // An etched border: a dark line with a light one inside it.
    painter.setPen(dark);
    painter.drawRect(QRect(0, lineY, width() - 2, height() - lineY - 2));
    painter.setPen(light);
    painter.drawRect(QRect(1, lineY + 1, width() - 2, height() - lineY - 2));

    const int captionLeft = 6;
    const QRect caption(captionLeft, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
    painter.fillRect(caption, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter, title());
}
