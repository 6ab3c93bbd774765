#pragma once

// One panel as the program runs it: the real window over the real serial control, in the test's
// working directory. Boxes are recorded instead of shown.

#include "support/fakes/fakemessageboxes.h"
#include "serial/qtserialcontrol.h"
#include "support/formcontrols.h"
#include "window/form1.h"

#include <QDeadlineTimer>
#include <QSignalSpy>

struct PanelWindow : FormView {
    QtSerialControl serial;
    FakeMessageBoxes boxes;
    Form1 form{serial, boxes};
    // Every reply text, recorded after the window has applied it.
    QSignalSpy texts{intake(), &ReplyIntake::replyText};

    const QWidget& view() const override { return form; }

    // The program's start-up: load, then show.
    bool start()
    {
        form.load();
        form.show();
        return QTest::qWaitForWindowExposed(&form);
    }

    // Runs a real event loop until `count` texts have come, or the timeout.
    bool waitForTexts(qsizetype count, int timeoutMs = 3000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (texts.count() < count && !deadline.hasExpired())
            texts.wait(int(std::max<qint64>(1, deadline.remainingTime())));
        return texts.count() >= count;
    }

    QStringList textsSoFar() const
    {
        QStringList all;
        for (const QList<QVariant>& arguments : texts)
            all << arguments.at(0).toString();
        return all;
    }

    // Clicks and waits for the reply's `textCount` texts.
    bool clickAndWait(QAbstractButton* button, qsizetype textCount = 1)
    {
        const qsizetype before = texts.count();
        click(button);
        return waitForTexts(before + textCount);
    }
};
