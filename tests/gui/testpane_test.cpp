// The Tests pane in the window, offscreen: Test (Ctrl+T) runs the test
// words of the editor's text on the simulated chip in a worker thread; the
// pane lists each with its result, cycles and failure; a failed test leads
// to its line; the failing lines are in the message pane and the gutter;
// a source that does not build runs nothing; Stop ends a long run.

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "Main.h"
#include "MessagePane.h"
#include "RunWindow.h"
#include "SourceEditor.h"
#include "TestPane.h"
#include "TestWindow.h"

using namespace mirtolan;

namespace {

// A window whose run-time is the build tree's, and whose boxes answer themselves.
std::unique_ptr<TForm1> MakeForm(const QTemporaryDir& root)
{
    QDir(root.path()).mkpath("bin");
    FormEnvironment env;
    env.message = [](QWidget*, FormEnvironment::Box, const QString&, QMessageBox::StandardButtons) {
        return QMessageBox::No;
    };
    env.openFileName = env.saveFileName = [](QWidget*, const QString&, const QString&) { return QString(); };
    env.exeDir = root.path() + "/bin";
    env.exeName = "mirtolan";
    env.xdgConfigHome = root.path() + "/xdg";
    env.home = root.path() + "/home";
    env.tempDir = root.path();
    return std::make_unique<TForm1>(env);
}

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

class TestPaneTest : public QObject {
    Q_OBJECT
private slots:
    void testsInTheWindow();
    void stopEndsALongRun();
};

void TestPaneTest::testsInTheWindow()
{
    QTemporaryDir root;
    auto form = MakeForm(root);
    InstallRun(*form, MIRTOLAN_SHARE_DIR);
    const TestsInWindow tests = InstallTests(*form, MIRTOLAN_SHARE_DIR);
    form->ChooseDevice(*FindDevice("atmega328p"));
    form->show();

    QAction* test = ActionWithKey(*form, QKeySequence(Qt::CTRL | Qt::Key_T));
    QVERIFY(test); // and no other action on Ctrl+T
    QVERIFY(form->Menu("&Run")->actions().contains(test));

    QSignalSpy finished(tests.controller, &TestController::finished);
    form->Source->setPlainText(": double DUP + ;\n"
                               ": test-pass T{ 3 double -> 6 }T ;\n"
                               ": test-fail\n"
                               "  T{ 3 double -> 7 }T ;\n"
                               ": test-fault 1 DROP DROP ;\n");
    test->trigger();
    QCOMPARE(form->Panes->currentWidget(), tests.pane);
    QVERIFY(!test->isEnabled()); // one run at a time
    QVERIFY(finished.wait(20000));
    QVERIFY(test->isEnabled());

    QTableWidget* t = tests.pane->results();
    QCOMPARE(t->rowCount(), 3);
    const QStringList names{"test-pass", "test-fail", "test-fault"}, results{"passed", "FAILED", "FAULTED"};
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(t->item(row, 0)->text(), names[row]);
        QCOMPARE(t->item(row, 1)->text(), results[row]);
        QVERIFY(t->item(row, 2)->text().toULongLong() > 0);
    }
    QCOMPARE(t->item(0, 3)->text(), QString());
    QCOMPARE(t->item(1, 3)->text(), QString("line 4: incorrect result: [6] where [7] was expected"));
    QVERIFY(t->item(1, 3)->toolTip().contains("expected: [7]\n  actual:   [6]"));
    QVERIFY(t->item(2, 3)->text().startsWith("line 5: fault: data stack underflow in DROP"));
    QVERIFY(tests.pane->summary()->text().startsWith("1 of 3 tests passed (ATmega328P, 8-bit cells, each within 1 s)"));
    QVERIFY(tests.pane->stopButton()->isHidden());

    // The failing lines, as build problems are: in the messages and the gutter.
    const QString messages = form->ErrorMemo->toPlainText();
    QVERIFY2(messages.contains(":4: error: test-fail: incorrect result: [6] where [7] was expected (expected [7], actual [6])"),
             qPrintable(messages));
    QVERIFY2(messages.contains(":5: error: test-fault: fault: data stack underflow"), qPrintable(messages));
    QCOMPARE(form->Source->markedLines(), (std::vector<int>{4, 5}));

    // A failed test leads to its line, by double-click or Enter; a passed one goes nowhere.
    form->Source->goToLine(1);
    emit t->cellDoubleClicked(0, 0);
    QCOMPARE(form->Source->textCursor().blockNumber(), 0);
    emit t->cellDoubleClicked(1, 2);
    QCOMPARE(form->Source->textCursor().blockNumber(), 3);
    t->setCurrentCell(2, 0);
    QTest::keyClick(t, Qt::Key_Return);
    QCOMPARE(form->Source->textCursor().blockNumber(), 4);

    // A source that does not build runs nothing; its problem is in the messages.
    form->Source->setPlainText(": test-a frob ;\n");
    test->trigger();
    QVERIFY(finished.wait(20000));
    QCOMPARE(t->rowCount(), 0);
    QVERIFY(tests.pane->summary()->text().startsWith("The source does not build"));
    QVERIFY(form->ErrorMemo->toPlainText().contains(":1: error: 'frob' is not defined"));
    QCOMPARE(form->Source->markedLines(), (std::vector<int>{1}));
}

void TestPaneTest::stopEndsALongRun()
{
    TestPane pane;
    TestController controller;
    ConnectTestPane(controller, pane);
    QSignalSpy stages(&controller, &TestController::stage);
    QSignalSpy finished(&controller, &TestController::finished);
    TestOptions o;
    o.sources.push_back({QDir::tempPath().toStdString() + "/testpane.4th",
                         LineList{": test-spin BEGIN AGAIN ;", ": test-next T{ 1 -> 1 }T ;"}});
    o.build.device = FindDevice("atmega32");
    o.build.archive = MIRTOLAN_SHARE_DIR "/Mirtolan.arch";
    o.build.runtimeDirs = {MIRTOLAN_SHARE_DIR};
    o.run.maxSeconds = 1000; // far longer than the test waits
    controller.start(o);
    QVERIFY(controller.busy());
    QVERIFY(!pane.stopButton()->isHidden());
    // Stop once the first test runs; the one after it is not run.
    QTRY_VERIFY_WITH_TIMEOUT(!stages.isEmpty() && stages.last().at(0).toString() == "Running test-spin", 20000);
    QTest::mouseClick(pane.stopButton(), Qt::LeftButton);
    QVERIFY(finished.wait(5000));
    QCOMPARE(pane.results()->rowCount(), 2);
    QCOMPARE(pane.results()->item(0, 1)->text(), QString("STOPPED"));
    QCOMPARE(pane.results()->item(1, 1)->text(), QString("STOPPED"));
    QVERIFY(pane.summary()->text().startsWith("0 of 2 tests passed, 2 stopped"));
    QVERIFY(pane.stopButton()->isHidden());
}

QTEST_MAIN(TestPaneTest)
#include "testpane_test.moc"
