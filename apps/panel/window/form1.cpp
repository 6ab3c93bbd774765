#include "form1.h"

#include "switcher/wire.h"

#include "blockbutton.h"
#include "framebox.h"
#include "lamp.h"
#include "messagelog.h"
#include "link/messageboxes.h"
#include "link/commandsender.h"
#include "switcher/names.h"
#include "switcher/replydecoder.h"
#include "shapepanel.h"
#include "twips.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QValidator>

#include <vector>

namespace {

const QColor kWindowBackground(0xE0, 0xE0, 0xE0);
const QColor kGreyPanel(0x80, 0x80, 0x80);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kLetterYellow(0xFF, 0xFF, 0x00);
const QColor kGreen(0x00, 0xFF, 0x00);
const QColor kRed(0xFF, 0x00, 0x00);

// Fonts go by pixel size (points at 96 dpi), so the twips layout holds on any screen.
constexpr int kWindowFontPx = 12; // 9 pt
constexpr int kInputFontPx = 21;  // 15.75 pt
constexpr int kLetterFontPx = 29; // 21.75 pt

QFont arial(int pixelSize, bool bold = false, bool italic = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QString indexed(const char* name, int index)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

template <typename W> W* named(W* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

// A 4x4 grid of squares on navy, one lit per row: a matrix with a route per output.
QIcon panelIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kNavy);
    painter.drawRoundedRect(QRectF(0, 0, 32, 32), 4, 4);
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            painter.setBrush(col == (row * 3 + 1) % 4 ? kGreen : kWindowBackground);
            painter.drawRect(3 + col * 7, 3 + row * 7, 5, 5);
        }
    }
    return QIcon(pixmap);
}

// Any text may be typed, none is ever accepted.
class NeverAcceptable : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString&, int&) const override { return Intermediate; }
};

// An option of the EDID group. Every option is its own Tab stop, in the window's keyboard order;
// Qt would otherwise leave only the focused option of an exclusive group reachable by Tab.
class OptionButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        QRadioButton::focusInEvent(event);
        if (group()) {
            for (QAbstractButton* option : group()->buttons())
                option->setFocusPolicy(Qt::StrongFocus);
        }
    }
};

struct BlockLayout {
    const char* mainPanel;
    const char* sidePanel;
    int sideLeft;
    const char* letterName;
    const char* letter;
};

// Outputs 1..4, top to bottom.
constexpr std::array<BlockLayout, kOutputCount> kBlocks = {{
    {"Shape2_0", "Shape6", 8160, "Label2", "A"},
    {"Shape2_1", "Shape3", 8160, "Label1", "B"},
    {"Shape2_4", "Shape9", 8160, "Label3", "C"},
    {"Shape2_2", "Shape12", 8280, "Label4", "D"},
}};
constexpr int kBlockPitch = 1560;
constexpr std::array<int, kInputCount> kLampLefts = {6480, 7200, 7920, 8640};
constexpr std::array<int, kInputCount> kInputButtonLefts = {6240, 7000, 7760, 8520};

// EDID options stand in reading order, three to a row.
constexpr std::array<int, 3> kOptionColumnLefts = {240, 1920, 3720};
constexpr int kOptionFirstTop = 360;
constexpr int kOptionRowPitch = 360;

// Captions stand at the top left of their box, as the window was laid out.
QLabel* caption(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

Form1::Form1(SerialControl& serial, MessageBoxes& boxes, QWidget* parent)
    : QWidget(parent), serial_(serial), boxes_(boxes), link_(serial, boxes), choice_(link_),
      intake_(serial, wire::kSettleWait, this)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KORVEN-001"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twipsToPixels(9660), twipsToPixels(8310));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWindowBackground);
    setPalette(pal);
    setAutoFillBackground(true);
    setFont(arial(kWindowFontPx));
    setWindowIcon(panelIcon());
    // Creation order is stacking order: the matrix panel's shapes first, its buttons above.
    buildMatrixPanel();
    buildMessageFrame();
    buildEdidFrame();
    buildConnectionControls();
    setKeyboardOrder();

    connect(&link_, &SerialLink::displayChanged, this, &Form1::showLinkDisplay);
    connect(&intake_, &ReplyIntake::replyText, this, &Form1::applyReply);
}

