#pragma once

#include "platform/fakes/fakemessageboxes.h"
#include "platform/fakes/fakeserialcontrol.h"
#include "window/form1.h"
#include "window/lamp.h"
#include "window/messagelog.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

#include "support/formcontrols.h"
#include "support/scratchdirectory.h"
#include <QTest>

#include <memory>

// One panel over fakes, run in a fresh working directory (the port choice writes COMPORT there).
struct Panel {
    Panel() = default;
    ~Panel() { form.reset(); }
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    Form1& create()
    {
        form = std::make_unique<Form1>(serial, boxes);
        return *form;
    }
    // Constructed and loaded, not shown.
    Form1& start()
    {
        create();
        form->load();
        return *form;
    }
    // Loaded and shown, as the program does it.
    Form1& startShown()
    {
        start();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            qFatal("window not exposed");
        return *form;
    }

    void writePortFile(const QByteArray& content)
    {
        QFile file(QStringLiteral("COMPORT"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0)
            qFatal("can not write COMPORT");
    }
    QByteArray portFile() const
    {
        QFile file(QStringLiteral("COMPORT"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    template <typename W = QWidget> W* child(const QString& name) const
    {
        return controls::find<W>(*form, name);
    }
    QPushButton* button(const QString& name) const { return child<QPushButton>(name); }
    QPushButton* command1(int index) const { return controls::command1(*form, index); }
    QRadioButton* option(int mode) const { return controls::option1(*form, mode); }
    QComboBox* combo() const { return child<QComboBox>(QStringLiteral("Combo1")); }
    QPlainTextEdit* text1() const { return child<QPlainTextEdit>(QStringLiteral("Text1")); }
    QString caption() const { return button(QStringLiteral("Command7"))->text(); }
    bool greenLit() const { return child<Lamp>(QStringLiteral("Shape15"))->isLit(); }
    bool redLit() const { return child<Lamp>(QStringLiteral("Shape16"))->isLit(); }
    void click(QAbstractButton* b) const { QTest::mouseClick(b, Qt::LeftButton); }

    ScratchDirectory dir;
    FakeSerialControl serial;
    FakeMessageBoxes boxes;
    std::unique_ptr<Form1> form;
};

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out.append(char(v));
    return out;
}

// Which lamps of an output are lit, as "1000" for input 1 lit.
inline QString lampRow(const Form1& form, int output)
{
    QString row;
    for (int input = 1; input <= 4; ++input)
        row += form.routingLamp(output, input)->isLit() ? u'1' : u'0';
    return row;
}

// The display of the link as "caption green red", e.g. "Disconnect lit dark".
inline QString display(const Panel& panel)
{
    return QStringLiteral("%1 %2 %3")
        .arg(panel.caption(), panel.greenLit() ? "lit" : "dark", panel.redLit() ? "lit" : "dark");
}
