#include "BoardView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include "Colours.h"
#include "SerialMonitor.h"

namespace mirtolan {

namespace {

// The console's line ending choice starts at a line feed, as a terminal sends Enter.
constexpr int DefaultEnding = 1;
// The slider moves in steps of this many millivolts with the arrow keys.
constexpr int AdcStepMillivolts = 10;
// Inputs that keys 1 to 9 press.
constexpr std::size_t KeyedInputs = 9;
// The pace choice, in the order of the box.
constexpr int PaceFast = 0;
constexpr int PaceRealTime = 1;
// The lamp's colours when lit: an output's red LED, an input's green.
const QColor OutputLit(0xe0, 0x20, 0x20);
const QColor InputLit(0x20, 0xb0, 0x40);

QString qs(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

QString voltsText(int millivolts) { return QString::number(millivolts / 1000.0, 'f', 2) + " V"; }

} // namespace

std::string PinName(const PinState& pin) { return PinName(pin.port, pin.bit); }

std::vector<PinState> PinsInUse(const std::vector<PinState>& pins)
{
    std::set<char> pulledUp; // ports read with a pull-up on some input
    for (const PinState& p : pins)
        if (p.portRead && p.pullUp)
            pulledUp.insert(p.port);
    std::vector<PinState> used;
    for (const PinState& p : pins)
        if (p.output || p.everOutput || (p.portRead && (p.pullUp || !pulledUp.count(p.port))))
            used.push_back(p);
    return used;
}

// ---- PinLed

PinLed::PinLed(QWidget* parent) : QWidget(parent) { setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed); }

QSize PinLed::sizeHint() const
{
    const int d = fontMetrics().height();
    return QSize(d, d);
}

void PinLed::setState(bool on, bool output)
{
    if (on == on_ && output == output_)
        return;
    on_ = on;
    output_ = output;
    update();
}

void PinLed::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor base = palette().color(QPalette::Window);
    const QColor lit = Legible(output_ ? OutputLit : InputLit, {base}, MarkContrast);
    const QColor dark = palette().color(QPalette::Mid);
    p.setPen(QPen(palette().color(QPalette::Dark), 1));
    p.setBrush(on_ ? lit : dark);
    const QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
    p.drawEllipse(r);
}

// ---- BoardView

BoardView::BoardView(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus); // for keys 1 to 9
    status_ = new QLabel;
    status_->setWordWrap(true);

    auto* pinsGroup = new QGroupBox(tr("Pins"));
    pinsGroup->setToolTip(tr("Every pin the program uses. Hold a button, or keys 1 to 9 with the board focused, to "
                             "press an input; a switch keeps it pressed. Pressed pulls a pin with its pull-up on "
                             "low, any other high."));
    pinsBox_ = new QWidget;
    pinsGrid_ = new QGridLayout(pinsBox_);
    pinsGrid_->setContentsMargins(0, 0, 0, 0);
    auto* pinsLayout = new QVBoxLayout(pinsGroup);
    pinsLayout->addWidget(pinsBox_);

    auto* adcGroup = new QGroupBox(tr("ADC inputs"));
    adcGroup->setToolTip(tr("The voltage on each ADC input, 0 to 5 V (the reference)"));
    adcGrid_ = new QGridLayout(adcGroup);

    auto* upper = new QWidget;
    auto* upperLayout = new QVBoxLayout(upper);
    upperLayout->setContentsMargins(0, 0, 0, 0);
    upperLayout->addWidget(pinsGroup);
    upperLayout->addWidget(adcGroup);
    upperLayout->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setWidget(upper);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);

    auto* uartGroup = new QGroupBox(tr("UART0"));
    console_ = new QPlainTextEdit;
    console_->setReadOnly(true);
    console_->setMaximumBlockCount(MonitorMaxLines);
    console_->setFont(QFont(QStringLiteral("Monospace")));
    console_->setToolTip(tr("What the program sends on UART0"));
    input_ = new QLineEdit;
    input_->setPlaceholderText(tr("Type and press Enter to send to the chip"));
    ending_ = new QComboBox;
    for (const LineEnding& e : LineEndings)
        ending_->addItem(QString::fromLatin1(e.label.data(), qsizetype(e.label.size())));
    ending_->setCurrentIndex(DefaultEnding);
    connect(input_, &QLineEdit::returnPressed, this, [this] {
        sendLine(input_->text());
        input_->clear();
    });
    auto* sendRow = new QHBoxLayout;
    sendRow->addWidget(input_, 1);
    sendRow->addWidget(ending_);
    auto* uartLayout = new QVBoxLayout(uartGroup);
    uartLayout->addWidget(console_, 1);
    uartLayout->addLayout(sendRow);

    pace_ = new QComboBox;
    pace_->addItem(tr("As fast as it goes"));
    pace_->addItem(tr("Real time"));
    pace_->setToolTip(tr("Run the chip as fast as the computer can, or at the pace of its clock, so that a blink "
                         "takes the time it would on the board"));
    connect(pace_, &QComboBox::currentIndexChanged, this,
            [this](int index) { link_->setRealTime(index == PaceRealTime); });
    pace_->setCurrentIndex(PaceFast);
    auto* paceRow = new QHBoxLayout;
    paceRow->addWidget(new QLabel(tr("Pace")));
    paceRow->addWidget(pace_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(status_);
    layout->addLayout(paceRow);
    layout->addWidget(scroll, 3);
    layout->addWidget(uartGroup, 2);

    timer_ = new QTimer(this);
    timer_->setInterval(BoardRefreshMs);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (isVisible())
            refresh();
    });
    timer_->start();
    refresh();
}

