// The debugger in the window, offscreen, on real programs on the simulated
// chip: a breakpoint set in the gutter moved to the line with code and hit,
// steps over, into and out, the call chain leading to its lines, changed
// variables marked, the end; a fault shown at its line; the board's button,
// key and switch changing what the program reads, an ADC slider's voltage
// converted by the program, UART text echoed, a plain Run on the board;
// breakpoints through edits and another file; the keys.
// With MIRTOLAN_DEBUG_SHOT=FILE set (under Xvfb) it also saves a picture of
// the window stopped at a breakpoint with the board, for the README.

#include <QAction>
#include <QCheckBox>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <memory>

#include "BoardView.h"
#include "Breakpoints.h"
#include "DebugController.h"
#include "DebugPane.h"
#include "DebugWindow.h"
#include "Main.h"
#include "MessagePane.h"
#include "RunPane.h"
#include "RunWindow.h"
#include "SourceEditor.h"
#include "WindowEnvironment.h"

using namespace mirtolan;

namespace {

constexpr int Wait = 20000; // ms for a build, a stop or the board to follow, on a loaded machine

// Adds 3, 2 and 1 into `total`.
const char* const Tally = "VARIABLE total\n"              // 1
                          ": add ( n -- n )\n"           // 2
                          "  DUP total C@ + total C!\n"  // 3
                          "  1- ;\n"                     // 4
                          ": main\n"                     // 5
                          "  3 BEGIN\n"                  // 6
                          "    add\n"                    // 7
                          "  DUP 0= UNTIL\n"             // 8
                          "  DROP total C@ ;\n";         // 9

// A lamp on PB5 that lights while the button on PD2 (to ground, pull-up on) is pressed.
const char* const Lamp = ": main #PB5 &DDRB C! #PD2 &PORTD C!\n"
                         "  BEGIN &PIND C@ #PD2 AND IF 0 ELSE #PB5 THEN &PORTB C! AGAIN ;\n";

// Converts ADC0 (the top eight bits) into `level` and echoes UART0.
const char* const AdcEcho = "VARIABLE level\n"
                            ": convert #REFS0 #ADLAR OR &ADMUX C! #ADEN #ADSC OR #ADPS2 OR &ADCSRA C!\n"
                            "  BEGIN &ADCSRA C@ #ADSC AND 0= UNTIL &ADCH C@ level C! ;\n"
                            ": main BEGIN convert KEY? IF KEY EMIT THEN AGAIN ;\n";

// A window on the build tree's run-time, its boxes answered, with Run and the debugger.
struct Window {
    QTemporaryDir root;
    std::unique_ptr<TForm1> form;
    RunInWindow run{};
    DebuggerInWindow debug;

    Window()
    {
        FormEnvironment env = TestWindowEnvironment(root.path());
        env.tempDir = root.path();
        form = std::make_unique<TForm1>(env);
        run = InstallRun(*form, MIRTOLAN_SHARE_DIR);
        debug = InstallDebugger(*form, MIRTOLAN_SHARE_DIR, run.controller);
        form->resize(1000, 700);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->activateWindow();
    }
    DebugController& controller() { return *debug.controller; }
    DebugPane& pane() { return *debug.pane; }
    BoardView& board() { return *debug.board; }
    // A key to the window, as its shortcuts take it.
    void key(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(form.get(), k, m); }
    // Clicks the editor's gutter beside 1-based `line`.
    void clickGutter(int line)
    {
        SourceEditor* e = form->Source;
        const QRect r = e->cursorRect(QTextCursor(e->document()->findBlockByNumber(line - 1)));
        QWidget* gutter = e->childAt(QPoint(2, e->contentsRect().top() + r.center().y()));
        QVERIFY(gutter && gutter != e->viewport());
        QTest::mouseClick(gutter, Qt::LeftButton, {}, QPoint(2, r.center().y()));
    }
    bool stoppedAt(int line)
    {
        return controller().state() == DebugController::State::Stopped && debug.breakpoints->current() == line;
    }
    QString chain(int row) { return pane().chain()->item(row)->text(); }
    QString variable(const QString& name)
    {
        QTableWidget* t = pane().variables();
        for (int r = 0; r < t->rowCount(); ++r)
            if (t->item(r, 0)->text() == name)
                return t->item(r, 1)->text();
        return QString();
    }
    bool lampOn()
    {
        const PinLed* led = board().led("PB5");
        return led && led->isOn();
    }
};

} // namespace

