#include "link/qtmessageboxes.h"
#include "serial/platformserialcontrol.h"
#include "window/form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("matrix-panel"));
    // Lets desktops match the window to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("matrix-panel"));

    // The port outlives the window, which releases it on close.
    PlatformSerialControl serial;
    QtMessageBoxes boxes;
    Form1 window(serial, boxes);
    // A failure at start-up is reported before the window appears, so the box has no parent yet.
    window.load();
    boxes.setParent(&window);
    window.show();
    return app.exec();
}
