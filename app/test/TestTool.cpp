#include "TestTool.h"

#include <QAction>
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
    for (const TestCheck& c : t.checks)
        line(c.file, c.line,
             c.compared ? c.text + " (expected " + FormatCells(c.expected) + ", actual " + FormatCells(c.actual) + ")"
                        : c.text);
    // A fault or the time limit, after the checks that did not hold before it.
    if (t.verdict != Verdict::Failed)
        line(t.failFile, t.failLine, t.message);
    return lines;
}

} // namespace

TestTool::TestTool(TForm1& w, const QString& shareDir)
    : QObject(&w), window_(w), share_(shareDir), controller_(new TestController(this)), pane_(new TestPane)
{
    ConnectTestPane(*controller_, *pane_);
    w.AddPane(pane_, tr("Tests"));
    test_ = w.AddAction(tr("&Run"), tr("&Test"), QKeySequence(Qt::CTRL | Qt::Key_T), [this] { start(); });
    test_->setToolTip(tr("Run the test words of the source on the simulated chip (Ctrl+T)"));
    connect(controller_, &TestController::started, test_, [this] { test_->setEnabled(false); });
    connect(controller_, &TestController::stage, &w,
            [&w](const QString& stage) { w.statusBar()->showMessage(tr("Test: ") + stage); });
    connect(controller_, &TestController::finished, this, [this] { finished(controller_->run()); });
    connect(pane_, &TestPane::gotoLine, &w, [&w](int line) {
        w.Source->goToLine(line);
        w.Source->setFocus();
    });
}

void TestTool::start()
{
    if (controller_->busy())
        return;
    TestOptions t;
    try {
        // An untitled source is built in the window's private scratch folder.
        t.build = window_.WindowBuildOptions(share_);
        t.sources.push_back({t.build.sourceFile, window_.compileLines()});
    } catch (const std::exception& e) {
        TestRun failed;
        failed.error = e.what();
        pane_->end(failed);
        return;
    }
    window_.Panes->setCurrentWidget(pane_);
    window_.ErrorMemo->clearMessages(); // the build's problems and the failed tests take their place
    controller_->start(std::move(t));
}

void TestTool::finished(const TestRun& run)
{
    test_->setEnabled(true);
    for (const Diagnostic& d : run.diagnostics)
        window_.AppendDiagnostic(fromBytes(d.format()));
    for (const TestOutcome& t : run.tests)
        for (const QString& line : failureLines(t))
            window_.AppendDiagnostic(line);
    window_.statusBar()->showMessage(
        run.status == TestRun::Ran
            ? tr("Test: %1 of %2 passed").arg(run.count(Verdict::Passed)).arg(run.tests.size())
            : tr("Test: nothing ran"));
}

} // namespace mirtolan
