// The Run pane and its controller, offscreen: a real program built and run
// in the worker thread, its report shown; stopping a run; going to a
// faulting word's line; zooming the waveform; the JSON report parsed.
// With MIRTOLAN_RUNPANE_SHOT=FILE set (under Xvfb) it also saves a picture
// of the pane after a run, for the README.

#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QToolBar>
#include <QMenu>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include "BuildForTest.h"
#include "Colours.h"
#include "Main.h"
#include "MessagePane.h"
#include "RunPane.h"
#include "TempDir.h"
#include "RunWindow.h"
#include "SourceEditor.h"
#include "WindowEnvironment.h"

using namespace mirtolan;

namespace {

// Two pins at different rates, a greeting on UART0, and a counter.
constexpr const char* Demo =
    "VARIABLE ticks\nVARIABLE total ALLOT 1\n"
    ": uart-init\n$ ldi r20,103\n$ sts UBRR0L,r20\n$ ldi r20,(1<<TXEN0)\n$ sts UCSR0B,r20\n;\n"
    ": tx\n$ ld Ftmp1,Y+\n$ _txw: lds r20,UCSR0A\n$ sbrs r20,UDRE0\n$ rjmp _txw\n$ sts UDR0,Ftmp1\n;\n"
    ": hello 'H tx 'e tx 'l tx 'l tx 'o tx 10 tx ;\n"
    ": led\n$ in r20,PORTB\n$ ldi r21,32\n$ eor r20,r21\n$ out PORTB,r20\n;\n"
    ": clock\n$ in r20,PORTB\n$ ldi r21,1\n$ eor r20,r21\n$ out PORTB,r20\n;\n"
    ": wait 200 0 DO LOOP ;\n"
    ": tick ticks C@ 1+ ticks C! clock wait ;\n"
    ": main uart-init hello\n$ ldi r20,33\n$ out DDRB,r20\n"
    "BEGIN tick tick tick tick led ticks C@ 40 = UNTIL 7 3 ;\n";

// A run of `cycles` at `clockHz` that changed `pins`.
RunReport PinRun(std::uint32_t clockHz, std::uint64_t cycles, std::vector<PinTrace> pins)
{
    RunReport r;
    r.stopped = StopReason::Halted;
    r.device = "ATmega328P";
    r.clockHz = clockHz;
    r.cycles = cycles;
    r.seconds = double(cycles) / clockHz;
    r.pins = std::move(pins);
    return r;
}

BuildResult DemoProgram()
{
    return runtest::BuildForTest("demo", Demo, *FindDevice("atmega328p"));
}

} // namespace

class RunPaneTest : public QObject {
    Q_OBJECT
private slots:
    void showsARunOfARealProgram();
    void stopEndsALongRunAndTheWindowStaysResponsive();
    void runAndStopActions();
    void faultAndProfileGoToTheirLines();
    void waveformZooms();
    void waveformDrawsAMillionEdgesByColumn();
    void waveformCursorsTellTimesAndLevels();
    void vcdOfTheShownRun();
    void jsonReportParses();
    void buildProblemsAreShownNotRun();
    void runInTheWindow();
    void screenshot();
};