class DebugWindowTest : public QObject {
    Q_OBJECT
private slots:
    void breakpointStepsAndTheEnd();
    void aFaultIsShownAtItsLine();
    void theBoardsButtonKeyAndSwitch();
    void adcSliderAndUartConsole();
    void aPlainRunShowsOnTheBoard();
    void breakpointsFollowEditsNotAnotherFile();
    void pinsInUse();
    void keysDoNotClash();
    void screenshot();
};

void DebugWindowTest::breakpointStepsAndTheEnd()
{
    Window w;
    w.form->Source->setPlainText(Tally);
    w.clickGutter(5); // ": main" has no code of its own
    QCOMPARE(w.debug.breakpoints->lines(), std::vector<std::int64_t>{5});
    w.key(Qt::Key_F9, Qt::ShiftModifier);
    QCOMPARE(int(w.controller().state()), int(DebugController::State::Building));
    QCOMPARE(w.form->Panes->currentWidget(), &w.pane());
    QTRY_VERIFY_WITH_TIMEOUT(w.stoppedAt(6), Wait);
    // The breakpoint stands where the code is, and is drawn there.
    QCOMPARE(w.debug.breakpoints->lines(), std::vector<std::int64_t>{6});
    QCOMPARE(w.pane().status()->text(), QString("Breakpoint: main, line 6"));
    QVERIFY(w.debug.boardDock->isVisible());
    QVERIFY(!w.debug.actions.start->isEnabled() && w.debug.actions.resume->isEnabled());

    w.key(Qt::Key_F10, Qt::ControlModifier); // to the next line
    QTRY_VERIFY_WITH_TIMEOUT(w.stoppedAt(7), Wait);
    QCOMPARE(w.chain(0), QString("main  (line 7)"));
    QCOMPARE(w.variable("total"), QString("0"));
    QCOMPARE(w.pane().stack()->rowCount(), 1);
    QCOMPARE(w.pane().stack()->item(0, 1)->text(), QString("3"));
    w.key(Qt::Key_F11);
    QTRY_VERIFY_WITH_TIMEOUT(w.stoppedAt(3), Wait);
    QCOMPARE(w.chain(0), QString("add  (line 3)"));
    QCOMPARE(w.chain(1), QString("main  (line 7)"));
    // A word of the chain leads to its line: Enter, or a double-click.
    QListWidget* chain = w.pane().chain();
    chain->setCurrentRow(1);
    QTest::keyClick(chain, Qt::Key_Return);
    QCOMPARE(w.form->Source->textCursor().blockNumber() + 1, 7);
    emit chain->itemDoubleClicked(chain->item(0));
    QCOMPARE(w.form->Source->textCursor().blockNumber() + 1, 3);
    w.form->Source->goToLine(7);
    w.key(Qt::Key_F11, Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(w.stoppedAt(8), Wait);
    QCOMPARE(w.variable("total"), QString("3"));
    QVERIFY(w.pane().markedChanged("total"));

    // A breakpoint set while stopped (the cursor is on line 7): hit on the next pass.
    w.key(Qt::Key_F8, Qt::ControlModifier);
    QCOMPARE(w.debug.breakpoints->lines(), (std::vector<std::int64_t>{6, 7}));
    w.key(Qt::Key_F9, Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(w.stoppedAt(7), Wait);
    QCOMPARE(w.variable("total"), QString("3"));
    QVERIFY(!w.pane().markedChanged("total"));

    w.debug.actions.clearBreakpoints->trigger();
    w.key(Qt::Key_F9, Qt::ShiftModifier);
    QTRY_COMPARE_WITH_TIMEOUT(int(w.controller().state()), int(DebugController::State::Idle), Wait);
    QCOMPARE(w.pane().status()->text(), QString("Ended: main returned"));
    QCOMPARE(w.debug.breakpoints->current(), 0);
    QCOMPARE(w.variable("total"), QString("6"));
    QCOMPARE(w.pane().stack()->item(0, 1)->text(), QString("6"));
    QVERIFY(w.debug.actions.start->isEnabled() && !w.debug.actions.resume->isEnabled());
}

void DebugWindowTest::aFaultIsShownAtItsLine()
{
    Window w;
    w.form->Source->setPlainText(": take DROP DROP ;\n: main\n  1 take 2 ;\n");
    w.key(Qt::Key_F9, Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(w.stoppedAt(1), Wait);
    QVERIFY(w.pane().status()->text().startsWith("Fault: data stack underflow in DROP (line 1)"));
    QCOMPARE(w.chain(0), QString("DROP"));
    QCOMPARE(w.chain(1), QString("take  (line 1)"));
    QCOMPARE(w.chain(2), QString("main  (line 3)"));
    // In the messages too, and so marked in the gutter.
    QVERIFY(w.form->ErrorMemo->toPlainText().contains(": error: data stack underflow in DROP"));
    QCOMPARE(w.form->Source->markedLines(), std::vector<int>{1});
    // Going on from a fault ends the session.
    w.key(Qt::Key_F10);
    QTRY_COMPARE_WITH_TIMEOUT(int(w.controller().state()), int(DebugController::State::Idle), Wait);
    QCOMPARE(w.pane().status()->text(), QString("Ended: after the fault"));
}

void DebugWindowTest::theBoardsButtonKeyAndSwitch()
{
    Window w;
    w.form->Source->setPlainText(Lamp);
    w.key(Qt::Key_F9, Qt::ShiftModifier);
    BoardView& board = w.board();
    QTRY_COMPARE_WITH_TIMEOUT(board.shownPins(), (QStringList{"PB5", "PD2"}), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(!w.lampOn(), Wait); // the pull-up holds the button's pin high
    QPushButton* button = board.button("PD2");
    QVERIFY(button && !board.button("PB5"));
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), Wait);
    QTest::mousePress(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.lampOn(), Wait);
    QTest::mouseRelease(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.lampOn(), Wait);
    // Key 1 holds the first input's button while it is down.
    QTest::keyPress(&board, Qt::Key_1);
    QTRY_VERIFY_WITH_TIMEOUT(w.lampOn(), Wait);
    QTest::keyRelease(&board, Qt::Key_1);
    QTRY_VERIFY_WITH_TIMEOUT(!w.lampOn(), Wait);
    board.switchBox("PD2")->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(w.lampOn(), Wait);
    // Paused, the board shows where the chip stands; stopped, the last run.
    w.key(Qt::Key_F6);
    QTRY_COMPARE_WITH_TIMEOUT(int(w.controller().state()), int(DebugController::State::Stopped), Wait);
    QVERIFY(w.pane().status()->text().startsWith("Paused: "));
    QVERIFY(w.lampOn());
    w.key(Qt::Key_F2, Qt::ControlModifier);
    QCOMPARE(int(w.controller().state()), int(DebugController::State::Idle));
    QCOMPARE(w.pane().status()->text(), QString("Ended: stopped"));
    QTRY_VERIFY_WITH_TIMEOUT(board.status()->text().startsWith("The run has ended"), Wait);
    QVERIFY(!board.input()->isEnabled());
}

void DebugWindowTest::adcSliderAndUartConsole()
{
    Window w;
    w.form->Source->setPlainText(AdcEcho);
    w.key(Qt::Key_F9, Qt::ShiftModifier);
    BoardView& board = w.board();
    QTRY_VERIFY_WITH_TIMEOUT(board.adcSlider(7) && !board.adcSlider(8), Wait);
    QSlider* slider = board.adcSlider(0);
    slider->setFocus();
    slider->setValue(2000);
    QTest::keyClick(slider, Qt::Key_PageUp); // a tenth of the range up: 2.5 V
    QCOMPARE(slider->value(), 2500);
    QTest::qWait(50);
    w.key(Qt::Key_F6);
    QTRY_COMPARE_WITH_TIMEOUT(int(w.controller().state()), int(DebugController::State::Stopped), Wait);
    QCOMPARE(w.variable("level"), QString("127")); // 2.5 V of 5: the top eight of ten bits
    w.key(Qt::Key_F9, Qt::ShiftModifier);
    QTRY_VERIFY_WITH_TIMEOUT(board.input()->isEnabled(), Wait);
    QTest::keyClicks(board.input(), "hi");
    QTest::keyClick(board.input(), Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(board.console()->toPlainText(), QString("hi\n"), Wait);
    QVERIFY(board.input()->text().isEmpty());
    w.key(Qt::Key_F2, Qt::ControlModifier);
}

void DebugWindowTest::aPlainRunShowsOnTheBoard()
{
    Window w;
    w.debug.boardDock->show();
    w.form->Source->setPlainText(": main #PB5 &DDRB C! #PB5 &PORTB C! 'o EMIT 'k EMIT ;\n");
    QSignalSpy finished(w.run.controller, &RunController::finished);
    w.key(Qt::Key_F5);
    QVERIFY(finished.wait(Wait));
    QTRY_COMPARE_WITH_TIMEOUT(w.board().shownPins(), QStringList{"PB5"}, Wait);
    QTRY_VERIFY_WITH_TIMEOUT(w.lampOn(), Wait);
    QTRY_COMPARE_WITH_TIMEOUT(w.board().console()->toPlainText(), QString("ok"), Wait);
    QVERIFY(w.board().status()->text().startsWith("The run has ended"));
}

void DebugWindowTest::breakpointsFollowEditsNotAnotherFile()
{
    Window w;
    QTemporaryDir files;
    const QString other = files.path() + "/other.4th";
    QFile f(other);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(": main ;\n");
    f.close();
    SourceEditor* e = w.form->Source;
    e->setPlainText(Tally);
    EditorBreakpoints& marks = *w.debug.breakpoints;
    marks.toggle(3);
    marks.toggle(7);
    marks.toggle(3); // off again
    QCOMPARE(marks.lines(), std::vector<std::int64_t>{7});
    // Two lines typed above it take it down with its line.
    QTextCursor top(e->document());
    top.insertText("\\\\ one\n\\\\ two\n");
    QCOMPARE(marks.lines(), std::vector<std::int64_t>{9});
    // A text replaced as a whole (a reload from disk) keeps it on its line.
    e->setPlainText(QString(Tally) + "\\\\ more\n");
    QCOMPARE(marks.lines(), std::vector<std::int64_t>{9});
    // Another file brings none.
    QVERIFY(w.form->OpenFile(other));
    QVERIFY(marks.lines().empty());
}

void DebugWindowTest::pinsInUse()
{
    const auto pin = [](char port, int bit, bool output, bool pullUp, bool read) {
        return PinState{port, bit, false, output, output, pullUp, read};
    };
    // Outputs always; on a read port the pulled-up inputs, or every input when none is.
    const std::vector<PinState> pins = {pin('B', 0, true, false, false), pin('B', 1, false, false, false),
                                        pin('C', 0, false, true, true),  pin('C', 1, false, false, true),
                                        pin('D', 0, false, false, true), pin('D', 1, false, false, true)};
    QStringList names;
    for (const PinState& p : PinsInUse(pins))
        names << QString::fromStdString(PinName(p));
    QCOMPARE(names, (QStringList{"PB0", "PC0", "PD0", "PD1"}));
}

void DebugWindowTest::keysDoNotClash()
{
    Window w;
    const auto keyOf = [&](const QString& text) {
        for (QAction* a : w.form->findChildren<QAction*>())
            if (QString(a->text()).remove('&') == text && !a->menu())
                return a->shortcut();
        return QKeySequence();
    };
    // The window's own keys stay.
    QCOMPARE(keyOf("Compile"), QKeySequence(Qt::Key_F9));
    QCOMPARE(keyOf("Run"), QKeySequence(Qt::Key_F5));
    QCOMPARE(keyOf("Start debugging"), QKeySequence(Qt::SHIFT | Qt::Key_F9));
    QCOMPARE(keyOf("Step over"), QKeySequence(Qt::Key_F10));
    QCOMPARE(keyOf("Toggle breakpoint"), QKeySequence(Qt::CTRL | Qt::Key_F8));
    // No two actions that are enabled together share a key.
    const auto check = [&] {
        QMap<QString, QString> taken;
        for (QAction* a : w.form->findChildren<QAction*>())
            for (const QKeySequence& k : a->shortcuts())
                if (a->isEnabled()) {
                    const QString name = k.toString();
                    QVERIFY2(!taken.contains(name), qPrintable(name + ": " + taken.value(name) + ", " + a->text()));
                    taken[name] = a->text();
                }
    };
    w.form->Source->setPlainText(Tally);
    check();
    w.key(Qt::Key_F11); // from no session: to main's first word
    QTRY_VERIFY_WITH_TIMEOUT(w.stoppedAt(6), Wait);
    QCOMPARE(w.pane().status()->text(), QString("At the start: main, line 6"));
    check();
    w.key(Qt::Key_F2, Qt::ControlModifier);
}

void DebugWindowTest::screenshot()
{
    const QByteArray file = qgetenv("MIRTOLAN_DEBUG_SHOT");
    if (file.isEmpty())
        QSKIP("MIRTOLAN_DEBUG_SHOT not set");
    Window w;
    w.form->resize(1180, 720);
    w.form->Source->setPlainText("\\\\ A lamp on PB5 follows the button on PD2; count the passes.\n"
                                 "VARIABLE passes\n"
                                 ": pressed? ( -- flag ) &PIND C@ #PD2 AND 0= ;\n"
                                 ": lamp ( flag -- ) IF #PB5 ELSE 0 THEN &PORTB C! ;\n"
                                 ": count passes C@ 1+ passes C! ;\n"
                                 ": main 'H EMIT 'i EMIT CR #PB5 &DDRB C! #PD2 &PORTD C!\n"
                                 "  BEGIN\n"
                                 "    pressed? lamp\n"
                                 "    count\n"
                                 "  AGAIN ;\n");
    // Actions rather than keys: under Xvfb without a window manager the window may not be the active one.
    w.debug.actions.start->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(w.board().shownPins(), (QStringList{"PB5", "PD2"}), Wait);
    w.board().setSwitch("PD2", true);
    w.board().setAdc(0, 1.2);
    QTest::qWait(200);
    w.form->Source->setTextCursor(QTextCursor(w.form->Source->document()->findBlockByNumber(4)));
    w.debug.actions.toggleBreakpoint->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(w.stoppedAt(5), Wait);
    w.debug.actions.resume->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(w.stoppedAt(5), Wait);
    QTest::qWait(300);
    QVERIFY(w.form->grab().save(QString::fromLocal8Bit(file)));
    w.debug.actions.stop->trigger();
}

QTEST_MAIN(DebugWindowTest)
#include "debugwindow_test.moc"
