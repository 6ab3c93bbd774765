#pragma once

#include <QPlainTextEdit>
#include <QString>

// The log of what the switcher sent, kept in the text box Text1.
//
// text() is the log character for character: CR, LF, NUL and every other control character as
// appended, plus whatever the operator typed. The box shows each of those characters as exactly
// one document character (LF a paragraph break, CR a zero-width space, other control characters
// their Unicode control pictures), so document positions and log positions are the same and
// the operator's edits map straight back. Appends insert at the end of the document: an append
// costs the length of what is appended, never the length of the log.
class MessageLog : public QObject {
    Q_OBJECT
public:
    // Configures the box and lives as its child.
    explicit MessageLog(QPlainTextEdit& box);

    // CR LF, then the message.
    void appendEntry(const QString& message);
    void appendLineBreak();
    // The text as it is, nothing added or removed.
    void appendText(const QString& text);
    // Everything selected, the caret at the end so the newest text is in view; while the box
    // has the focus, only the caret at the end.
    void selectAll();
    void clear();

    const QString& text() const { return text_; }
    QPlainTextEdit& box() const { return box_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void insertAtEnd(const QString& text);
    void followEdit(int position, int removed, int added);
    void resync();

    QPlainTextEdit& box_;
    QString text_;
    bool ownEdit_ = false;
};

// The box of the log. What is copied, cut or dragged out of it is the log's own text, CR LF and
// control characters as they arrived, not the characters that show them; what is pasted or
// dropped into it shows the way the log shows it.
class LogBox : public QPlainTextEdit {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    QMimeData* createMimeDataFromSelection() const override;
    void insertFromMimeData(const QMimeData* source) override;
};

// How a log character shows in the box, and back. Exposed for tests.
QString logToDisplay(const QString& text);
QString displayToLog(const QString& shown);
