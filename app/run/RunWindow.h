// Puts Run into the window through its extension points: a Run menu and
// tool bar buttons (F5 runs, Shift+F5 stops), the Run pane among the
// window's panes, build problems in its message pane, and the pane's
// double-clicked words leading to their lines in the editor.
#pragma once

#include <QString>

#include "Build.h"

namespace mirtolan {

class TForm1;
class RunController;
class RunPane;

struct RunInWindow {
    RunController* controller; // owned by the window
    RunPane* pane;             // one of the window's panes
};

// `shareDir` holds the run-time and the archive (share/mirtolan); empty:
// the one beside the running program.
RunInWindow InstallRun(TForm1& window, const QString& shareDir = QString());

// What Run and Debug build: the window's build options (the run-time in
// `shareDir`) and its editor's text. False, with `error` set, when an
// untitled source's scratch folder cannot be made.
bool WindowProgram(TForm1& window, const QString& shareDir, BuildOptions& build, LineList& lines, QString& error);

} // namespace mirtolan
