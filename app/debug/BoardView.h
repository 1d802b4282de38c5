// A board around the simulated chip, live while a program runs or is
// paused: an LED for every pin the program uses, a push button and a switch
// for each of its inputs, a slider for each ADC input, a UART console, and
// the pace (as fast as it goes, or the chip's real time). It reads and
// drives the chip through a BoardLink, on a timer, so the window never
// waits for the program.
#pragma once

#include <QWidget>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Board.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace mirtolan {

// How often the board looks at the chip: smooth enough for an LED that
// blinks a few times a second, cheap enough to leave on.
constexpr int BoardRefreshMs = 40;
// The ADC's reference and so the sliders' top: the 5 V the chip runs on.
constexpr int AdcMillivolts = 5000;

// The pins a board shows: every pin the program made an output, and on
// each port whose PIN register it reads, the inputs with their pull-up on,
// or every input of the port when it put a pull-up on none of them.
std::vector<PinState> PinsInUse(const std::vector<PinState>& pins);
// "PB5".
std::string PinName(const PinState& pin);

// A round lamp.
class PinLed : public QWidget {
    Q_OBJECT
public:
    explicit PinLed(QWidget* parent = nullptr);
    void setState(bool on, bool output);
    bool isOn() const { return on_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool on_ = false;     // the pin is high
    bool output_ = false; // the chip drives it (else it is an input, lit in another colour)
};

class BoardView : public QWidget {
    Q_OBJECT
public:
    explicit BoardView(QWidget* parent = nullptr);

    // What the runs attach their machines to.
    const std::shared_ptr<BoardLink>& link() const { return link_; }
    // Looks at the chip and shows it; the timer calls it while the board is seen.
    void refresh();

    // What the controls do, also for tests: a button pressed or released,
    // a switch set, a slider moved, a line typed into the console.
    void press(const QString& pin, bool down);
    void setSwitch(const QString& pin, bool on);
    void setAdc(int channel, double volts);
    void sendLine(const QString& text);

    // What the board shows.
    QStringList shownPins() const;
    const PinLed* led(const QString& pin) const;
    QPushButton* button(const QString& pin) const;
    QCheckBox* switchBox(const QString& pin) const;
    QSlider* adcSlider(int channel) const;
    QPlainTextEdit* console() const { return console_; }
    QLineEdit* input() const { return input_; }
    QComboBox* pace() const { return pace_; }
    QLabel* status() const { return status_; }

protected:
    // Keys 1 to 9 hold the buttons of the first nine inputs while pressed.
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    struct Row {
        PinState pin;                    // the pin as last seen
        PinLed* led = nullptr;           // its level
        QPushButton* button = nullptr;   // inputs: held down, the pin is pressed
        QCheckBox* hold = nullptr;       // inputs: the switch, pressed until switched off
    };
    void showPins(const std::vector<PinState>& pins);
    void rebuildRows(const std::vector<PinState>& pins);
    void rebuildSliders(int channels);
    void drive(const Row& row, bool pressed);
    Row* row(const QString& pin);
    const Row* row(const QString& pin) const;
    bool keyToInput(QKeyEvent* event, bool down);

    std::shared_ptr<BoardLink> link_ = std::make_shared<BoardLink>(); // the chip running now
    QTimer* timer_;                  // refreshes while the board is seen
    QLabel* status_;                 // whether a program runs
    QWidget* pinsBox_;               // holds the rows
    QGridLayout* pinsGrid_;          // a row per pin
    QGridLayout* adcGrid_;           // a slider per ADC input
    QPlainTextEdit* console_;        // UART0 text from the chip
    QLineEdit* input_;               // text for the chip
    QComboBox* ending_;              // what a line sent ends with
    QComboBox* pace_;                // as fast as it goes, or real time
    std::vector<Row> rows_;          // in port and pin order
    std::vector<std::string> inputs_; // the inputs' names in row order, for keys 1 to 9
    std::set<std::string> shown_;    // the pins shown in this run
    std::vector<QSlider*> sliders_;  // by channel
    std::map<int, int> millivolts_;  // each slider's value, kept across runs
    std::uint64_t generation_ = 0;   // the run shown
    std::size_t uartBytes_ = 0;      // UART bytes of the run shown so far
};

} // namespace mirtolan
