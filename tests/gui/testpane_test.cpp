// The Tests pane in the window, offscreen: Test (Ctrl+T) runs the test
// words of the editor's text on the simulated chip in a worker thread; the
// pane lists each with its result, cycles and failure; a failed test leads
// to its line; the failing lines are in the message pane and the gutter;
// a source that does not build runs nothing; Stop ends a long run.

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>

#include "FormFixture.h"
#include "MessagePane.h"
#include "RunWindow.h"
#include "TestPane.h"
#include "TestTool.h"

namespace {

QAction* ActionWithKey(const QWidget& w, const QKeySequence& key)
{
    QAction* found = nullptr;
    for (QAction* a : w.findChildren<QAction*>())
        if (a->shortcut() == key) {
            if (found)
                return nullptr; // two actions on one key
            found = a;
        }
    return found;
}

} // namespace

// The window's small archive (DUP and _TestIfZero) is all these sources use.
class TestPaneTest : public FormFixture {
    Q_OBJECT
private slots:
    void testsInTheWindow();
    void stopEndsALongRun();
    void summaryTellsOfZcall();
};

void TestPaneTest::testsInTheWindow()
{
    auto form = formOn(sourceFile("pair.4th", ": pair DUP ;\n"
                                              ": test-pass T{ 3 pair -> 3 3 }T ;\n"
                                              ": test-fail\n"
                                              "  T{ 3 pair -> 3 4 }T ;\n"
                                              ": test-fault pair ;\n"));
    InstallRun(*form, MIRTOLAN_SHARE_DIR);
    const TestTool* tests = new TestTool(*form, MIRTOLAN_SHARE_DIR);
    form->ChooseDevice(*FindDevice("atmega328p"));
    form->show();

    QAction* test = ActionWithKey(*form, QKeySequence(Qt::CTRL | Qt::Key_T));
    QVERIFY(test); // and no other action on Ctrl+T
    QCOMPARE(test, tests->testAction());
    QVERIFY(form->Menu("&Run")->actions().contains(test));

    QSignalSpy finished(tests->controller(), &TestController::finished);
    test->trigger();
    QCOMPARE(form->Panes->currentWidget(), tests->pane());
    QVERIFY(!test->isEnabled()); // one run at a time
    QVERIFY(finished.wait(20000));
    QVERIFY(test->isEnabled());

    QTableWidget* t = tests->pane()->results();
    QCOMPARE(t->rowCount(), 3);
    const QStringList names{"test-pass", "test-fail", "test-fault"}, results{"passed", "FAILED", "FAULTED"};
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(t->item(row, 0)->text(), names[row]);
        QCOMPARE(t->item(row, 1)->text(), results[row]);
        QVERIFY(t->item(row, 2)->text().toULongLong() > 0);
    }
    QCOMPARE(t->item(0, 3)->text(), QString());
    QCOMPARE(t->item(1, 3)->text(), QString("line 4: incorrect result: [3, 3] where [3, 4] was expected"));
    QVERIFY(t->item(1, 3)->toolTip().contains("expected: [3, 4]\n  actual:   [3, 3]"));
    QVERIFY(t->item(2, 3)->text().startsWith("line 1: fault: data stack underflow in DUP (line 1)"));
    QVERIFY(tests->pane()->summary()->text().startsWith("1 of 3 tests passed (ATmega328P, 8-bit cells, each within 1 s)"));
    QVERIFY(tests->pane()->stopButton()->isHidden());

    // The failing lines, as build problems are: in the messages and the gutter.
    const QString messages = form->ErrorMemo->toPlainText();
    QVERIFY2(messages.contains("pair.4th:4: error: test-fail: incorrect result: [3, 3] where [3, 4] was expected "
                               "(expected [3, 4], actual [3, 3])"),
             qPrintable(messages));
    QVERIFY2(messages.contains("pair.4th:1: error: test-fault: fault: data stack underflow in DUP"), qPrintable(messages));
    QCOMPARE(form->Source->markedLines(), (std::vector<int>{1, 4}));

    // A failed test leads to its line, by double-click or Enter; a passed one goes nowhere.
    form->Source->goToLine(3);
    emit t->cellDoubleClicked(0, 0);
    QCOMPARE(form->Source->textCursor().blockNumber(), 2);
    emit t->cellDoubleClicked(1, 2);
    QCOMPARE(form->Source->textCursor().blockNumber(), 3);
    t->setCurrentCell(2, 0);
    QTest::keyClick(t, Qt::Key_Return); // the fault's line: in the word the test called
    QCOMPARE(form->Source->textCursor().blockNumber(), 0);

    // A source that does not build runs nothing; its problem is in the messages.
    form->Source->setPlainText(": test-a frob ;\n");
    test->trigger();
    QVERIFY(finished.wait(20000));
    QCOMPARE(t->rowCount(), 0);
    QVERIFY(tests->pane()->summary()->text().startsWith("The source does not build"));
    QVERIFY(form->ErrorMemo->toPlainText().contains(":1: error: 'frob' is not defined"));
    QCOMPARE(form->Source->markedLines(), (std::vector<int>{1}));
}

// Stop, pressed while the first test runs: it and the test after it are
// told as stopped, and the pane is ready for the next run.
void TestPaneTest::stopEndsALongRun()
{
    TestPane pane;
    TestController controller;
    ConnectTestPane(controller, pane);
    bool ended = false;
    connect(&controller, &TestController::stage, &pane, [&pane](const QString& stage) {
        if (stage == "Running test-spin")
            QTest::mouseClick(pane.stopButton(), Qt::LeftButton);
    });
    connect(&controller, &TestController::finished, &pane, [&ended] { ended = true; });

    TestOptions spin;
    spin.sources.push_back({QDir::tempPath().toStdString() + "/testpane.4th",
                            LineList{": test-spin BEGIN AGAIN ;", ": test-next T{ 1 -> 1 }T ;"}});
    spin.build.device = FindDevice("atmega32");
    spin.build.archive = (work_ + "/Mirtolan.arch").toStdString();
    spin.build.runtimeDirs = {MIRTOLAN_SHARE_DIR};
    spin.run.maxSeconds = 1000; // far longer than the test waits
    controller.start(spin);
    QVERIFY(controller.busy() && !pane.stopButton()->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(ended, 20000);
    QCOMPARE(pane.results()->rowCount(), 2);
    for (int row = 0; row < 2; ++row)
        QCOMPARE(pane.results()->item(row, 1)->text(), QString("STOPPED"));
    QVERIFY(pane.summary()->text().startsWith("0 of 2 tests passed, 2 stopped"));
    QVERIFY(pane.stopButton()->isHidden() && !controller.busy());
}

// A run the tests took beyond rcall's reach says it was built with Zcall.
void TestPaneTest::summaryTellsOfZcall()
{
    TestPane pane;
    TestRun run;
    run.status = TestRun::Ran;
    run.tests.resize(1);
    run.tests[0].verdict = Verdict::Passed;
    pane.end(run);
    QVERIFY(!pane.summary()->text().contains("Zcall"));
    run.longCalls = true;
    pane.end(run);
    QVERIFY(pane.summary()->text().startsWith("1 of 1 tests passed ("));
    QVERIFY(pane.summary()->text().endsWith("; built with Zcall: with its tests the program is larger than rcall reaches"));
}

QTEST_MAIN(TestPaneTest)
#include "testpane_test.moc"
