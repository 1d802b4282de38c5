// The serial monitor: opens the board's port at a chosen speed, shows what
// the board sends (as text, bytes outside text as <XX>, and as a hex dump),
// sends a typed line with a chosen line ending, and steps aside while an
// upload uses the port.
#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>
#include <string>
#include <string_view>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSerialPort;

namespace mirtolan {

// What a line sent ends with.
struct LineEnding {
    std::string_view label; // as the choice shows it
    std::string_view bytes; // appended to the line
};
inline constexpr LineEnding LineEndings[] = {
    {"No line ending", ""},
    {"Newline (LF)", "\n"},
    {"Carriage return (CR)", "\r"},
    {"Both CR and LF", "\r\n"},
};

// Lines each view keeps: a board printing for hours must not fill memory.
inline constexpr int MonitorMaxLines = 10000;
// Lines of the text view are broken at this many characters: a board that
// never sends a line feed would otherwise make one ever longer line, slower
// to lay out with every byte and beyond the bound on the lines kept.
inline constexpr std::size_t MonitorWrapColumns = 200;

// Received bytes as the text view shows them: printable ASCII, tab and
// newline as they are, CR dropped (a CR LF ends one line), every other byte
// as <XX> in hexadecimal. With `column` (the length of the last, unfinished
// line, carried from one call to the next) a line is broken before it would
// pass MonitorWrapColumns; a <XX> is never split.
std::string MonitorText(std::string_view bytes, std::size_t* column = nullptr);
// One hex-dump row: offset, up to 16 bytes in hexadecimal, and the same as
// text with '.' for bytes outside text.
std::string HexRow(std::size_t offset, std::string_view bytes);
inline constexpr std::size_t HexRowBytes = 16;

class SerialMonitor : public QWidget {
    Q_OBJECT
public:
    explicit SerialMonitor(QWidget* parent = nullptr);
    ~SerialMonitor() override;

    void setPort(const QString& port);
    QString port() const;
    void setBaud(unsigned baud);
    unsigned baud() const;
    void setLineEnding(int index); // into LineEndings

    bool open();        // false, with the reason in the status line, when it cannot
    void close();
    bool isOpen() const;
    bool isPaused() const { return paused_; }

    // An upload needs the port: close it, and reopen it on resume().
    void pause();
    void resume();

    // Sends `line` and the chosen line ending; false when the port is closed.
    bool sendLine(const QString& line);
    void clear();
    // Fills the port choice from the ports present, keeping what it shows.
    void refreshPorts();

    // Shows bytes as if the board had sent them (what the port's data goes through).
    void appendReceived(const QByteArray& bytes);

    QString text() const;    // the text view
    QString hexText() const; // the hex view
    QString status() const;  // the status line

signals:
    void received(const QByteArray& bytes);
    void openChanged(bool open);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void readAvailable();
    void appendHex(const QByteArray& bytes);
    void setStatus(const QString& text);
    void updateButtons();

    QSerialPort* serial_;       // the open port
    QComboBox* portBox_;        // the port, chosen from those present or typed
    QComboBox* baudBox_;        // the speed
    QPushButton* openButton_;   // Open / Close
    QCheckBox* hexBox_;         // shows the hex view beside the text
    QPlainTextEdit* textView_;  // what came, as text
    QPlainTextEdit* hexView_;   // what came, as a hex dump
    QLineEdit* sendLine_;       // the line to send
    QComboBox* endingBox_;      // the line ending
    QPushButton* sendButton_;   // sends the line
    QLabel* status_;            // open, closed, paused, or why it failed
    bool paused_ = false;       // closed for an upload, to reopen after it
    std::size_t hexCount_ = 0;  // bytes in the hex view
    std::string hexTail_;       // the bytes of its last, unfinished row
    std::size_t column_ = 0;    // characters in the text view's last, unfinished line
};

} // namespace mirtolan
