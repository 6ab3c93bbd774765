#include "qtmessageboxes.h"

#include <QMessageBox>

void QtMessageBoxes::show(const QString& text, const QString& title)
{
    // Parentless until the window is shown, so a failure at start-up comes before the window.
    QWidget* parent = parent_ && parent_->isVisible() ? parent_ : nullptr;
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}
