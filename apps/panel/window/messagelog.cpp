#include "messagelog.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {

constexpr char16_t kShownCr = 0x200B;         // zero-width space
constexpr char16_t kControlPictures = 0x2400; // U+2400 + c for c below 0x20
constexpr char16_t kShownDelete = 0x2421;

const QString kCrLf = QStringLiteral("\r\n");

QString documentSlice(const QTextDocument& document, int from, int length)
{
    QTextCursor cursor(const_cast<QTextDocument*>(&document));
    cursor.setPosition(from);
    cursor.setPosition(from + length, QTextCursor::KeepAnchor);
    return cursor.selectedText(); // paragraph breaks come back as U+2029
}

int documentLength(const QTextDocument& document)
{
    return document.characterCount() - 1; // the closing paragraph mark is not text
}

} // namespace

QString logToDisplay(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\r')
            shown += QChar(kShownCr);
        else if (u < 0x20 && u != u'\n' && u != u'\t')
            shown += QChar(char16_t(kControlPictures + u));
        else if (u == 0x7F)
            shown += QChar(kShownDelete);
        else
            shown += c;
    }
    return shown;
}

QString displayToLog(const QString& shown)
{
    QString text;
    text.reserve(shown.size());
    for (const QChar c : shown) {
        const char16_t u = c.unicode();
        if (u == QChar::ParagraphSeparator || u == QChar::LineSeparator)
            text += u'\n';
        else if (u == kShownCr)
            text += u'\r';
        else if (u >= kControlPictures && u < kControlPictures + 0x20)
            text += QChar(char16_t(u - kControlPictures));
        else if (u == kShownDelete)
            text += QChar(char16_t(0x7F));
        else
            text += c;
    }
    return text;
}

QMimeData* LogBox::createMimeDataFromSelection() const
{
    auto* data = new QMimeData;
    data->setText(displayToLog(textCursor().selectedText()));
    return data;
}

void LogBox::insertFromMimeData(const QMimeData* source)
{
    if (isReadOnly() || !source->hasText())
        return;
    QTextCursor cursor = textCursor();
    cursor.insertText(logToDisplay(source->text()));
    setTextCursor(cursor);
    ensureCursorVisible();
}

MessageLog::MessageLog(QPlainTextEdit& box) : QObject(&box), box_(box)
{
    box_.setReadOnly(false);
    box_.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box_.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box_.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box_.setTabChangesFocus(true);
    // The operator must not undo the switcher's lines, and a long log needs no undo history.
    box_.setUndoRedoEnabled(false);
    // The selection of the last notification shows only while the operator works in the box.
    QPalette pal = box_.palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Inactive, QPalette::Base));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Inactive, QPalette::Text));
    box_.setPalette(pal);

    box_.installEventFilter(this);
    connect(box_.document(), &QTextDocument::contentsChange, this, &MessageLog::followEdit);
}

void MessageLog::appendEntry(const QString& message)
{
    appendText(kCrLf + message);
}

void MessageLog::appendLineBreak()
{
    appendText(kCrLf);
}

void MessageLog::appendText(const QString& text)
{
    if (text.isEmpty())
        return;
    insertAtEnd(logToDisplay(text));
    text_ += text;
}

void MessageLog::selectAll()
{
    QTextCursor cursor(box_.document());
    // While the operator types in the box, a selected log would go with the next key.
    cursor.movePosition(QTextCursor::End,
                        box_.hasFocus() ? QTextCursor::MoveAnchor : QTextCursor::KeepAnchor);
    box_.setTextCursor(cursor);
    box_.ensureCursorVisible();
}

void MessageLog::clear()
{
    {
        QScopedValueRollback guard(ownEdit_, true);
        QTextCursor cursor(box_.document());
        cursor.select(QTextCursor::Document);
        cursor.removeSelectedText();
    }
    text_.clear();
}

void MessageLog::insertAtEnd(const QString& shown)
{
    QScopedValueRollback guard(ownEdit_, true);
    QTextCursor cursor(box_.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(shown);
}

void MessageLog::followEdit(int position, int removed, int added)
{
    if (ownEdit_)
        return;
    const QTextDocument& document = *box_.document();
    const int length = documentLength(document);
    // The document sometimes counts its closing paragraph mark in both numbers; the change in
    // length is always exact, so derive the removed count from it.
    added = std::min(added, length - position);
    removed = added - (length - int(text_.size()));
    if (position < 0 || added < 0 || removed < 0 || position + removed > text_.size()) {
        resync();
        return;
    }
    text_.replace(position, removed, displayToLog(documentSlice(document, position, added)));
}

void MessageLog::resync()
{
    const QTextDocument& document = *box_.document();
    text_ = displayToLog(documentSlice(document, 0, documentLength(document)));
}

bool MessageLog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &box_ || event->type() != QEvent::KeyPress || box_.isReadOnly())
        return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    QTextCursor cursor = box_.textCursor();
    const QTextDocument& document = *box_.document();
    const int at = cursor.position();
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        // A line break typed into the box is CR LF, like every other line break of the log.
        cursor.insertText(logToDisplay(kCrLf));
    } else if (key->key() == Qt::Key_Backspace && key->modifiers() == Qt::NoModifier &&
               !cursor.hasSelection() && at >= 2 &&
               document.characterAt(at - 1) == QChar::ParagraphSeparator &&
               document.characterAt(at - 2) == QChar(kShownCr)) {
        // CR LF goes as one, or an invisible CR would stay behind.
        cursor.setPosition(at - 2, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier &&
               !cursor.hasSelection() && at + 1 < documentLength(document) &&
               document.characterAt(at) == QChar(kShownCr) &&
               document.characterAt(at + 1) == QChar::ParagraphSeparator) {
        cursor.setPosition(at + 2, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else {
        return QObject::eventFilter(watched, event);
    }
    box_.setTextCursor(cursor);
    box_.ensureCursorVisible();
    return true;
}