void Form1::buildMatrixPanel()
{
    const QColor windowText = palette().color(QPalette::WindowText);
    // Routing lamps are outlined in the platform's light chrome colour.
    const QColor lampOutline = palette().color(QPalette::Button);

    placeTwips(*named(new ShapePanel(kGreyPanel, windowText, this), QStringLiteral("Shape1")), 5880,
               720, 3615, 6915);

    for (int g = 0; g < kOutputCount; ++g) {
        const BlockLayout& block = kBlocks[std::size_t(g)];
        const int top = 1300 + kBlockPitch * g;
        placeTwips(
            *named(new ShapePanel(kNavy, std::nullopt, this), QLatin1String(block.mainPanel)), 6120,
            top, 2415, 1455);
        placeTwips(
            *named(new ShapePanel(kNavy, std::nullopt, this), QLatin1String(block.sidePanel)),
            block.sideLeft, 1780 + kBlockPitch * g, 1095, 975);
        auto* letter =
            named(new QLabel(QLatin1String(block.letter), this), QLatin1String(block.letterName));
        letter->setFont(arial(kLetterFontPx, true, true));
        QPalette letterPalette = letter->palette();
        letterPalette.setColor(QPalette::WindowText, kLetterYellow);
        letter->setPalette(letterPalette);
        letter->setAutoFillBackground(false);
        letter->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        placeTwips(*letter, 8760, top, 375, 495);
    }

    for (int g = 0; g < kOutputCount; ++g) {
        for (int i = 0; i < kInputCount; ++i) {
            const QString name = QStringLiteral("%1 %2")
                                     .arg(QLatin1String(kBlocks[std::size_t(g)].letter))
                                     .arg(i + 1);
            auto* lamp = named(new Lamp(kGreen, lampOutline, name, this),
                               QStringLiteral("Shape%1_%2").arg(17 + g).arg(i));
            placeTwips(*lamp, kLampLefts[std::size_t(i)], 1900 + kBlockPitch * g, 255, 255);
            routingLamps_[std::size_t(g)][std::size_t(i)] = lamp;
        }
    }

    for (int index = 0; index < kPowerButtonIndex; ++index) {
        const ButtonMeaning meaning = buttonMeaning(index);
        const int g = meaning.output - 1;
        BlockButton* button = nullptr;
        if (meaning.role == ButtonRole::Input) {
            button =
                new BlockButton(BlockButton::Face::Caption, QString::number(meaning.input), this);
            button->setFont(arial(kInputFontPx, true));
            placeTwips(*button, kInputButtonLefts[std::size_t(meaning.input - 1)],
                       2260 + kBlockPitch * g, 615, 375);
        } else {
            const bool left = meaning.role == ButtonRole::LeftArrow;
            button =
                new BlockButton(left ? BlockButton::Face::LeftArrow : BlockButton::Face::RightArrow,
                                QString(), this);
            placeTwips(*button, left ? 6960 : 7800, 1420 + kBlockPitch * g, 615, 375);
        }
        // Captions repeat in every block; a screen reader needs the output too.
        const QString block = QStringLiteral("Output %1, ").arg(outputLetter(g + 1));
        if (meaning.role == ButtonRole::Input)
            button->setAccessibleName(block + QStringLiteral("input %1").arg(meaning.input));
        else
            button->setAccessibleName(block + (meaning.role == ButtonRole::LeftArrow
                                                   ? QStringLiteral("previous input")
                                                   : QStringLiteral("next input")));
        button->setObjectName(indexed("Command1", index));
        connect(button, &QPushButton::clicked, this,
                [this, index] { send(buttonCommandFrame(index)); });
        command1_[std::size_t(index)] = button;
    }

    // Kept hidden: the operator can never reach it, so its command is never sent.
    power_ = named(new QPushButton(QStringLiteral("POWER"), this),
                   indexed("Command1", kPowerButtonIndex));
    placeTwips(*power_, 8280, 720, 975, 375);
    power_->setFocusPolicy(Qt::NoFocus);
    power_->setHidden(true);
    connect(power_, &QPushButton::clicked, this,
            [this] { send(buttonCommandFrame(kPowerButtonIndex)); });
}

