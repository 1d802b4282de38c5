#include "SerialMonitor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSplitter>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

#include "Upload.h"
#include "UploadSettings.h"

namespace mirtolan {
namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

bool IsText(unsigned char c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n'; }

QString Qs(std::string_view s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

} // namespace

std::string MonitorText(std::string_view bytes, std::size_t* column)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r')
            continue;
        const std::size_t width = IsText(c) ? 1 : 4;
        if (column && c != '\n' && *column + width > MonitorWrapColumns) {
            out += '\n';
            *column = 0;
        }
        if (IsText(c)) {
            out += char(c);
        } else {
            out += '<';
            out += HexDigits[c >> 4];
            out += HexDigits[c & 15];
            out += '>';
        }
        if (column)
            *column = c == '\n' ? 0 : *column + width;
    }
    return out;
}

std::string HexRow(std::size_t offset, std::string_view bytes)
{
    std::string out;
    for (int shift = 28; shift >= 0; shift -= 4)
        out += HexDigits[(offset >> shift) & 15];
    out += ' ';
    for (std::size_t i = 0; i < HexRowBytes; ++i) {
        out += ' ';
        if (i < bytes.size()) {
            out += HexDigits[(unsigned char)bytes[i] >> 4];
            out += HexDigits[(unsigned char)bytes[i] & 15];
        } else {
            out += "  ";
        }
    }
    out += "  ";
    for (unsigned char c : bytes)
        out += c >= 0x20 && c < 0x7F ? char(c) : '.';
    return out;
}

SerialMonitor::SerialMonitor(QWidget* parent)
    : QWidget(parent), serial_(new QSerialPort(this)), portBox_(new QComboBox), baudBox_(new QComboBox),
      openButton_(new QPushButton(tr("&Open"))), hexBox_(new QCheckBox(tr("&Hex"))), textView_(new QPlainTextEdit),
      hexView_(new QPlainTextEdit), sendLine_(new QLineEdit), endingBox_(new QComboBox),
      sendButton_(new QPushButton(tr("&Send"))), status_(new QLabel)
{
    portBox_->setEditable(true);
    portBox_->setMinimumContentsLength(14);
    for (unsigned s : SerialSpeeds)
        baudBox_->addItem(QString::number(s), s);
    setBaud(9600);
    for (const LineEnding& e : LineEndings)
        endingBox_->addItem(Qs(e.label));
    setLineEnding(1);
    for (QPlainTextEdit* v : {textView_, hexView_}) {
        v->setReadOnly(true);
        v->setMaximumBlockCount(MonitorMaxLines);
        v->setLineWrapMode(QPlainTextEdit::NoWrap);
        v->setFont(QFont(QStringLiteral("monospace")));
    }
    hexView_->setVisible(false);
    sendLine_->setPlaceholderText(tr("Text to send"));
    auto* clearButton = new QPushButton(tr("C&lear"));

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Port:")));
    top->addWidget(portBox_, 1);
    top->addWidget(new QLabel(tr("Baud:")));
    top->addWidget(baudBox_);
    top->addWidget(openButton_);
    top->addWidget(hexBox_);
    top->addWidget(clearButton);
    auto* views = new QSplitter(Qt::Horizontal);
    views->addWidget(textView_);
    views->addWidget(hexView_);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(sendLine_, 1);
    bottom->addWidget(endingBox_);
    bottom->addWidget(sendButton_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(views, 1);
    layout->addLayout(bottom);
    layout->addWidget(status_);

    // The port list is read again when the user opens it, so a board
    // plugged in later shows up.
    refreshPorts();
    portBox_->installEventFilter(this);

    connect(openButton_, &QPushButton::clicked, this, [this] {
        paused_ = false;
        if (isOpen())
            close();
        else
            open();
    });
    connect(hexBox_, &QCheckBox::toggled, hexView_, &QWidget::setVisible);
    connect(clearButton, &QPushButton::clicked, this, &SerialMonitor::clear);
    connect(sendButton_, &QPushButton::clicked, this, [this] {
        if (sendLine(sendLine_->text()))
            sendLine_->clear();
    });
    connect(sendLine_, &QLineEdit::returnPressed, sendButton_, &QPushButton::click);
    connect(serial_, &QSerialPort::readyRead, this, &SerialMonitor::readAvailable);
    connect(serial_, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        // A board unplugged while open: close and say so.
        if (e == QSerialPort::ResourceError) {
            setStatus(tr("%1 went away: %2").arg(port(), serial_->errorString()));
            serial_->close();
            updateButtons();
            emit openChanged(false);
        }
    });
    setStatus(tr("Closed"));
    updateButtons();
}

SerialMonitor::~SerialMonitor() = default;

void SerialMonitor::setPort(const QString& port) { portBox_->setCurrentText(port); }
QString SerialMonitor::port() const { return portBox_->currentText().trimmed(); }

void SerialMonitor::setBaud(unsigned baud)
{
    const int i = baudBox_->findData(baud);
    if (i >= 0) {
        baudBox_->setCurrentIndex(i);
    } else {
        baudBox_->addItem(QString::number(baud), baud);
        baudBox_->setCurrentIndex(baudBox_->count() - 1);
    }
}

