#include "TestWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QStatusBar>
#include <QTabWidget>

#include "Main.h"
#include "MessagePane.h"
#include "SourceEditor.h"
#include "TestPane.h"

namespace mirtolan {

namespace {

QString fromBytes(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

// A test that did not pass, as the message pane lists a build problem:
// "FILE:LINE: error: NAME: why", once for each check that did not hold.
QStringList failureLines(const TestOutcome& t)
{
    QStringList lines;
    const auto line = [&](const std::string& file, std::int64_t at, const std::string& why) {
        if (at > 0)
            lines << fromBytes(file + ":" + std::to_string(at) + ": error: " + t.name + ": " + why);
    };
    if (t.checks.empty())
        line(t.failFile, t.failLine, t.message);
    for (const TestCheck& c : t.checks)
        line(c.file, c.line, c.compared ? c.text + " (expected " + FormatCells(c.expected) + ", actual " +
                                              FormatCells(c.actual) + ")"
                                        : c.text);
    if (!t.checks.empty() && !t.fault.empty())
        line(t.failFile, t.failLine, t.message);
    return lines;
}

} // namespace

TestsInWindow InstallTests(TForm1& w, const QString& shareDir)
{
    const QString share = shareDir.isEmpty()
                              ? QDir::cleanPath(QCoreApplication::applicationDirPath() + "/../share/mirtolan")
                              : shareDir;
    auto* pane = new TestPane;
    auto* controller = new TestController(&w);
    ConnectTestPane(*controller, *pane);
    w.AddPane(pane, QObject::tr("Tests"));

    QAction* test = w.AddAction(QObject::tr("&Run"), QObject::tr("&Test"), QKeySequence(Qt::CTRL | Qt::Key_T), {});
    test->setToolTip(QObject::tr("Run the test words of the source on the simulated chip (Ctrl+T)"));
    QObject::connect(test, &QAction::triggered, &w, [&w, controller, pane, share] {
        if (controller->busy())
            return;
        TestOptions t;
        try {
            t.build = w.WindowBuildOptions(share);
            t.sources.push_back({t.build.sourceFile, w.compileLines()});
        } catch (const std::exception& e) {
            TestRun failed;
            failed.error = e.what();
            pane->end(failed);
            return;
        }
        w.Panes->setCurrentWidget(pane);
        w.ErrorMemo->clearMessages(); // the build's problems and the failed tests take their place
        controller->start(std::move(t));
    });
    QObject::connect(controller, &TestController::started, test, [test] { test->setEnabled(false); });
    QObject::connect(controller, &TestController::stage, &w,
                     [&w](const QString& stage) { w.statusBar()->showMessage(QObject::tr("Test: ") + stage); });
    QObject::connect(controller, &TestController::finished, &w, [&w, controller, test] {
        test->setEnabled(true);
        const TestRun& run = controller->run();
        for (const Diagnostic& d : run.diagnostics)
            w.AppendDiagnostic(fromBytes(d.format()));
        for (const TestOutcome& t : run.tests)
            for (const QString& line : failureLines(t))
                w.AppendDiagnostic(line);
        w.statusBar()->showMessage(run.status == TestRun::Ran
                                       ? QObject::tr("Test: %1 of %2 passed")
                                             .arg(run.count(Verdict::Passed))
                                             .arg(run.tests.size())
                                       : QObject::tr("Test: nothing ran"));
    });
    QObject::connect(pane, &TestPane::gotoLine, &w, [&w](int line) {
        w.Source->goToLine(line);
        w.Source->setFocus();
    });
    return TestsInWindow{controller, pane};
}

} // namespace mirtolan