void Form1::buildMessageFrame()
{
    auto* frame = named(new FrameBox(QStringLiteral("Message"), this), QStringLiteral("Frame1"));
    placeTwips(*frame, 120, 240, 5295, 4455);

    placeTwips(*caption(QStringLiteral("Receive"), QStringLiteral("Label8"), frame), 240,
               240, 735, 375);

    auto* text1 = named(new LogBox(frame), QStringLiteral("Text1"));
    placeTwips(*text1, 120, 480, 5055, 3255);
    log_ = new MessageLog(*text1);

    command6_ = named(new QPushButton(QStringLiteral("Status"), frame), QStringLiteral("Command6"));
    placeTwips(*command6_, 3120, 3840, 975, 375);
    connect(command6_, &QPushButton::clicked, this, [this] { send(statusQueryFrame()); });

    command2_ = named(new QPushButton(QStringLiteral("Clear"), frame), QStringLiteral("Command2"));
    placeTwips(*command2_, 4200, 3840, 975, 375);
    connect(command2_, &QPushButton::clicked, this, [this] { log_->clear(); });
}

void Form1::buildEdidFrame()
{
    auto* frame =
        named(new FrameBox(QStringLiteral("EDID Setting"), this), QStringLiteral("Frame4"));
    placeTwips(*frame, 120, 4920, 5295, 1935);

    optionGroup_ = new QButtonGroup(this);
    optionGroup_->setExclusive(true);
    for (int mode = 0; mode < kEdidModeCount; ++mode) {
        auto* option = named(new OptionButton(edidCaption(mode), frame), indexed("Option1", mode));
        placeTwips(*option, kOptionColumnLefts[std::size_t(mode % 3)],
                   kOptionFirstTop + kOptionRowPitch * (mode / 3), 1455, 345);
        optionGroup_->addButton(option, mode);
        option1_[std::size_t(mode)] = option;
    }
    // Every click sends, also on the option already selected.
    connect(optionGroup_, &QButtonGroup::idClicked, this,
            [this](int mode) {
                send(edidModeFrame(mode));
                edidEchoes_.sent(mode);
            });
}

void Form1::buildConnectionControls()
{
    const QColor windowText = palette().color(QPalette::WindowText);

    auto* state =
        named(new FrameBox(QStringLiteral("Connect State"), this), QStringLiteral("Frame2"));
    placeTwips(*state, 120, 7080, 1575, 975);
    shape15_ = named(new Lamp(kGreen, windowText, QStringLiteral("Connected"), state),
                     QStringLiteral("Shape15"));
    placeTwips(*shape15_, 120, 240, 255, 255);
    placeTwips(*caption(QStringLiteral("Connected"), QStringLiteral("Label6"), state),
               480, 240, 975, 255);
    shape16_ = named(new Lamp(kRed, windowText, QStringLiteral("Disconnect"), state),
                     QStringLiteral("Shape16"));
    placeTwips(*shape16_, 120, 600, 255, 255);
    placeTwips(*caption(QStringLiteral("Disconnect"), QStringLiteral("Label7"), state),
               480, 600, 975, 255);
    // Both lamps lit until the start-up sequence decides.
    shape15_->setLit(true);
    shape16_->setLit(true);

    auto* select =
        named(new FrameBox(QStringLiteral("Com Select"), this), QStringLiteral("Frame3"));
    placeTwips(*select, 1920, 7080, 1575, 975);
    combo1_ = named(new QComboBox(select), QStringLiteral("Combo1"));
    combo1_->setEditable(true);
    combo1_->setInsertPolicy(QComboBox::NoInsert);
    // Typed text never selects an entry: only a pick from the list counts. The combo box selects
    // the entry its text names when the editing finishes (Return, or the focus leaving), and
    // hands keys to its text field past any event filter; text that is never acceptable never
    // finishes.
    combo1_->setCompleter(nullptr);
    combo1_->setValidator(new NeverAcceptable(combo1_));
    combo1_->setEditText(QStringLiteral("Combo1"));
    placeTwips(*combo1_, 240, 360, 1095, 345);
    connect(combo1_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            choice_.pick(index);
    });

    command7_ = named(new QPushButton(QStringLiteral("Connect"), this), QStringLiteral("Command7"));
    placeTwips(*command7_, 3720, 7200, 1695, 855);
    connect(command7_, &QPushButton::clicked, &link_, &SerialLink::toggleConnection);
}