void RunPaneTest::showsARunOfARealProgram()
{
    RunPane pane;
    RunController controller;
    ConnectRunPane(controller, pane);
    QSignalSpy finished(&controller, &RunController::finished);
    const BuildResult program = DemoProgram();
    QCOMPARE(int(program.status), int(BuildResult::Built));
    controller.runBuilt(program, RunOptions{});
    QVERIFY(controller.busy());
    QVERIFY(finished.wait(20000));
    QVERIFY(!controller.busy());

    const RunReport& r = controller.report();
    QCOMPARE(int(r.stopped), int(StopReason::Halted));
    QVERIFY(pane.summary()->text().startsWith("Halted"));
    QVERIFY(pane.summary()->text().contains(QString::number(r.cycles)));
    QVERIFY(pane.stopList()->isHidden());
    QVERIFY(pane.stopButton()->isHidden());

    QCOMPARE(pane.variables()->rowCount(), 2);
    QCOMPARE(pane.variables()->item(0, 0)->text(), QString("ticks"));
    QCOMPARE(pane.variables()->item(0, 2)->text(), QString("40"));
    QCOMPARE(pane.variables()->item(0, 3)->text(), QString("28"));
    QCOMPARE(pane.variables()->item(1, 1)->text(), QString("$0101"));
    QCOMPARE(pane.variables()->item(1, 2)->text(), QString("0 0"));
    QCOMPARE(pane.stack()->text(), QString("Data stack (bottom first): 7  3\nLoop stack depth: 0"));
    QCOMPARE(pane.console()->toPlainText(), QString("Hello\n"));

    // Both pins, PB0 toggled each tick, PB5 each fourth.
    QCOMPARE(r.pins.size(), std::size_t(2));
    QCOMPARE(QString::fromStdString(r.pins[0].name), QString("PB0"));
    QCOMPARE(r.pins[0].changes.size(), std::size_t(40));
    QCOMPARE(r.pins[1].changes.size(), std::size_t(10));

    QCOMPARE(pane.profile()->rowCount(), int(r.profile.size()));
    qulonglong sum = 0;
    for (int row = 0; row < pane.profile()->rowCount(); ++row)
        sum += pane.profile()->item(row, 1)->text().toULongLong();
    QCOMPARE(sum, qulonglong(r.cycles));
    QCOMPARE(pane.profile()->item(0, 0)->text(), QString("LOOP")); // the busiest word: the wait loop
}

void RunPaneTest::stopEndsALongRunAndTheWindowStaysResponsive()
{
    RunPane pane;
    RunController controller;
    ConnectRunPane(controller, pane);
    QSignalSpy progress(&controller, &RunController::progress);
    QSignalSpy finished(&controller, &RunController::finished);
    RunOptions o;
    o.maxSeconds = 1000; // far longer than the test waits
    controller.runBuilt(runtest::BuildForTest("forever", ": main BEGIN AGAIN ;\n", *FindDevice("atmega32")), o);
    QVERIFY(!pane.stopButton()->isHidden());
    // Progress arrives while the run goes on, through this thread's event loop.
    QVERIFY(progress.wait(5000));
    QVERIFY(progress.last().at(0).toDouble() < 0.5);
    QTest::mouseClick(pane.stopButton(), Qt::LeftButton);
    QVERIFY(finished.wait(5000));
    QCOMPARE(int(controller.report().stopped), int(StopReason::Stopped));
    QVERIFY(pane.summary()->text().startsWith("Stopped"));
    QVERIFY(pane.stopButton()->isHidden());
}

void RunPaneTest::runAndStopActions()
{
    RunController controller;
    QObject owner;
    const RunActions a = MakeRunActions(controller, &owner);
    QCOMPARE(a.run->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(a.stop->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F5));
    QVERIFY(a.run->isEnabled() && !a.stop->isEnabled());
    QSignalSpy finished(&controller, &RunController::finished);
    RunOptions o;
    o.maxSeconds = 1000;
    controller.runBuilt(runtest::BuildForTest("forever", ": main BEGIN AGAIN ;\n", *FindDevice("atmega32")), o);
    QVERIFY(!a.run->isEnabled() && a.stop->isEnabled());
    a.stop->trigger();
    QVERIFY(finished.wait(5000));
    QCOMPARE(int(controller.report().stopped), int(StopReason::Stopped));
    QVERIFY(a.run->isEnabled() && !a.stop->isEnabled());
}