void BoardView::refresh()
{
    const bool attached = link_->attached();
    const std::uint64_t generation = link_->generation();
    if (generation != generation_) {
        // Another run: its own pins, ADC inputs and text.
        generation_ = generation;
        shown_.clear();
        console_->clear();
        uartBytes_ = 0;
        rebuildSliders(link_->adcChannels());
    }
    showPins(link_->pins());

    std::string text = link_->uartSince(uartBytes_);
    uartBytes_ += text.size();
    std::erase(text, '\r'); // a CR LF ends one line
    if (!text.empty()) {
        console_->moveCursor(QTextCursor::End);
        console_->insertPlainText(qs(text));
        console_->moveCursor(QTextCursor::End);
    }

    status_->setText(attached          ? tr("Live: the program's pins, inputs and UART0 as it runs.")
                     : generation_ > 0 ? tr("The run has ended: its last levels and text are shown.")
                                       : tr("No program runs. Start debugging (Shift+F9) or Run (F5) to use "
                                            "the board."));
    input_->setEnabled(attached);
    for (const Row& r : rows_)
        if (r.button) {
            r.button->setEnabled(attached);
            r.hold->setEnabled(attached);
        }
}

void BoardView::showPins(const std::vector<PinState>& pins)
{
    for (const PinState& p : PinsInUse(pins))
        shown_.insert(PinName(p));
    std::vector<PinState> seen;
    for (const PinState& p : pins)
        if (shown_.count(PinName(p)))
            seen.push_back(p);
    bool same = seen.size() == rows_.size();
    for (std::size_t i = 0; same && i < seen.size(); ++i)
        same = PinName(seen[i]) == PinName(rows_[i].pin) && seen[i].output == rows_[i].pin.output;
    if (!same)
        rebuildRows(seen);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        rows_[i].pin = seen[i];
        rows_[i].led->setState(seen[i].level, seen[i].output);
        rows_[i].led->setToolTip(qs(PinName(seen[i])) + (seen[i].output ? tr(": output, ") : tr(": input, ")) +
                                 (seen[i].level ? tr("high") : tr("low")));
    }
}

