#include "lamp.h"

#include <QPainter>

Lamp::Lamp(const QColor& fill, const QColor& outline, const QString& name, QWidget* parent)
    : QWidget(parent), fill_(fill), outline_(outline)
{
    // A lamp only shows state; clicks go to whatever lies below it.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(name);
    setAccessibleDescription(QStringLiteral("dark"));
}

void Lamp::setLit(bool lit)
{
    if (lit == lit_)
        return;
    lit_ = lit;
    setAccessibleDescription(lit ? QStringLiteral("lit") : QStringLiteral("dark"));
    update();
}

void Lamp::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(outline_, 1);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.setBrush(lit_ ? QBrush(fill_) : QBrush(Qt::NoBrush));
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