void RunPaneTest::faultAndProfileGoToTheirLines()
{
    RunPane pane;
    RunReport r;
    r.stopped = StopReason::Fault;
    r.faultKind = FaultKind::DataStackUnderflow;
    r.fault = "data stack underflow in DROP";
    r.faultWord = WordAt{"DROP", 0, 0};
    r.callers = {WordAt{"oops", 3, 0}, WordAt{"main", 5, 0}};
    r.clockHz = 8000000;
    r.cycles = 100;
    r.profile = {ProfileEntry{"main", 5, 60, 100, 1}, ProfileEntry{"DROP", 0, 40, 40, 2}};
    r.variables = {VariableValue{"n", 0x81, 1, {200}}};
    pane.showReport(r);
    pane.show();
    QCOMPARE(pane.stopList()->count(), 3);
    QVERIFY(pane.stopList()->item(0)->text().startsWith("data stack underflow in DROP"));
    QCOMPARE(pane.stopList()->item(1)->text(), QString("called from oops  (line 3)"));

    QSignalSpy lines(&pane, &RunPane::gotoLine);
    emit pane.stopList()->itemDoubleClicked(pane.stopList()->item(0)); // an archive word: no line
    QCOMPARE(lines.count(), 0);
    emit pane.stopList()->itemDoubleClicked(pane.stopList()->item(1));
    emit pane.profile()->cellDoubleClicked(0, 2);
    emit pane.profile()->cellDoubleClicked(1, 0); // DROP: no line
    emit pane.variables()->cellDoubleClicked(0, 3);
    // Enter on a row goes where a double-click goes.
    pane.stopList()->setCurrentRow(1);
    QTest::keyClick(pane.stopList(), Qt::Key_Return);
    pane.profile()->setCurrentCell(0, 1);
    QTest::keyClick(pane.profile(), Qt::Key_Return);
    pane.variables()->setCurrentCell(0, 2);
    QTest::keyClick(pane.variables(), Qt::Key_Enter);
    QCOMPARE(lines.count(), 6);
    for (const int i : {0, 3})
        QCOMPARE(lines.at(i).at(0).toInt(), 3);
    for (const int i : {1, 4})
        QCOMPARE(lines.at(i).at(0).toInt(), 5);
    for (const int i : {2, 5})
        QCOMPARE(lines.at(i).at(0).toInt(), 1);
    QCOMPARE(pane.variables()->item(0, 3)->text(), QString("C8"));
}

