// The message log keeps exactly what was appended and typed, and appends at the end only.
#include "windowfixture.h"

#include <QClipboard>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

namespace {

// A log over its own text box, outside any window.
struct LooseLog {
    QPlainTextEdit box;
    MessageLog* log = new MessageLog(box);
};

const QString kCrLf = QStringLiteral("\r\n");

} // namespace

class WindowMessageLogTest : public QObject {
    Q_OBJECT
private slots:
    void firstEntry_startsWithLineBreak()
    {
        LooseLog loose;
        loose.log->appendEntry(QStringLiteral("HDMI Out1 -> HDMI In 1"));
        QCOMPARE(loose.log->text(), QStringLiteral("\r\nHDMI Out1 -> HDMI In 1"));
        QCOMPARE(loose.box.document()->blockCount(), 2);
    }

    void lineBreakThenEntry_leavesEmptyLine()
    {
        LooseLog loose;
        loose.log->appendEntry(QStringLiteral("a"));
        loose.log->appendLineBreak();
        loose.log->appendEntry(QStringLiteral("b"));
        QCOMPARE(loose.log->text(), QStringLiteral("\r\na\r\n\r\nb"));
        QCOMPARE(loose.box.document()->blockCount(), 4);
    }

    void freeTextAfterEntry_isGluedToItsLine()
    {
        LooseLog loose;
        loose.log->appendEntry(QStringLiteral("HDMI Out1 -> HDMI In 1"));
        loose.log->appendText(QStringLiteral("abc"));
        QCOMPARE(loose.log->text(), QStringLiteral("\r\nHDMI Out1 -> HDMI In 1abc"));
        QCOMPARE(loose.box.document()->lastBlock().text(),
                 QStringLiteral("HDMI Out1 -> HDMI In 1abc"));
    }

    void freeTextWithControlCharacters_isKeptExactly()
    {
        LooseLog loose;
        const QString odd = QString::fromLatin1(QByteArray("x\r\ny\rz\nw\0v\x01\x1b\x7f\tend", 17));
        QCOMPARE(odd.size(), 17);
        loose.log->appendText(odd);
        loose.log->appendText(odd);
        QCOMPARE(loose.log->text(), odd + odd);
        // One document character per log character, and no raw control character in the box.
        const QString shown = loose.box.toPlainText();
        QCOMPARE(shown.size(), 2 * odd.size());
        QVERIFY(!shown.contains(QChar(u'\0')));
        QVERIFY(!shown.contains(QChar(u'\r')));
        QCOMPARE(loose.box.document()->blockCount(), 5);
        QCOMPARE(displayToLog(logToDisplay(odd)), odd);
    }

    void emptyFreeText_leavesLogUnchanged()
    {
        LooseLog loose;
        loose.log->appendEntry(QStringLiteral("m"));
        QSignalSpy changes(loose.box.document(), &QTextDocument::contentsChange);
        loose.log->appendText(QString());
        QCOMPARE(loose.log->text(), QStringLiteral("\r\nm"));
        QCOMPARE(changes.count(), 0);
    }

