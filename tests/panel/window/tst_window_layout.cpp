// The window's size, places, captions, stacking and keyboard order.
#include "windowfixture.h"

#include "window/blockbutton.h"
#include "window/twips.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>

namespace {

const QStringList kTabOrder = [] {
    QStringList order = {QStringLiteral("Command1_0"), QStringLiteral("Command7")};
    for (const int i :
         {1, 2, 3, 4, 5, 6, 7, 8, 14, 20, 9, 15, 21, 10, 16, 22, 11, 17, 23, 12, 18, 13, 19})
        order << QStringLiteral("Command1_%1").arg(i);
    order << QStringLiteral("Text1") << QStringLiteral("Combo1") << QStringLiteral("Command2")
          << QStringLiteral("Command6");
    for (const int i : {0, 6, 9, 10, 3, 1, 4, 7, 2, 5, 8})
        order << QStringLiteral("Option1_%1").arg(i);
    return order;
}();

// The control that has the focus, naming the combo box for its text field.
QString focusedControl()
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus)
        return QStringLiteral("<none>");
    if (auto* combo = qobject_cast<QComboBox*>(focus->parentWidget()))
        return combo->objectName();
    return focus->objectName();
}

int stackIndex(const Panel& panel, const QString& name)
{
    return int(panel.form->children().indexOf(panel.child(name)));
}

} // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT
private slots:
    void window_isFixedSizeWithCloseButtonOnly()
    {
        Panel panel;
        Form1& form = panel.startShown();
        QCOMPARE(form.size(), QSize(644, 554));
        QCOMPARE(form.minimumSize(), QSize(644, 554));
        QCOMPARE(form.maximumSize(), QSize(644, 554));
        QCOMPARE(form.windowTitle(), QStringLiteral("KORVEN-001"));
        const Qt::WindowFlags flags = form.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!form.windowIcon().pixmap(32, 32).isNull());
        QCOMPARE(form.palette().color(QPalette::Window), QColor(0xE0, 0xE0, 0xE0));
        QCOMPARE(form.font().family(), QStringLiteral("Arial"));
        QCOMPARE(form.font().pixelSize(), 12);
        QVERIFY(!form.font().bold());
    }

    void controls_standAtTheirTwipsPlaces_data()
    {
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("twips"); // left, top, width, height
        const auto place = [](const char* name, const char* container, int left, int top, int width,
                              int height) {
            QTest::newRow(name) << QString::fromLatin1(container)
                                << QRect(left, top, width, height);
        };
        place("Frame1", "Form1", 120, 240, 5295, 4455);
        place("Label8", "Frame1", 240, 240, 735, 375);
        place("Text1", "Frame1", 120, 480, 5055, 3255);
        place("Command6", "Frame1", 3120, 3840, 975, 375);
        place("Command2", "Frame1", 4200, 3840, 975, 375);
        place("Frame4", "Form1", 120, 4920, 5295, 1935);
        place("Option1_0", "Frame4", 240, 360, 1455, 345);
        place("Option1_5", "Frame4", 3720, 720, 1455, 345);
        place("Option1_10", "Frame4", 1920, 1440, 1455, 345);
        place("Frame2", "Form1", 120, 7080, 1575, 975);
        place("Shape15", "Frame2", 120, 240, 255, 255);
        place("Label7", "Frame2", 480, 600, 975, 255);
        place("Frame3", "Form1", 1920, 7080, 1575, 975);
        place("Combo1", "Frame3", 240, 360, 1095, 345);
        place("Command7", "Form1", 3720, 7200, 1695, 855);
        place("Shape1", "Form1", 5880, 720, 3615, 6915);
        place("Shape2_0", "Form1", 6120, 1300, 2415, 1455);
        place("Shape2_4", "Form1", 6120, 4420, 2415, 1455);
        place("Shape2_2", "Form1", 6120, 5980, 2415, 1455);
        place("Shape3", "Form1", 8160, 3340, 1095, 975);
        place("Shape12", "Form1", 8280, 6460, 1095, 975);
        place("Label4", "Form1", 8760, 5980, 375, 495);
        place("Shape17_3", "Form1", 8640, 1900, 255, 255);
        place("Shape20_0", "Form1", 6480, 6580, 255, 255);
        place("Command1_0", "Form1", 6960, 1420, 615, 375);
        place("Command1_19", "Form1", 7800, 6100, 615, 375);
        place("Command1_8", "Form1", 6240, 3820, 615, 375);
        place("Command1_23", "Form1", 8520, 6940, 615, 375);
        place("Command1_24", "Form1", 8280, 720, 975, 375);
    }

    void controls_standAtTheirTwipsPlaces()
    {
        QFETCH(QString, container);
        QFETCH(QRect, twips);
        Panel panel;
        panel.start();
        QWidget* widget = panel.child(QString::fromLatin1(QTest::currentDataTag()));
        QCOMPARE(widget->parentWidget()->objectName(), container);
        QCOMPARE(widget->geometry(),
                 twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    }

    void captionsFontsAndColours()
    {
        Panel panel;
        panel.start();
        QCOMPARE(panel.child<QGroupBox>("Frame1")->title(), QStringLiteral("Message"));
        QCOMPARE(panel.child<QGroupBox>("Frame4")->title(), QStringLiteral("EDID Setting"));
        QCOMPARE(panel.child<QGroupBox>("Frame2")->title(), QStringLiteral("Connect State"));
        QCOMPARE(panel.child<QGroupBox>("Frame3")->title(), QStringLiteral("Com Select"));
        QCOMPARE(panel.child<QLabel>("Label8")->text(), QStringLiteral("Receive"));
        QCOMPARE(panel.child<QLabel>("Label6")->text(), QStringLiteral("Connected"));
        QCOMPARE(panel.child<QLabel>("Label7")->text(), QStringLiteral("Disconnect"));
        QCOMPARE(panel.button("Command6")->text(), QStringLiteral("Status"));
        QCOMPARE(panel.button("Command2")->text(), QStringLiteral("Clear"));
        QVERIFY(panel.combo()->isEditable());
        QCOMPARE(panel.combo()->insertPolicy(), QComboBox::NoInsert);

        const QStringList letters = {"Label2", "Label1", "Label3", "Label4"};
        for (int g = 0; g < 4; ++g) {
            auto* letter = panel.child<QLabel>(letters[g]);
            QCOMPARE(letter->text(), QString(QChar(u'A' + g)));
            QCOMPARE(letter->font().pixelSize(), 29);
            QVERIFY(letter->font().bold() && letter->font().italic());
            QCOMPARE(letter->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0x00));
            QVERIFY(!letter->autoFillBackground());
        }

        for (int index = 0; index < 24; ++index) {
            auto* button = panel.child<BlockButton>(QStringLiteral("Command1_%1").arg(index));
            QCOMPARE(button->palette().color(QPalette::Button), QColor(0xC0, 0xC0, 0xC0));
            const int slot = index % 6;
            if (slot == 0) {
                QCOMPARE(button->face(), BlockButton::Face::LeftArrow);
            } else if (slot == 1) {
                QCOMPARE(button->face(), BlockButton::Face::RightArrow);
            } else {
                QCOMPARE(button->face(), BlockButton::Face::Caption);
                QCOMPARE(button->text(), QString::number(slot - 1));
                QCOMPARE(button->font().pixelSize(), 21);
                QVERIFY(button->font().bold());
            }
        }
        QCOMPARE(panel.child<Lamp>("Shape15")->fillColor(), QColor(0x00, 0xFF, 0x00));
        QCOMPARE(panel.child<Lamp>("Shape16")->fillColor(), QColor(0xFF, 0x00, 0x00));
        QCOMPARE(panel.child<Lamp>("Shape19_1")->fillColor(), QColor(0x00, 0xFF, 0x00));
        QCOMPARE(panel.child<Lamp>("Shape19_1")->accessibleName(), QStringLiteral("C 2"));
    }

    void blockButtons_tellScreenReadersTheirOutput()
    {
        Panel panel;
        panel.startShown();
        const auto name = [&](int index) {
            return QAccessible::queryAccessibleInterface(panel.command1(index))
                ->text(QAccessible::Name);
        };
        for (int output = 1; output <= 4; ++output) {
            const QString block = QStringLiteral("Output %1, ").arg(QChar(u'A' + output - 1));
            QCOMPARE(name(switcher::arrowIndex(output, false)), block + "previous input");
            QCOMPARE(name(switcher::arrowIndex(output, true)), block + "next input");
            for (int input = 1; input <= 4; ++input)
                QCOMPARE(name(switcher::inputIndex(output, input)),
                         block + "input " + QString::number(input));
        }
    }

    void powerButton_isHiddenAndNeverFocused()
    {
        Panel panel;
        Form1& form = panel.startShown();
        QPushButton* power = panel.command1(24);
        QCOMPARE(power->text(), QStringLiteral("POWER"));
        QVERIFY(!power->isVisible());
        QVERIFY(power->isHidden());
        QCOMPARE(power->focusPolicy(), Qt::NoFocus);
        QVERIFY(form.childAt(power->geometry().center()) != power);
    }

    void tabKey_visitsControlsInOrder()
    {
        Panel panel;
        panel.startShown();
        QCOMPARE(focusedControl(), QStringLiteral("Command1_0"));

        auto walk = [] {
            QStringList visited = {focusedControl()};
            for (int step = 0; step < kTabOrder.size(); ++step) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                visited << focusedControl();
            }
            return visited;
        };
        QStringList visited = walk();
        QCOMPARE(visited.mid(0, kTabOrder.size()), kTabOrder);
        QCOMPARE(visited.last(), QStringLiteral("Command1_0")); // round again, never via POWER
        QVERIFY(!visited.contains(QStringLiteral("Command1_24")));

        // A selected option does not shorten the round.
        panel.option(9)->setChecked(true);
        visited = walk();
        QCOMPARE(visited.mid(0, kTabOrder.size()), kTabOrder);
    }

    void stacking_lampsOverPanelsOverGrey()
    {
        Panel panel;
        panel.start();
        const int grey = stackIndex(panel, "Shape1");
        const QStringList panels = {"Shape2_0", "Shape2_1", "Shape2_4", "Shape2_2",
                                    "Shape6",   "Shape3",   "Shape9",   "Shape12",
                                    "Label2",   "Label1",   "Label3",   "Label4"};
        int highestPanel = grey;
        for (const QString& name : panels) {
            QVERIFY2(stackIndex(panel, name) > grey, qPrintable(name));
            highestPanel = std::max(highestPanel, stackIndex(panel, name));
        }
        int highestLamp = highestPanel;
        for (int output = 1; output <= 4; ++output) {
            for (int input = 1; input <= 4; ++input) {
                const QString lamp = QStringLiteral("Shape%1_%2").arg(16 + output).arg(input - 1);
                QVERIFY2(stackIndex(panel, lamp) > highestPanel, qPrintable(lamp));
                highestLamp = std::max(highestLamp, stackIndex(panel, lamp));
            }
        }
        for (int index = 0; index < 24; ++index) {
            const QString button = QStringLiteral("Command1_%1").arg(index);
            QVERIFY2(stackIndex(panel, button) > highestLamp, qPrintable(button));
        }
    }

    void drawing_showsLampsOnNavyAndLettersWithoutBox()
    {
        Panel panel;
        Form1& form = panel.startShown();
        form.out1(4);
        const QImage image = form.grab().toImage();

        const QPoint lit = panel.lamp(1, 4)->geometry().center();
        const QPoint dark = panel.lamp(1, 1)->geometry().center();
        QCOMPARE(image.pixelColor(lit), QColor(0x00, 0xFF, 0x00));
        QCOMPARE(image.pixelColor(dark), QColor(0x00, 0x00, 0x80));

        // The letter's box shows the grey panel; its glyph is yellow.
        const QRect letter = panel.child("Label2")->geometry();
        QCOMPARE(image.pixelColor(letter.topLeft()), QColor(0x80, 0x80, 0x80));
        bool yellow = false;
        for (int y = letter.top(); y <= letter.bottom() && !yellow; ++y)
            for (int x = letter.left(); x <= letter.right() && !yellow; ++x)
                yellow = image.pixelColor(x, y) == QColor(0xFF, 0xFF, 0x00);
        QVERIFY(yellow);
        // Beside the navy panels the grey panel shows.
        QCOMPARE(image.pixelColor(twipsRect(6000, 3000, 0, 0).topLeft()), QColor(0x80, 0x80, 0x80));
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "tst_window_layout.moc"
