#include "blockbutton.h"

#include <QPainter>
#include <QPolygonF>

namespace {
// The size an 18 pt arrow glyph takes: about half an em high, half as wide as high.
constexpr qreal kArrowHeight = 13;
constexpr qreal kArrowWidth = 7;
} // namespace

BlockButton::BlockButton(Face face, const QString& caption, QWidget* parent)
    : QPushButton(face == Face::Caption ? caption : QString(), parent), face_(face)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Button, kBlockButtonFace);
    setPalette(pal);
}

void BlockButton::paintEvent(QPaintEvent* event)
{
    QPushButton::paintEvent(event);
    if (face_ == Face::Caption)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    const QPointF c = QRectF(rect()).center();
    const qreal h = kArrowHeight / 2;
    const qreal w = kArrowWidth / 2;
    QPolygonF triangle;
    if (face_ == Face::LeftArrow)
        triangle << QPointF(c.x() - w, c.y()) << QPointF(c.x() + w, c.y() - h)
                 << QPointF(c.x() + w, c.y() + h);
    else
        triangle << QPointF(c.x() + w, c.y()) << QPointF(c.x() - w, c.y() - h)
                 << QPointF(c.x() - w, c.y() + h);
    painter.drawPolygon(triangle);
}