void BoardView::rebuildRows(const std::vector<PinState>& pins)
{
    for (QWidget* w : pinsBox_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        delete w;
    rows_.clear();
    inputs_.clear();
    if (pins.empty())
        pinsGrid_->addWidget(new QLabel(tr("No pin used yet")), 0, 0);
    int line = 0;
    for (const PinState& p : pins) {
        Row entry;
        entry.pin = p;
        const QString name = qs(PinName(p));
        entry.led = new PinLed;
        entry.led->setObjectName("led_" + name);
        pinsGrid_->addWidget(entry.led, line, 0);
        if (p.output) {
            pinsGrid_->addWidget(new QLabel(name + tr("  output")), line, 1, 1, 3);
        } else {
            inputs_.push_back(PinName(p));
            const QString key = inputs_.size() <= KeyedInputs ? QString::number(inputs_.size()) + "  " : QString();
            pinsGrid_->addWidget(new QLabel(key + name + tr("  input")), line, 1);
            entry.button = new QPushButton(tr("Press"));
            entry.button->setObjectName("press_" + name);
            entry.button->setToolTip(tr("Held down, %1 is pressed").arg(name));
            entry.hold = new QCheckBox(tr("Switch"));
            entry.hold->setObjectName("switch_" + name);
            entry.hold->setToolTip(tr("On, %1 stays pressed").arg(name));
            connect(entry.button, &QPushButton::pressed, this, [this, name] { press(name, true); });
            connect(entry.button, &QPushButton::released, this, [this, name] { press(name, false); });
            connect(entry.hold, &QCheckBox::toggled, this, [this, name](bool on) {
                if (const Row* x = row(name))
                    drive(*x, on || x->button->isDown());
            });
            pinsGrid_->addWidget(entry.button, line, 2);
            pinsGrid_->addWidget(entry.hold, line, 3);
        }
        rows_.push_back(entry);
        ++line;
    }
}

void BoardView::rebuildSliders(int channels)
{
    if (int(sliders_.size()) == channels)
        return;
    while (QLayoutItem* item = adcGrid_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    sliders_.clear();
    if (channels == 0)
        adcGrid_->addWidget(new QLabel(tr("No ADC")), 0, 0);
    for (int ch = 0; ch < channels; ++ch) {
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setObjectName(QStringLiteral("adc_%1").arg(ch));
        slider->setRange(0, AdcMillivolts);
        slider->setSingleStep(AdcStepMillivolts);
        slider->setPageStep(AdcMillivolts / 10);
        auto* value = new QLabel;
        value->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0.00 V ")));
        connect(slider, &QSlider::valueChanged, this, [this, ch, value](int mv) {
            millivolts_[ch] = mv;
            value->setText(voltsText(mv));
            link_->driveAdc(ch, mv / 1000.0);
        });
        slider->setValue(millivolts_[ch]);
        value->setText(voltsText(slider->value()));
        adcGrid_->addWidget(new QLabel(QStringLiteral("ADC%1").arg(ch)), ch, 0);
        adcGrid_->addWidget(slider, ch, 1);
        adcGrid_->addWidget(value, ch, 2);
        sliders_.push_back(slider);
    }
}

BoardView::Row* BoardView::row(const QString& pin)
{
    for (Row& r : rows_)
        if (qs(PinName(r.pin)) == pin)
            return &r;
    return nullptr;
}

const BoardView::Row* BoardView::row(const QString& pin) const { return const_cast<BoardView*>(this)->row(pin); }

void BoardView::drive(const Row& row, bool pressed)
{
    // A button to ground against the pull-up, else one to the supply.
    const int level = pressed != row.pin.pullUp ? 1 : 0;
    link_->drivePin(row.pin.port, row.pin.bit, level);
}

void BoardView::press(const QString& pin, bool down)
{
    if (const Row* r = row(pin); r && r->button)
        drive(*r, down || r->hold->isChecked());
}

void BoardView::setSwitch(const QString& pin, bool on)
{
    if (const Row* r = row(pin); r && r->hold)
        r->hold->setChecked(on);
}

void BoardView::setAdc(int channel, double volts)
{
    if (channel >= 0 && channel < int(sliders_.size()))
        sliders_[std::size_t(channel)]->setValue(int(volts * 1000.0 + 0.5));
}

void BoardView::sendLine(const QString& text)
{
    std::string bytes = text.toLatin1().toStdString();
    const int e = ending_->currentIndex();
    if (e >= 0 && e < int(std::size(LineEndings)))
        bytes += LineEndings[e].bytes;
    link_->sendUart(bytes);
}

QStringList BoardView::shownPins() const
{
    QStringList names;
    for (const Row& r : rows_)
        names << qs(PinName(r.pin));
    return names;
}

const PinLed* BoardView::led(const QString& pin) const
{
    const Row* r = row(pin);
    return r ? r->led : nullptr;
}

QPushButton* BoardView::button(const QString& pin) const
{
    const Row* r = row(pin);
    return r ? r->button : nullptr;
}

QCheckBox* BoardView::switchBox(const QString& pin) const
{
    const Row* r = row(pin);
    return r ? r->hold : nullptr;
}

QSlider* BoardView::adcSlider(int channel) const
{
    return channel >= 0 && channel < int(sliders_.size()) ? sliders_[std::size_t(channel)] : nullptr;
}

bool BoardView::keyToInput(QKeyEvent* event, bool down)
{
    const int index = event->key() - Qt::Key_1;
    if (index < 0 || index >= int(std::min(KeyedInputs, inputs_.size())) || event->modifiers() != Qt::NoModifier)
        return false;
    if (!event->isAutoRepeat())
        press(qs(inputs_[std::size_t(index)]), down);
    return true;
}

void BoardView::keyPressEvent(QKeyEvent* event)
{
    if (!keyToInput(event, true))
        QWidget::keyPressEvent(event);
}

void BoardView::keyReleaseEvent(QKeyEvent* event)
{
    if (!keyToInput(event, false))
        QWidget::keyReleaseEvent(event);
}

} // namespace mirtolan
