#pragma once

#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

// The window's controls by the names they were designed with.
namespace controls {

template <typename W = QWidget> W* find(const QWidget& form, const QString& name)
{
    W* widget = form.findChild<W*>(name);
    if (!widget)
        qFatal("no control %s", qPrintable(name));
    return widget;
}

inline QPushButton* command1(const QWidget& form, int index)
{
    return find<QPushButton>(form, QStringLiteral("Command1_%1").arg(index));
}

inline QRadioButton* option1(const QWidget& form, int mode)
{
    return find<QRadioButton>(form, QStringLiteral("Option1_%1").arg(mode));
}

} // namespace controls
