// Puts the debugger into the window through its extension points: a Debug
// menu and tool bar, breakpoints in the editor's gutter (a click, or
// Ctrl+F8), the line the program stands at, the Debug pane among the
// window's panes, and the board in a dock beside them, which Run uses too.
//
// Keys, chosen not to clash with the window's (F9 Compile, F5 Run, F4
// messages, F3 find): Shift+F9 starts debugging and, while the program
// stands still, continues; F6 pauses; Ctrl+F2 stops; F10, F11 and
// Shift+F11 step over, into and out (F10 and F11 also start, stopped at
// main); Ctrl+F10 steps to the next line; Ctrl+F8 sets or takes away a
// breakpoint on the cursor's line.
#pragma once

#include <QString>

class QAction;
class QDockWidget;
class QToolBar;

namespace mirtolan {

class BoardView;
class DebugController;
class DebugPane;
class EditorBreakpoints;
class RunController;
class TForm1;

struct DebugActions {
    QAction* start = nullptr;            // builds the program and runs it under the debugger
    QAction* resume = nullptr;           // runs on to the next breakpoint
    QAction* pause = nullptr;            // stops the program where it is
    QAction* stop = nullptr;             // ends the session
    QAction* stepOver = nullptr;         // the current word, calls included
    QAction* stepIn = nullptr;           // into the word called
    QAction* stepOut = nullptr;          // back to the caller
    QAction* stepLine = nullptr;         // on to the next line reached
    QAction* toggleBreakpoint = nullptr; // on the cursor's line
    QAction* clearBreakpoints = nullptr; // every breakpoint
};

struct DebuggerInWindow {
    DebugController* controller = nullptr;    // owned by the window
    DebugPane* pane = nullptr;                // one of the window's panes
    BoardView* board = nullptr;               // in boardDock
    QDockWidget* boardDock = nullptr;         // beside the panes; shown at the first start
    EditorBreakpoints* breakpoints = nullptr; // the editor's breakpoints and current line
    QToolBar* toolBar = nullptr;              // the Debug tool bar
    DebugActions actions;                     // in the Debug menu
};

// `shareDir` holds the run-time and the archive (share/mirtolan); empty: the
// one beside the running program. With `run`, a plain Run shows on the board too.
DebuggerInWindow InstallDebugger(TForm1& window, const QString& shareDir = QString(), RunController* run = nullptr);

} // namespace mirtolan
