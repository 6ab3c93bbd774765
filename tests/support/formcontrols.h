#pragma once

#include "serial/replyintake.h"
#include "window/lamp.h"
#include "window/messagelog.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

// The window's controls by the names they were designed with, and what they show, in one
// notation for every test.
namespace controls {

template <typename W = QWidget> W* find(const QObject& form, const QString& name = {})
{
    W* found = form.findChild<W*>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

inline QPushButton* command1(const QObject& form, int index)
{
    return find<QPushButton>(form, QStringLiteral("Command1_%1").arg(index));
}

// A lamp row: "-x--" is input 2 lit, "----" all dark.
inline QString row(int litInput)
{
    QString text(4, u'-');
    if (litInput >= 1 && litInput <= 4)
        text[litInput - 1] = u'x';
    return text;
}

// The rows of outputs 1..4 from their inputs, "2413"; 0 for a dark row.
inline QStringList rowsFor(const QString& routes)
{
    QStringList rows;
    for (const QChar input : routes)
        rows << row(input.digitValue());
    return rows;
}

inline const QStringList kAllDark = rowsFor(QStringLiteral("0000"));

} // namespace controls

// A test's panel: view() is its window.
class FormView {
public:
    virtual ~FormView() = default;
    virtual const QWidget& view() const = 0;

    template <typename W = QWidget> W* child(const QString& name) const
    {
        return controls::find<W>(view(), name);
    }
    QPushButton* button(const QString& name) const { return child<QPushButton>(name); }
    QPushButton* command1(int index) const { return controls::command1(view(), index); }
    QRadioButton* option(int mode) const
    {
        return child<QRadioButton>(QStringLiteral("Option1_%1").arg(mode));
    }
    QComboBox* combo() const { return child<QComboBox>(QStringLiteral("Combo1")); }
    QPlainTextEdit* text1() const { return child<QPlainTextEdit>(QStringLiteral("Text1")); }
    Lamp* lamp(int output, int input) const
    {
        return child<Lamp>(QStringLiteral("Shape%1_%2").arg(16 + output).arg(input - 1));
    }
    ReplyIntake* intake() const { return controls::find<ReplyIntake>(view()); }
    // The log character for character, as the box's own text does not show CR or NUL.
    QString log() const { return controls::find<MessageLog>(*text1())->text(); }

    QStringList lampRows() const
    {
        QStringList rows;
        for (int output = 1; output <= 4; ++output) {
            QString text;
            for (int input = 1; input <= 4; ++input)
                text += lamp(output, input)->isLit() ? u'x' : u'-';
            rows << text;
        }
        return rows;
    }

    // The caption of Command7 and the lit connection lamps: "Disconnect green", "Connect red".
    QString display() const
    {
        QString text = button(QStringLiteral("Command7"))->text();
        if (child<Lamp>(QStringLiteral("Shape15"))->isLit())
            text += QStringLiteral(" green");
        if (child<Lamp>(QStringLiteral("Shape16"))->isLit())
            text += QStringLiteral(" red");
        return text;
    }

    QList<int> checkedOptions() const
    {
        QList<int> checked;
        for (int mode = 0; mode <= 10; ++mode) {
            if (option(mode)->isChecked())
                checked << mode;
        }
        return checked;
    }

    static void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
};
