// The serial monitor on a real pseudo-terminal, and on the simulated Uno
// running a program that greets and echoes over its UART.
#include <QSignalSpy>
#include <QtTest>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include "SerialMonitor.h"
#include "SimulatedUno.h"
#include "TextFile.h"
#include "UnoPrograms.h"
#include "UploadController.h"

using namespace mirtolan;

namespace {

// A pseudo-terminal whose far end the test plays.
struct Pty {
    int master = -1;  // the test's end
    int slave = -1;   // kept open so the master never reads a hang-up
    QString name;     // what the monitor opens
    Pty()
    {
        char n[64];
        if (openpty(&master, &slave, n, nullptr, nullptr) == 0)
            name = QString::fromLatin1(n);
        fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty()
    {
        close(master);
        close(slave);
    }
    void send(const QByteArray& b) { QVERIFY(write(master, b.constData(), size_t(b.size())) == b.size()); }
    QByteArray take()
    {
        QByteArray out;
        char buf[256];
        for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;)
            out.append(buf, n);
        return out;
    }
};

} // namespace

class SerialMonitorTest : public QObject {
    Q_OBJECT
private slots:
    void textOfBytes_data();
    void textOfBytes();
    void hexRows();
    void longLinesWrap_data();
    void longLinesWrap();
    void aStreamWithoutLineFeedsStaysBounded();
    void receivesAndSendsOnAPty();
    void boardOutputAfterAnUpload();
};

void SerialMonitorTest::textOfBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("plain") << QByteArray("Hello") << QByteArray("Hello");
    QTest::newRow("crlf lines") << QByteArray("a\r\nb\n") << QByteArray("a\nb\n");
    QTest::newRow("tab kept") << QByteArray("x\ty") << QByteArray("x\ty");
    QTest::newRow("control and high bytes") << QByteArray("\x01\xFF" "A\x7F", 4) << QByteArray("<01><FF>A<7F>");
    QTest::newRow("nul") << QByteArray("\0z", 2) << QByteArray("<00>z");
}

void SerialMonitorTest::textOfBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, text);
    QCOMPARE(QByteArray::fromStdString(MonitorText(bytes.toStdString())), text);
}

void SerialMonitorTest::longLinesWrap_data()
{
    QTest::addColumn<QByteArrayList>("received"); // as the port delivers it, piece by piece
    QTest::addColumn<QByteArray>("text");
    const QByteArray x150(150, 'x'), x200(200, 'x');
    QTest::newRow("one past the width") << QByteArrayList{x200 + "y"} << x200 + "\ny";
    QTest::newRow("a line feed begins anew") << QByteArrayList{x150 + "\r\n" + x150} << x150 + "\n" + x150;
    QTest::newRow("<XX> is not split") << QByteArrayList{QByteArray(198, 'x') + "\x01"}
                                       << QByteArray(198, 'x') + "\n<01>";
    QTest::newRow("carried from piece to piece") << QByteArrayList{x150, x150}
                                                 << x150 + QByteArray(50, 'x') + "\n" + QByteArray(100, 'x');
}

void SerialMonitorTest::longLinesWrap()
{
    QFETCH(QByteArrayList, received);
    QFETCH(QByteArray, text);
    std::size_t column = 0;
    std::string shown;
    for (const QByteArray& piece : received)
        shown += MonitorText(piece.toStdString(), &column);
    QCOMPARE(QByteArray::fromStdString(shown), text);
}

// A board that never sends a line feed: the view keeps short lines, and no more of them than its bound.
void SerialMonitorTest::aStreamWithoutLineFeedsStaysBounded()
{
    SerialMonitor monitor;
    const QByteArray chunk(4096, 'x');
    for (int i = 0; i < 640; ++i) // 2.5 MB: more lines than the view keeps
        monitor.appendReceived(chunk);
    const QStringList lines = monitor.text().split('\n');
    QVERIFY(lines.size() <= MonitorMaxLines);
    for (const QString& line : lines)
        QVERIFY(line.size() <= qsizetype(MonitorWrapColumns));
    QVERIFY(monitor.hexText().count('\n') < MonitorMaxLines);
}

void SerialMonitorTest::hexRows()
{
    // Missing bytes leave their columns blank, so the text column lines up.
    QCOMPARE(HexRow(0x20, "Hi\x01"), "00000020  48 69 01" + std::string(13 * 3 + 2, ' ') + "Hi.");
    const std::string full(16, 'A');
    QCOMPARE(QString::fromStdString(HexRow(0, full)),
             QStringLiteral("00000000  41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41  AAAAAAAAAAAAAAAA"));
}

