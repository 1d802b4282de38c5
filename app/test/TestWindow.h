// Puts Test into the window through its extension points: Test (Ctrl+T) in
// the Run menu runs the test words of the open source on the simulated
// chip; the Tests pane among the window's panes shows them; the lines where
// tests failed are listed in the message pane and marked in the editor's
// gutter like build problems; a failed test leads to its line.
#pragma once

#include <QString>

namespace mirtolan {

class TForm1;
class TestController;
class TestPane;

struct TestsInWindow {
    TestController* controller; // owned by the window
    TestPane* pane;             // one of the window's panes
};

// `shareDir` holds the run-time, the archive and the test words
// (share/mirtolan); empty: the one beside the running program.
TestsInWindow InstallTests(TForm1& window, const QString& shareDir = QString());

} // namespace mirtolan