    void append_insertsAtTheEndOnly()
    {
        LooseLog loose;
        for (int i = 0; i < 2000; ++i)
            loose.log->appendEntry(QStringLiteral("HDMI Out3 -> HDMI In 2"));
        const int before = int(loose.log->text().size());
        QSignalSpy changes(loose.box.document(), &QTextDocument::contentsChange);

        loose.log->appendEntry(QStringLiteral("EDID MIX"));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes[0][0].toInt(), before); // at the old end
        QCOMPARE(changes[0][1].toInt(), 0);      // nothing removed
        QCOMPARE(changes[0][2].toInt(), 10);     // CR LF and the message
        QVERIFY(loose.log->text().endsWith(QStringLiteral("\r\nEDID MIX")));
        QCOMPARE(loose.log->text().size(), before + 10);
    }

    void selectAll_selectsWholeLogWithCaretAtEnd()
    {
        LooseLog loose;
        loose.log->appendEntry(QStringLiteral("one"));
        loose.log->appendText(QStringLiteral("\r\ntwo\r"));
        loose.log->selectAll();
        const QTextCursor cursor = loose.box.textCursor();
        QCOMPARE(cursor.selectionStart(), 0);
        QCOMPARE(cursor.selectionEnd(), int(loose.log->text().size()));
        QCOMPARE(cursor.position(), int(loose.log->text().size()));
        QCOMPARE(displayToLog(cursor.selectedText()), loose.log->text());
    }

    void clearButton_emptiesLogAndNextEntryStartsFresh()
    {
        Panel panel;
        panel.startShown();
        QPushButton* clear = panel.button(QStringLiteral("Command2"));
        panel.click(clear);
        QCOMPARE(panel.log(), QString());

        QVERIFY(panel.arrive("s10"));
        panel.click(clear);
        QCOMPARE(panel.log(), QString());
        QCOMPARE(panel.text1()->document()->characterCount(), 1);
        QCOMPARE(panel.lampRows(), controls::rowsFor("1000"));
        QVERIFY(panel.serial.writes.isEmpty());

        QVERIFY(panel.arrive("EE0"));
        QCOMPARE(panel.log(), QStringLiteral("\r\nEDID MIX"));
    }

    void boxSettings_noUndoHiddenSelectionVerticalScrollOnly()
    {
        Panel panel;
        panel.start();
        QPlainTextEdit* box = panel.text1();
        QVERIFY(!box->isReadOnly());
        QVERIFY(!box->document()->isUndoRedoEnabled());
        QCOMPARE(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        const QPalette pal = box->palette();
        QCOMPARE(pal.color(QPalette::Inactive, QPalette::Highlight),
                 pal.color(QPalette::Inactive, QPalette::Base));
        QCOMPARE(box->font().pixelSize(), 12);
    }

    void typedText_isKeptAndNextAppendFollowsIt()
    {
        Panel panel;
        panel.startShown();
        MessageLog& log = *controls::find<MessageLog>(*panel.text1());
        log.appendEntry(QStringLiteral("X"));
        QPlainTextEdit* box = panel.text1();
        box->setFocus(Qt::MouseFocusReason);
        box->moveCursor(QTextCursor::End);

        Panel::type(QStringLiteral("ab"));
        Panel::press(Qt::Key_Return);
        Panel::type(QStringLiteral("c"));
        QCOMPARE(log.text(), QStringLiteral("\r\nXab\r\nc"));

        log.appendEntry(QStringLiteral("Y"));
        QCOMPARE(log.text(), QStringLiteral("\r\nXab\r\nc\r\nY"));

        // Undo is off: the switcher's lines and the typing stay.
        Panel::press(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(log.text(), QStringLiteral("\r\nXab\r\nc\r\nY"));
    }

    void backspaceAfterEnter_removesWholeLineBreak()
    {
        Panel panel;
        panel.startShown();
        QPlainTextEdit* box = panel.text1();
        box->setFocus(Qt::MouseFocusReason);
        Panel::type(QStringLiteral("q"));
        Panel::press(Qt::Key_Enter);
        QCOMPARE(panel.log(), QStringLiteral("q\r\n"));
        Panel::press(Qt::Key_Backspace);
        QCOMPARE(panel.log(), QStringLiteral("q"));

        QVERIFY(panel.arrive("s10"));
        QTextCursor cursor = box->textCursor();
        cursor.setPosition(1);
        box->setTextCursor(cursor);
        Panel::press(Qt::Key_Delete);
        QCOMPARE(panel.log(), QStringLiteral("qHDMI Out1 -> HDMI In 1"));
    }

    void typingOverSelectedLog_replacesIt()
    {
        // The selection step selects the whole log while the box is elsewhere; entering the box by
        // Tab shows that selection, and typing replaces it, as in any text box.
        Panel panel;
        panel.startShown();
        QVERIFY(panel.arrive("\r\ns10s21s32s43"));
        panel.text1()->setFocus(Qt::TabFocusReason);
        Panel::type("z");
        QCOMPARE(panel.log(), QStringLiteral("z"));
        QVERIFY(panel.arrive("EE0"));
        QCOMPARE(panel.log(), QStringLiteral("z\r\nEDID MIX"));
    }

    void typingWhileRepliesArrive_keepsTheLog()
    {
        Panel panel;
        panel.startShown();
        for (int i = 0; i < 20; ++i)
            QVERIFY(panel.arrive("\r\ns10s21s32s43"));
        const QString before = panel.log();
        // The operator clicks into the box and writes a note at its top.
        QTest::mouseClick(panel.text1()->viewport(), Qt::LeftButton);
        Panel::press(Qt::Key_Home, Qt::ControlModifier);
        Panel::type("ab");
        QVERIFY(panel.arrive("s22"));
        // The caret stands at the end, in view, and selects nothing.
        const QTextCursor cursor = panel.text1()->textCursor();
        QVERIFY(!cursor.hasSelection());
        QCOMPARE(cursor.position(), int(panel.log().size()));
        QVERIFY(panel.text1()->verticalScrollBar()->maximum() > 0);
        QVERIFY(panel.text1()->viewport()->rect().contains(panel.text1()->cursorRect()));
        Panel::type("x");
        QCOMPARE(panel.log(), "ab" + before + switcher::routeEntry(2, 3) + "x");
    }

    void deletingInsideLog_removesThoseCharacters()
    {
        Panel panel;
        panel.startShown();
        MessageLog& log = *controls::find<MessageLog>(*panel.text1());
        log.appendText(QString::fromLatin1(QByteArray("\r\nAB\0C", 6)));
        panel.text1()->setFocus(Qt::MouseFocusReason);
        QTextCursor cursor = panel.text1()->textCursor();
        cursor.setPosition(4); // after B
        panel.text1()->setTextCursor(cursor);
        Panel::press(Qt::Key_Backspace);
        QCOMPARE(log.text(), QString::fromLatin1(QByteArray("\r\nA\0C", 5)));
        Panel::press(Qt::Key_Delete);
        QCOMPARE(log.text(), QStringLiteral("\r\nAC"));
    }

    void wholeBoxTextReplaced_logFollows()
    {
        // Replacing the whole document reports its closing paragraph mark in the change counts.
        LooseLog loose;
        loose.log->appendEntry(QStringLiteral("abc"));
        loose.box.setPlainText(QStringLiteral("x\u200B\ny"));
        QCOMPARE(loose.log->text(), QStringLiteral("x\r\ny"));
        loose.log->appendEntry(QStringLiteral("z"));
        QCOMPARE(loose.log->text(), QStringLiteral("x\r\ny\r\nz"));
    }

    void copyCutAndPaste_carryTheLogsOwnCharacters()
    {
        Panel panel;
        panel.startShown();
        const QString odd = QString::fromLatin1(QByteArray("x\r\ny\rz\nw\0v\x01\x1b\x7f\tend", 17));
        QVERIFY(panel.arrive("s10"));
        QVERIFY(panel.arrive(odd.toLatin1()));
        const QString log = panel.log();
        QClipboard* clipboard = QGuiApplication::clipboard();

        panel.text1()->setFocus(Qt::TabFocusReason);
        Panel::press(Qt::Key_A, Qt::ControlModifier);
        Panel::press(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), log);
        QCOMPARE(clipboard->mimeData()->formats(), QStringList{"text/plain"});

        // The free text alone, selected back from the end.
        Panel::press(Qt::Key_End, Qt::ControlModifier);
        for (qsizetype i = 0; i < odd.size(); ++i)
            Panel::press(Qt::Key_Left, Qt::ShiftModifier);
        Panel::press(Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), odd);
        QCOMPARE(panel.log(), switcher::routeEntry(1, 1));

        Panel::press(Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(panel.log(), log);
    }
};

QTEST_MAIN(WindowMessageLogTest)
#include "tst_window_messagelog.moc"