void SerialMonitorTest::receivesAndSendsOnAPty()
{
    Pty pty;
    QVERIFY(!pty.name.isEmpty());
    SerialMonitor m;
    m.setPort(pty.name);
    m.setBaud(115200);
    QSignalSpy received(&m, &SerialMonitor::received);
    QVERIFY2(m.open(), qPrintable(m.status()));

    // Rows fill across pieces: 20 bytes, then 5, then 30.
    QByteArray all;
    for (int n : {20, 5, 30}) {
        QByteArray piece;
        for (int i = 0; i < n; ++i)
            piece.append(char('a' + (all.size() + i) % 26));
        piece[0] = '\xFE';
        all += piece;
        pty.send(piece);
        QTRY_COMPARE_WITH_TIMEOUT(m.hexText().count(QLatin1Char('\n')) + 1, int((all.size() + 15) / 16), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(m.text().size() >= all.size(), 3000);
    }
    QStringList rows;
    const std::string bytes = all.toStdString();
    for (std::size_t at = 0; at < bytes.size(); at += HexRowBytes)
        rows << QString::fromStdString(HexRow(at, bytes.substr(at, HexRowBytes)));
    QCOMPARE(m.hexText(), rows.join(QLatin1Char('\n')));
    QCOMPARE(m.text(), QString::fromStdString(MonitorText(bytes)));

    struct Case {
        int ending;             // into LineEndings
        const char* expected;   // what the board receives
    };
    for (const Case& c : {Case{0, "go"}, Case{1, "go\n"}, Case{2, "go\r"}, Case{3, "go\r\n"}}) {
        m.setLineEnding(c.ending);
        QVERIFY(m.sendLine(QStringLiteral("go")));
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += pty.take()).size() >= qsizetype(strlen(c.expected)), 3000);
        QCOMPARE(got, QByteArray(c.expected));
    }

    // An upload takes the port away and gives it back.
    m.pause();
    QVERIFY(!m.isOpen());
    QVERIFY(m.isPaused());
    m.resume();
    QVERIFY(m.isOpen());
    m.close();
    QVERIFY(!m.sendLine(QStringLiteral("x")));
    m.resume(); // not paused: stays closed
    QVERIFY(!m.isOpen());
}

void SerialMonitorTest::boardOutputAfterAnUpload()
{
    const uploadtest::TempDir tmp;
    const std::string& dir = tmp.path();
    std::string error;
    auto uno = uploadtest::SimulatedUno::Start(dir + "/uno", error);
    QVERIFY2(uno, error.c_str());
    SerialMonitor m;
    m.setPort(QString::fromStdString(uno->port()));
    m.setBaud(uploadtest::HelloBaud);
    QSignalSpy received(&m, &SerialMonitor::received);
    QVERIFY2(m.open(), qPrintable(m.status()));

    UploadController c;
    connect(&c, &UploadController::portBusy, &m, &SerialMonitor::pause);
    connect(&c, &UploadController::portFree, &m, &SerialMonitor::resume);
    QSignalSpy finished(&c, &UploadController::finished);
    // Built from the editor's lines, as the window's Upload does.
    UploadRequest r;
    r.build.sourceFile = dir + "/hello.4th";
    r.source = SplitLineList(uploadtest::HelloProgram);
    r.build.device = FindDevice("atmega328p");
    r.build.archive = MIRTOLAN_SHARE_DIR "/Mirtolan.arch";
    r.build.runtimeDirs = {MIRTOLAN_SHARE_DIR};
    r.settings.port = uno->port();
    QVERIFY(c.start(r));
    QVERIFY(m.isPaused()); // let go before avrdude opens the port
    QVERIFY(finished.wait(30000));
    QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(finished.at(0).at(1).toString()));
    QVERIFY(m.isOpen());

    // Opening the port resets the board; the bootloader waits a second.
    QTRY_VERIFY_WITH_TIMEOUT(m.text().contains(QLatin1String(uploadtest::HelloText)), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m.text().contains(QLatin1String("<01><FF>")), 3000);
    // The hex view holds every byte that came, in rows of 16.
    QByteArray all;
    for (const auto& args : received)
        all += args.at(0).toByteArray();
    QVERIFY(all.contains(QByteArray("\x01\xFF\r\n")));
    QStringList rows;
    const std::string bytes = all.toStdString();
    for (std::size_t at = 0; at < bytes.size(); at += HexRowBytes)
        rows << QString::fromStdString(HexRow(at, bytes.substr(at, HexRowBytes)));
    QCOMPARE(m.hexText(), rows.join(QLatin1Char('\n')));
    // The greeting may be the one sent before the monitor came back, with
    // the board now in its bootloader after the reset that reopening made,
    // where a line is lost: send until the program echoes it.
    m.setLineEnding(3);
    for (int attempt = 0; attempt < 10 && !m.text().contains(QLatin1String("ping\n")); ++attempt) {
        QVERIFY(m.sendLine(QStringLiteral("ping")));
        QTest::qWait(1000);
    }
    QVERIFY(m.text().contains(QLatin1String("ping\n")));
    m.close();
}

QTEST_MAIN(SerialMonitorTest)
#include "serial_monitor_test.moc"
