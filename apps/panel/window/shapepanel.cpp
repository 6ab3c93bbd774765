#include "shapepanel.h"

#include <QPainter>

#include <algorithm>

ShapePanel::ShapePanel(const QColor& fill, std::optional<QColor> outline, QWidget* parent)
    : QWidget(parent), fill_(fill), outline_(outline)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ShapePanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (outline_) {
        QPen pen(*outline_, 1);
        pen.setCosmetic(true);
        painter.setPen(pen);
    } else {
        painter.setPen(Qt::NoPen);
    }
    painter.setBrush(fill_);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = std::min(box.width(), box.height()) / 8;
    painter.drawRoundedRect(box, radius, radius);
}
