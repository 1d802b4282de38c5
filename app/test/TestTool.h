// Test in the window: Test (Ctrl+T) in the Run menu runs the test words of
// the open source on the simulated chip; the Tests pane among the window's
// panes shows them; the lines where tests failed are listed in the message
// pane and marked in the editor's gutter as build problems are, and a
// failed test in the pane leads to its line. Installed on a window by
// constructing it.
#pragma once

#include <QObject>
#include <QString>

class QAction;

namespace mirtolan {

class TForm1;
class TestController;
class TestPane;
struct TestRun;

class TestTool : public QObject {
    Q_OBJECT
public:
    // `shareDir` holds the run-time, the archive and the test words
    // (share/mirtolan); empty: the one beside the running program.
    explicit TestTool(TForm1& window, const QString& shareDir = QString()); // the window owns it

    QAction* testAction() const { return test_; }
    TestController* controller() const { return controller_; }
    TestPane* pane() const { return pane_; }

private:
    void start();
    void finished(const TestRun& run);

    TForm1& window_;              // the window it serves
    QString share_;               // the run-time folder; empty: the window's own (WindowBuildOptions)
    QAction* test_ = nullptr;     // Test, Ctrl+T
    TestController* controller_;  // runs the tests off the window's thread
    TestPane* pane_;              // the Tests pane
};

} // namespace mirtolan
