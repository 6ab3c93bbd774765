#pragma once

#include "support/fakes/fakemessageboxes.h"
#include "support/fakes/fakeserialcontrol.h"
#include "support/formcontrols.h"
#include "support/scratchdirectory.h"
#include "support/switcher.h"
#include "window/form1.h"

#include <QApplication>
#include <QSignalSpy>

#include <memory>

// One panel over fakes, run in a fresh working directory (the port choice writes COMPORT there).
struct Panel : FormView {
    Panel() = default;
    ~Panel() override { form.reset(); }
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    const QWidget& view() const override { return *form; }

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
    // Loaded and shown as the program does it, and the active window, so that keys reach it.
    Form1& startShown()
    {
        start();
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get()))
            qFatal("window not active");
        return *form;
    }

    // Delivers bytes as they would arrive and waits until the window has handled the reply.
    [[nodiscard]] bool arrive(const QByteArray& chunk)
    {
        QSignalSpy handled(intake(), &ReplyIntake::replyText);
        serial.feed(chunk);
        return handled.wait() && handled.count() == 1;
    }

    // Keys as the operator types them: to the control that has the focus.
    static void type(const QString& keys) { QTest::keyClicks(QApplication::focusWidget(), keys); }
    static void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }

    ScratchDirectory dir;
    FakeSerialControl serial;
    FakeMessageBoxes boxes;
    std::unique_ptr<Form1> form;
};