void RunPaneTest::waveformZooms()
{
    WaveformView view;
    view.resize(648, 200);
    // 600 ms over 600 pixels of plot.
    view.setReport(PinRun(1000000, 600000, {PinTrace{"PB5", {{100000, 1}, {200000, 0}}, 2}}));
    const double fit = view.msPerPixel();
    QVERIFY(fit > 0.9 && fit < 1.1);
    view.zoomIn();
    QVERIFY(qAbs(view.msPerPixel() - fit / 1.5) < 1e-9);
    QVERIFY(view.startMs() > 0); // zoomed about the middle
    view.zoomOut();
    view.zoomOut();
    QVERIFY(qAbs(view.msPerPixel() - fit * 1.5) < 1e-9);
    QWheelEvent wheel(QPointF(300, 50), view.mapToGlobal(QPointF(300, 50)), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    QVERIFY(qAbs(view.msPerPixel() - fit * 1.5 / 2.25) < 1e-9);
    view.zoomToFit();
    QCOMPARE(view.msPerPixel(), fit);
    QCOMPARE(view.startMs(), 0.0);
    QImage image(view.size(), QImage::Format_ARGB32);
    view.render(&image); // draws without a fault at every zoom
}

// A million changes are drawn a pixel column at a time: every column where
// the pin toggles shows an edge through the middle of its row, a quiet
// stretch only the level.
void RunPaneTest::waveformDrawsAMillionEdgesByColumn()
{
    WaveformView view;
    view.resize(648, 100);
    PinTrace pin{"PB0", {}, 1000000};
    pin.changes.reserve(1000000);
    for (std::uint64_t c = 0; c < 1000000; ++c) // each cycle of the first half second
        pin.changes.emplace_back(c, int(c % 2 == 0));
    view.setReport(PinRun(2000000, 2000000, {pin})); // a second
    QImage image(view.size(), QImage::Format_ARGB32);
    view.render(&image);
    const QColor trace = ColoursFor(view.palette()).trace;
    const int left = 48, middle = 4 + 9, low = 4 + 18;
    const int half = left + int(0.5 * 1e3 / view.msPerPixel()), end = left + int(1e3 / view.msPerPixel());
    for (int x = left + 1; x < half - 1; ++x)
        QVERIFY2(image.pixelColor(x, middle) == trace, qPrintable(QString::number(x)));
    for (int x = half + 2; x < end - 1; ++x) {
        QVERIFY2(image.pixelColor(x, middle) != trace, qPrintable(QString::number(x)));
        QVERIFY2(image.pixelColor(x, low) == trace, qPrintable(QString::number(x)));
    }
}

void RunPaneTest::waveformCursorsTellTimesAndLevels()
{
    QCOMPARE(TimeText(2), QString("2 s"));
    QCOMPARE(TimeText(0.0125), QString("12.5 ms"));
    QCOMPARE(TimeText(0.0000125), QString("12.5 µs"));
    WaveformView view;
    view.resize(648, 120);
    // A millisecond at 16 MHz.
    view.setReport(PinRun(16000000, 16000, {PinTrace{"PB0", {{8000, 1}}, 1}, PinTrace{"PB5", {{1600, 1}, {4800, 0}}, 2}}));
    QSignalSpy told(&view, &WaveformView::cursorsChanged);
    view.setCursor(WaveformView::A, 0.2);
    QCOMPARE(view.cursorText(), QString("A 200 µs: PB0=0 PB5=1"));
    view.setCursor(WaveformView::B, 0.5);
    QCOMPARE(view.cursorText(), QString("A 200 µs: PB0=0 PB5=1   B 500 µs: PB0=1 PB5=0   B−A 300 µs (3333.33 Hz)"));
    QCOMPARE(told.size(), 2);
    // A click places A, Shift+click B; a drag pans and places none.
    const QPoint at(48 + 100, 30);
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, at);
    QVERIFY(qAbs(*view.cursorMs(WaveformView::A) - 100 * view.msPerPixel()) < 1e-9);
    QTest::mouseClick(&view, Qt::LeftButton, Qt::ShiftModifier, at + QPoint(50, 0));
    QVERIFY(qAbs(*view.cursorMs(WaveformView::B) - 150 * view.msPerPixel()) < 1e-9);
    view.zoomIn();
    const double start = view.startMs();
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, at);
    QMouseEvent move(QEvent::MouseMove, QPointF(at - QPoint(40, 0)), view.mapToGlobal(QPointF(at - QPoint(40, 0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, at - QPoint(40, 0));
    QVERIFY(view.startMs() > start);
    QVERIFY(qAbs(*view.cursorMs(WaveformView::A) - 100 * view.msPerPixel() * 1.5) < 1e-9); // where it was
}

void RunPaneTest::vcdOfTheShownRun()
{
    RunPane pane;
    QVERIFY(!pane.vcdButton()->isEnabled());
    pane.showReport(PinRun(16000000, 1600, {PinTrace{"PB5", {{160, 1}, {800, 0}}, 2}}));
    QVERIFY(pane.vcdButton()->isEnabled());
    QTemporaryDir dir;
    QVERIFY(pane.exportVcd(dir.path() + "/run.vcd"));
    QFile f(dir.path() + "/run.vcd");
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray vcd = f.readAll();
    QVERIFY(vcd.contains("$var wire 1 ! PB5 $end\n"));
    QVERIFY(vcd.contains("#10000\n1!\n#50000\n0!\n#100000\n")); // 160 and 800 cycles at 16 MHz, and the end
    QVERIFY(!pane.exportVcd(dir.path() + "/no such folder/run.vcd"));
    QVERIFY(pane.summary()->text().startsWith("The VCD was not written"));
}

void RunPaneTest::jsonReportParses()
{
    const BuildResult program = DemoProgram();
    const RunReport r = RunProgram(program, RunOptions{});
    ReportStyle style;
    style.words16 = true;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson(r, style)), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonObject o = doc.object();
    QCOMPARE(o["stopped"].toString(), QString("halted"));
    QVERIFY(!o.contains("fault"));
    QCOMPARE(o["cycles"].toInteger(), qint64(r.cycles));
    QVERIFY(qAbs(o["seconds"].toDouble() - double(r.cycles) / 16e6) < 1e-9);
    const QJsonArray vars = o["variables"].toArray();
    QCOMPARE(vars.size(), 2);
    QCOMPARE(vars[0].toObject()["name"].toString(), QString("ticks"));
    QCOMPARE(vars[0].toObject()["address"].toInt(), 0x100);
    QCOMPARE(vars[0].toObject()["bytes"].toArray(), QJsonArray({40}));
    QCOMPARE(vars[1].toObject()["bytes"].toArray(), QJsonArray({0, 0}));
    QCOMPARE(vars[1].toObject()["words16"].toArray(), QJsonArray({0}));
    QCOMPARE(o["stack"].toArray(), QJsonArray({7, 3}));
    QCOMPARE(o["uart"].toString(), QString("Hello\n"));
    const QJsonArray pins = o["pins"].toArray();
    QCOMPARE(pins.size(), 2);
    QCOMPARE(pins[1].toObject()["pin"].toString(), QString("PB5"));
    const QJsonArray first = pins[1].toObject()["changes"].toArray()[0].toArray();
    QCOMPARE(first.size(), 2);
    QCOMPARE(first[0].toInteger(), qint64(r.pins[1].changes[0].first));
    QCOMPARE(first[1].toInt(), 1);
    QCOMPARE(pins[1].toObject()["count"].toInt(), 10);
    qint64 self = 0;
    for (const QJsonValue& e : o["profile"].toArray()) {
        const QJsonObject p = e.toObject();
        QVERIFY(p.contains("word") && p.contains("total") && p.contains("calls"));
        QVERIFY(p["total"].toInteger() >= p["self"].toInteger());
        self += p["self"].toInteger();
    }
    QCOMPARE(self, qint64(r.cycles));

    // A fault carries its text and word; bytes above 127 and controls stay readable.
    RunReport f;
    f.stopped = StopReason::Fault;
    f.fault = "illegal instruction in bad";
    f.faultWord = WordAt{"bad", 2, 0};
    f.uart = std::string("a\"\\\x01\xE9", 5);
    const QJsonObject fo = QJsonDocument::fromJson(QByteArray::fromStdString(ReportJson(f, {}))).object();
    QCOMPARE(fo["stopped"].toString(), QString("fault"));
    QCOMPARE(fo["fault"].toString(), QString("illegal instruction in bad"));
    QCOMPARE(fo["uart"].toString(), QString::fromLatin1("a\"\\\x01\xE9"));
}

void RunPaneTest::buildProblemsAreShownNotRun()
{
    RunPane pane;
    RunController controller;
    ConnectRunPane(controller, pane);
    QSignalSpy finished(&controller, &RunController::finished);
    QSignalSpy stages(&controller, &RunController::stage);
    const mirtolan::test::TempDir tmp; // the listing and .hex land beside the source
    BuildOptions b;
    b.sourceFile = tmp / "runpane-edit.4th"; // never read: the editor's lines are
    b.device = FindDevice("atmega328p");
    b.archive = MIRTOLAN_SHARE_DIR "/Mirtolan.arch";
    b.runtimeDirs = {MIRTOLAN_SHARE_DIR};

    // The editor's text, built and run.
    controller.buildAndRun(b, RunOptions{}, LineList{"VARIABLE n", ": main 42 n C! ;"});
    QVERIFY(finished.wait(20000));
    QCOMPARE(int(controller.build().status), int(BuildResult::Built));
    QCOMPARE(int(controller.report().stopped), int(StopReason::Halted));
    QCOMPARE(pane.variables()->item(0, 0)->text(), QString("n"));
    QCOMPARE(pane.variables()->item(0, 2)->text(), QString("42"));
    QVERIFY(stages.size() >= 2);
    QCOMPARE(stages.last().at(0).toString(), QString("running"));

    // A source with problems is not run; its diagnostics stay in build().
    controller.buildAndRun(b, RunOptions{}, LineList{": main frob ;"});
    QVERIFY(finished.wait(20000));
    QCOMPARE(int(controller.build().status), int(BuildResult::Problems));
    QVERIFY(!controller.build().diagnostics.empty());
    QCOMPARE(int(controller.report().stopped), int(StopReason::Error));
    QVERIFY(pane.summary()->text().startsWith("Cannot run: "));
}

void RunPaneTest::runInTheWindow()
{
    // A window whose run-time is the build tree's, and whose boxes answer themselves.
    QTemporaryDir root;
    QDir(root.path()).mkpath("share");
    QVERIFY(QFile::link(MIRTOLAN_SHARE_DIR, root.path() + "/share/mirtolan"));
    TForm1 form(TestWindowEnvironment(root.path()));
    const RunInWindow run = InstallRun(form, MIRTOLAN_SHARE_DIR);
    form.show();

    QAction* runAction = nullptr;
    QAction* stopAction = nullptr;
    for (QAction* a : form.findChildren<QAction*>()) {
        if (a->shortcut() == QKeySequence(Qt::Key_F5))
            runAction = a;
        if (a->shortcut() == QKeySequence(Qt::SHIFT | Qt::Key_F5))
            stopAction = a;
    }
    QVERIFY(runAction && stopAction);
    QVERIFY(form.Panel1->actions().contains(runAction));
    QVERIFY(form.Menu("&Run")->actions().contains(stopAction));

    QSignalSpy finished(run.controller, &RunController::finished);
    form.Source->setPlainText("VARIABLE n\n: main 42 n C! 7 ;\n");
    runAction->trigger();
    QCOMPARE(form.Panes->currentWidget(), run.pane);
    QVERIFY(finished.wait(20000));
    QCOMPARE(int(run.controller->report().stopped), int(StopReason::Halted));
    QCOMPARE(run.pane->variables()->item(0, 2)->text(), QString("42"));
    QCOMPARE(run.pane->stack()->text().section('\n', 0, 0), QString("Data stack (bottom first): 7"));
    // An untitled source is built in the window's private scratch folder, not under a fixed name in /tmp.
    QVERIFY(!form.ScratchFolderPath().isEmpty());
    QVERIFY(QString::fromStdString(run.controller->build().hexFile).startsWith(form.ScratchFolderPath() + "/"));

    // A word double-clicked in the pane leads to its line in the editor.
    emit run.pane->gotoLine(2);
    QCOMPARE(form.Source->textCursor().blockNumber(), 1);

    // Build problems land in the message pane; nothing runs.
    form.Source->setPlainText(": main frob ;\n");
    runAction->trigger();
    QVERIFY(finished.wait(20000));
    QCOMPARE(int(run.controller->report().stopped), int(StopReason::Error));
    QVERIFY(form.ErrorMemo->toPlainText().contains("'frob' is not defined"));
}

void RunPaneTest::screenshot()
{
    const QByteArray file = qgetenv("MIRTOLAN_RUNPANE_SHOT");
    if (file.isEmpty())
        QSKIP("MIRTOLAN_RUNPANE_SHOT not set");
    RunPane pane;
    pane.resize(760, 230);
    pane.show();
    const RunReport r = RunProgram(DemoProgram(), RunOptions{});
    pane.showReport(r);
    pane.waveform()->setCursor(WaveformView::A, r.seconds * 1e3 * 0.3);
    pane.waveform()->setCursor(WaveformView::B, r.seconds * 1e3 * 0.55);
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QTest::qWait(200);
    QVERIFY(pane.grab().save(QString::fromLocal8Bit(file)));
}

QTEST_MAIN(RunPaneTest)
#include "runpane_test.moc"