unsigned SerialMonitor::baud() const { return baudBox_->currentData().toUInt(); }

void SerialMonitor::setLineEnding(int index) { endingBox_->setCurrentIndex(index); }

bool SerialMonitor::open()
{
    if (isOpen())
        return true;
    serial_->setPortName(port());
    serial_->setBaudRate(qint32(baud()));
    serial_->setDataBits(QSerialPort::Data8);
    serial_->setParity(QSerialPort::NoParity);
    serial_->setStopBits(QSerialPort::OneStop);
    serial_->setFlowControl(QSerialPort::NoFlowControl);
    if (port().isEmpty() || !serial_->open(QIODevice::ReadWrite)) {
        const bool denied = serial_->error() == QSerialPort::PermissionError;
        QString why = port().isEmpty() ? tr("no port chosen") : serial_->errorString();
        if (denied)
            why += tr(" (run  %1  then log out and log in again)").arg(Qs(DialoutCommand));
        setStatus(tr("Cannot open %1: %2").arg(port(), why));
        updateButtons();
        return false;
    }
    setStatus(tr("Open: %1 at %2 baud").arg(port()).arg(baud()));
    updateButtons();
    emit openChanged(true);
    return true;
}

void SerialMonitor::close()
{
    if (!isOpen())
        return;
    serial_->close();
    setStatus(tr("Closed"));
    updateButtons();
    emit openChanged(false);
}

bool SerialMonitor::isOpen() const { return serial_->isOpen(); }

void SerialMonitor::pause()
{
    if (!isOpen())
        return;
    close();
    paused_ = true;
    setStatus(tr("Paused while the upload uses %1").arg(port()));
}

void SerialMonitor::resume()
{
    if (!paused_)
        return;
    paused_ = false;
    open();
}

bool SerialMonitor::sendLine(const QString& line)
{
    if (!isOpen())
        return false;
    QByteArray bytes = line.toLocal8Bit();
    const int e = endingBox_->currentIndex();
    if (e >= 0 && e < int(std::size(LineEndings)))
        bytes.append(LineEndings[e].bytes.data(), qsizetype(LineEndings[e].bytes.size()));
    return serial_->write(bytes) == bytes.size();
}

void SerialMonitor::clear()
{
    textView_->clear();
    hexView_->clear();
    hexCount_ = 0;
    hexTail_.clear();
    column_ = 0;
}

QString SerialMonitor::text() const { return textView_->toPlainText(); }
QString SerialMonitor::hexText() const { return hexView_->toPlainText(); }
QString SerialMonitor::status() const { return status_->text(); }

void SerialMonitor::readAvailable()
{
    appendReceived(serial_->readAll());
}

void SerialMonitor::appendReceived(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    const std::string text = MonitorText(std::string_view(bytes.constData(), std::size_t(bytes.size())), &column_);
    QScrollBar* bar = textView_->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor c(textView_->document());
    c.movePosition(QTextCursor::End);
    c.insertText(QString::fromLatin1(text.data(), qsizetype(text.size())));
    if (atEnd)
        bar->setValue(bar->maximum());
    appendHex(bytes);
    emit received(bytes);
}

void SerialMonitor::appendHex(const QByteArray& bytes)
{
    QTextCursor c(hexView_->document());
    c.movePosition(QTextCursor::End);
    // The last row, unfinished, is written again with the new bytes.
    const bool hadTail = !hexTail_.empty();
    if (hadTail) {
        c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        c.removeSelectedText();
    }
    bool atRowStart = hadTail || hexCount_ == 0;
    std::string rows;
    const auto add = [&](const std::string& row) {
        if (!atRowStart)
            rows += '\n';
        atRowStart = false;
        rows += row;
    };
    for (char b : bytes) {
        hexTail_ += b;
        if (hexTail_.size() == HexRowBytes) {
            add(HexRow(hexCount_, hexTail_));
            hexCount_ += HexRowBytes;
            hexTail_.clear();
        }
    }
    if (!hexTail_.empty())
        add(HexRow(hexCount_, hexTail_));
    c.insertText(QString::fromLatin1(rows.data(), qsizetype(rows.size())));
}

void SerialMonitor::refreshPorts()
{
    const QString chosen = portBox_->currentText();
    portBox_->clear();
    for (const std::string& p : BoardPorts())
        portBox_->addItem(QString::fromLocal8Bit(p.c_str()));
    portBox_->setCurrentText(chosen);
}

bool SerialMonitor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == portBox_ && event->type() == QEvent::MouseButtonPress && portBox_->isEnabled())
        refreshPorts();
    return QWidget::eventFilter(watched, event);
}

void SerialMonitor::setStatus(const QString& text) { status_->setText(text); }

void SerialMonitor::updateButtons()
{
    openButton_->setText(isOpen() ? tr("&Close") : tr("&Open"));
    portBox_->setEnabled(!isOpen());
    baudBox_->setEnabled(!isOpen());
    sendButton_->setEnabled(isOpen());
}

} // namespace mirtolan