void Form1::setKeyboardOrder()
{
    std::vector<QWidget*> order;
    auto block = [this](int index) { return command1_[std::size_t(index)]; };
    order.push_back(block(0));
    order.push_back(command7_);
    for (const int index :
         {1, 2, 3, 4, 5, 6, 7, 8, 14, 20, 9, 15, 21, 10, 16, 22, 11, 17, 23, 12, 18, 13, 19})
        order.push_back(block(index));
    order.push_back(&log_->box());
    order.push_back(combo1_);
    order.push_back(command2_);
    order.push_back(command6_);
    for (const int mode : {0, 6, 9, 10, 3, 1, 4, 7, 2, 5, 8})
        order.push_back(option1_[std::size_t(mode)]);
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    order.front()->setFocus();
}

void Form1::load()
{
    {
        // Filling an empty list selects its first entry by itself; that is not a pick.
        const QSignalBlocker blocker(combo1_);
        combo1_->addItems(portEntries());
        combo1_->setCurrentIndex(-1);
    }
    combo1_->setCurrentIndex(choice_.rememberedIndex());
    link_.startUp();
}

void Form1::outN(int output, quint8 input)
{
    if (output < 1 || output > kOutputCount || input < 1 || input > kInputCount)
        return;
    for (int i = 0; i < kInputCount; ++i)
        routingLamps_[std::size_t(output - 1)][std::size_t(i)]->setLit(i == input - 1);
}

void Form1::showLinkDisplay(LinkDisplay display)
{
    command7_->setText(display == LinkDisplay::Connected ? QStringLiteral("Disconnect")
                                                         : QStringLiteral("Connect"));
    shape15_->setLit(display == LinkDisplay::Connected);
    shape16_->setLit(display == LinkDisplay::NotConnected);
}

void Form1::applyReply(const QString& text)
{
    for (const ReplyEffect& effect : decodeReply(text)) {
        switch (effect.kind) {
        case ReplyEffect::Kind::LogEntry:
            log_->appendEntry(effect.text);
            break;
        case ReplyEffect::Kind::LineBreak:
            log_->appendLineBreak();
            break;
        case ReplyEffect::Kind::FreeText:
            log_->appendText(effect.text);
            break;
        case ReplyEffect::Kind::Lamp:
            outN(effect.output, static_cast<quint8>(effect.input));
            break;
        case ReplyEffect::Kind::EdidSelection:
            selectEdidMode(effect.mode);
            break;
        }
    }
    log_->selectAll();
}

void Form1::selectEdidMode(int mode)
{
    const EdidFollow follow = edidEchoes_.replied(mode, optionGroup_->checkedId());
    if (follow == EdidFollow::Nothing)
        return;
    option1_[std::size_t(mode)]->setChecked(true);
    if (follow == EdidFollow::SelectAndSend)
        send(edidModeFrame(mode));
}

void Form1::send(const CommandFrame& frame)
{
    SendCommandFrame(serial_, boxes_, frame);
}
